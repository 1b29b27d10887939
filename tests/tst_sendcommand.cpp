#include "FakeSerial.h"
#include "TestPlatform.h"

#include "app/Mainform.h"
#include "core/Timer.h"
#include "serial/Transmit.h"

#include <QTest>

namespace {

QColor lamp(const Shape *led)
{
    return led->brushColor();
}

struct Rig
{
    VirtualClock clock;
    FakeSerial serial{&clock};
    RecordingDialogs dialogs;
    std::unique_ptr<TformMain> form;

    Rig()
    {
        form = std::make_unique<TformMain>(
            testPlatform(&clock, &serial, &dialogs, QStringLiteral("sendcommand")));
        clock.advance(1000); // start the scripts at a round time
        if (!OpenPort(&form->commPort, 5, 9600))
            qFatal("the fake port did not open");
    }
};

} // namespace

class TestSendCommand : public QObject
{
    Q_OBJECT

private slots:
    void framing_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("passthrough");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("direct") << QByteArray("...PDAC") << false << QByteArray("...PDAC");
        QTest::newRow("passthrough measurement")
            << QByteArray("...PDAs") << true << QByteArray("...EGCNFG(PDAs)");
        QTest::newRow("passthrough write keeps the CR inside")
            << QByteArray("...ATR1=5500\r") << true << QByteArray("...EGCNFG(ATR1=5500\r)");
        QTest::newRow("manual text without full stops")
            << QByteArray("PDAC\r") << true << QByteArray("PDAC\r");
        QTest::newRow("two full stops only") << QByteArray("..PDAC") << true << QByteArray("..PDAC");
        QTest::newRow("direct register write")
            << QByteArray("...ATR23=2750\r") << false << QByteArray("...ATR23=2750\r");
    }
    void framing()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, passthrough);
        QFETCH(QByteArray, wire);
        QCOMPARE(FrameCommand(text, passthrough), wire);

        // And byte for byte on the line.
        Rig rig;
        QVERIFY(rig.form->SendCommand(text, passthrough));
        rig.clock.advance(20 * (wire.size() + 2));
        QCOMPARE(rig.serial.written(), wire);
    }

    void oneCharacterPerTxDelay_data()
    {
        QTest::addColumn<int>("delay");
        QTest::newRow("default 20 ms") << 20;
        QTest::newRow("slow 250 ms") << 250;
    }
    void oneCharacterPerTxDelay()
    {
        QFETCH(int, delay);
        Rig rig;
        rig.form->timerSlowTx->setInterval(delay);
        const qint64 t0 = rig.clock.nowMs();
        QVERIFY(rig.form->SendCommand("...PDAC", false));
        // One quiet 100 ms pass, then the first character one delay later.
        const qint64 returned = rig.clock.nowMs();
        QCOMPARE(returned, t0 + 100);
        rig.clock.advance(delay * 9);
        QCOMPARE(rig.serial.writes.size(), 7);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(rig.serial.writes[i].first, returned + qint64(delay) * (i + 1));
        // The sender stops one interval after the last character.
        QVERIFY(!rig.form->timerSlowTx->isActive());
        QVERIFY(rig.form->txPending.isEmpty());
    }

    void senderStopsOneIntervalAfterTheLastCharacter()
    {
        Rig rig;
        QVERIFY(rig.form->SendCommand("...PDAC", false));
        rig.clock.advance(7 * 20 + 19);
        QVERIFY(rig.form->timerSlowTx->isActive());
        rig.clock.advance(1);
        QVERIFY(!rig.form->timerSlowTx->isActive());
    }

    void txLampLitOncePerRequest()
    {
        Rig rig;
        QCOMPARE(lamp(rig.form->ledTx), winColor(81));
        QVERIFY(rig.form->SendCommand("...PDAC", false));
        QCOMPARE(lamp(rig.form->ledTx), winColor(255));
        rig.clock.advance(49);
        QCOMPARE(lamp(rig.form->ledTx), winColor(255));
        rig.clock.advance(1);
        QCOMPARE(lamp(rig.form->ledTx), winColor(81));
        // Characters still going out do not light it again.
        rig.clock.advance(60);
        QVERIFY(rig.form->timerSlowTx->isActive());
        QCOMPARE(lamp(rig.form->ledTx), winColor(81));
    }

    void quietLineWaitEndsAfterAQuietPass()
    {
        Rig rig;
        const qint64 t0 = rig.clock.nowMs();
        // The line talks until 330 ms into the wait: the passes ending at 100..400
        // each see data; the pass ending at 500 is the first quiet one.
        rig.serial.chatter(t0 + 30, t0 + 330, 50);
        QVERIFY(rig.form->SendCommand("...PDAC", false));
        QCOMPARE(rig.clock.nowMs(), t0 + 500);
        QCOMPARE(rig.form->rxBuffer->Count(), 0); // the chatter was thrown away
        // It still lit the receive lamp.
        QCOMPARE(lamp(rig.form->ledRx), winColor(65280));
        rig.clock.advance(20);
        QCOMPARE(rig.serial.writes.size(), 1);
        QCOMPARE(rig.serial.writes[0].first, t0 + 520);
    }

    void lineThatNeverGoesQuietRefusesTheRequest()
    {
        Rig rig;
        const qint64 t0 = rig.clock.nowMs();
        rig.serial.chatter(t0, t0 + 10000, 30);
        QVERIFY(!rig.form->SendCommand("...PDAC", false));
        QCOMPARE(rig.clock.nowMs(), t0 + 100 * quietLinePassLimit);
        QVERIFY(!rig.form->timerSlowTx->isActive());
        QCOMPARE(rig.form->rxBuffer->Count(), 0);
        rig.clock.advance(500);
        QVERIFY(rig.serial.writes.isEmpty());
    }

    void secondRequestRefusedWhileTheFirstGoesOut()
    {
        Rig rig;
        QVERIFY(rig.form->SendCommand("...PDAC", false));
        rig.clock.advance(50);
        const QByteArray pending = rig.form->txPending;
        const qint64 before = rig.clock.nowMs();
        QVERIFY(!rig.form->SendCommand("...PDAs", false));
        QCOMPARE(rig.clock.nowMs(), before); // refused at once, no quiet-line wait
        QCOMPARE(rig.form->txPending, pending);
        rig.clock.advance(500);
        QCOMPARE(rig.serial.written(), QByteArray("...PDAC"));
    }

    void closedPortRefusesAndClosingStopsTheSender()
    {
        Rig rig;
        QVERIFY(rig.form->SendCommand("...PDAC", false));
        rig.clock.advance(60); // three characters out
        ClosePort(&rig.form->commPort);
        rig.clock.advance(20);
        QVERIFY(rig.form->txPending.isEmpty());
        QVERIFY(!rig.form->timerSlowTx->isActive());
        QCOMPARE(rig.serial.written(), QByteArray("..."));
        QVERIFY(!rig.form->SendCommand("...PDAC", false));
    }

    void readPortAndPurge()
    {
        Rig rig;
        const qint64 t0 = rig.clock.nowMs();
        rig.serial.arriveAt(t0, "OK\r");
        rig.form->ReadPort();
        QCOMPARE(rig.form->rxBuffer->Count(), 3);
        QCOMPARE(lamp(rig.form->ledRx), winColor(65280));
        rig.clock.advance(50);
        QCOMPARE(lamp(rig.form->ledRx), winColor(16384));

        rig.serial.arriveAt(t0 + 50, "stale");
        QVERIFY(rig.form->PurgeReceive());
        QCOMPARE(rig.form->rxBuffer->Count(), 8);
        QCOMPARE(lamp(rig.form->ledRx), winColor(16384)); // purging lights nothing
        QVERIFY(!rig.form->PurgeReceive());
    }

    void goneDeviceFailsQuietly()
    {
        Rig rig;
        rig.serial.gone = true;
        rig.form->ReadPort();
        QVERIFY(!rig.form->PurgeReceive());
        QCOMPARE(rig.form->rxBuffer->Count(), 0);
        QVERIFY(rig.form->SendCommand("...PDAC", false)); // the port is still open
        rig.clock.advance(200);
        QVERIFY(!rig.form->timerSlowTx->isActive());
    }

    void openPort()
    {
        Rig rig;
        QVERIFY(rig.form->commPort.isOpen());
        QCOMPARE(rig.form->commPort.portNumber, quint8(5));
        // The line settings the sensor needs, although the modem lines were refused.
        const termios &t = rig.serial.attributes;
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF)));

        QVERIFY(!OpenPort(&rig.form->commPort, 9, 9600)); // no such port
        QVERIFY(!rig.form->commPort.isOpen());
        QCOMPARE(rig.form->commPort.handle, INVALID_PORT_HANDLE);
    }
};

QTEST_MAIN(TestSendCommand)
#include "tst_sendcommand.moc"
