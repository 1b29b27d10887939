#include "core/Clock.h"
#include "model/InProcessSerial.h"
#include "model/LineSettings.h"
#include "model/SimDevice.h"
#include "model/SimSensor.h"
#include "serial/Enumcomports.h"

#include <QTemporaryDir>
#include <QTest>

// The stand-in sensor and logger must answer as the application expects and at
// the times a real line would deliver, or every timing test built on them lies.
namespace {

// An update image with a valid header for the given firmware version.
QByteArray updateImage(int major, int minor, int headerLength = 56, int product = 115)
{
    QByteArray image(160, '\0');
    image.replace(0, 16, QByteArray("ORB Update File\x1a", 16));
    auto put = [&](int offset, quint16 w) {
        image[offset] = char(w & 0xFF);
        image[offset + 1] = char(w >> 8);
    };
    put(16, quint16(headerLength));
    put(28, quint16(product));
    put(30, 1);
    image[34] = char(minor);
    image[35] = char(major);
    quint16 sum = 0;
    for (int i = 0; i < headerLength / 2; ++i)
        sum = quint16(sum + (quint8(image[2 * i]) | quint8(image[2 * i + 1]) << 8));
    put(18, quint16(-sum)); // a word outside the interpreted fields balances the sum
    return image;
}

// A port of the in-process backend opened as the application opens it.
struct Line
{
    VirtualClock clock;
    InProcessSerial serial{&clock};
    PortHandle handle = INVALID_PORT_HANDLE;

    PortHandle open(int port, qint32 baud, int stopBits = 2)
    {
        handle = serial.open(InProcessSerial::devicePath(port));
        if (handle != INVALID_PORT_HANDLE)
            serial.setAttributes(handle, makeTermios({baud, 8, false, stopBits}));
        return handle;
    }
    // One character per 20 ms, the application's default pace; the first goes at once.
    void send(const QByteArray &text, int paceMs = 20)
    {
        for (int i = 0; i < text.size(); ++i) {
            if (i > 0)
                clock.advance(paceMs);
            QCOMPARE(serial.write(handle, text.constData() + i, 1), 1);
        }
    }
    QByteArray readAll()
    {
        const int n = serial.bytesQueued(handle);
        QByteArray out(qMax(n, 0), '\0');
        if (n > 0)
            out.resize(serial.read(handle, out.data(), n));
        return out;
    }
    QByteArray exchange(const QByteArray &text, int waitMs = 3000)
    {
        send(text);
        clock.advance(waitMs);
        return readAll();
    }
};

QByteArray framed(const QByteArray &request)
{
    return "...EGCNFG(" + request.mid(3) + ")";
}

} // namespace

class TestSimModel : public QObject
{
    Q_OBJECT

private slots:
    void answersEachRequest_data()
    {
        QTest::addColumn<int>("logger");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ident = "EchoGauge 18F2620 Version 01.13\r\n";
        QTest::newRow("identify direct") << 0 << QByteArray("...PDAC") << ident;
        QTest::newRow("identify via logger 9600") << 9600 << framed("...PDAC") << ident;
        QTest::newRow("identify via logger 19200") << 19200 << framed("...PDAC") << ident;
        QTest::newRow("identify via logger 115200") << 115200 << framed("...PDAC") << ident;
        QTest::newRow("measure direct") << 0 << QByteArray("...PDAs") << QByteArray("02000,1,5,5,3,\r\n");
        QTest::newRow("write direct") << 0 << QByteArray("...ATR1=2500\r") << QByteArray("OK\r");
        QTest::newRow("write via logger, CR inside the frame")
            << 19200 << framed("...ATR1=2500\r") << QByteArray("OK\r");
    }
    void answersEachRequest()
    {
        QFETCH(int, logger);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        Line line;
        SimOptions options;
        options.loggerBaud = logger;
        SimSensor *sensor = line.serial.addSensor(3, options);
        sensor->setRegister(23, 0); // distance mode: 3000 - 1000
        QVERIFY(line.open(3, logger ? logger : 9600) != INVALID_PORT_HANDLE);
        QCOMPARE(line.exchange(request), expected);
    }

    // A logger refuses, in its own words, whatever request is not its frame: the
    // sensor behind it hears nothing, and nothing it sends could pass for the sensor.
    void loggerRefusesABareRequest_data()
    {
        QTest::addColumn<int>("logger");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray refusal(SimDevice::loggerRefusal);
        QTest::newRow("identify at 9600") << 9600 << QByteArray("...PDAC") << refusal;
        QTest::newRow("identify at 19200") << 19200 << QByteArray("...PDAC") << refusal;
        QTest::newRow("register write at 115200") << 115200 << QByteArray("...ATR1=2500\r") << refusal;
        QTest::newRow("frame broken after its start") << 9600 << QByteArray("...EGPDAC") << refusal;
        QTest::newRow("two bare requests, two refusals")
            << 9600 << QByteArray("...PDAC...PDAs") << refusal + refusal;
        QTest::newRow("extra full stops before a frame are no request")
            << 9600 << QByteArray(".....EGCNFG(PDAC)") << QByteArray("EchoGauge 18F2620 Version 01.13\r\n");
        QTest::newRow("noise without a request start") << 9600 << QByteArray("..PDAC") << QByteArray();
    }
    void loggerRefusesABareRequest()
    {
        QFETCH(int, logger);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        Line line;
        SimOptions options;
        options.loggerBaud = logger;
        SimSensor *sensor = line.serial.addSensor(3, options);
        QVERIFY(line.open(3, logger) != INVALID_PORT_HANDLE);
        const QByteArray got = line.exchange(request);
        QCOMPARE(got, expected);
        if (expected.startsWith("ERR")) {
            QVERIFY(!got.contains("EchoGauge"));
            QVERIFY(sensor->requests.isEmpty());
        }
    }

    void requestAmongNoiseIsUnderstood()
    {
        Line line;
        line.serial.addSensor(1);
        line.open(1, 9600);
        QVERIFY(line.exchange("xx.ATR..PDAC").isEmpty());
        QCOMPARE(line.exchange("junk...PDAC"), QByteArray("EchoGauge 18F2620 Version 01.13\r\n"));
        QVERIFY(line.exchange("...PDAX").isEmpty());
        QVERIFY(line.exchange("...ATR1=70000\r").isEmpty()); // not a 16-bit value
        QCOMPARE(line.serial.sensor(1)->reg(1), quint16(3300));
    }

    void silentAtOtherLineSettings_data()
    {
        QTest::addColumn<int>("logger");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("sensor at 19200") << 0 << 19200 << 2 << QByteArray("...PDAC");
        QTest::newRow("sensor with one stop bit") << 0 << 9600 << 1 << QByteArray("...PDAC");
        QTest::newRow("logger 19200 reached at 9600") << 19200 << 9600 << 2 << framed("...PDAC");
        QTest::newRow("sensor ignores a logger frame") << 0 << 9600 << 2 << framed("...PDAC");
    }
    void silentAtOtherLineSettings()
    {
        QFETCH(int, logger);
        QFETCH(int, baud);
        QFETCH(int, stopBits);
        QFETCH(QByteArray, request);
        Line line;
        SimOptions options;
        options.loggerBaud = logger;
        line.serial.addSensor(2, options);
        line.open(2, baud, stopBits);
        QCOMPARE(line.exchange(request), QByteArray());
        QCOMPARE(line.serial.written(2), request); // the bytes went out all the same
    }

    void freshPortIsNotAtTheSensorsSettings()
    {
        Line line;
        line.serial.addSensor(4);
        line.handle = line.serial.open(InProcessSerial::devicePath(4));
        QVERIFY(line.handle != INVALID_PORT_HANDLE);
        QVERIFY(line.exchange("...PDAC").isEmpty());
    }

    void replyIsPacedAtElevenBitTimesPerCharacter()
    {
        // Request characters at 0..120 ms; the last arrives 1.146 ms after it was
        // written, the sensor waits 30 ms, then 33 characters of 1.1458 ms each.
        Line line;
        line.serial.addSensor(5);
        line.open(5, 9600);
        line.send("...PDAC");
        QCOMPARE(line.clock.nowMs(), qint64(120));
        auto queuedAt = [&](qint64 ms) {
            line.clock.advance(ms - line.clock.nowMs());
            return line.serial.bytesQueued(line.handle);
        };
        QCOMPARE(queuedAt(152), 0);
        QCOMPARE(queuedAt(153), 1);  // done at 152.292 ms
        QCOMPARE(queuedAt(170), 16); // 16th done at 169.479 ms, 17th at 170.625
        QCOMPARE(queuedAt(188), 32);
        QCOMPARE(queuedAt(189), 33); // last done at 188.959 ms
        QCOMPARE(line.readAll().size(), 33);
    }

    void loggerSendsAtItsSpeedButNoFasterThanTheSensor()
    {
        Transmitter fast(115200);
        QCOMPARE(fast.send(0), qint64(96)); // 95.49 us a character
        QCOMPARE(fast.send(0), qint64(191));
        QCOMPARE(fast.send(10000), qint64(10096)); // a new run after a gap

        SimDevice device(115200);
        const QByteArray request = framed("...PDAC");
        for (char c : request)
            device.arrive(0, c);
        // Relayed after 10 ms at 9600 (7 characters), answered 30 ms later; each
        // character reaches the PC 95 us after the sensor has sent it.
        const qint64 relayed = 10000 + characterMicros(9600, 7);
        QCOMPARE(device.nextOutputUs(), relayed + 30000 + characterMicros(9600) + 96);
        QCOMPARE(device.takeOutput(relayed + 30000 + characterMicros(9600, 33)).size(), 32);
        QCOMPARE(device.takeOutput(relayed + 30000 + characterMicros(9600, 33) + 96).size(), 1);
    }

    void writesAreStoredAndWrittenOut()
    {
        Line line;
        SimSensor *sensor = line.serial.addSensor(6);
        line.open(6, 9600);
        QCOMPARE(line.exchange("...ATR23=35518\r"), QByteArray("OK\r"));
        QCOMPARE(line.exchange("...ATR64=161\r"), QByteArray("OK\r"));
        QCOMPARE(sensor->reg(23), quint16(35518));
        QCOMPARE(sensor->requests.last(), QByteArray("ATR64=161"));

        QTemporaryDir dir;
        const QString path = dir.filePath("registers.txt");
        QVERIFY(sensor->writeRegisters(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QVERIFY(lines.contains("R23=35518"));
        QVERIFY(lines.contains("R64=161"));
        QVERIFY(lines.contains("R9=10000"));
    }

    void dumpHoldsTheMarkersInRegisterOrder()
    {
        SimSensor sensor;
        sensor.setRegister(23, 2750 + 32768);
        const QByteArray dump = sensor.dump();
        QVERIFY(dump.contains("Temperature    : "));
        int from = 0;
        for (int r : {8, 9, 19, 23, 24, 128, 129, 130, 131, 132}) {
            const QByteArray marker = "(R" + QByteArray::number(r) + "): ";
            const int at = int(dump.indexOf(marker, from));
            QVERIFY2(at >= 0, marker.constData());
            from = at + int(marker.size());
            QCOMPARE(dump.mid(from, 6).split('\r').first().toInt(), int(sensor.reg(r)));
        }
        QVERIFY(dump.contains("(R23): 35518\r\n"));
        QVERIFY(dump.count("\r\n") > 40); // far more than the application reads

        sensor.faults.signedRegisters = true;
        QVERIFY(sensor.dump().contains("(R23): -30018\r\n"));
        sensor.faults.missingRegister = 19;
        QVERIFY(!sensor.dump().contains("(R19): "));
        QVERIFY(sensor.dump().contains("(R23): "));
    }

    void measurementByMode_data()
    {
        QTest::addColumn<int>("reg23");
        QTest::addColumn<int>("levelMm");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("distance") << 0 << 1000 << QByteArray("02000,1,5,5,3,\r\n");
        QTest::newRow("depth") << 2750 << 1000 << QByteArray("00750,1,5,5,3,\r\n");
        QTest::newRow("depth of a dry channel") << 1500 << 0 << QByteArray("00000,1,5,5,3,\r\n");
        // Table: head 0 -> 0, 161 -> 117, 322 -> 338, then flat at 338.
        QTest::newRow("flow on a table point") << (3000 | 0x8000) << 161 << QByteArray("00117,1,5,5,3,\r\n");
        QTest::newRow("flow between points") << (3000 | 0x8000) << 241 << QByteArray("00226,1,5,5,3,\r\n");
        QTest::newRow("flow above the table") << (3000 | 0x8000) << 2000 << QByteArray("00338,1,5,5,3,\r\n");
        QTest::newRow("beyond Window High") << 0 << -400 << QByteArray("00000,0,0,5,3,\r\n");
    }
    void measurementByMode()
    {
        QFETCH(int, reg23);
        QFETCH(int, levelMm);
        QFETCH(QByteArray, expected);
        SimSensor sensor;
        sensor.setRegister(23, quint16(reg23));
        const quint16 table[] = {0, 0, 161, 117, 322, 338};
        for (int i = 0; i < 6; ++i)
            sensor.setRegister(64 + i, table[i]);
        for (int k = 3; k < 32; ++k) {
            sensor.setRegister(64 + 2 * k, quint16(322 + k));
            sensor.setRegister(65 + 2 * k, 338);
        }
        sensor.levelMm = levelMm;
        QCOMPARE(sensor.measurement(), expected);
    }

    void lostEchoRepeatsTheLastValueOrGivesTheFixedOne()
    {
        SimSensor sensor;
        sensor.setRegister(23, 0);
        QCOMPARE(sensor.measurement().left(7), QByteArray("02000,1"));
        sensor.levelMm = -1000; // water out of the window
        QCOMPARE(sensor.measurement().left(7), QByteArray("02000,0"));
        sensor.setRegister(24, 4321);
        QCOMPARE(sensor.measurement().left(7), QByteArray("04321,0"));
        sensor.levelMm = 1000;
        sensor.faults.invalidReadings = true;
        QCOMPARE(sensor.measurement().left(9), QByteArray("04321,0,0"));
    }

    void faults_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("silent") << QByteArray("...PDAC") << QByteArray("silent") << QByteArray();
        QTest::newRow("garbled identification") << QByteArray("...PDAC") << QByteArray("garbled")
                                                << QByteArray("E#hoGa#ge 1#F262# Ver#ion #1.13#\n");
        QTest::newRow("garbled acknowledgement")
            << QByteArray("...ATR1=5\r") << QByteArray("garbled") << QByteArray("O#\r");
        QTest::newRow("no acknowledgement")
            << QByteArray("...ATR1=5\r") << QByteArray("noack") << QByteArray();
        QTest::newRow("firmware") << QByteArray("...PDAC") << QByteArray("firmware")
                                  << QByteArray("EchoGauge 18F2620 Version 01.10\r\n");
    }
    void faults()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, expected);
        Line line;
        SimOptions options;
        options.faults.silent = fault == "silent";
        options.faults.garbled = fault == "garbled";
        options.faults.noAcknowledge = fault == "noack";
        if (fault == "firmware")
            options.firmware = "01.10";
        SimSensor *sensor = line.serial.addSensor(7, options);
        line.open(7, 9600);
        QCOMPARE(line.exchange(request), expected);
        if (fault == "noack")
            QCOMPARE(sensor->reg(1), quint16(5)); // stored all the same
    }

    void splitReplyComesInTwoPiecesWithAPause()
    {
        Line line;
        SimOptions options;
        options.faults.splitPauseMs = 400;
        line.serial.addSensor(8, options);
        line.open(8, 9600);
        line.send("...PDAC"); // last character at 120 ms
        line.clock.advance(100);
        QCOMPARE(line.readAll(), QByteArray("EchoGauge 18F262"));
        line.clock.advance(300);
        QCOMPARE(line.readAll(), QByteArray());
        line.clock.advance(200);
        QCOMPARE(line.readAll(), QByteArray("0 Version 01.13\r\n"));
    }

    void lostRepliesCountDown()
    {
        Line line;
        SimOptions options;
        options.faults.dropReplies = 2;
        line.serial.addSensor(9, options);
        line.open(9, 9600);
        QVERIFY(line.exchange("...PDAs").isEmpty());
        QVERIFY(line.exchange("...PDAs").isEmpty());
        QVERIFY(line.exchange("...PDAs").startsWith("01000,1")); // depth 3000 - 2000
    }

    void portsAreListedAndLogged()
    {
        Line line;
        line.serial.addSensor(3);
        line.serial.addSilentPort(5);
        line.serial.addBrokenPort(9);
        const QList<PortLink> links = line.serial.portLinks();
        QCOMPARE(links.size(), 3);
        QCOMPARE(links[1].name, QString("COM5"));
        QCOMPARE(links[1].target, QString("/sim/COM5"));
        QVERIFY(links[1].targetExists);

        QCOMPARE(line.serial.open("/sim/COM9"), INVALID_PORT_HANDLE);
        QCOMPARE(line.serial.open("/sim/COM4"), INVALID_PORT_HANDLE);
        line.clock.advance(850);
        QVERIFY(line.open(5, 9600) != INVALID_PORT_HANDLE);
        QCOMPARE(line.serial.open("/sim/COM5"), INVALID_PORT_HANDLE); // taken
        QVERIFY(line.serial.raiseModemLines(line.handle));
        QVERIFY(line.exchange("...PDAC").isEmpty());
        QCOMPARE(line.serial.opens.size(), 1);
        QCOMPARE(line.serial.opens[0].port, 5);
        QCOMPARE(line.serial.opens[0].timeMs, qint64(850));
        QCOMPARE(line.serial.writeTimes(5), (QList<qint64>{850, 870, 890, 910, 930, 950, 970}));
        QCOMPARE(line.serial.settings(5), LineSettings::eightNoneTwo(9600));
        line.serial.close(line.handle);
        QVERIFY(!line.serial.isOpen(5));
    }

    void portRecordReachesTheSimulatedPorts()
    {
        VirtualClock clock;
        InProcessSerial serial(&clock);
        serial.addSensor(12);
        serial.addSilentPort(3);
        serial.addBrokenPort(5);
        PortList list;
        EnumeratePorts(&list, 6, &serial);
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].name, QString("COM3"));
        QCOMPARE(list[2].number, 12);

        COMMPORT port(&serial);
        QVERIFY(!OpenPort(&port, 5, 9600));
        QVERIFY(!port.isOpen());
        QVERIFY(OpenPort(&port, 12, 9600));
        QCOMPARE(serial.settings(12), LineSettings::eightNoneTwo(9600));
        QVERIFY(OpenPort(&port, 12, 19200)); // reopened at the logger speed
        QCOMPARE(serial.settings(12).baud, 19200);
        ClosePort(&port);
        QVERIFY(!serial.isOpen(12));
        QCOMPARE(serial.opens.size(), 2);
    }

    void unpluggedDeviceFailsQuietly()
    {
        Line line;
        line.serial.addSensor(3);
        line.open(3, 9600);
        line.send("...PDAC");
        line.serial.unplug(3);
        char c = 0;
        QCOMPARE(line.serial.bytesQueued(line.handle), -1);
        QCOMPARE(line.serial.read(line.handle, &c, 1), -1);
        QCOMPARE(line.serial.write(line.handle, &c, 1), -1);
        termios t;
        QVERIFY(!line.serial.getAttributes(line.handle, &t));
        QVERIFY(!line.serial.portLinks().first().targetExists);
        QCOMPARE(line.serial.open("/sim/COM3"), INVALID_PORT_HANDLE);
        line.serial.close(line.handle); // closing a dead handle is harmless
        line.serial.replug(3);
        QVERIFY(line.open(3, 9600) != INVALID_PORT_HANDLE);
    }

    void outputWhileNobodyListensIsLost()
    {
        Line line;
        line.serial.addSensor(3);
        line.open(3, 9600);
        line.send("...PDAC");
        line.serial.close(line.handle);
        line.clock.advance(1000);
        line.open(3, 9600);
        QCOMPARE(line.readAll(), QByteArray());
    }

    void updateImageHeader_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("version");
        QTest::newRow("valid 1.13") << updateImage(1, 13) << "01.13";
        QTest::newRow("valid 2.05, short header") << updateImage(2, 5, 36) << "02.05";
        QTest::newRow("version beyond a short header counts as 0") << updateImage(2, 5, 34) << "00.00";
        QTest::newRow("length 0") << updateImage(1, 13, 0) << "";
        QTest::newRow("length 58") << updateImage(1, 13, 58) << "";
        QTest::newRow("other product") << updateImage(1, 13, 56, 116) << "";
        QByteArray bad = updateImage(1, 13);
        bad[40] = 'x';
        QTest::newRow("checksum") << bad << "";
        QTest::newRow("too short") << updateImage(1, 13).left(111) << "";
    }
    void updateImageHeader()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, version);
        QCOMPARE(updateImageVersion(image), version);
    }

    void loadedFirmwareIsReported()
    {
        Line line;
        SimOptions options;
        options.firmware = "01.10";
        SimSensor *sensor = line.serial.addSensor(3, options);
        line.open(3, 9600);
        const QByteArray image = updateImage(1, 14);
        QCOMPARE(line.exchange("...UPD=" + QByteArray::number(image.size()) + "\r", 500), QByteArray("OK\r"));
        QCOMPARE(line.serial.write(line.handle, image.constData(), int(image.size())), int(image.size()));
        line.clock.advance(500);
        QCOMPARE(line.readAll(), QByteArray("OK\r"));
        QCOMPARE(sensor->firmwareLoads, 1);
        QCOMPARE(line.exchange("...PDAC"), QByteArray("EchoGauge 18F2620 Version 01.14\r\n"));

        QByteArray broken = image;
        broken[20] = 'x';
        line.exchange("...UPD=" + QByteArray::number(broken.size()) + "\r", 500);
        line.serial.write(line.handle, broken.constData(), int(broken.size()));
        line.clock.advance(500);
        QCOMPARE(line.readAll(), QByteArray("ERR\r"));
        QCOMPARE(sensor->firmware, QString("01.14"));
    }
};

QTEST_GUILESS_MAIN(TestSimModel)
#include "tst_simmodel.moc"
