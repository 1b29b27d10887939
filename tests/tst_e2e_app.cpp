// The built application against echogauge-sim on a real pseudo-terminal, in real
// time: started offscreen, it searches at start-up, reads the sensor's configuration
// and, closed with SIGTERM or SIGHUP, stores the connection it found.
#include "SimHarness.h"

#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <optional>

class TestE2eApp : public QObject
{
    Q_OBJECT

private slots:
    void startUpSearchStoresTheConnection_data()
    {
        QTest::addColumn<QString>("logger");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("passthrough");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("signal"); // what ends the program
        QTest::newRow("sensor wired directly")
            << QString() << 7 << 9600 << 0 << QStringLiteral("status:  Sensor data received from EchoGauge\n")
            << SIGTERM;
        // The terminal it was started from closes: it ends as on "Exit".
        QTest::newRow("sensor wired directly, hung up")
            << QString() << 7 << 9600 << 0 << QStringLiteral("status:  Sensor data received from EchoGauge\n")
            << SIGHUP;
        // With the default options the logger refuses the bare probe and the 9600
        // passthrough probe that follows finds the sensor.
        QTest::newRow("through a logger at 9600")
            << QStringLiteral("9600") << 7 << 9600 << 1
            << QStringLiteral("status:  Sensor data received from EchoGauge\n") << SIGTERM;
        QTest::newRow("through a logger at 19200")
            << QStringLiteral("19200") << 7 << 19200 << 1
            << QStringLiteral("status:  Sensor data received from EchoGauge\n") << SIGTERM;
        QTest::newRow("no simulator") << QStringLiteral("none") << -1 << 0 << 0
                                      << QStringLiteral("status:  EchoGauge not found!\n") << SIGTERM;
    }

    void startUpSearchStoresTheConnection()
    {
        QFETCH(QString, logger);
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(int, passthrough);
        QFETCH(QString, status);
        QFETCH(int, signal);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("ECHOGAUGE_PORTS_DIR", dir.filePath("ports"));
        env.insert("XDG_CONFIG_HOME", dir.path());
        env.insert("ECHOGAUGE_TRACE_STATUS", "1");
        QDir().mkpath(dir.filePath("ports"));

        std::optional<Simulator> sim;
        if (logger != QLatin1String("none")) {
            QStringList args{"--port", "COM7"};
            if (!logger.isEmpty())
                args << "--logger" << logger;
            sim.emplace(args, env);
            QVERIFY(sim->waitPublished());
        }

        QProcess app;
        app.setProcessEnvironment(env);
        app.start(EG_APP_PROGRAM, {});
        QVERIFY(app.waitForStarted());
        // The machine's own serial ports are searched too, so the time taken depends
        // on what else is listed: wait for the outcome rather than for a fixed time.
        QString trace;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (trace += QString::fromLocal8Bit(app.readAllStandardError()), trace.contains(status)),
            qPrintable(trace.right(600)), 40000);
        ::kill(pid_t(app.processId()), signal);
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);

        if (sim)
            sim->stop(5000);

        QSettings stored(dir.filePath("Brookmere/EchoGauge Setup.conf"), QSettings::IniFormat);
        QCOMPARE(stored.value("Port").toInt(), port);
        if (port >= 0) {
            QCOMPARE(stored.value("Baud").toInt(), baud);
            QCOMPARE(stored.value("Passthrough").toInt(), passthrough);
        }
    }
};

QTEST_MAIN(TestE2eApp)
#include "tst_e2e_app.moc"
