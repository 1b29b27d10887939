#include "model/SimDevice.h"

#include <algorithm>

namespace {

const QByteArray framePrefix("...EGCNFG(");
// Every request begins so; what follows decides whether it is the logger's frame.
const QByteArray requestStart("...");

// Plays a sensor reply out on a transmitter, piece by piece, calling deliver with
// each character and the moment it has left.
template <typename Deliver>
void playReply(const Reply &reply, qint64 fromUs, Transmitter &line, Deliver deliver)
{
    qint64 t = fromUs;
    for (const ReplyPiece &piece : reply) {
        t += qint64(piece.pauseMs) * 1000;
        for (char c : piece.bytes) {
            t = line.send(t);
            deliver(t, c);
        }
    }
}

} // namespace

qint64 Transmitter::send(qint64 earliestUs)
{
    if (freeUs < 0 || earliestUs > freeUs) {
        runStartUs = earliestUs;
        runCount = 0;
    }
    ++runCount;
    freeUs = runStartUs + characterMicros(baud, runCount);
    return freeUs;
}

SimDevice::SimDevice(qint32 loggerBaud)
    : loggerBaud(loggerBaud), toPc(loggerBaud ? loggerBaud : sensorBaud),
      fromPc(loggerBaud ? loggerBaud : sensorBaud), toSensor(sensorBaud), fromSensor(sensorBaud)
{
}

void SimDevice::write(qint64 timeUs, char c)
{
    arrive(fromPc.send(timeUs), c);
}

void SimDevice::arrive(qint64 timeUs, char c)
{
    if (hasLogger())
        loggerReceives(timeUs, c);
    else
        sensorReceives(timeUs, c);
}

Reply SimDevice::withLatency(Reply reply) const
{
    if (latencyMs >= 0 && !reply.isEmpty())
        reply.first().pauseMs = latencyMs;
    return reply;
}

void SimDevice::sensorReceives(qint64 timeUs, char c)
{
    const Reply reply = withLatency(sensorModel.receive(c, timeUs));
    playReply(reply, timeUs, toPc, [this](qint64 t, char b) { output.emplace_back(t, b); });
}

void SimDevice::loggerReceives(qint64 timeUs, char c)
{
    // The logger relays only its configuration frame. A bare request is its own
    // command interpreter's business: it refuses it with a short reply of its own,
    // so a port with a logger behind it is never silent at the logger's speed.
    loggerLine.append(c);
    if (loggerLine.size() <= framePrefix.size()) {
        if (c != '.' && loggerLine.startsWith(requestStart) && !framePrefix.startsWith(loggerLine))
            loggerRefuses(timeUs);
        // Keep only the tail that may still become the frame's beginning.
        while (!loggerLine.isEmpty() && !framePrefix.startsWith(loggerLine))
            loggerLine.remove(0, 1);
        return;
    }
    if (c != ')') {
        if (loggerLine.size() > 64)
            loggerLine.clear(); // no request is that long: a broken frame
        return;
    }

    // A whole frame: relay the request inside it to the sensor at 9600, and pass
    // every character of the sensor's answer on to the PC as it comes in.
    const QByteArray request = "..." + loggerLine.mid(framePrefix.size()).chopped(1);
    loggerLine.clear();
    qint64 t = timeUs + qint64(loggerDelayMs) * 1000;
    for (char r : request) {
        t = toSensor.send(t);
        const Reply reply = sensorModel.receive(r, t);
        // With a latency the logger hands the whole answer on at the line's own pace,
        // timed from the frame's last character.
        if (latencyMs >= 0)
            playReply(withLatency(reply), timeUs, toPc,
                      [this](qint64 left, char b) { output.emplace_back(left, b); });
        else
            playReply(reply, t, fromSensor,
                      [this](qint64 arrived, char b) { output.emplace_back(toPc.send(arrived), b); });
    }
}

void SimDevice::loggerRefuses(qint64 timeUs)
{
    qint64 t = timeUs + qint64(loggerDelayMs) * 1000;
    for (char b : QByteArray(loggerRefusal)) {
        t = toPc.send(t);
        output.emplace_back(t, b);
    }
}

QByteArray SimDevice::takeOutput(qint64 timeUs)
{
    QByteArray out;
    while (!output.empty() && output.front().first <= timeUs) {
        out.append(output.front().second);
        output.pop_front();
    }
    return out;
}
