#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

// Faults a test or a user can switch on to see how the application copes with a
// sensor that misbehaves.
struct SimFaults
{
    bool silent = false;          // understands nothing, answers nothing
    bool garbled = false;         // every reply has characters overwritten, so no pattern matches
    int splitPauseMs = 0;         // > 0: every reply comes in two pieces with this pause between
    bool noAcknowledge = false;   // register writes are stored but "OK\r" never comes back
    int missingRegister = -1;     // this register's line is left out of the dump
    bool invalidReadings = false; // every measurement carries the validity flag 0
    int dropReplies = 0;          // the next this many replies are lost (counts down)
    bool signedRegisters = false; // the dump shows values as signed 16-bit numbers
};

// One stretch of a reply: the sensor waits pauseMs, then sends the bytes back to back.
struct ReplyPiece
{
    int pauseMs;
    QByteArray bytes;
};
using Reply = QList<ReplyPiece>;

// The ultrasonic sensor's command interpreter: registers, firmware version and a
// water level to measure. It knows nothing of time on the line; it is handed the
// characters as they arrive and says what to send back.
class SimSensor
{
public:
    SimSensor();

    // Takes one character that has arrived at the sensor; returns the reply when it
    // completes a request (empty when there is nothing to say).
    Reply receive(char c, qint64 timeUs);

    quint16 reg(int number) const { return registers.value(number, 0); }
    void setRegister(int number, quint16 value) { registers[number] = value; }

    QByteArray identification() const;
    QByteArray dump() const;
    QByteArray measurement();

    // The distance the sensor sees to the water surface, mm.
    int distanceMm() const { return mountHeightMm - levelMm; }

    // "R<n>=<value>" lines in register order, for a test to read back.
    QByteArray registersText() const;
    bool writeRegisters(const QString &path) const;

    QMap<int, quint16> registers;
    QString firmware = QStringLiteral("01.13"); // the five characters after "Version "
    int mountHeightMm = 3000;                   // where the sensor really hangs above the channel bottom
    int levelMm = 1000;                         // depth of the water in the channel
    int replyDelayMs = 30;                      // time the sensor takes to start answering
    SimFaults faults;

    // Every request understood, without its leading full stops ("PDAC", "ATR23=2750").
    QList<QByteArray> requests;
    int firmwareLoads = 0; // update images accepted

private:
    Reply answer(const QByteArray &request);
    Reply finish(QByteArray bytes);
    Reply acceptUpdate();

    QByteArray line;            // characters of the request being received
    qint64 updateRemaining = 0; // bytes of an update image still to come
    qint64 updateLastUs = 0;
    qint64 lastCharUs = 0;
    QByteArray updateImage;
    int lastValue = 0;
};

// Checks an update image as the loader hands it over: the header's magic text,
// length, checksum, product code 115 and file kind 1. Returns the firmware version
// it carries as "MM.mm", or an empty text when the image is not valid.
QString updateImageVersion(const QByteArray &image);
