// The port-service scheduler: one request/reply exchange with the sensor at a time,
// advanced one step per tick of timerPortService.
#include "app/Mainform.h"
#include "app/Manualentry.h"

#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace {
// A preparation state starts its exchange quickly; a freshly opened search port has
// already settled, so its first probe follows one poll interval later.
constexpr int startIntervalMs = 16;
constexpr int pollIntervalMs = 100;
constexpr int maxAttempts = 3;
} // namespace

void TformMain::timerPortServiceTimer()
{
    // While a command is still going out character by character nothing moves, so
    // every reply wait starts only once the whole request has left.
    if (senderBusyAt(timerPortService->dueUs()))
        return;
    // A network port's connection may still be on its way when an exchange is about
    // to begin: its first step waits for it, as the search waits for a port to settle.
    if (awaitingLink())
        return;

    switch (portState) {
    case psSearch:
        SearchTick();
        break;
    case psSearchPrepare:
        runPreparation(psSearch, pollIntervalMs);
        break;
    case psReadConfigPrepare:
        runPreparation(psReadConfig, startIntervalMs);
        break;
    case psReadConfig:
        ReadConfigTick();
        break;
    case psWriteConfigPrepare:
        runPreparation(psWriteConfig, startIntervalMs);
        break;
    case psWriteConfig:
        WriteConfigTick();
        break;
    case psMeasurePrepare:
        runPreparation(psMeasure, startIntervalMs);
        break;
    case psMeasure:
        MeasurementTick();
        // Continuous measurement: the next one starts as soon as this one has ended,
        // whether it succeeded or failed.
        if (portState == psIdle && cb_Continuous->isChecked())
            StartMeasurement(true);
        break;
    case psChannelPrepare:
        runPreparation(psChannelWrite, startIntervalMs);
        break;
    case psChannelWrite:
        ChannelUploadTick();
        break;
    case psManualReply:
        if (formManual || listenWithoutManualWindow)
            ManualReplyTick();
        else
            timerPortService->stop(); // the state stays 11; any start operation overrides it
        break;
    default: // idle, and any number that is not a state
        timerPortService->stop();
        break;
    }
}

// Every exchange begins from a clean line: whatever the sensor or a logger sent
// unasked is thrown away, so that it cannot be taken for the reply.
bool TformMain::awaitingLink()
{
    const bool preparing = portState == psSearchPrepare || portState == psReadConfigPrepare ||
                           portState == psWriteConfigPrepare || portState == psMeasurePrepare ||
                           portState == psChannelPrepare;
    if (!preparing || !commPort.isOpen() || !commPort.driver)
        return false;
    const LinkStatus link = commPort.driver->linkStatus(commPort.handle);
    if (link.state == LinkStatus::Connecting) {
        timerPortService->stop();
        timerPortService->setInterval(pollIntervalMs);
        timerPortService->start();
        return true;
    }
    if (portState == psSearchPrepare && link.state == LinkStatus::Failed) {
        // A server that cannot be reached is a port that could not be opened.
        timerPortService->stop();
        const _TAutoDetectArrayEntry *c = searchList->at(searchIndex);
        refusedPorts.append({c->portName, c->portName, PortRefusal::Unreachable, link.reason});
        removeLaterCandidates(c->portNumber, c->baud, true);
        ClosePort(&commPort);
        openNextSearchCandidate();
        return true;
    }
    if (portState == psSearchPrepare && link.state == LinkStatus::Ready && link.fixedSpeed)
        noteFixedSpeed(searchList->at(searchIndex)->portName);
    return false;
}

void TformMain::noteFixedSpeed(const QString &url)
{
    if (fixedSpeedNoted.contains(url))
        return;
    fixedSpeedNoted.append(url);
    // No tick may run under the box; the preparation that follows arms the next one.
    timerPortService->stop();
    platform.dialogs->message(
        this,
        QStringLiteral("%1 passes the bytes as they are: the line's speed is the device "
                       "server's own setting, and this program cannot change it there.")
            .arg(url),
        Dialogs::Icon::Information);
}

void TformMain::runPreparation(qint8 next, int intervalMs)
{
    PurgeReceive();
    rxBuffer->head = 0;
    rxBuffer->tail = 0;
    attempt = 0;
    timerPortService->setInterval(intervalMs);
    timeLeft = 0;
    timerPortService->start();
    if (portState == psChannelPrepare) {
        // Weir types need the head-to-flow table as well as the eight settings.
        const int type = cbChanType->currentIndex();
        channelStep = (type >= 2 && type <= 4) ? 0 : 64;
    }
    portState = next;
}

TformMain::TickTurn TformMain::beginWorkingTick()
{
    timerPortService->stop();
    timeLeft -= timerPortService->interval();
    if (timeLeft > 0) {
        appendStatusText(QStringLiteral("."));
        ReadPort();
        return TickTurn::Poll;
    }
    // A reply that is all there by the tick at which its wait runs out is in time,
    // however late in the wait it came: a sensor behind a USB adapter answers tens of
    // milliseconds after the request, and later still after storing a register.
    if (attempt > 0) {
        ReadPort();
        return TickTurn::LastLook;
    }
    return TickTurn::Send;
}

bool TformMain::acknowledgementHeld() const
{
    bool complete = false;
    return rxBuffer->Match(QByteArrayLiteral("OK\r"), '\0', &complete) >= 0 && complete;
}

void TformMain::pollAgain()
{
    timerPortService->setInterval(pollIntervalMs);
    timerPortService->start();
}

bool TformMain::replyTakenOrAwaited(TickTurn turn, bool finished)
{
    if (finished)
        return true;
    if (turn != TickTurn::Poll)
        return false;
    pollAgain();
    return true;
}

bool TformMain::nextAttempt()
{
    if (attempt <= maxAttempts)
        ++attempt; // kept from counting on past what a signed byte holds
    return attempt <= maxAttempts;
}

void TformMain::sendAttempt(const QString &action, const QByteArray &request, bool passthrough,
                            qint32 timeoutMs)
{
    QString text = action;
    if (attempt > 1)
        text += QStringLiteral(" (Attempt %1)").arg(attempt);
    text += QStringLiteral(" ...");
    setStatusText(text);
    // A refused request is not reported: the attempt simply runs out.
    SendCommand(request, passthrough);
    timerPortService->setInterval(pollIntervalMs);
    // A network port's replies come later by the time the network takes.
    timeLeft = timeoutMs;
    if (commPort.isOpen() && commPort.driver)
        timeLeft += commPort.driver->linkStatus(commPort.handle).roundTripMs;
    timerPortService->start();
}

void TformMain::finishExchange(const QString &status, bool enableControls)
{
    timerPortService->stop();
    setStatusText(status);
    portState = psIdle;
    if (enableControls)
        EnableSensorControls(true);
}

void TformMain::EnableSensorControls(bool enable)
{
    const QList<QObject *> controls{
        trackSensorHeight, btnHeightUp,   btnHeightDown,  btnMeasure,         menuMeasure,
        menuReadHeight,    btnSetHeight,  menuSetHeight,  cbChanType,         tbNotchData,
        btnChanInc,        btnChanDec,    editNotchWidth, udNotchWidth,       editCrestHeight,
        udCrestHeight,     editChanWidth, udChanWidth,    btnSendChannelData,
    };
    for (QObject *control : controls) {
        if (auto *widget = qobject_cast<QWidget *>(control))
            widget->setEnabled(enable);
        else if (auto *action = qobject_cast<QAction *>(control))
            action->setEnabled(enable);
    }
    // Comparing needs a sensor to read; the other starters do without one.
    menuVerifySensor->setEnabled(enable && sensorConnected());
    // The result fields appear once a sensor has been reached; they are never hidden again.
    if (enable) {
        textSensorHeight->setVisible(true);
        textResultHeight->setVisible(true);
        textResultSamples->setVisible(true);
        textResultGain->setVisible(true);
    }
}

// Every exchange starts the same way: its preparation state runs at the next 16 ms tick.
void TformMain::enterFirstState(qint8 state)
{
    // A dropped connection is a device that has gone; the next exchange connects
    // again, and its first step waits for the connection.
    if (commPort.isOpen() && commPort.driver &&
        commPort.driver->linkStatus(commPort.handle).state == LinkStatus::Dropped)
        commPort.driver->reconnect(commPort.handle);
    portState = state;
    timerPortService->stop();
    timerPortService->setInterval(startIntervalMs);
    timeLeft = 0;
    timerPortService->start();
}
