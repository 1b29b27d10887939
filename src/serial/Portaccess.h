#pragma once

// Why a port could not be opened, told to the user once a search has found no
// sensor: a device the user may not open, or one another program holds.

#include <QList>
#include <QString>

enum class PortRefusal
{
    None,         // missing, gone, not a terminal: nothing the user can act on
    NoPermission, // the device's permissions keep the user out
    InUse,        // another program holds the port
    Unreachable,  // a network port whose device server could not be reached
};

// The class of an open's error number (EACCES, EBUSY, ...).
PortRefusal RefusalForError(int error);

// The error number, as classed above, of what a Windows open reported (GetLastError):
// a COM port another program holds is refused as denied access or a sharing
// violation, one that has gone is not found; 0 for 0, EIO for anything else.
int ErrorNumberForWindowsError(quint32 code);

// A program that has the port open or locked.
struct PortHolder
{
    qint64 pid;
    QString program; // its command name, empty when the system does not tell
};

// One port that would not open, with what the system tells about it.
struct RefusedPort
{
    QString port;   // "COM33"
    QString device; // "/dev/ttyUSB0"
    PortRefusal refusal = PortRefusal::None;
    QString reason;                // for a network port: host not found, connection refused, no answer
    QString group;                 // the group that owns the device, empty when unknown
    bool groupMayOpen = true;      // the group's permissions let its members read and write
    bool groupJoinedLater = false; // the user is in the group, but this session began before
    bool groupMember = false;      // this session runs in the group: something else refuses
    QList<PortHolder> holders;     // for a port in use, whoever has it, as far as we may see
};

#ifndef _WIN32
// The port with what the system tells about its refusal: the device's owner group
// and whether the user is in it, or the programs that hold it. procRoot is where
// the process table is mounted.
RefusedPort DescribeRefusedPort(const RefusedPort &port, const QString &procRoot = QStringLiteral("/proc"));

// The processes holding a whole-file (flock) lock on the node inode of the file
// system dev, from the text of /proc/locks.
QList<qint64> FlockHolders(const QByteArray &locks, quint64 dev, quint64 inode);

// Who holds the device: the holders of its flock lock, else every process we may
// look into that has the device open. Our own process is left out.
QList<PortHolder> DeviceHolders(const QString &device, const QString &procRoot = QStringLiteral("/proc"));
#endif

// The one message that names the refused ports and says what to do, empty when no
// port was refused for its permissions or by another program.
QString RefusedPortsMessage(const QList<RefusedPort> &ports);
