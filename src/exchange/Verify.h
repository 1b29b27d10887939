#pragma once

#include "channel/Flow.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

// Register words by register number.
using RegisterWords = QMap<int, quint16>;

// The set-up and description the window shows, as far as the sensor is concerned.
struct WindowSetup
{
    qint32 channelType = ctMeasureDistance;
    ChannelDimensions dims;
    qint32 flowExponent = 0; // sent as it stands for the types without a table
    quint16 windowHigh = 0;
    quint16 sensorHeight = 0;
    quint16 lostEcho = 0xFFFF;
};

// What "Send Channel Data to EchoGauge" would write for that set-up: registers 1, 23,
// 24 and 128..132, and for the weirs the head-to-flow table in 64..127 with the
// exponent chosen for it.
RegisterWords UploadRegisterWords(const WindowSetup &setup);

// The values a register dump lists for the given registers, each looked for on its
// own; a register the dump does not list is left out. replyEnded: the line has fallen
// quiet, so digits that end the reply are a whole value.
QMap<int, qint32> DumpRegisterValues(const QByteArray &reply, const QList<int> &registers,
                                     bool replyEnded = false);

// One register in which the sensor and the window disagree, as the engineer reads it.
struct RegisterDifference
{
    int reg;
    QString inSensor; // "not listed" when the dump leaves it out
    QString inWindow;
};

struct SensorComparison
{
    int compared = 0;
    bool tableListed = false; // the dump lists the flow table, so it was compared
    QList<RegisterDifference> differences;
};

// Register by register, the dump's values against the window's words, in register
// order. The table words are compared only when the dump lists any of them (not
// every sensor's dump does); every other register the window would write must be
// listed, and one that is not counts as a difference. A value the dump prints signed
// is the same 16-bit register.
SensorComparison CompareWithSensor(const QMap<int, qint32> &sensor, const RegisterWords &window);

// "23 Sensor height", "66 Table point 2 head": a register as the result lists it.
QString RegisterCaption(int reg);

// The last verification, for the site report.
struct VerificationRecord
{
    QDateTime at;
    int compared = 0;
    int differing = 0;
    bool tableListed = false;
    bool windowHasTable = false; // the description shown is a weir's, which has a table
};

inline constexpr char sensorHoldsWindowText[] = "The sensor holds what the window shows.";
