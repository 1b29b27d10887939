#include "serial/Portnames.h"

#include <QTest>

Q_DECLARE_METATYPE(QList<PortLink>)

class TestEnumeration : public QObject
{
    Q_OBJECT

private slots:
    void portList_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QList<PortLink>>("links");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QStringList>("expected");

        const QStringList machine{"/dev/ttyS0", "/dev/rfcomm0", "/dev/ttyUSB0", "/dev/ttyACM1", "/dev/ttyS3"};
        QTest::newRow("numbering rule, numeric order")
            << machine << QList<PortLink>() << 0u << QStringList{"COM1", "COM4", "COM33", "COM66", "COM97"};
        QTest::newRow("search mask leaves out Bluetooth")
            << machine << QList<PortLink>() << 6u << QStringList{"COM1", "COM4", "COM33", "COM66"};
        QTest::newRow("built-in and USB left out")
            << machine << QList<PortLink>() << 9u << QStringList{"COM97"};
        QTest::newRow("not numeric text order")
            << QStringList{"/dev/ttyS11", "/dev/ttyS1", "/dev/ttyS2"} << QList<PortLink>() << 0u
            << QStringList{"COM2", "COM3", "COM12"};
        QTest::newRow("other devices follow no rule")
            << QStringList{"/dev/lp0", "/dev/ttyS", "/dev/ttySx1"} << QList<PortLink>() << 0u << QStringList{};
        QTest::newRow("a link replaces the numbered device")
            << QStringList{"/dev/ttyS2"} << QList<PortLink>{{"COM3", "/dev/pts/4", true}} << 1u
            << QStringList{"COM3"};
        QTest::newRow("a link is classed by its target")
            << QStringList{} << QList<PortLink>{{"COM3", "/dev/ttyUSB0", true}, {"com5", "/dev/pts/2", true}} << 8u
            << QStringList{"COM5"};
        QTest::newRow("dangling link left out")
            << QStringList{"/dev/ttyS0"} << QList<PortLink>{{"COM7", "/dev/ttyUSB9", false}} << 0u
            << QStringList{"COM1"};
        QTest::newRow("names that are not COM<n>")
            << QStringList{} << QList<PortLink>{{"COMx", "/dev/pts/1", true}, {"LPT1", "/dev/pts/1", true}} << 0u
            << QStringList{};
        QTest::newRow("two links of one number give two entries")
            << QStringList{} << QList<PortLink>{{"COM4", "/dev/pts/1", true}, {"com4", "/dev/pts/2", true}} << 0u
            << QStringList{"COM4", "COM4"};
        QTest::newRow("nothing at all") << QStringList{} << QList<PortLink>() << 6u << QStringList{};
    }
    void portList()
    {
        QFETCH(QStringList, devices);
        QFETCH(QList<PortLink>, links);
        QFETCH(quint32, mask);
        QFETCH(QStringList, expected);
        const PortList list = BuildPortList(devices, links, mask);
        QStringList names;
        for (const PortName &p : list) {
            names << p.name;
            QCOMPARE(QStringLiteral("COM%1").arg(p.number), p.name);
        }
        QCOMPARE(names, expected);
    }

    void deviceForPortIsTheRuleReversed_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << 1 << "/dev/ttyS0";
        QTest::newRow("COM32") << 32 << "/dev/ttyS31";
        QTest::newRow("COM33") << 33 << "/dev/ttyUSB0";
        QTest::newRow("COM65") << 65 << "/dev/ttyACM0";
        QTest::newRow("COM98") << 98 << "/dev/rfcomm1";
        QTest::newRow("COM0") << 0 << "";
    }
    void deviceForPortIsTheRuleReversed()
    {
        QFETCH(int, port);
        QFETCH(QString, device);
        QCOMPARE(DeviceForPort(port), device);
        if (!device.isEmpty())
            QCOMPARE(PortForDevice(device).number, port);
    }
};

QTEST_GUILESS_MAIN(TestEnumeration)
#include "tst_enumeration.moc"
