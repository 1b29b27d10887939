// The firmware upgrade in real time: the window's own code against echogauge-sim on
// a pseudo-terminal, with the stand-in loader (or a script in its place) in the data
// directory; and the built program started in a directory where a loader and an
// update file have been planted.
#include "model/UpdateImage.h"

#include "SimHarness.h"
#include "core/Timer.h"
#include "exchange/Autodetect.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString upgrading = QStringLiteral(" Upgrading EchoGauge firmware ...");

bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return !executable || f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

QByteArray updateImage(int major, int minor, int size = 1024)
{
    UpdateImageSpec s;
    s.major = major;
    s.minor = minor;
    s.size = size;
    return makeUpdateImage(s);
}

// Starts the program itself, offscreen and tracing its status texts on its standard
// error (gathered in trace), and waits until it reports the firmware out of date: its
// box then waits for a user. False when it did not get there within timeoutMs.
bool runToTheOutOfDateBox(QProcess &app, QProcessEnvironment env, QString *trace, int timeoutMs)
{
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ECHOGAUGE_TRACE_STATUS", "1");
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(EG_APP_PROGRAM), {});
    if (!app.waitForStarted())
        return false;
    return QTest::qWaitFor(
        [&] {
            *trace += QString::fromLocal8Bit(app.readAllStandardError());
            return trace->contains(QLatin1String("status:  EchoGauge firmware is out of date"));
        },
        timeoutMs);
}

} // namespace

class TestE2eFirmware : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    RecordingDialogs dialogs;
    std::unique_ptr<TformMain> form;
    QList<int> states;        // portState after every tick
    QStringList statuses;     // every status text shown
    int loaderTimerTicks = 0; // ticks of the window's timers while the loader ran
    int loaderPaints = 0;     // status bar repaints while the loader ran
    bool loaderRunning = false;

    QString ports() const { return work.filePath("ports"); }

    // A window on the real clock, port and process seams, its data directory dataDir.
    void makeForm(const QString &dataDir)
    {
        form = realTimeWindow(&dialogs, QStringLiteral("e2e-firmware"), dataDir);
        connect(form->timerPortService, &Timer::timeout, this, [this] { states << form->portState; });
        connect(form->statusBar, &QStatusBar::messageChanged, this, [this](const QString &text) {
            statuses << text;
            loaderRunning = text.startsWith(upgrading);
        });
        auto *ticker = new Timer(Clock::system(), 50, form.get());
        connect(ticker, &Timer::timeout, this, [this] { loaderTimerTicks += loaderRunning; });
        ticker->start();
        form->statusBar->installEventFilter(this);
        form->options = searchDirect9600;
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && loaderRunning)
            ++loaderPaints;
        return false;
    }

    // Searches with COM<port> as the last connection and waits until the search and
    // whatever it started have come to rest.
    bool search(int port)
    {
        states.clear();
        form->StartSearch({qint16(port), QStringLiteral("COM%1").arg(port), 9600, false});
        QTest::qWait(100);
        for (int i = 0; i < 600; ++i) {
            if (form->portState == psIdle && !form->timerPortService->isActive())
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // A data directory with the given loader program (the stand-in when none is given)
    // and a 1.13 update file of updateSize bytes.
    QString dataDir(const QString &name, const QByteArray &script, int updateSize = 1024)
    {
        const QString dir = work.filePath(name);
        QDir().mkpath(dir + "/UPD_Files");
        const QString loader = dir + "/flashldr.exe";
        if (script.isEmpty()) {
            QFile::copy(simLoaderProgram(), loader);
        } else if (!writeFile(loader, script, true)) {
            return QString();
        }
        return writeFile(dir + "/UPD_Files/fw113.upd", updateImage(1, 13, updateSize)) ? dir : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QDir().mkpath(ports());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(ports()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath("config")));
    }

    void cleanup()
    {
        form.reset();
        dialogs.messages.clear();
        statuses.clear();
        loaderTimerTicks = loaderPaints = 0;
        loaderRunning = false;
    }

    // 1.12 on the sensor, a 1.13 file and the stand-in loader: the sensor is upgraded
    // and its configuration read over the reopened port; the next search finds 1.13.
    void upgradeThroughTheLoader()
    {
        Simulator sim(71, {"--firmware", "01.12"});
        QVERIFY(sim.waitPublished());
        const QString data = dataDir("stand-in", QByteArray());
        QVERIFY(!data.isEmpty());
        makeForm(data);
        form->show();

        QVERIFY(search(71));
        QCOMPARE(form->sensorPort, qint16(71));
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(
            dialogs.messages[0].text,
            QStringLiteral("The EchoGauge firmware installed (V1.12) is out of date and will not work with "
                           "this software.\nAn update file for firmware V1.13 has been found and will be "
                           "installed now."));
        QCOMPARE(dialogs.messages[1].text, QStringLiteral("Firmware upgrade successful."));
        QVERIFY(statuses.contains(upgrading));
        QVERIFY(statuses.contains(QStringLiteral(" Firmware upgrade successful.")));
        QCOMPARE(int(form->firmwareVersion), 113);
        QVERIFY(states.contains(psReadConfigPrepare));
        QVERIFY(form->commPort.isOpen());
        QVERIFY2(form->textSerial->text().endsWith(QStringLiteral("V1.13")),
                 qPrintable(form->textSerial->text()));
        // The window was repainted while it waited, and its timers stood still.
        QVERIFY(loaderPaints > 0);
        QCOMPARE(loaderTimerTicks, 0);

        const int shown = statuses.size();
        QVERIFY(search(71));
        QCOMPARE(dialogs.messages.size(), 2); // 1.13 against a 1.13 file: nothing to say
        QVERIFY(!statuses.mid(shown).contains(upgrading));
        QCOMPARE(int(form->firmwareVersion), 113);
        QVERIFY(states.contains(psReadConfigPrepare));
    }

    void loaderThatFails_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("boundMs");
        QTest::addColumn<QString>("box");
        QTest::newRow("exits with 3") << QByteArray("#!/bin/sh\nexit 3\n") << 600000
                                      << QStringLiteral("The firmware upgrade has failed.");
        QTest::newRow("never ends") << QByteArray("#!/bin/sh\nexec sleep 600\n") << 1500
                                    << QStringLiteral(
                                           "An unknown error has occurred during the firmware upgrade!");
    }
    void loaderThatFails()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, boundMs);
        QFETCH(QString, box);

        Simulator sim(72, {"--firmware", "01.12"});
        QVERIFY(sim.waitPublished());
        const QString data = dataDir(QStringLiteral("script-%1").arg(boundMs), script);
        QVERIFY(!data.isEmpty());
        makeForm(data);
        form->loaderTimeoutMs = boundMs;

        QVERIFY(search(72));
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(dialogs.messages[1].text, box);
        QCOMPARE(dialogs.messages[1].icon, Dialogs::Icon::Error);
        QCOMPARE(statuses.last(), " " + box);
        QVERIFY(!form->commPort.isOpen());
        QVERIFY(!states.contains(psReadConfigPrepare));
        QCOMPARE(loaderTimerTicks, 0);
        QCOMPARE(int(form->firmwareVersion), 112);
    }

    // The program itself against 1.12 on the simulator, with the stand-in loader and a
    // 1.13 update file, sent SIGTERM while the "will be installed now" box waits for a
    // user: it quits at once, flashes nothing, reads nothing, and stores its settings
    // with the sensor's port.
    void terminatedWhileTheBoxIsOpen()
    {
        const int port = 74;
        const QString wire = work.filePath(QStringLiteral("wire-%1.log").arg(port));
        Simulator sim(port, {"--firmware", "01.12", "--wire-log", wire});
        QVERIFY(sim.waitPublished());
        const QString data = dataDir(QStringLiteral("quit-%1").arg(port), QByteArray());
        QVERIFY(!data.isEmpty());
        // The sensor's port is the one tried first, and only directly.
        const QString config = work.filePath(QStringLiteral("config-%1").arg(port));
        const QString conf = config + "/Brookmere/EchoGauge Setup.conf";
        QDir().mkpath(config + "/Brookmere");
        QVERIFY(writeFile(conf, QStringLiteral("[General]\nLeft=0\nTop=0\nWidth=0\nRight=0\nOptions=1\n"
                                               "Port=%1\nBaud=9600\nPassthrough=0\n")
                                    .arg(port)
                                    .toLatin1()));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ECHOGAUGE_DATA_DIR", data);
        env.insert("XDG_CONFIG_HOME", config);
        QProcess app;
        QString trace;
        QVERIFY2(runToTheOutOfDateBox(app, env, &trace, 30000), qPrintable(trace.right(600)));
        QTest::qWait(300); // the box is open and waits
        app.terminate();
        const bool ended = app.waitForFinished(10000);
        trace += QString::fromLocal8Bit(app.readAllStandardError());
        if (!ended)
            app.kill();
        QVERIFY2(ended, qPrintable(trace.right(600)));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);

        QVERIFY(!trace.contains(upgrading));
        const QByteArray toSensor = wireBytes(readWireLog(wire), '>');
        QVERIFY(!toSensor.contains("...UPD="));
        QVERIFY(!toSensor.contains("PDAh"));
        QSettings stored(conf, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Port")).toInt(), port);
        QCOMPARE(stored.value(QStringLiteral("Tx Delay")).toInt(), 20); // written on the way out
    }

    // A close request during a real flash by the stand-in loader (four seconds of
    // update file) is refused and held; once the loader has ended and the port is
    // back the window closes, with the sensor's port in its settings, no result box
    // waiting for a user and no configuration read.
    void closeRequestedDuringTheFlash()
    {
        const int port = 75;
        const QString wire = work.filePath(QStringLiteral("wire-%1.log").arg(port));
        Simulator sim(port, {"--firmware", "01.12", "--wire-log", wire});
        QVERIFY(sim.waitPublished());
        const QString data = dataDir(QStringLiteral("flash-%1").arg(port), QByteArray(), 4096);
        QVERIFY(!data.isEmpty());
        makeForm(data);
        QSettings store(form->platform.settingsOrganization, form->platform.settingsApplication);
        store.clear();
        form->show();
        bool asked = false, refused = false;
        connect(form->statusBar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            if (text != upgrading || asked)
                return;
            asked = true;
            QTimer::singleShot(500, this, [&] { refused = !form->close(); });
        });

        QVERIFY(search(port));
        QVERIFY(refused);
        QVERIFY(!form->isVisible());
        QCOMPARE(statuses.last(), QStringLiteral(" Firmware upgrade successful."));
        QCOMPARE(dialogs.messages.size(), 1); // the "will be installed now" box only
        QVERIFY(!states.contains(psReadConfigPrepare));
        const QList<WireRun> runs = readWireLog(wire);
        QVERIFY(wireBytes(runs, '>').contains("...UPD=4096\r"));
        QVERIFY(!wireBytes(runs, '>').contains("PDAh"));
        store.sync();
        QCOMPARE(store.value(QStringLiteral("Port")).toInt(), port);
    }

    // The program itself, started in a directory that holds a loader and a newer
    // update file: it looks beside itself, finds neither, and runs nothing.
    void plantedLoaderIsNotUsed()
    {
        Simulator sim(73, {"--firmware", "01.12"});
        QVERIFY(sim.waitPublished());
        const QString planted = work.filePath("planted");
        QDir().mkpath(planted + "/UPD_Files");
        const QString mark = planted + "/ran";
        QVERIFY(
            writeFile(planted + "/flashldr.exe", "#!/bin/sh\ntouch '" + mark.toLocal8Bit() + "'\n", true));
        QVERIFY(writeFile(planted + "/UPD_Files/fw120.upd", updateImage(1, 20)));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("ECHOGAUGE_DATA_DIR");
        QProcess app;
        app.setWorkingDirectory(planted);
        QString trace;
        // The out-of-date box then waits for a user; the status says which case it is.
        QVERIFY2(runToTheOutOfDateBox(app, env, &trace, 40000), qPrintable(trace.right(600)));
        QTest::qWait(500);
        trace += QString::fromLocal8Bit(app.readAllStandardError());
        app.kill();
        app.waitForFinished(5000);
        QVERIFY(!trace.contains(upgrading));
        QVERIFY(!QFile::exists(mark));
    }
};

QTEST_MAIN(TestE2eFirmware)
#include "tst_e2e_firmware.moc"
