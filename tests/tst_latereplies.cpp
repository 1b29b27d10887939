// Every exchange against a sensor that answers late, as one behind a USB adapter does:
// an answer that is all there by the tick at which the attempt's wait runs out is
// taken, one that comes after it is not. On the virtual clock with the in-process
// sensor, which answers a set time after the whole request.
#include "ExchangeRig.h"

#include "model/LineSettings.h"

#include "exchange/Autodetect.h"

#include <QComboBox>
#include <QTest>

namespace {

const QString readOk = QStringLiteral(" Sensor data received from EchoGauge");

// One exchange run to its end against the sensor on COM3, direct or behind a logger,
// answering latencyMs after each whole request, or never when latencyMs is -1.
struct LateRun
{
    ExchangeRig rig{QStringLiteral("latereplies")};
    SimSensor *sensor = nullptr;

    LateRun(const QString &exchange, int loggerBaud, int latencyMs)
    {
        SimFaults faults;
        faults.silent = latencyMs < 0;
        TformMain &w = *rig.form;
        if (exchange == QLatin1String("search")) {
            SimOptions o;
            o.loggerBaud = loggerBaud;
            o.faults = faults;
            o.latencyMs = latencyMs;
            sensor = rig.serial.addSensor(3, o);
            w.options = loggerBaud ? searchPassthrough19200 : searchDirect9600;
            w.menuSearchClick();
        } else {
            sensor = rig.connectSensor(loggerBaud, faults);
            rig.serial.device(3)->latencyMs = latencyMs;
            if (exchange == QLatin1String("read")) {
                w.StartReadConfig();
            } else if (exchange == QLatin1String("write")) {
                w.btnHeightUpClick();
                w.StartWriteConfig();
            } else if (exchange == QLatin1String("measure")) {
                w.StartMeasurement(false);
            } else {
                w.cbChanType->setCurrentIndex(ctMeasureDepth);
                w.btnSendChannelDataClick(); // the eight settings of a depth channel
            }
        }
        rig.clock.advanceUntil([&w] { return w.portState == psIdle && !w.timerPortService->isActive(); },
                               200000);
    }

    // The status texts from the first request on, without the port's opening.
    QStringList steps() const
    {
        QStringList out = rig.statusSteps();
        while (!out.isEmpty() && !out.first().endsWith(QLatin1String(" ...")))
            out.removeFirst();
        return out;
    }
    // The first request's answer was taken: no second attempt at it.
    bool firstAnswerTaken() const
    {
        const QStringList s = steps();
        return s.size() > 1 && !s.at(1).contains(QLatin1String(" (Attempt 2)"));
    }
};

// How many bytes of the reply must be in before the exchange can take it.
int neededBytes(const QString &exchange, const SimSensor &sensor)
{
    if (exchange == QLatin1String("search"))
        return 31; // "EchoGauge 18F2620 Version ??.??"
    if (exchange == QLatin1String("measure"))
        return 14; // "?????,?,?,?,?,"
    if (exchange == QLatin1String("read")) {
        // The last register's value and one character after it, which shows it whole.
        const QByteArray marker("(R132): ");
        const QByteArray dump = sensor.dump();
        return int(dump.indexOf(marker) + marker.size() + QByteArray::number(sensor.reg(132)).size() + 1);
    }
    return 3; // "OK\r"
}

// The largest answer delay after the first request whose needed bytes are all in by
// the tick at which that request's wait runs out: taken from a run against a silent
// sensor (the same timeline up to that tick), the last character of the request, its
// way to the device and the reply's own characters.
int lastLatencyInTime(const QString &exchange, int loggerBaud)
{
    LateRun silent(exchange, loggerBaud, -1);
    qint64 waitEndMs = -1;
    for (const auto &m : silent.rig.messages)
        if (waitEndMs < 0 && m.second.contains(QLatin1String(" (Attempt 2)")))
            waitEndMs = m.first;
    // A request leaves one character per 20 ms; the next starts after a 100 ms quiet pass.
    const QList<qint64> writes = silent.rig.serial.writeTimes(3);
    qint64 requestEndMs = writes.value(0, -1);
    for (int i = 1; i < writes.size() && writes[i] - writes[i - 1] < 50; ++i)
        requestEndMs = writes[i];
    if (waitEndMs < 0 || requestEndMs < 0)
        return -1;
    const qint32 baud = loggerBaud ? loggerBaud : 9600;
    const qint64 onTheWayUs =
        characterMicros(baud) + characterMicros(baud, neededBytes(exchange, *silent.sensor));
    return int((waitEndMs * 1000 - requestEndMs * 1000 - onTheWayUs) / 1000);
}

} // namespace

class TestLateReplies : public QObject
{
    Q_OBJECT

private slots:
    // Answers at set delays inside every allowance: each exchange completes at its
    // first attempt of every request. Edge rows: the latest answer the wait lets in
    // is taken at the tick at which the wait runs out, one a millisecond later is not.
    void answerInsideTheWait_data()
    {
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<int>("loggerBaud");
        QTest::addColumn<int>("latencyMs"); // -1: the last in time, -2: one ms after it
        const QStringList all{"search", "read", "write", "measure", "upload"};
        for (const QString &e : all) {
            const QList<int> direct = (e == QLatin1String("write") || e == QLatin1String("upload"))
                                          ? QList<int>{40, 70, 100, 150, 200}
                                          : QList<int>{150};
            for (int ms : direct)
                QTest::addRow("%s, direct, %d ms", qPrintable(e), ms) << e << 0 << ms;
            QTest::addRow("%s, logger, 1000 ms", qPrintable(e)) << e << 19200 << 1000;
            for (int baud : {0, 19200}) {
                const char *line = baud ? "logger" : "direct";
                QTest::addRow("%s, %s, last in time", qPrintable(e), line) << e << baud << -1;
                QTest::addRow("%s, %s, just too late", qPrintable(e), line) << e << baud << -2;
            }
        }
    }

    void answerInsideTheWait()
    {
        QFETCH(QString, exchange);
        QFETCH(int, loggerBaud);
        QFETCH(int, latencyMs);

        if (latencyMs < 0) {
            const int edge = lastLatencyInTime(exchange, loggerBaud);
            QVERIFY(edge > 0);
            LateRun run(exchange, loggerBaud, latencyMs == -1 ? edge : edge + 1);
            QVERIFY2(run.firstAnswerTaken() == (latencyMs == -1), qPrintable(run.steps().join('|')));
            return;
        }

        LateRun run(exchange, loggerBaud, latencyMs);
        const QStringList steps = run.steps();
        for (const QString &s : steps)
            QVERIFY2(!s.contains(QLatin1String("(Attempt")), qPrintable(steps.join('|')));
        const QString end = run.rig.form->statusText();
        if (exchange == QLatin1String("search") || exchange == QLatin1String("read"))
            QCOMPARE(end, readOk);
        else if (exchange == QLatin1String("write"))
            QCOMPARE(end, QStringLiteral(" Sensor data successfully written"));
        else if (exchange == QLatin1String("measure"))
            QCOMPARE(end, QStringLiteral(" Distance = 1.000m")); // 1 m of water, reported as a depth
        else
            QCOMPARE(end, QStringLiteral(" Channel data successfully written"));
    }
};

QTEST_MAIN(TestLateReplies)
#include "tst_latereplies.moc"
