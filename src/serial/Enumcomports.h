#pragma once

#include "serial/SerialDriver.h"

#include <QList>
#include <QString>

// The serial port record: one port at a time, opened by number with the line
// settings the sensor needs (8 data bits, no parity, two stop bits, no flow
// control, DTR and RTS raised), or adopted from a calling program.
class COMMPORT
{
public:
    explicit COMMPORT(SerialDriver *driver = SerialDriver::system());
    ~COMMPORT();
    COMMPORT(const COMMPORT &) = delete;
    COMMPORT &operator=(const COMMPORT &) = delete;

    bool isOpen() const { return handle != INVALID_PORT_HANDLE; }

    LineAttributes dcb; // the line settings last read and written
    struct
    {
        qint32 cbInQue; // bytes waiting in the driver's input queue
    } comStat;
    LineAttributes commProp; // as the device reported itself when opened or adopted
    SerialDriver *driver;
    quint8 portNumber = 0;
    PortHandle handle = INVALID_PORT_HANDLE;
    // Set by an adoption and kept for the rest of the run, whatever is opened later.
    bool attached = false;
    // The handle held is one the record opened itself, and is closed with it; an
    // adopted handle is its caller's.
    bool ownsHandle = false;
    // Counts every handle taken up or let go, so that a sender can tell its own
    // port from a later one that happens to get the same handle value.
    quint32 generation = 0;
    // Why the last open failed, for telling the user: the system's error number (0
    // when the port opened or nothing told) and the device tried, links resolved.
    int openError = 0;
    QString openDevice;
};

bool OpenPort(COMMPORT *port, quint8 number, qint32 baud);
bool OpenPortByName(COMMPORT *port, const QString &name, qint32 baud);
bool AttachPort(COMMPORT *port, PortHandle handle);
void ClosePort(COMMPORT *port);

// Fills port.comStat.cbInQue from the driver; false (and 0 queued) when the port
// is closed or the device has gone.
bool ClearCommError(COMMPORT *port);

// One synchronous read of at most count bytes that are already queued; the bytes
// read, 0 when the port is closed or the device has gone.
qint32 ReadPortData(COMMPORT *port, char *buffer, qint32 count);
// One byte out; false when it could not be written.
bool WritePortByte(COMMPORT *port, char byte);

// The sensor's line: 8 data bits, no parity, two stop bits, no flow control, at
// baud. On termios also raw, receiver on and modem status ignored; false for a
// speed the terminal interface has no constant for. On Windows DTR and RTS raised.
bool SensorLineSettings(LineAttributes *t, qint32 baud);
// The speed line settings hold, 0 for one that names none.
qint32 LineBaud(const LineAttributes &t);

// One entry of the port list: "COM" and the number, with the number beside it.
struct PortName
{
    QString name;
    int number;
};
using PortList = QList<PortName>;

// Device classes of the search's exclusion mask.
enum PortExclusion : quint32
{
    excludeBuiltIn = 1,        // built-in serial ports
    excludeBluetoothPort = 2,  // Bluetooth serial ports
    excludeBluetoothModem = 4, // Bluetooth modems
    excludeUsbVirtual = 8,     // USB virtual COM ports
};

// The port number a device node has by the fixed rule of the four device families
// (/dev/ttyS0 is COM1, /dev/ttyUSB0 COM33, /dev/ttyACM0 COM65, /dev/rfcomm0 COM97),
// or -1, with the exclusion class (a PortExclusion bit, 0 for none) it belongs to.
int PortNumberForDevice(const QString &path, quint32 *exclusionClass);
// The device a number stands for by that rule, empty when no family covers it.
QString DeviceForPortNumber(int number);

// Serial devices of any other family (/dev/ttyAMA0, /dev/ttymxc1, ...), and family
// members beyond their family's block, take numbers from this range of their own.
constexpr int firstOtherPort = 129;
constexpr int lastOtherPort = 255;

// A serial device the system reports, with its port number and exclusion class.
struct NumberedDevice
{
    QString path;
    int number;
    quint32 exclusionClass;
};
// Numbers every device reported once: the four families by their fixed rule, the
// others from firstOtherPort on, in order of name (family, then the number in the
// name), so that the same devices always get the same numbers whatever order they
// are reported in. Devices beyond lastOtherPort get no number and are left out.
QList<NumberedDevice> NumberedDevices(const QStringList &devices);

// The number a link's name gives: "COM7" and "com07" are both 7; -1 for a name
// that is no port name.
int PortNumberForLinkName(const QString &name);

// The enumeration's arithmetic on Linux: the numbered devices, the COM<n> links
// (which replace a device of the same number; dangling ones name nothing) and the
// exclusion mask give the port list in ascending number order. A device that a link
// points at is listed under the link's number only.
PortList PortListFromDevices(const QStringList &devices, const QList<PortLink> &links, quint32 excludeMask);

// What a port number opens: the first existing link of that number in the ports
// directory, else the device the number stands for (the system's devices are
// consulted for the other families' range only); empty when nothing does.
QString PortPathForNumber(int number, const QList<PortLink> &links, const QString &portsDirectory,
                          const QStringList &devices);

// The same arithmetic on the Windows device map.
PortList PortListFromDeviceMap(const QList<DeviceMapValue> &values, quint32 excludeMask);

void EnumeratePorts(PortList *list, quint32 excludeMask, SerialDriver *driver = SerialDriver::system());
