// Exchanges that follow the search: the firmware check, the configuration read and
// write, the measurement and the channel-data upload.
//
// INTERIM: only their start operations are real here (each enters its first state
// the way every exchange starts). Their working ticks are not built yet: each ends
// its exchange at once and says so, and the firmware check accepts every sensor.
// After a search the identified sensor is therefore taken as it is: the state
// machine goes idle with the sensor controls enabled and the status naming the port.
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

void TformMain::StartReadConfig()
{
    textSensorHeight->hide();
    textSerial->hide();
    EnableSensorControls(false);
    enterFirstState(psReadConfigPrepare);
}

// INTERIM: no register dump is requested; the sensor found by the search is reported.
void TformMain::ReadConfigTick()
{
    QString text = QStringLiteral(" EchoGauge found on ") + sensorPortName;
    if (sensorPassthrough)
        text += QStringLiteral(" - Passthrough mode, %1").arg(sensorBaud);
    endInterimExchange(text);
}

void TformMain::StartWriteConfig()
{
    EnableSensorControls(false);
    enterFirstState(psWriteConfigPrepare);
}

// INTERIM: nothing is written to the sensor yet.
void TformMain::WriteConfigTick()
{
    endInterimExchange(QStringLiteral(" Writing the sensor set-up is not available yet"));
}

void TformMain::StartChannelUpload()
{
    EnableSensorControls(false);
    enterFirstState(psChannelPrepare);
}

// INTERIM: no channel data is sent yet.
void TformMain::ChannelUploadTick()
{
    endInterimExchange(QStringLiteral(" Sending channel data is not available yet"));
}
