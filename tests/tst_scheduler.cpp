#include "ExchangeRig.h"

#include "exchange/Autodetect.h"
#include "serial/Tringbuffer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {
const QString probing = QStringLiteral(" Searching for EchoGauge - COM3");
} // namespace

class TestScheduler : public QObject
{
    Q_OBJECT

private slots:
    // A direct probe waits 500 ms: the port is polled on four ticks, 100 ms apart,
    // counted from the first tick after the last character has left; the fifth
    // tick sends the probe again as the second attempt.
    void directProbeIsPolledFourTimesThenResent()
    {
        ExchangeRig rig(QStringLiteral("scheduler"));
        rig.serial.addSilentPort(3);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(3000);

        const QList<qint64> writes = rig.serial.writeTimes(3);
        QVERIFY(writes.size() >= 14);
        const qint64 lastCharacter = writes.at(6);
        const qint64 resent = rig.firstMessageTime(probing + " (Attempt 2) ...");
        QVERIFY(resent > lastCharacter);

        QList<qint32> polled;
        QList<qint64> pollTimes;
        for (const auto &t : rig.ticks) {
            if (t.atMs <= lastCharacter || t.atMs >= resent || t.state != psSearch)
                continue;
            polled << t.timeLeft;
            pollTimes << t.atMs;
        }
        QCOMPARE(polled, (QList<qint32>{400, 300, 200, 100}));
        QVERIFY(pollTimes.first() - lastCharacter <= 100);
        for (int i = 1; i < pollTimes.size(); ++i)
            QCOMPARE(pollTimes.at(i) - pollTimes.at(i - 1), qint64(100));
        QCOMPARE(resent, pollTimes.last() + 100);
        // One progress dot per poll.
        QVERIFY(rig.messages.contains({pollTimes.last(), probing + " ......."}));
        QCOMPARE(rig.serial.written(3).left(14), QByteArray("...PDAC...PDAC"));
    }

    // While a request is still going out character by character, ticks change
    // nothing: no time is counted down, no attempt is made, the timer stays armed.
    void ticksWaitForTheSenderToFinish()
    {
        ExchangeRig rig(QStringLiteral("scheduler"));
        rig.serial.addSilentPort(3);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(16 + 850 + 100 + 20); // the first character is out
        QVERIFY(rig.form->timerSlowTx->isActive());

        const qint32 left = rig.form->timeLeft;
        const qint8 attempts = rig.form->attempt;
        const QString status = rig.form->statusText();
        int frozenTicks = 0;
        while (rig.form->timerSlowTx->isActive()) {
            const int before = rig.ticks.size();
            rig.clock.advance(10);
            if (rig.ticks.size() == before)
                continue;
            ++frozenTicks;
            QCOMPARE(rig.form->timeLeft, left);
            QCOMPARE(rig.form->attempt, attempts);
            QCOMPARE(rig.form->statusText(), status);
            QVERIFY(rig.form->timerPortService->isActive());
            QCOMPARE(rig.form->timerPortService->interval(), 100);
        }
        QVERIFY(frozenTicks >= 1);
    }

    void stateWithoutExchangeSwitchesTheTimerOff_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("idle") << 0;
        QTest::newRow("12") << 12;
        QTest::newRow("100") << 100;
        QTest::newRow("-1") << -1;
        QTest::newRow("-128") << -128;
        QTest::newRow("manual reply, window closed") << 11;
    }

    void stateWithoutExchangeSwitchesTheTimerOff()
    {
        QFETCH(int, state);
        ExchangeRig rig(QStringLiteral("scheduler"));
        rig.serial.addSensor(3);
        rig.form->setStatusText(QStringLiteral(" before"));
        rig.form->attempt = 2;
        rig.form->timeLeft = 300;
        rig.form->portState = qint8(state);
        rig.form->timerPortService->setInterval(16);
        rig.form->timerPortService->start();
        rig.clock.advance(16);

        QVERIFY(!rig.form->timerPortService->isActive());
        QCOMPARE(rig.form->portState, qint8(state)); // the number itself is kept
        QCOMPARE(rig.form->attempt, qint8(2));
        QCOMPARE(rig.form->timeLeft, 300);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" before"));
        QVERIFY(rig.serial.opens.isEmpty());
        QVERIFY(rig.serial.writes.isEmpty());
        rig.clock.advance(1000);
        QCOMPARE(rig.ticks.size(), 1);
    }

    void preparationStartsAFreshExchange_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("chanType");
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("channelStep");

        QTest::newRow("search") << 2 << 0 << 1 << 100 << 0;
        QTest::newRow("read configuration") << 3 << 0 << 4 << 16 << 0;
        QTest::newRow("write configuration") << 5 << 0 << 6 << 16 << 0;
        QTest::newRow("measurement") << 7 << 0 << 8 << 16 << 0;
        QTest::newRow("channel type 0: settings only") << 9 << 0 << 10 << 16 << 64;
        QTest::newRow("channel type 1: settings only") << 9 << 1 << 10 << 16 << 64;
        QTest::newRow("channel type 2: with the table") << 9 << 2 << 10 << 16 << 0;
        QTest::newRow("channel type 3: with the table") << 9 << 3 << 10 << 16 << 0;
        QTest::newRow("channel type 4: with the table") << 9 << 4 << 10 << 16 << 0;
    }

    void preparationStartsAFreshExchange()
    {
        QFETCH(int, state);
        QFETCH(int, chanType);
        QFETCH(int, next);
        QFETCH(int, interval);
        QFETCH(int, channelStep);

        ExchangeRig rig(QStringLiteral("scheduler"));
        while (rig.form->cbChanType->count() < 5)
            rig.form->cbChanType->addItem(QString::number(rig.form->cbChanType->count()));
        rig.form->cbChanType->setCurrentIndex(chanType);
        rig.form->channelStep = 33;
        rig.form->rxBuffer->Put("left over", 9);
        rig.form->attempt = 3;
        rig.form->timeLeft = -40;
        rig.form->portState = qint8(state);
        rig.form->timerPortService->setInterval(16);
        rig.form->timerPortService->start();
        rig.clock.advance(16);

        QCOMPARE(rig.form->portState, qint8(next));
        QCOMPARE(rig.form->rxBuffer->Count(), 0);
        QCOMPARE(rig.form->attempt, qint8(0));
        QCOMPARE(rig.form->timeLeft, 0);
        QCOMPARE(rig.form->timerPortService->interval(), interval);
        QVERIFY(rig.form->timerPortService->isActive());
        QCOMPARE(int(rig.form->channelStep), state == 9 ? channelStep : 33);
    }

    void startOperationsArmTheFirstState_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("state");
        QTest::newRow("read configuration") << 0 << 3;
        QTest::newRow("write configuration") << 1 << 5;
        QTest::newRow("measurement") << 2 << 7;
        QTest::newRow("channel upload") << 3 << 9;
        QTest::newRow("search") << 4 << 1;
    }

    void startOperationsArmTheFirstState()
    {
        QFETCH(int, which);
        QFETCH(int, state);
        ExchangeRig rig(QStringLiteral("scheduler"));
        rig.form->EnableSensorControls(true);
        rig.form->portState = 11; // a start operation overrides whatever was there
        rig.form->timeLeft = 900;
        rig.form->timerPortService->setInterval(100);
        switch (which) {
        case 0:
            rig.form->StartReadConfig();
            break;
        case 1:
            rig.form->StartWriteConfig();
            break;
        case 2:
            rig.form->StartMeasurement(true);
            break;
        case 3:
            rig.form->StartChannelUpload();
            break;
        default:
            rig.form->menuSearchClick();
            break;
        }
        QCOMPARE(rig.form->portState, qint8(state));
        QCOMPARE(rig.form->timeLeft, 0);
        QCOMPARE(rig.form->timerPortService->interval(), 16);
        QVERIFY(rig.form->timerPortService->isActive());
        QVERIFY(!rig.form->btnMeasure->isEnabled());
        QVERIFY(!rig.form->menuSetHeight->isEnabled());
        QVERIFY(rig.form->menuSearch->isEnabled());
    }

    // The dispatcher starts the next measurement when one ends while "Continuous"
    // is checked, and stops the series once it is unchecked.
    void continuousMeasurementRestarts()
    {
        ExchangeRig rig(QStringLiteral("scheduler"));
        rig.form->cb_Continuous->setChecked(true);
        rig.form->StartMeasurement(true);
        rig.clock.advance(16);
        QCOMPARE(rig.form->portState, qint8(psMeasure));

        // No sensor is connected: each measurement fails after its three attempts, and its
        // end starts the next one.
        int restarts = 0;
        for (int i = 0; i < 20000 && restarts < 2; ++i) {
            const qint8 before = rig.form->portState;
            rig.clock.advance(1);
            if (before == psMeasure && rig.form->portState == psMeasurePrepare) {
                ++restarts;
                QVERIFY(rig.form->timerPortService->isActive());
                QCOMPARE(rig.form->timerPortService->interval(), 16);
            }
        }
        QCOMPARE(restarts, 2);

        rig.form->cb_Continuous->setChecked(false);
        rig.clock.advance(60000);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(rig.form->btnMeasure->isEnabled());
    }

    void sensorControlsFollowTheExchange()
    {
        ExchangeRig rig(QStringLiteral("scheduler"));
        const QList<QWidget *> widgets{
            rig.form->trackSensorHeight, rig.form->btnHeightUp,   rig.form->btnHeightDown,
            rig.form->btnMeasure,        rig.form->btnSetHeight,  rig.form->cbChanType,
            rig.form->tbNotchData,       rig.form->btnChanInc,    rig.form->btnChanDec,
            rig.form->editNotchWidth,    rig.form->udNotchWidth,  rig.form->editCrestHeight,
            rig.form->udCrestHeight,     rig.form->editChanWidth, rig.form->udChanWidth,
            rig.form->btnSendChannelData};
        const QList<QAction *> actions{rig.form->menuMeasure, rig.form->menuReadHeight,
                                       rig.form->menuSetHeight};
        const QList<QWidget *> fields{rig.form->textSensorHeight, rig.form->textResultHeight,
                                      rig.form->textResultSamples, rig.form->textResultGain};
        for (QWidget *f : fields)
            f->setVisible(false);

        rig.form->EnableSensorControls(true);
        for (QWidget *w : widgets)
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        for (QAction *a : actions)
            QVERIFY2(a->isEnabled(), qPrintable(a->text()));
        for (QWidget *f : fields)
            QVERIFY(!f->isHidden());

        rig.form->EnableSensorControls(false);
        for (QWidget *w : widgets)
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        for (QAction *a : actions)
            QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        for (QWidget *f : fields)
            QVERIFY(!f->isHidden()); // shown once, never hidden again
        QVERIFY(rig.form->menuSearch->isEnabled());
        QVERIFY(rig.form->menuOptions->isEnabled());
    }
};

QTEST_MAIN(TestScheduler)
#include "tst_scheduler.moc"
