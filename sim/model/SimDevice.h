#pragma once

#include "model/LineSettings.h"
#include "model/SimSensor.h"

#include <QByteArray>
#include <QtGlobal>

#include <deque>
#include <memory>
#include <utility>

// One direction of a serial line: characters leave back to back, each taking 11
// bit times, and a character cannot start before the previous one has gone.
class Transmitter
{
public:
    explicit Transmitter(qint32 baud) : baud(baud) {}

    // Sends one character no earlier than earliestUs; returns when its last stop
    // bit has left. Characters of one unbroken run are timed from the run's start,
    // so a long reply keeps the exact pace of the baud rate.
    qint64 send(qint64 earliestUs);

    qint32 baud;

private:
    qint64 runStartUs = 0;
    qint64 runCount = 0;
    qint64 freeUs = -1;
};

// What sits at the far end of the PC's cable: the sensor alone (9600 8N2), or a
// data logger at 9600, 19200 or 115200 8N2 that relays "...EGCNFG(<request>)" to
// the sensor behind it and hands the sensor's reply back. Time-driven: it is given
// the characters with the moment they arrived and produces its output characters
// with the moment each has fully left, paced at the line's baud rate.
class SimDevice
{
public:
    explicit SimDevice(qint32 loggerBaud = 0);

    SimSensor &sensor() { return sensorModel; }
    const SimSensor &sensor() const { return sensorModel; }
    bool hasLogger() const { return loggerBaud != 0; }

    // The line settings the PC must use to be understood.
    qint32 lineBaud() const { return hasLogger() ? loggerBaud : sensorBaud; }
    LineSettings lineSettings() const { return LineSettings::eightNoneTwo(lineBaud()); }

    // A character that has arrived from the PC at timeUs.
    void arrive(qint64 timeUs, char c);
    // A character the PC starts to write at timeUs; it arrives one character time later.
    void write(qint64 timeUs, char c);

    // Output characters whose last bit has left by timeUs, oldest first, taken out.
    QByteArray takeOutput(qint64 timeUs);
    // When the next output character will have left, or -1 when none is pending.
    qint64 nextOutputUs() const { return output.empty() ? -1 : output.front().first; }
    // Forgets output not yet taken.
    void discardOutput() { output.clear(); }

    static constexpr qint32 sensorBaud = 9600;
    // The logger's own turnaround before it relays a request to the sensor or
    // answers one itself.
    int loggerDelayMs = 10;
    // When 0 or more: the answer to a request starts this long after the request's
    // last character has arrived, in place of the sensor's reply delay and the
    // logger's relay, as with a sensor whose controller takes its time and a USB
    // adapter that holds the bytes. The answer's characters take their time on top.
    int latencyMs = -1;
    // What the logger answers to a request that is not in its frame: nothing the
    // application could take for a reply of the sensor.
    static constexpr const char *loggerRefusal = "ERR\r\n";

private:
    void sensorReceives(qint64 timeUs, char c);
    void loggerReceives(qint64 timeUs, char c);
    void loggerRefuses(qint64 timeUs);
    Reply withLatency(Reply reply) const;

    qint32 loggerBaud;
    SimSensor sensorModel;
    Transmitter toPc;       // device -> PC at the line's speed
    Transmitter fromPc;     // PC -> device, for write()
    Transmitter toSensor;   // logger -> sensor at 9600
    Transmitter fromSensor; // sensor -> logger at 9600
    QByteArray loggerLine;
    std::deque<std::pair<qint64, char>> output;
};
