// A measurement: "...PDAs" asks the sensor for one reading, and its fixed-width reply
// is shown as a distance, a depth or a flow and added to the history graph.
#include "measure/Measure.h"

#include "app/Distance.h"
#include "app/Mainform.h"
#include "channel/Flow.h"
#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>

#include <cmath>

namespace {

const QByteArray measureRequest = QByteArrayLiteral("...PDAs");
constexpr int startIntervalMs = 16;

qint8 digitField(char c)
{
    return (c >= '0' && c <= '9') ? qint8(c - '0') : qint8(-1);
}

void setResult(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
}

} // namespace

MeasurementReply DecodeMeasurementReply(const QByteArray &reply)
{
    MeasurementReply r;
    if (reply.size() < measurementReplyLength)
        return r;
    // Blanks, then an optional sign and decimal digits make a value: the sensor pads
    // with zeros, and anything else is a damaged reply.
    const QByteArray field = reply.left(5);
    int i = 0;
    while (i < field.size() && field.at(i) == ' ')
        ++i;
    if (i < field.size() && (field.at(i) == '-' || field.at(i) == '+'))
        ++i;
    const int firstDigit = i;
    while (i < field.size() && field.at(i) >= '0' && field.at(i) <= '9')
        ++i;
    r.value = (i == field.size() && i > firstDigit) ? field.trimmed().toInt() : -1;
    r.valid = reply.at(6) == '1';
    r.validSamples = digitField(reply.at(8));
    r.samples = digitField(reply.at(10));
    r.gain = digitField(reply.at(12));
    return r;
}

float MeasuredFlow(qint32 value, qint32 flowExponent)
{
    return float(value * 0.1 / std::pow(10.0, flowExponent));
}

QString FlowResultText(float flow)
{
    if (flow >= 0.1f)
        return FormatFixed(flow, 3) + QStringLiteral(" m\u00B3/s");
    return FormatFixed(double(flow) * 1000.0, 1) + QStringLiteral(" l/s");
}

// ------------------------------------------------------------------------ the exchange

void TformMain::menuMeasureClick()
{
    StartMeasurement(false);
}

void TformMain::StartMeasurement(bool showResults)
{
    timerPortService->stop();
    timerPortService->setInterval(startIntervalMs);
    timeLeft = 0;
    timerPortService->start();
    StartSoundWaves();
    EnableSensorControls(false);
    // A measurement the user asked for hides the last result until its own arrives;
    // a continuous series keeps the last one on screen meanwhile.
    textResultHeight->setVisible(showResults);
    textResultSamples->setVisible(showResults);
    textResultGain->setVisible(showResults);
    portState = psMeasurePrepare;
}

void TformMain::MeasurementTick()
{
    const TickTurn turn = beginWorkingTick();
    if (turn != TickTurn::Send && replyTakenOrAwaited(turn, takeMeasurementReply()))
        return;

    if (!nextAttempt()) {
        finishExchange(QStringLiteral("  Measurement results not received"), true);
        StopSoundWaves();
        for (QLabel *l : {textResultHeight, textResultSamples, textResultGain})
            setResult(l, QStringLiteral("<Error>"));
        tabSensor->update();
        return;
    }
    sendAttempt(QStringLiteral(" Requesting measurement"), measureRequest, sensorPassthrough,
                sensorPassthrough ? measureTimeoutPassthrough : measureTimeoutDirect);
}

bool TformMain::takeMeasurementReply()
{
    bool complete = false;
    const qint32 at = rxBuffer->Match(QByteArray(measurementTemplate), '?', &complete);
    if (at < 0 || !complete)
        return false;
    rxBuffer->Skip(at);
    const MeasurementReply reply = DecodeMeasurementReply(rxBuffer->ReadString(measurementReplyLength));
    // A damaged reply is passed over; the sensor's next one may still come in time.
    if (reply.hasNegativeField())
        return false;
    completeMeasurement(reply);
    return true;
}

void TformMain::completeMeasurement(const MeasurementReply &reply)
{
    qint32 value = reply.value;
    const float flow = MeasuredFlow(value, flowExponent);
    const float headFlow = float(FlowForHead(value));

    if (reply.valid) {
        const qint32 type = channelType();
        QString caption;
        QString text;
        if (type == ctMeasureDistance || type == ctMeasureDepth) {
            caption = type == ctMeasureDistance ? QStringLiteral("Distance = ") : QStringLiteral("Depth = ");
            text = FormatDistance(value, menuMetric->isChecked());
        } else {
            caption = QStringLiteral("Flow = ");
            text = FlowResultText(flow);
        }
        setResult(labelLast, caption);
        setResult(textResultHeight, text);
        setStatusText(QLatin1Char(' ') + caption + text);
        setResult(textResultSamples, SamplesText(reply.validSamples, reply.samples));
        setResult(textResultGain, QString::number(reply.gain));
    } else {
        setStatusText(QStringLiteral(" Measurement Invalid"));
        for (QLabel *l : {textResultHeight, textResultSamples, textResultGain})
            setResult(l, QStringLiteral("<Invalid>"));
        value = -1;
    }

    EnableSensorControls(true);
    portState = psIdle;
    StopSoundWaves();
    tabSensor->update();
    AddHistoryEntry(value, flow, headFlow, reply.validSamples, reply.samples, reply.gain);
    updateSiteRecordActions();
}

void TformMain::buildMeasurement()
{
    QFont resultFont(QStringLiteral("Arial"));
    resultFont.setPixelSize(13);
    for (QLabel *l : {labelLast, textResultHeight, Label4, textResultSamples, Label6, textResultGain}) {
        l->setFont(resultFont);
        l->adjustSize();
    }
    buildHistoryGraph();
    buildSoundWaves();
}
