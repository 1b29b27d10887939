#pragma once

#include <QObject>

class Clock;
class QTimer;
class VirtualClock;

// A message-driven periodic timer of the user-interface thread, with the behaviour
// the exchanges are written for: switching it on while it is on changes nothing,
// changing the interval of a running timer restarts the full interval, and a tick
// handler may switch its own timer off and on again. On the system clock it is a
// QTimer; on a VirtualClock it fires when the test advances that clock.
class Timer : public QObject
{
    Q_OBJECT

public:
    explicit Timer(Clock *clock, int intervalMs, QObject *parent = nullptr);
    ~Timer() override;

    int interval() const { return intervalMs; }
    void setInterval(int ms);

    bool isActive() const { return active; }
    void setEnabled(bool on);
    void start() { setEnabled(true); }
    void stop() { setEnabled(false); }

    // When the tick being handled was due (microseconds on the clock): the moment the
    // timer was armed plus whole intervals, however late the tick actually came.
    qint64 dueUs() const { return dueAtUs; }

signals:
    void timeout();

private:
    friend class VirtualClock;
    void fire();
    void clockGone();

    void arm();

    Clock *clock;
    VirtualClock *virtualClock = nullptr;
    QTimer *qtimer = nullptr;
    int intervalMs;
    bool active = false;
    qint64 deadline = 0;
    quint64 order = 0;
    qint64 armedAtUs = 0;
    qint64 ticksSinceArmed = 0;
    qint64 dueAtUs = 0;
};
