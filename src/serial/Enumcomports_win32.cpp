// The port record and the port enumeration on Windows: the comm API and the
// registry's serial device map.
#ifdef _WIN32
#include "serial/Enumcomports.h"

#include <cstring>

namespace {

HANDLE toHandle(PortHandle h)
{
    return reinterpret_cast<HANDLE>(h);
}

PortHandle fromHandle(HANDLE h)
{
    return reinterpret_cast<PortHandle>(h);
}

} // namespace

COMMPORT::COMMPORT()
{
    std::memset(&dcb, 0, sizeof dcb);
    std::memset(&comStat, 0, sizeof comStat);
    std::memset(&commProp, 0, sizeof commProp);
}

COMMPORT::~COMMPORT()
{
    if (isOpen() && !attached)
        CloseHandle(toHandle(handle));
}

bool OpenPort(COMMPORT *port, quint8 number, qint32 baud)
{
    ClosePort(port);
    port->portNumber = number;
    // Ports above COM9 open only under the device-namespace name.
    if (OpenPortByName(port, QStringLiteral("COM%1:").arg(number), baud))
        return true;
    ClosePort(port);
    return OpenPortByName(port, QStringLiteral("\\\\.\\COM%1").arg(number), baud);
}

bool OpenPortByName(COMMPORT *port, const QString &name, qint32 baud)
{
    const QByteArray path = name.toLocal8Bit();
    HANDLE h = CreateFileA(path.constData(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    port->handle = h == INVALID_HANDLE_VALUE ? INVALID_PORT_HANDLE : fromHandle(h);
    if (!port->isOpen())
        return false;
    ++port->generation;
    if (!GetCommProperties(h, &port->commProp))
        return false;
    // Room for the longest reply (the register dump) while nothing reads the port.
    if (!SetupComm(h, 2048, 2048))
        return false;
    std::memset(&port->dcb, 0, sizeof port->dcb);
    port->dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(h, &port->dcb))
        return false;
    DCB &d = port->dcb;
    d.BaudRate = DWORD(baud);
    d.fBinary = 1;
    d.fParity = 0;
    d.fOutxCtsFlow = 0;
    d.fOutxDsrFlow = 0;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fDsrSensitivity = 0;
    d.fTXContinueOnXoff = 1;
    d.fOutX = 0;
    d.fInX = 0;
    d.fErrorChar = 0;
    d.fNull = 0;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fAbortOnError = 0;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = TWOSTOPBITS; // the sensor's frame has two stop bits
    // No time-outs: reads never ask for more than the driver holds, so none blocks.
    return SetCommState(h, &port->dcb) != 0;
}

bool AttachPort(COMMPORT *port, PortHandle handle)
{
    HANDLE h = toHandle(handle);
    COMMPROP props;
    if (!GetCommProperties(h, &props))
        return false;
    port->commProp = props;
    std::memset(&port->dcb, 0, sizeof port->dcb);
    port->dcb.DCBlength = sizeof(DCB);
    port->handle = handle;
    ++port->generation;
    if (!GetCommState(h, &port->dcb))
        return false;
    // The calling program set the line up; it stays as it is.
    port->portNumber = 0;
    port->attached = true;
    return port->isOpen();
}

void ClosePort(COMMPORT *port)
{
    if (!port->isOpen())
        return;
    CloseHandle(toHandle(port->handle));
    port->handle = INVALID_PORT_HANDLE;
    ++port->generation;
}

bool ClearCommError(COMMPORT *port)
{
    if (!port->isOpen()) {
        port->comStat.cbInQue = 0;
        return false;
    }
    DWORD errors = 0;
    if (!ClearCommError(toHandle(port->handle), &errors, &port->comStat)) {
        port->comStat.cbInQue = 0;
        return false;
    }
    return true;
}

qint32 ReadPortData(COMMPORT *port, char *buffer, qint32 count)
{
    if (!port->isOpen() || count <= 0)
        return 0;
    DWORD got = 0;
    if (!ReadFile(toHandle(port->handle), buffer, DWORD(count), &got, nullptr))
        return 0;
    return qint32(got);
}

bool WritePortByte(COMMPORT *port, char byte)
{
    if (!port->isOpen())
        return false;
    DWORD put = 0;
    return WriteFile(toHandle(port->handle), &byte, 1, &put, nullptr) && put == 1;
}

void EnumeratePorts(PortList *list, quint32 excludeMask)
{
    if (!list)
        return;
    list->clear();
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\SerialComm", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    QList<DeviceMapValue> values;
    bool failed = false;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        // An unreadable value ends the walk; what is listed is what was read
        // before, which is nothing as the list is made only at the end.
        if (r != ERROR_SUCCESS || type != REG_SZ) {
            failed = true;
            break;
        }
        data[dataLength] = 0;
        values.append({QString::fromLocal8Bit(name, int(nameLength)),
                       QString::fromLocal8Bit(reinterpret_cast<const char *>(data))});
    }
    RegCloseKey(key);
    if (!failed)
        *list = PortListFromDeviceMap(values, excludeMask);
}
#endif
