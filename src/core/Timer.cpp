#include "core/Timer.h"

#include "core/Clock.h"

#include <QTimer>

Timer::Timer(Clock *clock, int intervalMs, QObject *parent) : QObject(parent), intervalMs(intervalMs)
{
    if (clock && clock->isVirtual()) {
        virtualClock = static_cast<VirtualClock *>(clock);
        virtualClock->attach(this);
    } else {
        qtimer = new QTimer(this);
        qtimer->setTimerType(Qt::PreciseTimer);
        qtimer->setInterval(intervalMs);
        connect(qtimer, &QTimer::timeout, this, &Timer::fire);
    }
}

Timer::~Timer()
{
    if (virtualClock)
        virtualClock->detach(this);
}

void Timer::setInterval(int ms)
{
    if (ms == intervalMs)
        return;
    intervalMs = ms;
    if (qtimer)
        qtimer->setInterval(ms); // QTimer restarts an active timer itself
    else if (active && virtualClock)
        virtualClock->schedule(this);
}

void Timer::setEnabled(bool on)
{
    if (on == active)
        return;
    active = on;
    if (qtimer) {
        if (on)
            qtimer->start();
        else
            qtimer->stop();
    } else if (on && virtualClock) {
        virtualClock->schedule(this);
    }
}

void Timer::fire()
{
    if (active)
        emit timeout();
}

void Timer::clockGone()
{
    virtualClock = nullptr;
    active = false;
}
