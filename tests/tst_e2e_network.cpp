// Network ports in real time against a real device server: Debian's ser2net in
// front of echogauge-sim's pseudo-terminal, with line control (direct and through a
// logger at 19200) and as raw TCP; servers that cannot be reached; a server that
// goes away during an upload; and a link 300 ms away each way.
#include "SimHarness.h"

#include "app/Mainform.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString ser2netProgram = QStringLiteral("/usr/sbin/ser2net");

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// ser2net serving one pseudo-terminal on a free port of 127.0.0.1, with line control
// or as raw TCP, from a configuration file of its own.
class Ser2net
{
public:
    Ser2net(const QString &dir, const QString &device, bool rfc2217, quint16 atPort = 0)
        : port(atPort ? atPort : freePort())
    {
        const QString file = dir + QStringLiteral("/ser2net-%1.yaml").arg(port);
        QFile f(file);
        if (f.open(QIODevice::WriteOnly))
            f.write(QStringLiteral("connection: &sensor\n"
                                   "    accepter: %1tcp,127.0.0.1,%2\n"
                                   "    connector: serialdev,%3,9600n82,local\n")
                        .arg(rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                        .arg(port)
                        .arg(device)
                        .toUtf8());
        f.close();
        process.setProgram(ser2netProgram);
        process.setArguments({QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), file});
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start();
    }
    ~Ser2net() { kill(); }
    // Up once it takes a connection.
    bool waitListening()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && process.state() != QProcess::NotRunning) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(200)) {
                probe.abort();
                QTest::qWait(100);
                return true;
            }
            QTest::qWait(100);
        }
        return false;
    }
    void kill()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(3000);
    }
    quint16 port;
    QProcess process;
};

// Passes bytes both ways, each held delayMs before it goes on, as a far network
// would hold them.
class DelayProxy : public QObject
{
public:
    DelayProxy(quint16 target, int delayMs) : target(target), delayMs(delayMs)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *near = server.nextPendingConnection();
            auto *far = new QTcpSocket(near);
            far->connectToHost(QHostAddress::LocalHost, this->target);
            relay(near, far);
            relay(far, near);
            connect(near, &QTcpSocket::disconnected, near, &QObject::deleteLater);
        });
    }
    quint16 port() const { return server.serverPort(); }

private:
    void relay(QTcpSocket *from, QTcpSocket *to)
    {
        connect(from, &QTcpSocket::readyRead, this, [this, from, to] {
            const QByteArray bytes = from->readAll();
            QTimer::singleShot(delayMs, to, [to, bytes] {
                if (to->state() == QAbstractSocket::ConnectedState)
                    to->write(bytes);
            });
        });
    }
    QTcpServer server;
    quint16 target;
    int delayMs;
};

struct Rig
{
    QTemporaryDir dir;
    RecordingDialogs dialogs;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Ser2net> server;
    std::unique_ptr<TformMain> form;
    std::unique_ptr<StatusRecorder> statuses;
    QString registersFile;

    bool start(const QStringList &simArguments, bool rfc2217, bool window = true)
    {
        QDir(dir.path()).mkpath(QStringLiteral("ports"));
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(dir.filePath(QStringLiteral("ports"))));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        registersFile = dir.filePath(QStringLiteral("registers.txt"));
        sim = std::make_unique<Simulator>(QStringList{QStringLiteral("--port"), QStringLiteral("COM9"),
                                                      QStringLiteral("--registers-out"), registersFile} +
                                          simArguments);
        if (!sim->waitPublished())
            return false;
        server = std::make_unique<Ser2net>(dir.path(), QFileInfo(sim->link).canonicalFilePath(), rfc2217);
        if (!server->waitListening())
            return false;
        if (!window)
            return true;
        form = realTimeWindow(&dialogs, QStringLiteral("e2enetwork"));
        form->timerSlowTx->setInterval(10);
        statuses = std::make_unique<StatusRecorder>(form->statusBar);
        return true;
    }
    // The search of the one network port, to its end.
    void search(const QString &url)
    {
        form->networkPorts = {{url, QStringLiteral("site")}};
        form->searchOnlyPort = url;
        form->menuSearchClick();
    }
    QString url(bool rfc2217, quint16 port) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(rfc2217 ? "rfc2217" : "tcp").arg(port);
    }
};

const QString readDone = QStringLiteral(" Sensor data received from EchoGauge");
const QString writeDone = QStringLiteral(" Sensor data successfully written");

} // namespace

class TestE2eNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(ser2netProgram))
            QSKIP("ser2net is not installed (scripts/install-deps.sh installs it)");
    }

    // Found, read, written and measured through the device server; the logger's
    // speed must really reach the far line, which the simulator checks.
    void walk_data()
    {
        QTest::addColumn<bool>("rfc2217");
        QTest::addColumn<int>("logger");
        QTest::addColumn<QString>("probe");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("upload"); // a V-notch table too (in one row: it takes half a minute)
        QTest::newRow("rfc2217 direct") << true << 0 << QString() << 0 << false;
        QTest::newRow("rfc2217 logger 19200")
            << true << 19200 << QStringLiteral(" - Passthrough mode, 19200, ") << 0 << true;
        QTest::newRow("raw tcp direct") << false << 0 << QString() << 0 << false;
        QTest::newRow("rfc2217 300 ms away") << true << 0 << QString() << 300 << false;
    }
    void walk()
    {
        QFETCH(bool, rfc2217);
        QFETCH(int, logger);
        QFETCH(QString, probe);
        QFETCH(int, delayMs);
        QFETCH(bool, upload);
        Rig rig;
        QStringList args;
        if (logger)
            args << QStringLiteral("--logger") << QString::number(logger);
        QVERIFY(rig.start(args, rfc2217));
        std::unique_ptr<DelayProxy> proxy;
        quint16 port = rig.server->port;
        if (delayMs) {
            proxy = std::make_unique<DelayProxy>(port, delayMs);
            port = proxy->port();
        }
        const QString url = rig.url(rfc2217, port);
        rig.search(url);
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->statusText() == readDone || rig.form->portState == psIdle, 30000);
        for (const auto &m : std::as_const(rig.dialogs.messages))
            qInfo("message: %s", qPrintable(m.text));
        QCOMPARE(rig.form->statusText(), readDone);
        const QStringList texts = rig.statuses->take();
        qInfo("search: %s", qPrintable(texts.join(QLatin1Char('|'))));
        QVERIFY2(texts.contains(QStringLiteral(" Searching for EchoGauge - ") + url + probe +
                                QStringLiteral(" ...")),
                 qPrintable(texts.join(QLatin1Char('|'))));
        // Found at the first probe of the speed it answers at, however far away.
        if (!logger)
            QVERIFY2(!texts.join(QLatin1Char('|')).contains(QLatin1String("Attempt")),
                     qPrintable(texts.join(QLatin1Char('|'))));
        QCOMPARE(std::tuple(rig.form->sensorPortName, rig.form->sensorBaud, rig.form->sensorPassthrough),
                 std::tuple(url, logger ? logger : 9600, logger != 0));
        // Raw TCP says once that the speed is the server's.
        QCOMPARE(rig.dialogs.messages.size(), rfc2217 ? 0 : 1);
        if (!rfc2217)
            QVERIFY(rig.dialogs.messages.first().text.startsWith(url + QStringLiteral(" passes the bytes")));

        rig.form->trackSensorHeight->setValue(rig.form->trackSensorHeight->maximum() - 3100);
        rig.form->btnSetHeight->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->statusText(), writeDone, 30000);
        QTRY_COMPARE(readSimRegisters(rig.registersFile).value(23), 3100);

        if (upload) {
            rig.form->cbChanType->setCurrentIndex(4);
            emit rig.form->cbChanType->activated(4);
            rig.form->btnSendChannelData->click();
            QTRY_COMPARE_WITH_TIMEOUT(rig.form->statusText(),
                                      QStringLiteral(" Channel data successfully written"), 120000);
            const QMap<int, int> held = readSimRegisters(rig.registersFile);
            QStringList listing;
            for (auto r = held.cbegin(); r != held.cend(); ++r)
                listing << QStringLiteral("R%1=%2").arg(r.key()).arg(r.value());
            qInfo("registers: %s", qPrintable(listing.join(QLatin1Char(' '))));
            // The table and the description as the window sent them.
            QCOMPARE(held.value(128), 4);
            QCOMPARE(held.value(129), rig.form->notchAngle);
            for (int k = 0; k < 64; ++k)
                QCOMPARE(held.value(64 + k), int(rig.form->flowTable[size_t(k)]));
        }

        rig.form->btnMeasure->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->historyEntries->size(), 1, 20000);
        QVERIFY(!rig.statuses->take().join(QLatin1Char('|')).contains(QLatin1String("Attempt")));
    }

    // A server that cannot be reached is a port that could not be opened: the search
    // ends and says which and why, and the window keeps its time meanwhile.
    void unreachable_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << QStringLiteral("127.0.0.1") << 0 << QStringLiteral("connection refused");
        QTest::newRow("host not found")
            << QStringLiteral("no-such-host.invalid") << 0 << QStringLiteral("host not found");
        QTest::newRow("no answer") << QStringLiteral("127.0.0.1") << 1 << QStringLiteral("no answer");
    }
    void unreachable()
    {
        QFETCH(QString, host);
        QFETCH(int, how);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        quint16 port = freePort();
        int listener = -1;
        if (how == 1) {
            // A listener whose queue is full: further connections are never answered.
            listener = ::socket(AF_INET, SOCK_STREAM, 0);
            port = freePort();
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0);
            QVERIFY(::listen(listener, 0) == 0);
            for (int i = 0; i < 3; ++i) {
                const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                ::connect(filler, reinterpret_cast<sockaddr *>(&a), sizeof a);
            }
        }
        RecordingDialogs dialogs;
        auto form = realTimeWindow(&dialogs, QStringLiteral("e2enetwork"));
        const QString url = QStringLiteral("rfc2217://%1:%2").arg(host).arg(port);
        form->networkPorts = {{url, QString()}};
        form->searchOnlyPort = url;

        qint64 longestGap = 0;
        QElapsedTimer ticking;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longestGap = qMax(longestGap, ticking.restart()); });
        ticking.start();
        tick.start(50);
        form->menuSearchClick();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" EchoGauge not found!"), 15000);
        tick.stop();
        if (listener >= 0)
            ::close(listener);
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY2(dialogs.messages.first().text.contains(url + QStringLiteral(": ") + reason),
                 qPrintable(dialogs.messages.first().text));
        QVERIFY2(longestGap < 400, qPrintable(QString::number(longestGap)));
    }

    // The console program reaches the same port by its URL: found through a logger at
    // 19200 behind the server, its set-up written, the simulator holding it.
    void consoleProgram()
    {
        Rig rig;
        QVERIFY(rig.start({QStringLiteral("--logger"), QStringLiteral("19200")}, true, false));
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), rig.dir.path());
        run.setProcessEnvironment(env);
        run.start(QStringLiteral(EG_CLI_PROGRAM),
                  {QStringLiteral("write"), QStringLiteral("--port"), rig.url(true, rig.server->port),
                   QStringLiteral("--height"), QStringLiteral("2.5")});
        QVERIFY(run.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QVERIFY2(run.exitCode() == 0, qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("Searching for EchoGauge - ") + rig.url(true, rig.server->port) +
                              QStringLiteral(" - Passthrough mode, 19200, ")),
                 qPrintable(err));
        QTRY_COMPARE(readSimRegisters(rig.registersFile).value(23) & 0x7FFF, 2500);
    }

    // The server goes away during an upload: the upload fails as with a vanished
    // device, and once the server is back the next read connects again.
    void serverGoneMidUpload()
    {
        Rig rig;
        QVERIFY(rig.start({}, true));
        const QString url = rig.url(true, rig.server->port);
        rig.search(url);
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->statusText(), readDone, 30000);
        rig.form->cbChanType->setCurrentIndex(4);
        emit rig.form->cbChanType->activated(4);
        rig.form->btnSendChannelData->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->statusText().startsWith(QLatin1String(" Writing channel data 5 ")),
                                 30000);
        rig.server->kill();
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->portState == psIdle, 30000);
        const QString failed = rig.form->statusText();
        QVERIFY2(!failed.contains(QLatin1String("successfully")), qPrintable(failed));

        rig.server = std::make_unique<Ser2net>(rig.dir.path(), QFileInfo(rig.sim->link).canonicalFilePath(),
                                               true, rig.server->port);
        QVERIFY(rig.server->waitListening());
        rig.form->menuReadHeight->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->statusText(), readDone, 30000);
    }
};

QTEST_MAIN(TestE2eNetwork)
#include "tst_e2e_network.moc"
