#include "app/Mainform.h"
#include "app/Platform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "serial/Enumcomports.h"
#include "serial/SerialDriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The application's serial link against the real simulator program on a real
// pseudo-terminal, in real time. Each case takes a second or two.
namespace {

const QByteArray identificationPattern("EchoGauge 18F2620 Version ??.??");

// echogauge-sim running for one test, published in the test's own ports directory.
class Simulator
{
public:
    explicit Simulator(const QStringList &arguments)
    {
        process.setProgram(QStringLiteral(EG_SIM_PROGRAM));
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
    }
    ~Simulator() { stop(); }

    // Waits for the simulator's ready line.
    bool waitReady()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
            output += process.readAllStandardOutput();
            if (output.contains("echogauge-sim: COM") && output.contains('\n'))
                return true;
        }
        return false;
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate(); // SIGTERM: it removes its link and writes its registers
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    void kill()
    {
        process.kill();
        process.waitForFinished(3000);
    }

    QProcess process;
    QByteArray output;
};

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
        Platform p;
        p.clock = Clock::system();
        p.serial = SerialDriver::system();
        p.dialogs = &dialogs;
        p.settingsOrganization =
            QStringLiteral("EchoGaugeTest-e2e-%1").arg(QCoreApplication::applicationPid());
        p.settingsApplication = QStringLiteral("e2e");
        form = std::make_unique<TformMain>(p);
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
        Simulator sim({"--port", "COM43"});
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
        Simulator sim({"--port", "COM44", "--registers-out", registers});
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

    void deviceDisappearingWhileOpen()
    {
        Simulator sim({"--port", "COM45"});
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
