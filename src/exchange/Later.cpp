// Exchanges that follow the search: the firmware check, the measurement and the
// manual reply.
//
// INTERIM: only their start operations are real here (each enters its first state
// the way every exchange starts). Their working ticks are not built yet: each ends
// its exchange at once and says so, and the firmware check accepts every sensor.
#include "app/Mainform.h"

#include "core/Timer.h"

#include <QLabel>

namespace {
constexpr int startIntervalMs = 16;
} // namespace

// INTERIM: every identified sensor is accepted; the version digits are left unread.
bool TformMain::CheckFirmware()
{
    return true;
}

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

// INTERIM: the manual command window's listening period is not built yet.
void TformMain::ManualReplyTick()
{
    timerPortService->stop();
    portState = psIdle;
}
