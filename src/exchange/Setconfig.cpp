// Writing the sensor set-up: Window High, the sensor height, the lost-echo value and
// the channel type, one register write at a time.
#include "exchange/Setconfig.h"

#include "app/Mainform.h"
#include "channel/Flow.h"
#include "channel/Flowtable.h"
#include "core/Timer.h"
#include "exchange/Setupcontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

namespace {
constexpr quint16 reportFlowBit = 0x8000;
constexpr quint16 smallSensorWindow = 2500;
constexpr quint16 largeSensorWindow = 5000;
constexpr int writeSteps = 4;
constexpr int writeRegisters[writeSteps] = {1, 23, 24, 128};
} // namespace

quint16 SensorHeightValue(qint32 channelType, qint32 heightMm)
{
    const quint16 h = quint16(heightMm);
    if (channelType == ctMeasureDistance)
        return 0;
    if (channelType == ctMeasureDepth)
        return h;
    return h | reportFlowBit;
}

quint16 WindowHighValue(qint32 channelType, bool setMaxHeight, qint32 headroomPercent, quint16 heightWord,
                        qint32 sensorType)
{
    if (channelType != ctMeasureDistance && setMaxHeight) {
        const qint32 h = heightWord & 0x7FFF;
        const float window = float((headroomPercent + 100) * 0.01 * h);
        const double rounded = double(window) + 0.5;
        // A headroom from the settings far outside the dialog's 1..100 % must not
        // wrap round to a tiny window; the register holds at most 65535.
        return quint16(std::clamp(rounded, 0.0, 65535.0));
    }
    return sensorType == 1 ? smallSensorWindow : largeSensorWindow;
}

LostEchoEntry LostEchoFromText(const QString &text, qint32 oldValue)
{
    bool ok = false;
    const qint32 entered = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return {oldValue, LostEchoEntry::Invalid};
    // -1 would go out as 65535, which the sensor reads as "repeat the last value".
    qint32 v = entered == -1 ? -2 : entered;
    v = std::clamp(v, -32768, 32767);
    return {v, v == entered ? LostEchoEntry::None : LostEchoEntry::Adjusted};
}

quint16 TformMain::SensorHeightWord() const
{
    return SensorHeightValue(channelType(), trackSensorHeight->maximum() - trackSensorHeight->value());
}

quint16 TformMain::WindowHighWord() const
{
    return WindowHighValue(channelType(), cbSetMaxHeight->isChecked(), maxHeightPercent, SensorHeightWord(),
                           sensorType);
}

quint16 TformMain::LostEchoWord()
{
    if (cbLostEcho->currentIndex() == 0) {
        lostEchoValue = repeatLastValue;
        return repeatLastValue;
    }
    const LostEchoEntry entry = LostEchoFromText(editLostEchoValue->text(), lostEchoValue);
    lostEchoValue = entry.value;
    if (entry.message == LostEchoEntry::Invalid)
        platform.dialogs->message(this, QString::fromLatin1(lostEchoInvalidText));
    else if (entry.message == LostEchoEntry::Adjusted)
        platform.dialogs->message(this, QString::fromLatin1(lostEchoAdjustedText));
    ShowLostEcho();
    return quint16(lostEchoValue);
}

void TformMain::StartWriteConfig()
{
    textSensorHeight->hide();
    EnableSensorControls(false);
    writeStep = 0;
    enterFirstState(psWriteConfigPrepare);
}

QByteArray TformMain::writeConfigCommand()
{
    switch (writeStep) {
    case 0:
        sentWord = WindowHighWord();
        break;
    case 1:
        sentWord = SensorHeightWord();
        break;
    case 2:
        sentWord = LostEchoWord();
        break;
    default:
        sentWord = quint16(channelType());
        break;
    }
    return RegisterWriteCommand(writeRegisters[std::min<int>(writeStep, writeSteps - 1)], sentWord);
}

void TformMain::WriteConfigTick()
{
    const TickTurn turn = beginWorkingTick();
    if (turn == TickTurn::Poll) {
        // While the wait lasts, the acknowledgement is looked for once the reply has
        // stopped growing.
        const qint32 n = rxBuffer->Count();
        if (n == 0 || n != writeLastCount || !acknowledgementHeld()) {
            writeLastCount = n;
            pollAgain();
            return;
        }
        if (takeWriteAcknowledgement())
            return;
        // The next register goes out when this wait has run down, not at once: the
        // sensor is given the whole wait to store what it was sent.
        timerPortService->start();
        return;
    }
    // At the end of the wait an acknowledgement is taken as it stands, and the next
    // register goes out at this same tick.
    if (turn == TickTurn::LastLook && acknowledgementHeld() && takeWriteAcknowledgement())
        return;

    if (!nextAttempt()) {
        finishExchange(QStringLiteral(" Sensor data not written!"), true);
        return;
    }
    // The value is worked out afresh for every attempt, so a corrected lost-echo
    // value is reported once and then sent as corrected.
    const QByteArray command = writeConfigCommand();
    sendAttempt(QStringLiteral(" Writing sensor data"), command, sensorPassthrough,
                sensorPassthrough ? writeTimeoutPassthrough : writeTimeoutDirect);
    writeLastCount = 0;
}

bool TformMain::takeWriteAcknowledgement()
{
    PurgeReceive();
    rxBuffer->Clear();
    recordWrittenRegister(writeRegisters[std::min<int>(writeStep, writeSteps - 1)], sentWord);
    ++writeStep;
    attempt = 0;
    if (writeStep < writeSteps)
        return false;
    finishExchange(QStringLiteral(" Sensor data successfully written"), true);
    setupChanged = false;
    setCaptionColour(btnSetHeight, winColor(0));
    return true;
}
