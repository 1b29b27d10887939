#include "model/LineSettings.h"

#include <cstring>

#ifndef _WIN32
namespace {

struct SpeedName
{
    speed_t code;
    qint32 baud;
};

const SpeedName speeds[] = {
    {B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
};

} // namespace

LineSettings LineSettings::fromAttributes(const termios &t)
{
    LineSettings s;
    const speed_t code = cfgetospeed(&t);
    for (const SpeedName &sp : speeds)
        if (sp.code == code)
            s.baud = sp.baud;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = 5;
        break;
    case CS6:
        s.dataBits = 6;
        break;
    case CS7:
        s.dataBits = 7;
        break;
    default:
        s.dataBits = 8;
        break;
    }
    s.parity = (t.c_cflag & PARENB) != 0;
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
}

termios makeAttributes(const LineSettings &s)
{
    termios t;
    std::memset(&t, 0, sizeof t);
    cfmakeraw(&t);
    speed_t code = B38400;
    for (const SpeedName &sp : speeds)
        if (sp.baud == s.baud)
            code = sp.code;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    t.c_cflag |= CREAD | CLOCAL;
    switch (s.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    if (s.parity)
        t.c_cflag |= PARENB;
    if (s.stopBits == 2)
        t.c_cflag |= CSTOPB;
    return t;
}
#else
namespace {

const qint32 speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

} // namespace

LineSettings LineSettings::fromAttributes(const DCB &d)
{
    LineSettings s;
    for (const qint32 baud : speeds)
        if (DWORD(baud) == d.BaudRate)
            s.baud = baud;
    s.dataBits = d.ByteSize;
    s.parity = d.Parity != NOPARITY;
    s.stopBits = d.StopBits == TWOSTOPBITS ? 2 : 1; // one and a half counts as one
    return s;
}

DCB makeAttributes(const LineSettings &s)
{
    DCB d;
    std::memset(&d, 0, sizeof d);
    d.DCBlength = sizeof d;
    d.fBinary = 1;
    d.BaudRate = DWORD(s.baud);
    d.ByteSize = BYTE(s.dataBits);
    d.Parity = s.parity ? EVENPARITY : NOPARITY;
    d.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    return d;
}
#endif

QString LineSettings::toString() const
{
    return QStringLiteral("%1 %2%3%4").arg(baud).arg(dataBits).arg(parity ? 'P' : 'N').arg(stopBits);
}
