#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The ten registers of the sensor's register dump that the set-up screens show,
// as they came in the reply (before any check or clamp).
struct RegisterDump
{
    qint32 sensorType = 0;   // R8: 1 is the small sensor
    qint32 range = 0;        // R9: 5000 or 10000 mm
    qint32 serial = 0;       // R19
    qint32 height = 0;       // R23: mm in bits 0..14, bit 15 = report flow
    qint32 lostEcho = 0;     // R24: 65535 = repeat the last value
    qint32 channelType = 0;  // R128
    qint32 notchWidth = 0;   // R129: mm, or the V-notch angle in degrees
    qint32 crestHeight = 0;  // R130
    qint32 channelWidth = 0; // R131
    qint32 flowExponent = 0; // R132
};

// What a reply held when it was looked at.
enum class DumpParse
{
    NoDump,     // no "Temperature    : " yet: not the dump, or not arrived
    Incomplete, // a register missing, out of order, or its value cut off
    Complete,
};

inline constexpr char dumpMarker[] = "Temperature    : ";
inline constexpr int dumpValueField = 6; // characters after a register marker
inline constexpr qint32 readTimeoutDirect = 10000;
inline constexpr qint32 readTimeoutPassthrough = 20000;

// Looks for the marker "(R<reg>): " in reply from pos on; when found, reads the value
// in the up to six characters after it (leading blanks, an optional sign, then
// digits; no digits give 0), stores it in value and moves pos past those
// characters. A value field that the reply ends in before any character follows
// the digits may still be arriving and counts as not found, unless replyEnded says
// that the line has been quiet since: then digits that end the reply are whole.
bool ParseRegister(const QByteArray &reply, qint32 &pos, qint16 reg, qint32 &value, bool replyEnded = false);

// The ten registers of a register dump, each looked for after the previous one.
// Nothing is written to dump unless all ten are found; end receives the position
// after the last value.
DumpParse ParseRegisterDump(const QByteArray &reply, RegisterDump *dump, qint32 *end = nullptr,
                            bool replyEnded = false);

// A dump the application accepts: a range of 5000 or 10000 mm, a serial number not
// below 0 and, from firmware 1.13 on (which reports the height unsigned), a height
// not below 0.
bool ValidRegisterDump(const RegisterDump &dump, qint16 firmwareVersion);

// The dump as the description takes it: dimensions at most 10 m, an exponent above
// 10 read as 0, a channel type outside 0..4 read as 0, the lost-echo value as the
// 16-bit register it is (so that a signed -1 is the repeat code 65535).
RegisterDump AdjustedRegisterDump(const RegisterDump &dump);

// The label above the sensor: "S/N 01234, V1.13", or only "V1.08" without a serial.
QString SerialLabelText(qint32 serial, qint16 firmwareVersion);
