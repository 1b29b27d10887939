#pragma once

#include "serial/SerialDriver.h"

#include <QList>
#include <QString>

#ifdef _WIN32
#include <windows.h>
#endif

// The serial port record: one port at a time, opened by number with the line
// settings the sensor needs (8 data bits, no parity, two stop bits, no flow
// control, DTR and RTS raised), or adopted from a calling program.
class COMMPORT
{
public:
#ifdef _WIN32
    COMMPORT();
#else
    explicit COMMPORT(SerialDriver *driver = SerialDriver::system());
#endif
    ~COMMPORT();
    COMMPORT(const COMMPORT &) = delete;
    COMMPORT &operator=(const COMMPORT &) = delete;

    bool isOpen() const { return handle != INVALID_PORT_HANDLE; }

#ifdef _WIN32
    DCB dcb;
    COMSTAT comStat;
    COMMPROP commProp;
#else
    termios dcb;           // the line settings last read and written
    struct
    {
        qint32 cbInQue;    // bytes waiting in the driver's input queue
    } comStat;
    termios commProp;      // as the device reported itself when opened or adopted
    SerialDriver *driver;
#endif
    quint8 portNumber = 0;
    PortHandle handle = INVALID_PORT_HANDLE;
    bool attached = false;
};

bool OpenPort(COMMPORT *port, quint8 number, qint32 baud);
bool OpenPortByName(COMMPORT *port, const QString &name, qint32 baud);
bool AttachPort(COMMPORT *port, PortHandle handle);
void ClosePort(COMMPORT *port);

// Fills port.comStat.cbInQue from the driver; false (and 0 queued) when the port
// is closed or the device has gone.
bool ClearCommError(COMMPORT *port);

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
    excludeBuiltIn = 1,          // built-in serial ports
    excludeBluetoothPort = 2,    // Bluetooth serial ports
    excludeBluetoothModem = 4,   // Bluetooth modems
    excludeUsbVirtual = 8,       // USB virtual COM ports
};

#ifdef _WIN32
void EnumeratePorts(PortList *list, quint32 excludeMask);
#else
void EnumeratePorts(PortList *list, quint32 excludeMask, SerialDriver *driver = SerialDriver::system());
#endif
