#include "core/Timer.h"

#include "core/Clock.h"

#include <QTimer>

Timer::Timer(Clock *clock, int intervalMs, QObject *parent)
    : QObject(parent), clock(clock), intervalMs(intervalMs)
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
    if (qtimer) {
        qtimer->setInterval(ms); // QTimer restarts an active timer itself
        if (active)
            arm();
    } else if (active && virtualClock) {
        virtualClock->schedule(this);
    }
}

void Timer::setEnabled(bool on)
{
    if (on == active)
        return;
    active = on;
    if (qtimer) {
        if (on) {
            qtimer->start();
            arm();
        } else {
            qtimer->stop();
        }
    } else if (on && virtualClock) {
        virtualClock->schedule(this);
    }
}

// A precise periodic QTimer keeps to the grid of its start, so the tick's due time
// is counted on that grid rather than read from the clock, which a busy event loop
// would make late by a varying amount.
void Timer::arm()
{
    armedAtUs = clock ? clock->nowUs() : 0;
    ticksSinceArmed = 0;
}

void Timer::fire()
{
    if (!active)
        return;
    if (qtimer)
        dueAtUs = armedAtUs + ++ticksSinceArmed * qint64(intervalMs) * 1000;
    emit timeout();
}

void Timer::clockGone()
{
    virtualClock = nullptr;
    active = false;
}
