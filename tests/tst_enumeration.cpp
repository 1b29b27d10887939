#include "core/Clock.h"
#include "serial/Enumcomports.h"

#include <QTest>

#include <algorithm>
#include <cstring>
#include <termios.h>

Q_DECLARE_METATYPE(PortList)

namespace {

// A scripted serial device for tests: bytes arrive at given clock times, every
// byte written is recorded with its time, and the device can vanish.
class ScriptedPorts : public SerialDriver
{
public:
    explicit ScriptedPorts(Clock *clock = nullptr) : clock(clock) {}

    QStringList devices;
    QList<PortLink> links;
    QString directory = QStringLiteral("/nonexistent/ports");
    QList<QByteArray> openable;              // paths that open
    QList<QPair<qint64, QByteArray>> script; // bytes that arrive at a time
    QByteArray queued;                       // arrived, not yet read
    QByteArray written;
    QList<qint64> writeTimes;
    QList<QByteArray> opened;
    termios lastSet{};
    int setCount = 0;
    int modemCalls = 0;
    bool gone = false;      // the device has disappeared
    bool readFails = false; // reports bytes queued, cannot deliver them
    int openHandles = 0;
    int nextHandle = 10;

    QStringList serialDevices() override { return devices; }
    QList<PortLink> portLinks() override { return links; }
    QString portsDirectory() override { return directory; }

    PortHandle open(const QByteArray &path) override
    {
        opened.append(path);
        if (!openable.contains(path))
            return INVALID_PORT_HANDLE;
        ++openHandles;
        return nextHandle++;
    }
    bool getAttributes(PortHandle, termios *t) override
    {
        std::memset(t, 0, sizeof *t);
        return !gone;
    }
    bool setAttributes(PortHandle, const termios &t) override
    {
        lastSet = t;
        ++setCount;
        return !gone;
    }
    bool raiseModemLines(PortHandle) override
    {
        ++modemCalls;
        return false; // as a pseudo-terminal answers
    }
    int bytesQueued(PortHandle) override
    {
        if (gone)
            return -1;
        deliver();
        return int(queued.size());
    }
    int read(PortHandle, char *buffer, int count) override
    {
        if (gone || readFails)
            return -1;
        const int n = qMin(count, int(queued.size()));
        std::memcpy(buffer, queued.constData(), size_t(n));
        queued.remove(0, n);
        return n;
    }
    int write(PortHandle, const char *data, int count) override
    {
        if (gone)
            return -1;
        written.append(data, count);
        for (int i = 0; i < count; ++i)
            writeTimes.append(clock ? clock->nowMs() : 0);
        return count;
    }
    void close(PortHandle) override { --openHandles; }

private:
    void deliver()
    {
        const qint64 now = clock ? clock->nowMs() : 0;
        while (!script.isEmpty() && script.first().first <= now)
            queued.append(script.takeFirst().second);
    }
    Clock *clock;
};

QStringList names(const PortList &list)
{
    QStringList out;
    for (const PortName &p : list) {
        out << p.name;
        if (p.name != QStringLiteral("COM%1").arg(p.number))
            out << QStringLiteral("<number %1 does not match>").arg(p.number);
    }
    return out;
}

PortLink link(const char *name, const char *target, bool exists = true)
{
    return {QString::fromLatin1(name), QString::fromLatin1(target), exists};
}

} // namespace

// Which ports the search probes, and in what order: a wrong number opens the
// wrong device, a missing exclusion probes a Bluetooth link for minutes.
class TestEnumeration : public QObject
{
    Q_OBJECT

private slots:
    void deviceMap_data()
    {
        QTest::addColumn<QList<DeviceMapValue>>("values");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QStringList>("ports");
        const QList<DeviceMapValue> mixed = {{"\\Device\\Serial0", "COM1"},
                                             {"\\Device\\BtPort0", "COM7"},
                                             {"\\Device\\VCP0", "COM12"},
                                             {"\\Device\\Silabser0", "COM4"}};
        QTest::newRow("search mask, numeric order") << mixed << 6u << QStringList{"COM1", "COM4", "COM12"};
        QTest::newRow("no mask") << mixed << 0u << QStringList{"COM1", "COM4", "COM7", "COM12"};
        QTest::newRow("every class out") << mixed << 15u << QStringList{"COM4"};
        QTest::newRow("prefix without regard to case")
            << QList<DeviceMapValue>{{"\\DEVICE\\vcp3", "COM9"}, {"\\Device\\BthModem1", "COM8"}} << 12u
            << QStringList{};
        QTest::newRow("data not a COM port, or in lower case")
            << QList<DeviceMapValue>{{"\\Device\\Parallel0", "LPT1"},
                                     {"\\Device\\X", "com5"},
                                     {"\\Device\\Y", "COMx"}}
            << 6u << QStringList{"COM5"};
        QTest::newRow("equal numbers all added") << QList<DeviceMapValue>{{"\\Device\\A", "COM3"},
                                                                          {"\\Device\\B", "COM2"},
                                                                          {"\\Device\\C", "COM3"}}
                                                 << 6u << QStringList{"COM2", "COM3", "COM3"};
        QTest::newRow("numbers an 8-bit port number cannot hold")
            << QList<DeviceMapValue>{{"\\Device\\A", "COM256"},
                                     {"\\Device\\B", "COM0"},
                                     {"\\Device\\C", "COM255"}}
            << 0u << QStringList{"COM255"};
        QTest::newRow("empty map") << QList<DeviceMapValue>{} << 6u << QStringList{};
    }
    void deviceMap()
    {
        QFETCH(QList<DeviceMapValue>, values);
        QFETCH(quint32, mask);
        QFETCH(QStringList, ports);
        QCOMPARE(names(PortListFromDeviceMap(values, mask)), ports);
    }

    void deviceNumbers_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("number");
        QTest::addColumn<quint32>("exclusion");
        QTest::newRow("ttyS0") << "/dev/ttyS0" << 1 << quint32(excludeBuiltIn);
        QTest::newRow("ttyS31") << "/dev/ttyS31" << 32 << quint32(excludeBuiltIn);
        QTest::newRow("ttyS32 would take ttyUSB0's number") << "/dev/ttyS32" << -1 << quint32(excludeBuiltIn);
        QTest::newRow("ttyUSB0") << "/dev/ttyUSB0" << 33 << quint32(excludeUsbVirtual);
        QTest::newRow("ttyACM2") << "/dev/ttyACM2" << 67 << quint32(excludeUsbVirtual);
        QTest::newRow("rfcomm0") << "/dev/rfcomm0" << 97 << quint32(excludeBluetoothPort);
        QTest::newRow("rfcomm31") << "/dev/rfcomm31" << 128 << quint32(excludeBluetoothPort);
        QTest::newRow("rfcomm32 would take the other families' first number")
            << "/dev/rfcomm32" << -1 << quint32(excludeBluetoothPort);
        QTest::newRow("pseudo-terminal") << "/dev/pts/4" << -1 << 0u;
        QTest::newRow("other serial driver") << "/dev/ttyAMA0" << -1 << 0u;
        QTest::newRow("no digits") << "/dev/ttyUSBx" << -1 << quint32(excludeUsbVirtual);
        QTest::newRow("digits past the int range")
            << "/dev/ttyUSB4294967296" << -1 << quint32(excludeUsbVirtual);
        QTest::newRow("largest int") << "/dev/ttyS2147483647" << -1 << quint32(excludeBuiltIn);
        // COM2 opens /dev/ttyS1: another node of a family name keeps its class only.
        QTest::newRow("leading zero") << "/dev/ttyS01" << -1 << quint32(excludeBuiltIn);
        QTest::newRow("outside /dev") << "/tmp/ttyUSB0" << -1 << quint32(excludeUsbVirtual);
    }
    void deviceNumbers()
    {
        QFETCH(QString, device);
        QFETCH(int, number);
        QFETCH(quint32, exclusion);
        quint32 cls = 99;
        QCOMPARE(PortNumberForDevice(device, &cls), number);
        QCOMPARE(cls, exclusion);
        if (number != -1)
            QCOMPARE(DeviceForPortNumber(number), device); // OpenPort finds the same device back
    }

    void linuxPortList_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QList<PortLink>>("links");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QStringList>("ports");
        const QStringList devs = {"/dev/ttyS0", "/dev/ttyUSB1", "/dev/rfcomm0", "/dev/ttyS2"};
        QTest::newRow("rule, numeric order")
            << devs << QList<PortLink>{} << 0u << QStringList{"COM1", "COM3", "COM34", "COM97"};
        QTest::newRow("search mask leaves Bluetooth out")
            << devs << QList<PortLink>{} << 6u << QStringList{"COM1", "COM3", "COM34"};
        QTest::newRow("link to a pseudo-terminal is of no class")
            << devs << QList<PortLink>{link("COM7", "/dev/pts/3")} << 15u << QStringList{"COM7"};
        QTest::newRow("link replaces the numbered device")
            << devs << QList<PortLink>{link("com3", "/dev/pts/5")} << 0u
            << QStringList{"COM1", "COM3", "COM34", "COM97"};
        QTest::newRow("link classed by its target")
            << QStringList{} << QList<PortLink>{link("COM5", "/dev/ttyUSB0"), link("COM6", "/dev/rfcomm1")}
            << 8u << QStringList{"COM6"};
        QTest::newRow("dangling link names nothing, device stays")
            << QStringList{"/dev/ttyS2"}
            << QList<PortLink>{link("COM3", "/tmp/gone", false), link("COM9", "/x", false)} << 0u
            << QStringList{"COM3"};
        QTest::newRow("two links of one number")
            << QStringList{} << QList<PortLink>{link("COM4", "/dev/pts/1"), link("com4", "/dev/pts/2")} << 0u
            << QStringList{"COM4", "COM4"};
        QTest::newRow("a device reported twice counts once")
            << QStringList{"/dev/ttyS0", "/dev/ttyS0"} << QList<PortLink>{} << 0u << QStringList{"COM1"};
        QTest::newRow("links that are no port names")
            << QStringList{} << QList<PortLink>{link("COMX", "/dev/pts/1"), link("COM300", "/dev/pts/2")}
            << 0u << QStringList{};
        QTest::newRow("link number spelt with a leading zero")
            << QStringList{"/dev/ttyS6"} << QList<PortLink>{link("COM07", "/dev/pts/3")} << 0u
            << QStringList{"COM7"};
        QTest::newRow("device a link points at is listed once, under the link's number")
            << QStringList{"/dev/ttyS0", "/dev/ttyUSB0"} << QList<PortLink>{link("COM3", "/dev/ttyUSB0")}
            << 6u << QStringList{"COM1", "COM3"};
        QTest::newRow("linked device of another family keeps its number to itself")
            << QStringList{"/dev/ttyAMA0", "/dev/ttyAMA1"} << QList<PortLink>{link("COM2", "/dev/ttyAMA0")}
            << 6u << QStringList{"COM2", "COM130"};
        QTest::newRow("link target classed as the path it names")
            << QStringList{"/dev/ttyUSB0"} << QList<PortLink>{link("COM3", "/dev/ttyUSB0/")} << 8u
            << QStringList{};
        QTest::newRow("a dangling link hides no device")
            << QStringList{"/dev/ttyUSB0"} << QList<PortLink>{link("COM3", "/dev/ttyUSB0", false)} << 0u
            << QStringList{"COM33"};
        QTest::newRow("order by number, not by name")
            << QStringList{} << QList<PortLink>{link("COM12", "/dev/pts/1"), link("COM2", "/dev/pts/2")} << 0u
            << QStringList{"COM2", "COM12"};
    }
    void linuxPortList()
    {
        QFETCH(QStringList, devices);
        QFETCH(QList<PortLink>, links);
        QFETCH(quint32, mask);
        QFETCH(QStringList, ports);
        QCOMPARE(names(PortListFromDevices(devices, links, mask)), ports);
    }

    // Serial devices outside the four families are numbered from 129 on, in order of
    // name whatever order the system reports them in, never on a family's number.
    void otherFamilies_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QStringList>("paths");

        const QStringList board = {"/dev/ttymxc2", "/dev/ttyAMA10",  "/dev/ttyS0",
                                   "/dev/ttyAMA1", "/dev/ttyXRUSB0", "/dev/ttyAMA0"};
        const QStringList boardPaths = {"/dev/ttyS0",    "/dev/ttyAMA0",   "/dev/ttyAMA1",
                                        "/dev/ttyAMA10", "/dev/ttyXRUSB0", "/dev/ttymxc2"};
        QTest::newRow("several families, numeric within a family")
            << board << 6u << QStringList{"COM1", "COM129", "COM130", "COM131", "COM132", "COM133"}
            << boardPaths;
        QStringList reversed = board;
        std::reverse(reversed.begin(), reversed.end());
        QTest::newRow("same numbers whatever the reported order")
            << reversed << 6u << QStringList{"COM1", "COM129", "COM130", "COM131", "COM132", "COM133"}
            << boardPaths;
        QTest::newRow("excluding a family moves no other number")
            << QStringList{"/dev/ttyAMA0", "/dev/ttyUSB0", "/dev/ttyS4"} << 1u
            << QStringList{"COM33", "COM129"} << QStringList{"/dev/ttyUSB0", "/dev/ttyAMA0"};
        // rfcomm32 takes 129 but stays a Bluetooth port, which the search leaves out.
        QTest::newRow("family members beyond their block, with their class")
            << QStringList{"/dev/rfcomm31", "/dev/rfcomm32", "/dev/ttyS40", "/dev/ttyGS0"} << 6u
            << QStringList{"COM130", "COM131"} << QStringList{"/dev/ttyGS0", "/dev/ttyS40"};
        QTest::newRow("the same node reported twice counts once")
            << QStringList{"/dev/ttyAMA0", "/dev//ttyAMA0", "/dev/ttyAMA1"} << 0u
            << QStringList{"COM129", "COM130"} << QStringList{"/dev/ttyAMA0", "/dev/ttyAMA1"};
        QTest::newRow("family names the fixed rule does not open")
            << QStringList{"/dev/ttyS1", "/dev/ttyS01", "/dev/serial/ttyUSB0"} << 0u
            << QStringList{"COM2", "COM129", "COM130"}
            << QStringList{"/dev/ttyS1", "/dev/serial/ttyUSB0", "/dev/ttyS01"};
        QTest::newRow("trailing digits of any length in numeric order")
            << QStringList{"/dev/ttyAMA10000000000", "/dev/ttyAMA9999999999", "/dev/ttyAMA02", "/dev/ttyAMA1"}
            << 0u << QStringList{"COM129", "COM130", "COM131", "COM132"}
            << QStringList{"/dev/ttyAMA1", "/dev/ttyAMA02", "/dev/ttyAMA9999999999",
                           "/dev/ttyAMA10000000000"};
        QStringList many;
        for (int i = 0; i < 130; ++i)
            many << QStringLiteral("/dev/ttyTHS%1").arg(i);
        QStringList lastTwo{QStringLiteral("COM254"), QStringLiteral("COM255")};
        QTest::newRow("numbers run out at 255")
            << many << 0u << lastTwo << QStringList{"/dev/ttyTHS125", "/dev/ttyTHS126"};
    }
    void otherFamilies()
    {
        QFETCH(QStringList, devices);
        QFETCH(quint32, mask);
        QFETCH(QStringList, ports);
        QFETCH(QStringList, paths);
        const QStringList listed = names(PortListFromDevices(devices, {}, mask));
        if (QTest::currentDataTag() == QLatin1String("numbers run out at 255")) {
            QCOMPARE(listed.size(), 127);
            QCOMPARE(listed.mid(125), ports);
        } else {
            QCOMPARE(listed, ports);
        }
        // The port opens the device it was listed for.
        for (int i = 0; i < ports.size(); ++i)
            QCOMPARE(PortPathForNumber(ports.at(i).mid(3).toInt(), {}, "/run/ports", devices), paths.at(i));
        QCOMPARE(PortPathForNumber(lastOtherPort, {}, "/run/ports", {"/dev/ttyAMA0"}), QString());
    }

    // A number opens what the list shows under it: a link of that number however it
    // is spelt, else the device the number stands for.
    void portPathForNumber_data()
    {
        QTest::addColumn<QList<PortLink>>("links");
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("path");
        const QList<PortLink> links = {link("COM07", "/dev/pts/3"), link("com12", "/dev/pts/4"),
                                       link("COM3", "/tmp/gone", false), link("COM130", "/dev/pts/5")};
        QTest::newRow("COM07 is port 7") << links << QStringList{} << 7 << "/run/ports/COM07";
        QTest::newRow("lower case") << links << QStringList{} << 12 << "/run/ports/com12";
        QTest::newRow("dangling link leaves the numbered device")
            << links << QStringList{} << 3 << "/dev/ttyS2";
        QTest::newRow("no link: the fixed rule") << links << QStringList{} << 34 << "/dev/ttyUSB1";
        QTest::newRow("rfcomm block") << links << QStringList{} << 128 << "/dev/rfcomm31";
        QTest::newRow("link in the other families' range")
            << links << QStringList{"/dev/ttyAMA0", "/dev/ttyAMA1"} << 130 << "/run/ports/COM130";
        QTest::newRow("other family by the system's list")
            << links << QStringList{"/dev/ttyAMA1", "/dev/ttyAMA0"} << 129 << "/dev/ttyAMA0";
        QTest::newRow("number of no device") << links << QStringList{"/dev/ttyAMA0"} << 131 << QString();
        QTest::newRow("number 0") << links << QStringList{} << 0 << QString();
    }
    void portPathForNumber()
    {
        QFETCH(QList<PortLink>, links);
        QFETCH(QStringList, devices);
        QFETCH(int, number);
        QFETCH(QString, path);
        QCOMPARE(PortPathForNumber(number, links, "/run/ports", devices), path);
    }

    void openPortOpensTheLinkWhateverItsSpelling()
    {
        ScriptedPorts fake;
        fake.directory = "/run/ports";
        fake.links = {link("COM07", "/dev/pts/9")};
        fake.devices = {"/dev/ttyAMA0"};
        fake.openable = {"/run/ports/COM07", "/dev/ttyS6", "/dev/ttyAMA0"};
        COMMPORT port(&fake);
        QVERIFY(OpenPort(&port, 7, 9600));
        QCOMPARE(fake.opened, QList<QByteArray>{"/run/ports/COM07"});
        QVERIFY(OpenPort(&port, 129, 9600));
        QCOMPARE(fake.opened.last(), QByteArray("/dev/ttyAMA0"));
        QCOMPARE(fake.openHandles, 1);
    }

    void enumerateWithAMissingPortsDirectory()
    {
        ScriptedPorts fake; // no devices, no links: the directory does not exist
        PortList list{{"COM99", 99}};
        EnumeratePorts(&list, 6, &fake);
        QVERIFY(list.isEmpty());
        EnumeratePorts(nullptr, 6, &fake); // no list: nothing to do, nothing to crash
    }

    void openPortOnAMissingNumber()
    {
        ScriptedPorts fake;
        COMMPORT port(&fake);
        QVERIFY(!OpenPort(&port, 5, 9600));
        QVERIFY(!port.isOpen());
        QCOMPARE(port.handle, INVALID_PORT_HANDLE);
        QCOMPARE(port.portNumber, quint8(5));
        QCOMPARE(fake.opened, (QList<QByteArray>{"/dev/ttyS4"}));
        QVERIFY(!OpenPort(&port, 0, 9600)); // no device class has number 0
        QCOMPARE(fake.opened.size(), 1);
    }

    void openPortPrefersTheLinkOfThatNumber()
    {
        ScriptedPorts fake;
        fake.directory = "/run/ports";
        fake.links = {link("COM3", "/tmp/gone", false), link("com4", "/dev/pts/9")};
        fake.openable = {"/run/ports/com4", "/dev/ttyS2"};
        COMMPORT port(&fake);
        QVERIFY(OpenPort(&port, 4, 19200));
        QCOMPARE(fake.opened.last(), QByteArray("/run/ports/com4"));
        QVERIFY(OpenPort(&port, 3, 19200)); // a dangling link leaves the numbered device
        QCOMPARE(fake.opened.last(), QByteArray("/dev/ttyS2"));
        QCOMPARE(fake.openHandles, 1); // the earlier handle was closed first
        QCOMPARE(fake.modemCalls, 2);  // DTR/RTS refused both times, ports open anyway
    }

    void lineSettings_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("speed");
        QTest::newRow("9600") << 9600 << true << uint(B9600);
        QTest::newRow("19200") << 19200 << true << uint(B19200);
        QTest::newRow("115200") << 115200 << true << uint(B115200);
        QTest::newRow("57600") << 57600 << true << uint(B57600);
        QTest::newRow("no such speed") << 12345 << false << 0u;
    }
    void lineSettings()
    {
        QFETCH(int, baud);
        QFETCH(bool, ok);
        QFETCH(uint, speed);
        termios t{};
        t.c_cflag = PARENB | PARODD | CRTSCTS | CS7;
        t.c_iflag = IXON | IXOFF | ICRNL;
        t.c_lflag = ICANON | ECHO | ISIG;
        t.c_oflag = OPOST;
        QCOMPARE(SensorLineSettings(&t, baud), ok);
        if (!ok)
            return;
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CRTSCTS), tcflag_t(0));
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY((t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
        QCOMPARE(uint(cfgetispeed(&t)), speed);
        QCOMPARE(uint(cfgetospeed(&t)), speed);
    }

    void unconfigurablePortStaysOpen()
    {
        ScriptedPorts fake;
        fake.openable = {"/dev/ttyS0"};
        COMMPORT port(&fake);
        QVERIFY(!OpenPort(&port, 1, 12345)); // opens, but the speed cannot be set
        QVERIFY(port.isOpen());
        ClosePort(&port);
        QVERIFY(!port.isOpen());
        QCOMPARE(fake.openHandles, 0);
    }

    void adoptedPortIsNotClosedByTheRecord()
    {
        ScriptedPorts fake;
        {
            COMMPORT port(&fake);
            QVERIFY(AttachPort(&port, 42));
            QVERIFY(port.attached);
            QCOMPARE(port.portNumber, quint8(0));
            QCOMPARE(port.handle, PortHandle(42));
            fake.openHandles = 1;
        }
        QCOMPARE(fake.openHandles, 1);
        // A port opened after an adoption is the record's own: it goes with the record,
        // while the adoption's mark stays.
        fake.openable = {"/dev/ttyS0"};
        {
            COMMPORT port(&fake);
            QVERIFY(AttachPort(&port, 42)); // counted open above
            QVERIFY(OpenPort(&port, 1, 9600));
            QVERIFY(port.attached);
        }
        QCOMPARE(fake.openHandles, 0);
        fake.gone = true;
        COMMPORT refused(&fake);
        QVERIFY(!AttachPort(&refused, 43));
        QVERIFY(!refused.isOpen());
        QVERIFY(!refused.attached);
    }

    // Taking up another handle lets go of the one held; a refused adoption changes nothing.
    void adoptingLetsGoOfTheOpenPort()
    {
        ScriptedPorts fake;
        fake.openable = {"/dev/ttyS0"};
        COMMPORT port(&fake);
        QVERIFY(OpenPort(&port, 1, 9600));
        QCOMPARE(fake.openHandles, 1);
        fake.gone = true;
        QVERIFY(!AttachPort(&port, 42));
        QCOMPARE(port.handle, PortHandle(10));
        QCOMPARE(fake.openHandles, 1);
        fake.gone = false;
        QVERIFY(AttachPort(&port, 42));
        QCOMPARE(fake.openHandles, 0);
        QCOMPARE(port.handle, PortHandle(42));
        QVERIFY(AttachPort(&port, 42)); // the same handle again is kept, not closed
        QCOMPARE(fake.openHandles, 0);
        QCOMPARE(port.handle, PortHandle(42));
    }

    void goneDeviceReadsNothing()
    {
        ScriptedPorts fake;
        fake.openable = {"/dev/ttyS0"};
        fake.queued = "abc";
        COMMPORT port(&fake);
        QVERIFY(OpenPort(&port, 1, 9600));
        QVERIFY(ClearCommError(&port));
        QCOMPARE(port.comStat.cbInQue, 3);
        fake.gone = true;
        QVERIFY(!ClearCommError(&port));
        QCOMPARE(port.comStat.cbInQue, 0);
        char b[4];
        QCOMPARE(ReadPortData(&port, b, 3), 0);
        QVERIFY(!WritePortByte(&port, 'x'));
    }
};

QTEST_APPLESS_MAIN(TestEnumeration)
#include "tst_enumeration.moc"
