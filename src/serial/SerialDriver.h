#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#ifdef _WIN32
#include <windows.h>
#else
#include <termios.h>
#endif

// An open port: a file descriptor on Linux, a HANDLE on Windows.
using PortHandle = qintptr;
constexpr PortHandle INVALID_PORT_HANDLE = -1;

// A port's line settings as the operating system holds them.
#ifdef _WIN32
using LineAttributes = DCB;
#else
using LineAttributes = termios;
#endif

// A COM<n> link in the ports directory, by which a user or the simulator names any
// device as any port number.
struct PortLink
{
    QString name;      // the link's own name, "COM7" in any case
    QString target;    // what it points at
    bool targetExists; // a dangling link names no port
};

// One value of the Windows serial device map: its name (\Device\Serial0) and
// its data (COM1).
struct DeviceMapValue
{
    QString name;
    QString data;
};

// What a port's link to its device is doing. A local port is always ready; a
// network port connects after it has been opened, and its connection can drop.
struct LinkStatus
{
    enum State
    {
        Ready,
        Connecting, // the name's lookup, the connection or the line settings are under way
        Failed,     // the device server could not be reached; reason says why
        Dropped,    // the connection was lost after it had been made
    };
    State state = Ready;
    QString reason;          // "host not found", "connection refused", "no answer", ...
    qint32 roundTripMs = 0;  // what every wait for a reply is lengthened by
    bool fixedSpeed = false; // the line's speed is the server's own; ours is not applied
};

// The operating system's serial calls, as the port record uses them. The real
// driver is termios on Linux and the comm API on Windows; tests put the in-process
// simulated device behind the same calls. Every call reports failure by its result
// and never throws or blocks.
class SerialDriver
{
public:
    virtual ~SerialDriver() = default;

#ifdef _WIN32
    // The serial device map; false when it cannot be read (values then holds what
    // was read before the failure).
    virtual bool deviceMap(QList<DeviceMapValue> *values) = 0;
#else
    // Device nodes the system knows as serial ports (/dev/ttyS0, /dev/ttyUSB0, ...).
    virtual QStringList serialDevices() = 0;
    // The COM<n> links of the ports directory.
    virtual QList<PortLink> portLinks() = 0;
    // The directory those links live in ($ECHOGAUGE_PORTS_DIR, else
    // ~/.config/Brookmere/ports); it need not exist.
    virtual QString portsDirectory() = 0;
#endif

    // The port is held for us alone while open: another program cannot open it beside
    // us, and one that holds it already keeps it (the open fails as busy).
    virtual PortHandle open(const QByteArray &path) = 0; // INVALID_PORT_HANDLE on failure
    // Why the last open() failed: the system's error number (EACCES when the user may
    // not use the device, EBUSY when another program holds it), 0 when nothing told.
    // Windows's own codes are given as these numbers (ErrorNumberForWindowsError).
    virtual int lastOpenError() const
    {
        return 0;
    }
    virtual bool getAttributes(PortHandle h, LineAttributes *t) = 0;
    virtual bool setAttributes(PortHandle h, const LineAttributes &t) = 0;
    virtual bool raiseModemLines(PortHandle h) = 0; // DTR and RTS; a pseudo-terminal refuses
    virtual int bytesQueued(PortHandle h) = 0;      // -1 when the device is gone
    virtual int read(PortHandle h, char *buffer, int count) = 0;
    virtual int write(PortHandle h, const char *data, int count) = 0;
    virtual void close(PortHandle h) = 0;

    virtual LinkStatus linkStatus(PortHandle)
    {
        return LinkStatus();
    }
    // Connects a dropped link again with the settings it had; false when the port is
    // not one that can.
    virtual bool reconnect(PortHandle)
    {
        return false;
    }
    // The device's data that is held on the far side of the link is dropped; a local
    // port holds none there.
    virtual void purgeReceive(PortHandle)
    {
    }

    // The operating system's own devices and the network ports.
    static SerialDriver *system();
    // The operating system's own devices alone.
    static SerialDriver *local();
};
