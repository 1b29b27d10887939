#include "core/Clock.h"

#include "core/Timer.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

namespace {

class SystemClock : public Clock
{
public:
    SystemClock() { origin.start(); }
    qint64 nowMs() const override { return origin.elapsed(); }
    qint64 nowUs() const override { return origin.nsecsElapsed() / 1000; }
    void sleepMs(int ms) override { QThread::msleep(ms > 0 ? ms : 0); }

private:
    QElapsedTimer origin;
};

} // namespace

Clock *Clock::system()
{
    static SystemClock clock;
    return &clock;
}

VirtualClock::~VirtualClock()
{
    for (Timer *t : timers)
        t->clockGone();
}

void VirtualClock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    now += ms;
    if (onTimeMoved)
        onTimeMoved(now);
}

void VirtualClock::attach(Timer *t)
{
    timers.push_back(t);
}

void VirtualClock::detach(Timer *t)
{
    timers.erase(std::remove(timers.begin(), timers.end(), t), timers.end());
}

void VirtualClock::schedule(Timer *t)
{
    t->deadline = now + std::max(t->interval(), 0);
    t->order = ++sequence;
}

Timer *VirtualClock::nextDue(qint64 limit) const
{
    Timer *best = nullptr;
    for (Timer *t : timers) {
        if (!t->isActive() || t->deadline > limit)
            continue;
        if (!best || t->deadline < best->deadline ||
            (t->deadline == best->deadline && t->order < best->order))
            best = t;
    }
    return best;
}

void VirtualClock::advance(qint64 ms)
{
    const qint64 target = now + std::max<qint64>(ms, 0);
    while (Timer *t = nextDue(target)) {
        if (t->deadline > now) {
            now = t->deadline;
            if (onTimeMoved)
                onTimeMoved(now);
        }
        // A periodic timer is re-armed from the moment it fires, before its handler
        // runs, so a handler that stops or restarts it has the last word.
        t->dueAtUs = t->deadline * 1000;
        schedule(t);
        t->fire();
    }
    if (target > now) {
        now = target;
        if (onTimeMoved)
            onTimeMoved(now);
    }
}

bool VirtualClock::advanceUntil(const std::function<bool()> &pred, qint64 maxMs)
{
    for (qint64 i = 0; i < maxMs; ++i) {
        if (pred())
            return true;
        advance(1);
    }
    return pred();
}
