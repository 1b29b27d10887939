#include "core/Clock.h"
#include "core/Timer.h"

#include <QTest>
#include <QThread>
#include <QTimer>

// The virtual clock must fire timers as the message-driven timers of the program
// do, or every timing test built on it proves nothing.
class TestClock : public QObject
{
    Q_OBJECT

private slots:
    void periodicTimerFiresOnEveryInterval()
    {
        VirtualClock clock;
        Timer t(&clock, 20);
        QList<qint64> fired;
        connect(&t, &Timer::timeout, [&] { fired << clock.nowMs(); });
        t.start();
        clock.advance(100);
        QCOMPARE(fired, (QList<qint64>{20, 40, 60, 80, 100}));
    }

    void handlerReArmingRestartsTheFullInterval()
    {
        VirtualClock clock;
        Timer t(&clock, 16);
        QList<qint64> fired;
        connect(&t, &Timer::timeout, [&] {
            fired << clock.nowMs();
            t.stop();
            t.setInterval(100);
            t.start();
        });
        t.start();
        clock.advance(300);
        QCOMPARE(fired, (QList<qint64>{16, 116, 216}));
    }

    void changingTheIntervalOfARunningTimerRestartsIt()
    {
        VirtualClock clock;
        Timer t(&clock, 100);
        QList<qint64> fired;
        connect(&t, &Timer::timeout, [&] { fired << clock.nowMs(); });
        t.start();
        clock.advance(60);
        t.setInterval(50); // restarts at 60: next tick at 110
        clock.advance(60);
        QCOMPARE(fired, (QList<qint64>{110}));
    }

    void switchingOnARunningTimerChangesNothing()
    {
        VirtualClock clock;
        Timer t(&clock, 100);
        int ticks = 0;
        connect(&t, &Timer::timeout, [&] { ++ticks; });
        t.start();
        clock.advance(90);
        t.setEnabled(true);
        clock.advance(10);
        QCOMPARE(ticks, 1);
    }

    void sleepInsideAHandlerDelaysOtherTimersToOneLateTick()
    {
        VirtualClock clock;
        Timer slow(&clock, 10);
        Timer blocker(&clock, 5);
        QList<qint64> slowTicks;
        QList<qint64> slowDue;
        connect(&slow, &Timer::timeout, [&] {
            slowTicks << clock.nowMs();
            slowDue << slow.dueUs();
        });
        connect(&blocker, &Timer::timeout, [&] {
            blocker.stop();
            clock.sleepMs(100); // the quiet-line wait blocks the thread
        });
        slow.start();
        blocker.start();
        clock.advance(130);
        // 10 is overdue after the sleep (5..105): it fires once at 105, then every 10 ms.
        QCOMPARE(slowTicks.first(), qint64(105));
        QCOMPARE(slowTicks.at(1), qint64(115));
        QCOMPARE(clock.nowMs(), qint64(130));
        // The late tick still tells when it was due.
        QCOMPARE(slowDue.first(), qint64(10000));
        QCOMPARE(slowDue.at(1), qint64(115000));
    }

    // On the system clock a timer is a precise QTimer (a coarse one may come 5 % late),
    // and its ticks are due on the grid of its start however late each one runs.
    void systemTimerIsPreciseAndKeepsItsGrid()
    {
        Timer t(Clock::system(), 20);
        const auto *qtimer = t.findChild<QTimer *>();
        QVERIFY(qtimer);
        QCOMPARE(qtimer->timerType(), Qt::PreciseTimer);
        QList<qint64> due;
        connect(&t, &Timer::timeout, [&] {
            due << t.dueUs();
            QThread::msleep(7); // a busy handler
        });
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(due.size() >= 4, 5000);
        t.stop();
        for (int i = 1; i < due.size(); ++i)
            QCOMPARE(due[i] - due[i - 1], qint64(20000));
    }

    void stoppedTimerNeverFires()
    {
        VirtualClock clock;
        Timer t(&clock, 10);
        int ticks = 0;
        connect(&t, &Timer::timeout, [&] { ++ticks; });
        t.start();
        t.stop();
        clock.advance(100);
        QCOMPARE(ticks, 0);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
