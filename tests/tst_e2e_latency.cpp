// A sensor that answers late, in real time: echogauge-sim on a pseudo-terminal
// answering a set time after each whole request, as a sensor behind a USB adapter
// does, and the window's search, configuration read, set-up write, upload of a depth
// channel and a measurement against it, each of which must succeed at its first
// attempt. Prints the time each exchange took at each answer delay.
#include "SimHarness.h"

#include "core/Timer.h"
#include "exchange/Autodetect.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

namespace {

struct Exchange
{
    const char *name;
    QString done; // the status text it ends with
    std::function<void(TformMain &)> start;
};

} // namespace

class TestE2eLatency : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QStringList figures;

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QDir().mkpath(work.filePath("ports"));
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(work.filePath("ports")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath("config")));
        figures << QStringLiteral(
            "answer delay  line          search    read   write  upload measure  retries");
    }

    void cleanupTestCase()
    {
        for (const QString &line : figures)
            qInfo().noquote() << line;
    }

    void exchangesAtAnAnswerDelay_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("loggerBaud");
        QTest::addColumn<int>("port"); // one simulator each
        int port = 81;
        for (int ms : {0, 40, 100, 150})
            QTest::addRow("%d ms, direct", ms) << ms << 0 << port++;
        QTest::newRow("1000 ms, logger at 19200") << 1000 << 19200 << port;
    }

    void exchangesAtAnAnswerDelay()
    {
        QFETCH(int, delayMs);
        QFETCH(int, loggerBaud);
        QFETCH(int, port);
        const bool passthrough = loggerBaud != 0;
        QStringList args{"--latency", QString::number(delayMs)};
        if (passthrough)
            args << "--logger" << QString::number(loggerBaud);
        Simulator sim(port, args);
        QVERIFY2(sim.waitPublished(), sim.output.constData());

        RecordingDialogs dialogs;
        std::unique_ptr<TformMain> form = realTimeWindow(&dialogs, QStringLiteral("e2e-latency"));
        StatusRecorder statuses(form->statusBar);
        form->options = passthrough ? searchPassthrough19200 : searchDirect9600;
        const _TAutoDetectArrayEntry last{qint16(port), QStringLiteral("COM%1").arg(port),
                                          passthrough ? loggerBaud : 9600, passthrough};
        const QString read = QStringLiteral(" Sensor data received from EchoGauge");
        const QList<Exchange> exchanges{
            // The search hands the sensor on to the configuration read: both are timed.
            {"search and read", read, [&](TformMain &w) { w.StartSearch(last); }},
            // The sensor comes with a depth set-up, which the read has put in the window.
            {"write", QStringLiteral(" Sensor data successfully written"),
             [](TformMain &w) { w.StartWriteConfig(); }},
            {"upload", QStringLiteral(" Channel data successfully written"),
             [](TformMain &w) { w.btnSendChannelDataClick(); }},
            {"measure", QStringLiteral(" Depth = 1.000m"), [](TformMain &w) { w.StartMeasurement(false); }},
        };

        QElapsedTimer clock;
        QList<qint64> readStarts;
        connect(form->statusBar, &QStatusBar::messageChanged, form.get(), [&](const QString &text) {
            if (text == QLatin1String(" Requesting sensor data ..."))
                readStarts << clock.elapsed();
        });
        QList<qint64> times;
        int retries = 0;
        QStringList retried;
        for (const Exchange &e : exchanges) {
            clock.start();
            e.start(*form);
            const bool ended = QTest::qWaitFor(
                [&] { return form->portState == psIdle && !form->timerPortService->isActive(); }, 60000);
            times << clock.elapsed();
            const QStringList texts = statuses.take();
            for (const QString &t : texts)
                if (t.contains(QLatin1String(" (Attempt "))) {
                    ++retries;
                    retried << QStringLiteral("%1: %2").arg(e.name, t);
                }
            QVERIFY2(ended && form->statusText() == e.done,
                     qPrintable(QStringLiteral("%1: %2").arg(e.name, texts.join('|'))));
        }
        QCOMPARE(readStarts.size(), 1);
        // The search's own time ends where the read's request goes out.
        times.insert(1, times[0] - readStarts[0]);
        times[0] = readStarts[0];
        figures << QStringLiteral("%1 ms  %2%3 %4 %5 %6 %7 %8")
                       .arg(delayMs, 7)
                       .arg(passthrough ? QStringLiteral("logger 19200") : QStringLiteral("direct 9600 "))
                       .arg(times[0], 9)
                       .arg(times[1], 7)
                       .arg(times[2], 7)
                       .arg(times[3], 7)
                       .arg(times[4], 7)
                       .arg(retries, 8);
        // Every listed delay is one the exchanges must meet at the first attempt.
        QVERIFY2(retried.isEmpty(), qPrintable(retried.join(QLatin1String(" | "))));
    }
};

QTEST_MAIN(TestE2eLatency)
#include "tst_e2e_latency.moc"
