#include "SimHarness.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// The application's serial link against the real simulator program on a real
// pseudo-terminal, in real time. Each case takes a second or two.
namespace {

const QByteArray identificationPattern("EchoGauge 18F2620 Version ??.??");

// A bare terminal on a published port, as a loader or a terminal program uses it,
// to check the simulator and the loader without the application in between.
class RawPort
{
public:
    RawPort(const QString &path, speed_t speed)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return;
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        t.c_cflag |= CSTOPB | CREAD | CLOCAL;
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        tcsetattr(fd, TCSANOW, &t);
    }
    ~RawPort()
    {
        if (fd >= 0)
            ::close(fd);
    }
    QByteArray exchange(const QByteArray &request, int waitMs)
    {
        for (char c : request) {
            if (::write(fd, &c, 1) != 1)
                return {};
            QThread::msleep(20);
        }
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < waitMs) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, int(n));
            QThread::msleep(10);
        }
        return got;
    }
    int fd = -1;
};

// An update file carrying firmware major.minor, with a valid header.
QByteArray updateFile(int major, int minor)
{
    QByteArray image(300, '\0');
    image.replace(0, 16, QByteArray("ORB Update File\x1a", 16));
    auto put = [&](int offset, quint16 w) {
        image[offset] = char(w & 0xFF);
        image[offset + 1] = char(w >> 8);
    };
    put(16, 56);
    put(28, 115);
    put(30, 1);
    image[34] = char(minor);
    image[35] = char(major);
    quint16 sum = 0;
    for (int i = 0; i < 28; ++i)
        sum = quint16(sum + (quint8(image[2 * i]) | quint8(image[2 * i + 1]) << 8));
    put(18, quint16(-sum));
    return image;
}

} // namespace

class TestE2eSerial : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir portsDir;
    RecordingDialogs dialogs;
    std::unique_ptr<TformMain> form;

    bool replyMatched(const QByteArray &pattern)
    {
        form->ReadPort();
        bool complete = false;
        const qint32 at = form->rxBuffer->Match(pattern, '?', &complete);
        return at >= 0 && complete;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(portsDir.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(portsDir.path()));
    }

    void init()
    {
        form = realTimeWindow(&dialogs, QStringLiteral("e2e-%1").arg(QCoreApplication::applicationPid()));
    }

    void cleanup()
    {
        if (form)
            ClosePort(&form->commPort);
        form.reset();
    }

    void identification_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("passthrough");
        QTest::newRow("direct at 9600") << QStringList{"--port", "COM41"} << 9600 << false;
        QTest::newRow("through a logger at 19200")
            << QStringList{"--port", "COM42", "--logger", "19200"} << 19200 << true;
    }
    void identification()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, baud);
        QFETCH(bool, passthrough);
        Simulator sim(arguments);
        QVERIFY2(sim.waitReady(), sim.output.constData());
        const int number = arguments[1].mid(3).toInt();

        QVERIFY(OpenPort(&form->commPort, quint8(number), baud));
        QVERIFY(form->commPort.isOpen());
        QVERIFY(form->SendCommand("...PDAC", passthrough));
        QTRY_VERIFY_WITH_TIMEOUT(replyMatched(identificationPattern), 3000);

        // The version digits follow the identification text.
        bool complete = false;
        const qint32 at = form->rxBuffer->Match(identificationPattern, '?', &complete);
        form->rxBuffer->Skip(at + 26);
        QCOMPARE(form->rxBuffer->ReadString(5), QByteArray("01.13"));
    }

    void silenceAtAWrongSpeed()
    {
        Simulator sim(43);
        QVERIFY2(sim.waitReady(), sim.output.constData());
        QVERIFY(OpenPort(&form->commPort, 43, 19200));
        QVERIFY(form->SendCommand("...PDAC", false));
        QTest::qWait(1200);
        form->ReadPort();
        QCOMPARE(form->rxBuffer->Count(), 0);
    }

    void registerWriteIsKeptAndWrittenOut()
    {
        const QString registers = portsDir.filePath("registers.txt");
        Simulator sim(44, {"--registers-out", registers});
        QVERIFY2(sim.waitReady(), sim.output.constData());
        QVERIFY(OpenPort(&form->commPort, 44, 9600));
        QVERIFY(form->SendCommand("...ATR23=2750\r", false));
        QTRY_VERIFY_WITH_TIMEOUT(replyMatched("OK\r"), 3000);
        ClosePort(&form->commPort);
        sim.stop();
        QFile f(registers);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().split('\n').contains("R23=2750"));
        QVERIFY(!QFile::exists(portsDir.filePath("COM44"))); // the link went with it
    }

    void loaderInstallsTheUpdateFile()
    {
        Simulator sim(46, {"--firmware", "01.10"});
        QVERIFY2(sim.waitReady(), sim.output.constData());
        const QString path = portsDir.filePath("fw.upd");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(updateFile(1, 14));
        f.close();

        // The command line as the application builds it, the path in quotes.
        QProcess loader;
        loader.start(simLoaderProgram(), {"-Q", "-C46", "-N\"" + path + "\""});
        QVERIFY(loader.waitForFinished(10000));
        QCOMPARE(loader.exitStatus(), QProcess::NormalExit);
        QCOMPARE(loader.exitCode(), 0);

        RawPort port(portsDir.filePath("COM46"), B9600);
        QVERIFY(port.fd >= 0);
        QVERIFY(port.exchange("...PDAC", 400).contains("EchoGauge 18F2620 Version 01.14\r\n"));

        // No sensor on the port, and a file that is not there: both fail.
        loader.start(simLoaderProgram(), {"-Q", "-C47", "-N\"" + path + "\""});
        QVERIFY(loader.waitForFinished(10000));
        QVERIFY(loader.exitCode() != 0);
        loader.start(simLoaderProgram(), {"-Q", "-C46", "-N\"" + path + ".missing\""});
        QVERIFY(loader.waitForFinished(10000));
        QVERIFY(loader.exitCode() != 0);
    }

    void simulatorRefusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("logger speed") << QStringList{"--port", "COM48", "--logger", "38400"};
        QTest::newRow("port name") << QStringList{"--port", "LPT1"};
        QTest::newRow("firmware") << QStringList{"--port", "COM48", "--firmware", "1.13"};
        QTest::newRow("register") << QStringList{"--port", "COM48", "--register", "23=70000"};
    }
    void simulatorRefusesBadOptions()
    {
        QFETCH(QStringList, arguments);
        QProcess sim;
        sim.start(QStringLiteral(EG_SIM_PROGRAM), arguments);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 1);
        QVERIFY(!QFile::exists(portsDir.filePath("COM48")));
    }

    // The simulator goes away while a measurement waits for its reply and comes back
    // on the same port: the measurement fails in its own time with the window still
    // taking events, and the next search finds the sensor again.
    void deviceGoneMidExchangeAndBack()
    {
        auto sim = std::make_unique<Simulator>(46);
        QVERIFY2(sim->waitReady(), sim->output.constData());
        QVERIFY(OpenPort(&form->commPort, 46, 9600));
        form->sensorPort = 46;
        form->sensorPortName = QStringLiteral("COM46");
        form->sensorBaud = 9600;
        form->sensorPassthrough = false;
        form->firmwareVersion = 113;
        qint64 longestGap = 0;
        QElapsedTimer sinceLast;
        sinceLast.start();
        QTimer heartbeat;
        QObject::connect(&heartbeat, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, sinceLast.restart()); });
        heartbeat.start(20);

        form->StartMeasurement(true);
        QTRY_VERIFY(form->statusText().startsWith(QLatin1String(" Requesting measurement")));
        sim.reset(); // the device is gone: its terminal closed, its link removed
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral("  Measurement results not received"),
                                  15000);
        QCOMPARE(form->portState, qint8(psIdle));

        sim = std::make_unique<Simulator>(46);
        QVERIFY2(sim->waitReady(), sim->output.constData());
        sinceLast.restart();
        form->menuSearchClick();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"),
                                  30000);
        QCOMPARE(form->sensorPort, qint16(46));
        QVERIFY2(longestGap < 2000,
                 qPrintable(QStringLiteral("the window took no events for %1 ms").arg(longestGap)));
    }

    void deviceDisappearingWhileOpen()
    {
        Simulator sim(45);
        QVERIFY2(sim.waitReady(), sim.output.constData());
        QVERIFY(OpenPort(&form->commPort, 45, 9600));
        sim.kill();

        // Reads and writes now fail quietly: nothing arrives, nothing blocks.
        QElapsedTimer t;
        t.start();
        form->SendCommand("...PDAC", false);
        for (int i = 0; i < 10; ++i) {
            QTest::qWait(50);
            form->ReadPort();
            ClearCommError(&form->commPort);
        }
        QVERIFY(!replyMatched(identificationPattern));
        QVERIFY2(t.elapsed() < 3000, "the serial link hung on a vanished device");
        ClosePort(&form->commPort);
        QVERIFY(!form->commPort.isOpen());
    }
};

QTEST_MAIN(TestE2eSerial)
#include "tst_e2e_serial.moc"
