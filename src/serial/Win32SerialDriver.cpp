// The serial seam on the operating system's own devices, through the comm API.
#ifdef _WIN32
#include "serial/Portaccess.h"
#include "serial/SerialDriver.h"
#include "serial/Win32Serial.h"

#include <QFile>

#include <vector>

namespace {

HANDLE toHandle(PortHandle h)
{
    return reinterpret_cast<HANDLE>(h);
}

class Win32SerialDriver : public SerialDriver
{
public:
    bool deviceMap(QList<DeviceMapValue> *values) override
    {
        std::vector<win32serial::DeviceMapEntry> entries;
        const bool ok = win32serial::readDeviceMap(&entries);
        values->clear();
        for (const win32serial::DeviceMapEntry &e : entries)
            values->append({QString::fromStdWString(e.name), QString::fromStdWString(e.data)});
        return ok;
    }

    PortHandle open(const QByteArray &path) override
    {
        DWORD error = 0;
        const HANDLE h = win32serial::openPort(QFile::decodeName(path).toStdWString(), &error);
        lastError = ErrorNumberForWindowsError(error);
        return h == INVALID_HANDLE_VALUE ? INVALID_PORT_HANDLE : reinterpret_cast<PortHandle>(h);
    }

    int lastOpenError() const override { return lastError; }

    bool getAttributes(PortHandle h, LineAttributes *t) override
    {
        return win32serial::readLine(toHandle(h), t);
    }

    bool setAttributes(PortHandle h, const LineAttributes &t) override
    {
        return win32serial::writeLine(toHandle(h), t);
    }

    bool raiseModemLines(PortHandle h) override { return win32serial::raiseModemLines(toHandle(h)); }

    int bytesQueued(PortHandle h) override { return int(win32serial::bytesQueued(toHandle(h))); }

    int read(PortHandle h, char *buffer, int count) override
    {
        return int(win32serial::read(toHandle(h), buffer, count));
    }

    int write(PortHandle h, const char *data, int count) override
    {
        return int(win32serial::write(toHandle(h), data, count));
    }

    void close(PortHandle h) override { win32serial::close(toHandle(h)); }

private:
    int lastError = 0;
};

} // namespace

SerialDriver *SerialDriver::local()
{
    static Win32SerialDriver driver;
    return &driver;
}

bool SensorLineSettings(LineAttributes *dcb, qint32 baud)
{
    if (baud <= 0)
        return false;
    win32serial::setSensorLine(dcb, DWORD(baud));
    return true;
}
#endif

#ifdef _WIN32
qint32 LineBaud(const LineAttributes &dcb)
{
    return qint32(dcb.BaudRate);
}
#endif
