// The main window's own use of its port: the sender against a port that is
// replaced under it, and the receive side on a real pseudo-terminal whose far end
// goes away.

#include "FakeSerial.h"

#include "TestPlatform.h"
#include "app/Mainform.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class TestPortWindow : public QObject
{
    Q_OBJECT

private slots:
    void portReopenedMidTransmissionGetsNoneOfTheOldRequest()
    {
        // A search closes the port and opens its next candidate; the rest of the
        // old request must not reach the new device, although it may get the same
        // handle value.
        VirtualClock clock;
        FakeSerial serial(&clock);
        RecordingDialogs dialogs;
        TformMain form(testPlatform(&clock, &serial, &dialogs, QStringLiteral("portwindow")));
        QVERIFY(OpenPort(&form.commPort, 5, 9600));
        const PortHandle first = form.commPort.handle;

        QVERIFY(form.SendCommand("...PDAC", false));
        clock.advance(40); // two characters out
        ClosePort(&form.commPort);
        QVERIFY(OpenPort(&form.commPort, 5, 19200));
        QCOMPARE(form.commPort.handle, first);
        clock.advance(200);
        QCOMPARE(serial.written(), QByteArray(".."));
        QVERIFY(!form.timerSlowTx->isActive());
        QVERIFY(form.txPending.isEmpty());
        QVERIFY(form.SendCommand("...PDAs", false)); // the sender is free for the new port
        clock.advance(200);
        QCOMPARE(serial.written(), QByteArray(".....PDAs"));
    }

    void readPortOnAPseudoTerminalUntilTheDeviceGoes()
    {
        QTemporaryDir portsDir;
        QVERIFY(portsDir.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(portsDir.path()));
        int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0);
        QCOMPARE(grantpt(master), 0);
        QCOMPARE(unlockpt(master), 0);
        QVERIFY(
            QFile::link(QString::fromLocal8Bit(ptsname(master)), portsDir.path() + QStringLiteral("/COM21")));

        RecordingDialogs dialogs;
        Platform p; // the system clock and the termios driver
        p.dialogs = &dialogs;
        p.settingsOrganization = QStringLiteral("EchoGaugeTest-portwindow");
        TformMain form(p);
        QVERIFY(OpenPort(&form.commPort, 21, 9600));
        QCOMPARE(::write(master, "EchoGauge\r", 10), ssize_t(10));
        QTRY_VERIFY(ClearCommError(&form.commPort) && form.commPort.comStat.cbInQue == 10);
        form.ReadPort();
        QCOMPARE(form.rxBuffer->ReadString(form.rxBuffer->Count()), QByteArray("EchoGauge\r"));
        QCOMPARE(form.ledRx->brushColor(), winColor(65280));

        ::close(master); // the device is gone
        QElapsedTimer elapsed;
        elapsed.start();
        form.ReadPort();
        QVERIFY(!form.PurgeReceive());
        QCOMPARE(form.rxBuffer->Count(), 0);
        // The port still counts as open: a request goes out and its writes fail quietly.
        QVERIFY(form.SendCommand("...PDAC", false));
        for (int i = 0; i < 9; ++i)
            form.timerSlowTxTimer();
        QVERIFY(form.txPending.isEmpty());
        QVERIFY(!form.timerSlowTx->isActive());
        QVERIFY(elapsed.elapsed() < 1000);
    }
};

QTEST_MAIN(TestPortWindow)
#include "tst_portwindow.moc"
