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
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

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

QByteArray updateImage(int major, int minor)
{
    UpdateImageSpec s;
    s.major = major;
    s.minor = minor;
    return makeUpdateImage(s);
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

    // A data directory with the given loader program and a 1.13 update file.
    QString dataDir(const QString &name, const QByteArray &script)
    {
        const QString dir = work.filePath(name);
        QDir().mkpath(dir + "/UPD_Files");
        const QString loader = dir + "/flashldr.exe";
        if (script.isEmpty()) {
            QFile::copy(simLoaderProgram(), loader);
        } else if (!writeFile(loader, script, true)) {
            return QString();
        }
        return writeFile(dir + "/UPD_Files/fw113.upd", updateImage(1, 13)) ? dir : QString();
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
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("ECHOGAUGE_TRACE_STATUS", "1");
        env.remove("ECHOGAUGE_DATA_DIR");
        QProcess app;
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(planted);
        app.start(QStringLiteral(EG_APP_PROGRAM), {});
        QVERIFY(app.waitForStarted());
        QString trace;
        // The out-of-date box then waits for a user; the status says which case it is.
        QTRY_VERIFY2_WITH_TIMEOUT(
            (trace += QString::fromLocal8Bit(app.readAllStandardError()),
             trace.contains(QLatin1String("status:  EchoGauge firmware is out of date"))),
            qPrintable(trace.right(600)), 40000);
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
