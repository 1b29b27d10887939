// Putting the channel description into the sensor: the head-to-flow table, three
// set-up registers and the description, one acknowledged register write per step.
#include "app/Mainform.h"

#include "channel/Flowtable.h"
#include "core/Timer.h"

#include <QComboBox>

namespace {
constexpr qint32 uploadTimeoutDirect = 250;
constexpr qint32 uploadTimeoutPassthrough = 2000;
} // namespace

void TformMain::btnSendChannelDataClick()
{
    StartChannelUpload();
    // Readings taken with the old table would no longer compare with the new ones.
    btnClearGraphClick();
}

void TformMain::StartChannelUpload()
{
    const qint32 type = channelType();
    if (HasFlowTable(type)) {
        const FlowTable table = BuildFlowTable(type, dimensionsShown());
        flowTable = table.words;
        flowExponent = table.exponent;
        ShowChannelControls(); // the calibration caption follows the exponent
    }
    EnableSensorControls(false);
    // Until every step is written, the sensor may hold half of one table and half of another.
    heldDescriptionSent = false;
    enterFirstState(psChannelPrepare);
}

quint16 TformMain::uploadValue(int step)
{
    if (step >= 0 && step < uploadFirstSettingsStep)
        return flowTable[size_t(step)];
    switch (UploadRegister(step)) {
    case 1:
        return WindowHighWord();
    case 23:
        return SensorHeightWord();
    case 24:
        return LostEchoWord();
    default:
        return DescriptionRegisterWord(UploadRegister(step), channelType(), dimensionsShown(), flowExponent);
    }
}

void TformMain::ChannelUploadTick()
{
    const TickTurn turn = beginWorkingTick();
    // Acknowledged while the wait lasts: the next step goes out on the next tick.
    // Acknowledged at its end: it goes out now, where a write would have gone again.
    if (turn != TickTurn::Send &&
        replyTakenOrAwaited(turn, acknowledgementHeld() && takeUploadAcknowledgement()))
        return;

    if (!nextAttempt()) {
        finishExchange(QStringLiteral(" Channel Data Not Written!"), true);
        return;
    }
    const int step = channelStep;
    sentWord = uploadValue(step);
    const QByteArray command = RegisterWriteCommand(UploadRegister(step), sentWord);
    sendAttempt(QStringLiteral(" Writing channel data %1 of %2").arg(step).arg(uploadSteps - 1), command,
                sensorPassthrough, sensorPassthrough ? uploadTimeoutPassthrough : uploadTimeoutDirect);
}

bool TformMain::takeUploadAcknowledgement()
{
    // An acknowledged step is never written again, and its "OK" is used up so that it
    // cannot stand for the next step's acknowledgement.
    rxBuffer->Clear();
    heldRegisters.insert(UploadRegister(channelStep), sentWord);
    ++channelStep;
    if (channelStep >= uploadSteps) {
        finishExchange(QStringLiteral(" Channel data successfully written"), true);
        markChannelChanged(false);
        heldDescriptionSent = true;
        return true;
    }
    attempt = 0;
    timeLeft = 0;
    return false;
}
