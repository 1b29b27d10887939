#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The sensor's answer to "...PDAs": five characters of value, the validity flag, and
// one digit each for the valid samples, the samples taken and the gain, every field
// followed by a comma. "?" stands for any byte.
inline constexpr char measurementTemplate[] = "?????,?,?,?,?,";
inline constexpr qint32 measurementReplyLength = 14;

// How long the sensor is given to answer one request: a logger relays the request
// at 9600 baud to the sensor and its answer back, so it needs longer.
inline constexpr qint32 measureTimeoutDirect = 1500;
inline constexpr qint32 measureTimeoutPassthrough = 2000;

// One reply taken apart. A field that is not a number comes out as -1.
struct MeasurementReply
{
    qint32 value = -1;  // mm for distance and depth, a flow-table count for the weirs
    bool valid = false; // the sensor's validity flag was "1"
    qint8 validSamples = -1;
    qint8 samples = -1;
    qint8 gain = -1;

    // A field that did not decode: the reply is not trusted and is passed over.
    bool hasNegativeField() const { return value < 0 || validSamples < 0 || samples < 0 || gain < 0; }
};

// Decodes the 14 characters of a reply that matched the template. Fewer characters
// than that give a reply whose every field is -1.
MeasurementReply DecodeMeasurementReply(const QByteArray &reply);

// A flow-table count in m³/s: one m³/s is 10^(exponent + 1) counts.
float MeasuredFlow(qint32 value, qint32 flowExponent);

// A flow as the result field shows it: m³/s with three decimals from 0.1 m³/s up,
// litres per second with one decimal below.
QString FlowResultText(float flow);
