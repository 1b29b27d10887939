// The port record and the port enumeration, through the serial seam.
#include "serial/Enumcomports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

COMMPORT::COMMPORT(SerialDriver *driver) : driver(driver)
{
    std::memset(&dcb, 0, sizeof dcb);
    std::memset(&commProp, 0, sizeof commProp);
    comStat.cbInQue = 0;
}

COMMPORT::~COMMPORT()
{
    // A port opened after an adoption is ours, though the adoption's mark stays: its
    // hold on the terminal would otherwise outlive the program.
    if (isOpen() && ownsHandle && driver)
        driver->close(handle);
}

#ifndef _WIN32
namespace {

struct Speed
{
    qint32 baud;
    speed_t constant;
};

const Speed speeds[] = {
    {50, B50},           {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000},
};

} // namespace

bool SensorLineSettings(termios *t, qint32 baud)
{
    const Speed *speed = nullptr;
    for (const Speed &s : speeds)
        if (s.baud == baud)
            speed = &s;
    if (!speed)
        return false;
    // Raw bytes both ways: the replies hold carriage returns and must not be
    // translated, echoed or taken for signals.
    t->c_iflag &=
        ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    t->c_oflag &= ~tcflag_t(OPOST);
    t->c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // The sensor's frame: 8 data bits, no parity, two stop bits, no handshake lines.
    t->c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CRTSCTS);
    t->c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    // A read returns at once with what is there; reads never ask for more anyway.
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    cfsetispeed(t, speed->constant);
    cfsetospeed(t, speed->constant);
    return true;
}

qint32 LineBaud(const termios &t)
{
    const speed_t constant = cfgetospeed(&t);
    for (const Speed &s : speeds)
        if (s.constant == constant)
            return s.baud;
    return 0;
}
#endif

bool OpenPort(COMMPORT *port, quint8 number, qint32 baud)
{
    ClosePort(port);
    port->portNumber = number;
    port->openError = 0;
    port->openDevice.clear();
    if (!port->driver)
        return false;
#ifdef _WIN32
    // The device-namespace name reaches every port number; "COM10:" would not.
    const QString name = QStringLiteral("\\\\.\\COM%1").arg(number);
#else
    // Numbers of the other device families depend on which devices there are, so
    // only those need the system's list.
    const QString name =
        PortPathForNumber(number, port->driver->portLinks(), port->driver->portsDirectory(),
                          number >= firstOtherPort ? port->driver->serialDevices() : QStringList());
#endif
    if (name.isEmpty())
        return false;
    return OpenPortByName(port, name, baud);
}

bool OpenPortByName(COMMPORT *port, const QString &name, qint32 baud)
{
    // One handle at a time: the one held is let go before another is taken.
    ClosePort(port);
    if (!port->driver)
        return false;
    // A port link names the device it points at; the user knows it by that name.
    const QString device = QFileInfo(name).canonicalFilePath();
    port->openDevice = device.isEmpty() ? name : device;
    port->handle = port->driver->open(QFile::encodeName(name));
    port->ownsHandle = port->isOpen();
    port->openError = port->isOpen() ? 0 : port->driver->lastOpenError();
    if (!port->isOpen())
        return false;
    ++port->generation;
    // What the device reports of itself, kept as the record's properties.
    if (!port->driver->getAttributes(port->handle, &port->commProp))
        return false;
    // The driver queues are sized by the driver when it opens the port (the kernel's
    // own are 4 KB).
    std::memset(&port->dcb, 0, sizeof port->dcb);
    if (!port->driver->getAttributes(port->handle, &port->dcb))
        return false;
    if (!SensorLineSettings(&port->dcb, baud))
        return false;
    if (!port->driver->setAttributes(port->handle, port->dcb))
        return false;
    // DTR and RTS power some adapters; a pseudo-terminal has no modem lines and
    // refuses, which is no reason to give the port up.
    port->driver->raiseModemLines(port->handle);
    return true;
}

bool AttachPort(COMMPORT *port, PortHandle handle)
{
    if (!port->driver || handle < 0)
        return false;
    LineAttributes props;
    if (!port->driver->getAttributes(handle, &props))
        return false;
    port->commProp = props;
    std::memset(&port->dcb, 0, sizeof port->dcb);
    if (port->handle != handle)
        ClosePort(port); // the port held before would otherwise stay open unreachable
    port->handle = handle;
    port->ownsHandle = false;
    ++port->generation;
    if (!port->driver->getAttributes(handle, &port->dcb))
        return false;
    port->portNumber = 0;
    port->attached = true;
    return port->isOpen();
}

void ClosePort(COMMPORT *port)
{
    if (!port->isOpen())
        return;
    if (port->driver)
        port->driver->close(port->handle);
    port->handle = INVALID_PORT_HANDLE;
    port->ownsHandle = false;
    ++port->generation;
}

bool ClearCommError(COMMPORT *port)
{
    port->comStat.cbInQue = 0;
    if (!port->isOpen() || !port->driver)
        return false;
    const int n = port->driver->bytesQueued(port->handle);
    if (n < 0)
        return false;
    port->comStat.cbInQue = n;
    return true;
}

qint32 ReadPortData(COMMPORT *port, char *buffer, qint32 count)
{
    if (!port->isOpen() || !port->driver || count <= 0)
        return 0;
    const int n = port->driver->read(port->handle, buffer, count);
    return n > 0 ? n : 0;
}

bool WritePortByte(COMMPORT *port, char byte)
{
    if (!port->isOpen() || !port->driver)
        return false;
    return port->driver->write(port->handle, &byte, 1) == 1;
}

void EnumeratePorts(PortList *list, quint32 excludeMask, SerialDriver *driver)
{
    if (!list)
        return;
    list->clear();
    if (!driver)
        return;
#ifdef _WIN32
    // A map that cannot be read whole lists nothing: the list is made at the end.
    QList<DeviceMapValue> values;
    if (driver->deviceMap(&values))
        *list = PortListFromDeviceMap(values, excludeMask);
#else
    *list = PortListFromDevices(driver->serialDevices(), driver->portLinks(), excludeMask);
#endif
}
