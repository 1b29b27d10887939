// Measurements on the virtual clock: the reply decoder, what a reply shows, the
// attempts and time-outs, and continuous measurement with the in-process sensor.
#include "ExchangeRig.h"

#include "app/Distance.h"
#include "measure/Measure.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

const QString requesting = QStringLiteral(" Requesting measurement");
const QString notReceived = QStringLiteral("  Measurement results not received");

// A window with port 3 open on a line where nothing answers by itself: the test puts
// the "reply" into the receive buffer once the request has gone out.
struct MeasureRig : ExchangeRig
{
    explicit MeasureRig(bool passthrough = false) : ExchangeRig(QStringLiteral("measure"))
    {
        serial.addSilentPort(3);
        OpenPort(&form->commPort, 3, passthrough ? 19200 : 9600);
        form->sensorPassthrough = passthrough;
    }

    // Starts a measurement and runs the clock until its request has left completely.
    void startAndSend()
    {
        form->menuMeasureClick();
        QVERIFY(clock.advanceUntil([this] { return sentRequests() == 1 && !form->timerSlowTx->isActive(); },
                                   2000));
    }

    // Starts a measurement, puts the bytes in once its request has left, and runs one tick.
    void startAndReply(const QByteArray &bytes)
    {
        startAndSend();
        reply(bytes);
        clock.advance(100);
    }

    int sentRequests() const { return serial.written(3).count("PDAs"); }

    void reply(const QByteArray &bytes) { form->rxBuffer->Put(bytes.constData(), qint32(bytes.size())); }

    QString remaining() const
    {
        return QString::fromLatin1(form->rxBuffer->ReadString(form->rxBuffer->Count()));
    }

    // Ticks of the measurement's working state that looked for the reply: the ticks
    // while the request is still going out leave the time-out untouched.
    int polls(int timeoutMs) const
    {
        int n = 0;
        for (const Tick &t : ticks)
            if (t.state == psMeasure && t.timeLeft > 0 && t.timeLeft < timeoutMs && t.timerOn)
                ++n;
        return n;
    }
};

} // namespace

class TestMeasure : public QObject
{
    Q_OBJECT

private slots:
    void decoder_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("validSamples");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("gain");

        QTest::newRow("valid depth") << QByteArray("01234,1,5,5,3,") << 1234 << true << 5 << 5 << 3;
        QTest::newRow("validity flag 0") << QByteArray("01234,0,2,5,3,") << 1234 << false << 2 << 5 << 3;
        QTest::newRow("flag other than 1 is invalid")
            << QByteArray("01234,Y,2,5,3,") << 1234 << false << 2 << 5 << 3;
        QTest::newRow("letter as gain") << QByteArray("01234,1,5,5,X,") << 1234 << true << 5 << 5 << -1;
        QTest::newRow("letter as samples") << QByteArray("01234,1,5,?,3,") << 1234 << true << 5 << -1 << 3;
        QTest::newRow("blank as valid samples")
            << QByteArray("01234,1, ,5,3,") << 1234 << true << -1 << 5 << 3;
        QTest::newRow("largest count") << QByteArray("65535,1,9,9,9,") << 65535 << true << 9 << 9 << 9;
        QTest::newRow("zero") << QByteArray("00000,1,0,0,0,") << 0 << true << 0 << 0 << 0;
        QTest::newRow("value padded with blanks")
            << QByteArray("  123,1,5,5,3,") << 123 << true << 5 << 5 << 3;
        QTest::newRow("letter in the value") << QByteArray("01A34,1,5,5,3,") << -1 << true << 5 << 5 << 3;
        QTest::newRow("blank inside the value") << QByteArray("12 34,1,5,5,3,") << -1 << true << 5 << 5 << 3;
        QTest::newRow("hexadecimal is not a number")
            << QByteArray("$00FF,1,5,5,3,") << -1 << true << 5 << 5 << 3;
        QTest::newRow("no digits at all") << QByteArray("    -,1,5,5,3,") << -1 << true << 5 << 5 << 3;
        QTest::newRow("negative value") << QByteArray("-0012,1,5,5,3,") << -12 << true << 5 << 5 << 3;
        QTest::newRow("too short") << QByteArray("01234,1,5,5,3") << -1 << false << -1 << -1 << -1;
    }

    void decoder()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, value);
        QFETCH(bool, valid);
        QFETCH(int, validSamples);
        QFETCH(int, samples);
        QFETCH(int, gain);

        const MeasurementReply r = DecodeMeasurementReply(reply);
        QCOMPARE(r.value, value);
        QCOMPARE(r.valid, valid);
        QCOMPARE(int(r.validSamples), validSamples);
        QCOMPARE(int(r.samples), samples);
        QCOMPARE(int(r.gain), gain);
        QCOMPARE(r.hasNegativeField(), value < 0 || validSamples < 0 || samples < 0 || gain < 0);
    }

    void flowTexts_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<QString>("text");
        QTest::newRow("litres per second") << 123 << 3 << QStringLiteral("12.3 l/s");
        QTest::newRow("cubic metres from 0.1 up") << 2000 << 3 << QStringLiteral("0.200 m\u00B3/s");
        QTest::newRow("just under 0.1") << 999 << 3 << QStringLiteral("99.9 l/s");
        QTest::newRow("exponent 0") << 12345 << 0 << QStringLiteral("1234.500 m\u00B3/s");
        QTest::newRow("nothing flowing") << 0 << 2 << QStringLiteral("0.0 l/s");
    }

    void flowTexts()
    {
        QFETCH(int, value);
        QFETCH(int, exponent);
        QTEST(FlowResultText(MeasuredFlow(value, exponent)), "text");
    }

    // A reply after other bytes: what precedes it is dropped, what follows it stays.
    void replyAfterOtherBytes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("samples");
        QTest::addColumn<QString>("gain");
        QTest::addColumn<int>("value");

        const QString m3s = QStringLiteral("0.200 m\u00B3/s");
        QTest::newRow("depth after OK")
            << 1 << 0 << QByteArray("OK\r01234,1,5,5,3,\r\n") << QString("Depth = ")
            << FormatDistance(1234, true) << QString("\r\n") << QString("5 / 5") << QString("3") << 1234;
        QTest::newRow("distance") << 0 << 0 << QByteArray("02750,1,4,5,2,") << QString("Distance = ")
                                  << QString("2.750m") << QString() << QString("4 / 5") << QString("2")
                                  << 2750;
        QTest::newRow("rectangular weir, l/s")
            << 2 << 3 << QByteArray("00123,1,5,5,3,") << QString("Flow = ") << QString("12.3 l/s")
            << QString() << QString("5 / 5") << QString("3") << 123;
        QTest::newRow("V-notch, m3/s") << 4 << 3 << QByteArray("xx02000,1,3,5,7,01") << QString("Flow = ")
                                       << m3s << QString("01") << QString("3 / 5") << QString("7") << 2000;
    }

    void replyAfterOtherBytes()
    {
        QFETCH(int, type);
        QFETCH(int, exponent);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, caption);
        QFETCH(QString, result);
        QFETCH(int, value);

        MeasureRig rig;
        rig.form->cbChanType->setCurrentIndex(type);
        rig.form->flowExponent = exponent;
        rig.startAndReply(bytes);

        QCOMPARE(rig.form->portState, qint8(psIdle));
        QCOMPARE(rig.form->labelLast->text(), caption);
        QCOMPARE(rig.form->textResultHeight->text(), result);
        QCOMPARE(rig.form->statusText(), QLatin1Char(' ') + caption + result);
        QTEST(rig.form->textResultSamples->text(), "samples");
        QTEST(rig.form->textResultGain->text(), "gain");
        QTEST(rig.remaining(), "left");
        QVERIFY(rig.form->btnMeasure->isEnabled());
        QVERIFY(rig.form->textResultHeight->isVisibleTo(rig.form->GroupBox1));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(!rig.form->timerSonar->isActive());
        QCOMPARE(rig.form->historyEntries->size(), qint64(1));
        QCOMPARE(rig.form->historyEntries->at(0).value, value);
        QCOMPARE(rig.sentRequests(), 1);
    }

    void invalidReading()
    {
        MeasureRig rig;
        rig.form->labelLast->setText(QStringLiteral("Depth = "));
        rig.startAndReply("01234,0,2,5,3,");

        QCOMPARE(rig.form->statusText(), QStringLiteral(" Measurement Invalid"));
        for (QLabel *l : {rig.form->textResultHeight, rig.form->textResultSamples, rig.form->textResultGain})
            QCOMPARE(l->text(), QStringLiteral("<Invalid>"));
        QCOMPARE(rig.form->labelLast->text(), QStringLiteral("Depth = ")); // left as it was
        QCOMPARE(rig.form->historyEntries->size(), qint64(1));
        const TGraphEntry &e = rig.form->historyEntries->at(0);
        QCOMPARE(e.value, -1);
        QCOMPARE(e.samples, qint8(5));
        QCOMPARE(e.validSamples, qint8(2));
        // The flow keeps what the reply's count gave.
        QCOMPARE(e.flow, MeasuredFlow(1234, 0));
        const HistoryPlacement at = PlaceHistoryEntry(e, 0, 0, rig.form->historyScales());
        QCOMPARE(at.headBar.height(), 0);
    }

    // A letter in the gain position: the 14 characters are consumed and ignored, and
    // with nothing else coming the attempt runs out and the request goes again.
    void damagedReplyIsIgnoredThenSecondAttempt()
    {
        MeasureRig rig;
        rig.startAndReply("01234,1,5,5,X,");
        QCOMPARE(rig.form->rxBuffer->Count(), 0);
        QCOMPARE(rig.form->portState, qint8(psMeasure));
        QCOMPARE(rig.form->historyEntries->size(), qint64(0));

        rig.clock.advance(3000);
        QCOMPARE(rig.sentRequests(), 2);
        // Started at 0: the preparation at 16, attempt 1 at 32; the quiet-line pass ends at
        // 132 and the seven characters leave at 152..272; the ticks at 332..1632 look for
        // the reply (14 of them) and the tick at 1732 finds the 1.5 s gone.
        QCOMPARE(rig.firstMessageTime(requesting + " ..."), qint64(32));
        QCOMPARE(rig.serial.writeTimes(3).first(), qint64(152));
        QCOMPARE(rig.serial.writeTimes(3).at(6), qint64(272));
        QCOMPARE(rig.firstMessageTime(requesting + " (Attempt 2) ..."), qint64(1732));
        QVERIFY(rig.form->textResultHeight->isHidden()); // still waiting
    }

    // Half a reply at the end of the buffer stays there until the rest arrives.
    void halfReplyCompletedOnTheNextTick()
    {
        MeasureRig rig;
        rig.form->cbChanType->setCurrentIndex(0);
        rig.startAndReply("OK\r01234,1,");
        QCOMPARE(rig.form->portState, qint8(psMeasure));
        QCOMPARE(rig.form->rxBuffer->Count(), 11);
        QVERIFY(rig.form->statusText().startsWith(requesting + " ..."));

        rig.reply("5,5,3,");
        rig.clock.advance(100);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QCOMPARE(rig.form->textResultHeight->text(), QStringLiteral("1.234m"));
        QCOMPARE(rig.form->textResultSamples->text(), QStringLiteral("5 / 5"));
        QCOMPARE(rig.form->textResultGain->text(), QStringLiteral("3"));
        QCOMPARE(rig.form->rxBuffer->Count(), 0);
    }

    // Without any reply: three attempts of 1.5 s (2 s through a logger), each looking
    // for the reply on every 100 ms tick, then the failure.
    void noReplyFails_data()
    {
        QTest::addColumn<bool>("passthrough");
        QTest::addColumn<int>("pollsPerAttempt");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("failureAfterThird");
        // 300 = 100 quiet + ticks at 200 (sending) and 300 (counting); 500 likewise with 15 characters.
        QTest::newRow("direct") << false << 14 << 1500 << QByteArray("...PDAs") << 300 + 1400;
        QTest::newRow("through a logger")
            << true << 19 << 2000 << QByteArray("...EGCNFG(PDAs)") << 500 + 1900;
    }

    void noReplyFails()
    {
        QFETCH(bool, passthrough);
        QFETCH(int, pollsPerAttempt);
        QFETCH(int, timeoutMs);
        QFETCH(QByteArray, request);
        QFETCH(int, failureAfterThird);

        MeasureRig rig(passthrough);
        rig.form->textResultHeight->setText(QStringLiteral("1.000m"));
        rig.form->menuMeasureClick();
        rig.clock.advance(20000);

        QCOMPARE(rig.serial.written(3), request + request + request);
        QCOMPARE(rig.polls(timeoutMs), 3 * pollsPerAttempt);
        QCOMPARE(rig.statusSteps(), (QStringList{requesting + " ...", requesting + " (Attempt 2) ...",
                                                 requesting + " (Attempt 3) ...", notReceived}));
        // The third request: its status, the 100 ms quiet-line pass, the characters at
        // 20 ms each (7 direct, 15 framed) and one more interval before the sender stops;
        // the first tick after that counts, and the time-out is counted off in 100 ms steps.
        const qint64 third = rig.firstMessageTime(requesting + " (Attempt 3) ...");
        QCOMPARE(rig.firstMessageTime(notReceived) - third, qint64(failureAfterThird));
        const QList<qint64> writes = rig.serial.writeTimes(3);
        // About 6 s (three time-outs) plus three quiet-line passes and the sending.
        const qint64 fromFirstRequest = rig.firstMessageTime(notReceived) - writes.first();
        QVERIFY2(fromFirstRequest >= 3 * timeoutMs && fromFirstRequest < 3 * timeoutMs + 1500,
                 qPrintable(QString::number(fromFirstRequest)));

        for (QLabel *l : {rig.form->textResultHeight, rig.form->textResultSamples, rig.form->textResultGain})
            QCOMPARE(l->text(), QStringLiteral("<Error>"));
        QCOMPARE(rig.form->historyEntries->size(), qint64(0));
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(rig.form->commPort.isOpen());
        QVERIFY(rig.form->btnMeasure->isEnabled());
        QVERIFY(!rig.form->timerSonar->isActive());
    }

    // With the in-process sensor: a continuous series restarts after every ending,
    // success or failure, and clearing the box lets the one in progress finish.
    void continuousSeries()
    {
        ExchangeRig rig(QStringLiteral("measure"));
        SimSensor *sensor = rig.serial.addSensor(3);
        rig.form->menuSearchClick();
        // The search is followed by the configuration read.
        QVERIFY(rig.clock.advanceUntil([&] { return rig.form->portState == psIdle; }, 30000));
        rig.form->cbChanType->setCurrentIndex(0);

        rig.form->cb_Continuous->setChecked(true);
        rig.form->menuMeasureClick();
        QVERIFY(rig.clock.advanceUntil([&] { return rig.form->historyEntries->size() == 5; }, 10000));
        for (qint64 i = 0; i < 5; ++i)
            QCOMPARE(rig.form->historyEntries->at(i).value,
                     sensor->reg(23) - sensor->distanceMm()); // a depth
        // Each success starts the next measurement at once.
        QCOMPARE(rig.form->portState, qint8(psMeasurePrepare));
        QVERIFY(rig.form->timerSonar->isActive());
        // A series keeps the last result on screen meanwhile.
        QVERIFY(!rig.form->textResultHeight->isHidden());

        // The sensor falls silent: the failures follow each other too.
        sensor->faults.silent = true;
        rig.messages.clear();
        rig.clock.advance(12000);
        QCOMPARE(rig.statusSteps().count(notReceived), 2);
        QCOMPARE(rig.form->historyEntries->size(), qint64(5));
        QVERIFY(rig.form->portState == psMeasure || rig.form->portState == psMeasurePrepare);

        // Clearing the box ends the series with the measurement in progress.
        sensor->faults.silent = false;
        const int before = int(sensor->requests.count("PDAs"));
        rig.form->cb_Continuous->setChecked(false);
        rig.clock.advance(8000);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(!rig.form->timerSonar->isActive());
        QVERIFY(sensor->requests.count("PDAs") - before <= 1);
        const qint64 after = rig.form->historyEntries->size();
        rig.clock.advance(5000);
        QCOMPARE(rig.form->historyEntries->size(), after);
    }

    // A search that takes over a measurement ends its animation as well.
    void searchStopsTheAnimation()
    {
        MeasureRig rig;
        rig.startAndSend();
        QVERIFY(rig.form->timerSonar->isActive());
        rig.form->menuSearchClick();
        QVERIFY(!rig.form->timerSonar->isActive());
        for (const TSoundWave &w : rig.form->soundWaves)
            QVERIFY(!w.drawn);
    }
};

QTEST_MAIN(TestMeasure)
#include "tst_measure.moc"
