#pragma once

#include <QtGlobal>

#include <functional>
#include <vector>

class Timer;

// The one clock that the timers, the quiet-line sleep and the in-process device read.
// The program runs on the system clock; tests run the same code on a VirtualClock
// that they advance by hand, so that a ten-second time-out takes no real time.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds since an arbitrary origin.
    virtual qint64 nowMs() const = 0;
    // The same in microseconds, for telling two timers due in the same millisecond apart
    // from two due a millisecond or more apart.
    virtual qint64 nowUs() const { return nowMs() * 1000; }

    // Blocks the calling (user-interface) thread. Timers do not fire meanwhile.
    virtual void sleepMs(int ms) = 0;

    // True for a clock on which Timer must not use Qt's event loop.
    virtual bool isVirtual() const { return false; }

    static Clock *system();
};

class VirtualClock : public Clock
{
public:
    VirtualClock() = default;
    ~VirtualClock() override;

    qint64 nowMs() const override { return now; }
    void sleepMs(int ms) override;
    bool isVirtual() const override { return true; }

    // Moves time forward by ms, firing every timer that falls due, in deadline order.
    // A timer made overdue by a sleep inside a handler fires as soon as that handler
    // returns, once, as a message-driven timer does.
    void advance(qint64 ms);

    // Advances in 1 ms steps until pred() holds or maxMs have passed; true if it held.
    bool advanceUntil(const std::function<bool()> &pred, qint64 maxMs);

    // Called on every sleep and advance step, after time moved; the in-process
    // device uses it to see time pass.
    std::function<void(qint64 now)> onTimeMoved;

private:
    friend class Timer;
    void attach(Timer *t);
    void detach(Timer *t);
    void schedule(Timer *t);
    Timer *nextDue(qint64 limit) const;

    qint64 now = 0;
    quint64 sequence = 0;
    std::vector<Timer *> timers;
};
