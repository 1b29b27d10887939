// Exchanges that follow the search and its firmware check: the measurement.
//
// INTERIM: only its start operation is real here (it enters its first state the way
// every exchange starts). Its working tick is not built yet: it ends its exchange
// at once and says so.
#include "app/Mainform.h"

#include "core/Timer.h"

#include <QLabel>

namespace {
constexpr int startIntervalMs = 16;
} // namespace

// Every exchange starts the same way: its preparation state runs at the next 16 ms tick.
void TformMain::enterFirstState(qint8 state)
{
    portState = state;
    timerPortService->stop();
    timerPortService->setInterval(startIntervalMs);
    timeLeft = 0;
    timerPortService->start();
}

void TformMain::endInterimExchange(const QString &status)
{
    timerPortService->stop();
    portState = psIdle;
    setStatusText(status);
    EnableSensorControls(true);
}

void TformMain::StartMeasurement(bool)
{
    EnableSensorControls(false);
    enterFirstState(psMeasurePrepare);
}

// INTERIM: no measurement is requested yet.
void TformMain::MeasurementTick()
{
    endInterimExchange(QStringLiteral(" Measurement is not available yet"));
}
