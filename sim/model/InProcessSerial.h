#pragma once

#include "model/SimDevice.h"
#include "serial/SerialDriver.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cerrno>

#include <map>
#include <memory>

class VirtualClock;

// How a simulated sensor is put on a port.
struct SimOptions
{
    qint32 loggerBaud = 0; // 9600, 19200 or 115200: a data logger in front; 0: the sensor alone
    QString firmware = QStringLiteral("01.13");
    SimFaults faults;
    int levelMm = 1000; // depth of the water under the sensor
    int latencyMs = -1; // 0 or more: answer this long after the whole request (SimDevice)
};

// The simulated devices behind the serial seam, on a virtual clock: each port added
// is listed as a link COM<n> -> /sim/COM<n>, opens like a real port, and its device
// answers only at its own line settings. Output is delivered once its time on the
// clock has come; everything opened and written is logged for timing checks.
class InProcessSerial : public SerialDriver
{
public:
    explicit InProcessSerial(VirtualClock *clock);
    ~InProcessSerial() override;

    SimSensor *addSensor(int portNumber, const SimOptions &options = SimOptions());
    void addSilentPort(int portNumber); // opens, never answers
    // Listed, fails to open with the system's error (EIO: broken; EACCES: the user
    // may not open it; EBUSY: another program holds it).
    void addBrokenPort(int portNumber, int error = EIO);
    void unplug(int portNumber); // the device is gone: reads and writes fail
    void replug(int portNumber); // back again (handles opened before stay dead)
    // A burst of line noise already in the driver's queue of every open handle of the
    // port, as when the window was busy while a faulty device kept sending.
    void inject(int portNumber, const QByteArray &noise);

    SimDevice *device(int portNumber) const; // null for silent and broken ports
    SimSensor *sensor(int portNumber) const;
    static QByteArray devicePath(int portNumber); // "/sim/COM<n>", on Windows "\\.\COM<n>"

    struct OpenEvent
    {
        int port;
        qint64 timeMs;
    };
    struct WriteEvent
    {
        int port;
        qint64 timeMs;
        char byte;
    };
    QList<OpenEvent> opens;
    QList<WriteEvent> writes;
    QList<OpenEvent> closes;

    QByteArray written(int portNumber) const;       // every byte written to the port
    QList<qint64> writeTimes(int portNumber) const; // and when
    // Line settings of the port's open handle; baud 0 when it is not open.
    LineSettings settings(int portNumber) const;
    bool isOpen(int portNumber) const;

    // SerialDriver
#ifdef _WIN32
    bool deviceMap(QList<DeviceMapValue> *values) override;
#else
    QStringList serialDevices() override;
    QList<PortLink> portLinks() override;
    QString portsDirectory() override;
#endif
    PortHandle open(const QByteArray &path) override;
    int lastOpenError() const override
    {
        return lastError;
    }
    bool getAttributes(PortHandle h, LineAttributes *t) override;
    bool setAttributes(PortHandle h, const LineAttributes &t) override;
    bool raiseModemLines(PortHandle h) override;
    int bytesQueued(PortHandle h) override;
    int read(PortHandle h, char *buffer, int count) override;
    int write(PortHandle h, const char *data, int count) override;
    void close(PortHandle h) override;

private:
    enum class Kind
    {
        Device,
        Silent,
        Broken
    };
    struct Port
    {
        Kind kind;
        std::unique_ptr<SimDevice> device;
        bool unplugged = false;
        int openError = 0; // of a broken port
    };
    struct Handle
    {
        int port;
        LineAttributes settings;
        QByteArray received; // arrived, not yet read
        bool dead = false;   // its device was unplugged
    };

    Handle *handle(PortHandle h);
    void collect(Handle &h);
    qint64 nowUs() const;

    VirtualClock *clock;
    std::map<int, Port> ports;
    std::map<PortHandle, Handle> handles;
    PortHandle nextHandle = 1000;
    int lastError = 0;
};
