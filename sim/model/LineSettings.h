#pragma once

#include "serial/SerialDriver.h"

#include <QString>
#include <QtGlobal>

// The framing of a serial line as a device sees it: a device only makes sense of
// characters sent at its own speed and character format.
struct LineSettings
{
    qint32 baud = 0; // 0 when the speed is not one the devices know
    int dataBits = 8;
    bool parity = false;
    int stopBits = 1;

    // The line a port's settings give, in the operating system's own form.
    static LineSettings fromAttributes(const LineAttributes &a);
#ifndef _WIN32
    static LineSettings fromTermios(const termios &t)
    {
        return fromAttributes(t);
    }
#endif
    // 8 data bits, no parity, two stop bits: the only format the sensor and the
    // logger speak.
    static LineSettings eightNoneTwo(qint32 baud)
    {
        return {baud, 8, false, 2};
    }

    bool operator==(const LineSettings &o) const
    {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity && stopBits == o.stopBits;
    }
    bool operator!=(const LineSettings &o) const
    {
        return !(*this == o);
    }

    QString toString() const; // "9600 8N2"
};

// Microseconds that one character takes on the line: start bit, 8 data bits and two
// stop bits are 11 bit times.
constexpr qint64 characterMicros(qint32 baud, qint64 characters = 1)
{
    return (characters * 11 * 1000000 + baud - 1) / baud;
}

// Port settings with the given speed and character format, otherwise raw.
LineAttributes makeAttributes(const LineSettings &s);
#ifndef _WIN32
inline termios makeTermios(const LineSettings &s)
{
    return makeAttributes(s);
}
#endif
