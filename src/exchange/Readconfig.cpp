// Reading the sensor's configuration: the register dump requested with "...PDAh"
// and taken into the set-up controls and the channel description.
#include "exchange/Readconfig.h"

#include "app/Mainform.h"
#include "channel/Flow.h"
#include "core/Timer.h"
#include "exchange/Firmware.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

namespace {
const QByteArray dumpRequest = QByteArrayLiteral("...PDAh");
constexpr qint32 largestDimension = 10000; // mm
constexpr qint32 largestExponent = 10;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
} // namespace

bool ParseRegister(const QByteArray &reply, qint32 &pos, qint16 reg, qint32 &value, bool replyEnded)
{
    const QByteArray marker = QByteArrayLiteral("(R") + QByteArray::number(reg) + QByteArrayLiteral("): ");
    const qsizetype at = reply.indexOf(marker, std::max<qsizetype>(pos, 0));
    if (at < 0)
        return false;
    const qsizetype start = at + marker.size();
    const QByteArray field = reply.mid(start, dumpValueField);

    int i = 0;
    while (i < field.size() && isBlank(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    const int firstDigit = i;
    qint32 number = 0; // at most six characters: no overflow
    while (i < field.size() && isDigit(field[i]))
        number = number * 10 + (field[i++] - '0');
    // The reply stopped inside the value: the rest of it may still be on its way,
    // unless the line has fallen quiet, when digits that end the reply are the value.
    if (i == field.size() && field.size() < dumpValueField && !(replyEnded && i > firstDigit))
        return false;

    value = negative ? -number : number;
    pos = qint32(start + field.size());
    return true;
}

DumpParse ParseRegisterDump(const QByteArray &reply, RegisterDump *dump, qint32 *end, bool replyEnded)
{
    if (!reply.contains(dumpMarker))
        return DumpParse::NoDump;
    RegisterDump d;
    qint32 *const destinations[] = {&d.sensorType,   &d.range,       &d.serial,     &d.height,
                                    &d.lostEcho,     &d.channelType, &d.notchWidth, &d.crestHeight,
                                    &d.channelWidth, &d.flowExponent};
    static const qint16 registers[] = {8, 9, 19, 23, 24, 128, 129, 130, 131, 132};
    // Every marker is looked for after the previous value, so the registers must
    // come in this order, as the sensor lists them.
    qint32 pos = 0;
    for (int i = 0; i < 10; ++i) {
        if (!ParseRegister(reply, pos, registers[i], *destinations[i], replyEnded))
            return DumpParse::Incomplete;
    }
    if (dump)
        *dump = d;
    if (end)
        *end = pos;
    return DumpParse::Complete;
}

bool ValidRegisterDump(const RegisterDump &dump, qint16 firmwareVersion)
{
    if (dump.range != 5000 && dump.range != 10000)
        return false;
    if (dump.serial < 0)
        return false;
    // Older firmware printed the height as a signed number, so the flow bit made it
    // negative; from 1.13 on a negative height is a corrupted reply.
    if (firmwareVersion >= 113 && dump.height < 0)
        return false;
    return true;
}

RegisterDump AdjustedRegisterDump(const RegisterDump &dump)
{
    RegisterDump d = dump;
    d.crestHeight = std::min(d.crestHeight, largestDimension);
    d.channelWidth = std::min(d.channelWidth, largestDimension);
    d.notchWidth = std::min(d.notchWidth, largestDimension);
    if (d.flowExponent > largestExponent)
        d.flowExponent = 0;
    if (d.channelType < ctMeasureDistance || d.channelType > ctVNotchWeir)
        d.channelType = ctMeasureDistance;
    // Firmware that prints its registers signed shows the repeat code 65535 as -1;
    // the value is a 16-bit register either way.
    d.lostEcho = quint16(d.lostEcho);
    return d;
}

QString SerialLabelText(qint32 serial, qint16 firmwareVersion)
{
    QString text;
    if (serial > 0)
        text = QStringLiteral("S/N %1, ").arg(serial, 5, 10, QLatin1Char('0'));
    return text + FirmwareVersionText(firmwareVersion);
}

void TformMain::StartReadConfig()
{
    verifyingSensor = false;
    textSensorHeight->hide();
    textSerial->hide();
    EnableSensorControls(false);
    enterFirstState(psReadConfigPrepare);
}

void TformMain::ReadConfigTick()
{
    const TickTurn turn = beginWorkingTick();
    if (turn != TickTurn::Send) {
        // The dump is long and has no end marker: while the wait lasts it is looked at
        // once a whole poll interval has brought nothing new; at the end of the wait,
        // as it stands.
        const qint32 n = rxBuffer->Count();
        const bool quiet = n == readLastCount;
        readLastCount = n;
        if (replyTakenOrAwaited(turn, (quiet || turn == TickTurn::LastLook) && takeRegisterDump(quiet)))
            return;
    }

    if (!nextAttempt()) {
        if (!verifyingSensor)
            textSerial->hide();
        verifyingSensor = false;
        finishExchange(QStringLiteral(" Sensor data not received!"), true);
        return;
    }
    sendAttempt(
        verifyingSensor ? QStringLiteral(" Verifying sensor") : QStringLiteral(" Requesting sensor data"),
        dumpRequest, sensorPassthrough, sensorPassthrough ? readTimeoutPassthrough : readTimeoutDirect);
    readLastCount = 0;
}

bool TformMain::takeRegisterDump(bool replyEnded)
{
    const qint32 n = rxBuffer->Count();
    QByteArray reply(n, '\0');
    rxBuffer->Peek(reply.data(), 0, n);
    RegisterDump dump;
    const DumpParse parsed = ParseRegisterDump(reply, &dump, nullptr, replyEnded);
    if (parsed == DumpParse::Complete)
        lastRegisterDump = reply;
    // A verification compares whatever a whole dump holds and takes nothing over.
    if (parsed == DumpParse::Complete && verifyingSensor) {
        finishVerifySensor(reply, replyEnded);
        return true;
    }
    // A reply that is rejected or stops part-way changes nothing: the engineer's
    // description must never take numbers the application itself refused.
    if (parsed != DumpParse::Complete || !ValidRegisterDump(dump, firmwareVersion))
        return false;
    recordReadRegisters(dump, DumpRegisterValues(reply, {1}, replyEnded));
    applyRegisterDump(AdjustedRegisterDump(dump));
    return true;
}

void TformMain::applyRegisterDump(const RegisterDump &d)
{
    sensorType = d.sensorType;
    lostEchoValue = d.lostEcho;
    crestHeight = d.crestHeight;
    channelWidth = d.channelWidth;
    notchWidth = d.notchWidth;
    flowExponent = d.flowExponent;
    // The edits' change handlers take the texts back into the same whole millimetres.
    setChannelEditText(editCrestHeight, MetresText(crestHeight));
    setChannelEditText(editChanWidth, MetresText(channelWidth));
    setChannelEditText(editNotchWidth, MetresText(notchWidth));

    cbChanType->setCurrentIndex(d.channelType);
    notchAngle = d.channelType == ctVNotchWeir ? d.notchWidth : 45;

    finishExchange(QStringLiteral(" Sensor data received from EchoGauge"), true);

    // The slider runs upside down: its position is the range less the height.
    trackSensorHeight->setMaximum(d.range);
    trackSensorHeight->setValue(d.range - (d.height & 0x7FFF));
    ShowLostEcho();

    sensorSerial = d.serial;
    configRead = true;
    textSerial->setText(SerialLabelText(d.serial, firmwareVersion));
    textSerial->adjustSize(); // a six-digit serial must not be cut off
    textSerial->setVisible(true);

    // What is shown is now what the sensor holds.
    setupChanged = false;
    ShowChannelControls();
    pbSensor->update();
    pbChannel->update();
    pbFlowGraph->update();
}
