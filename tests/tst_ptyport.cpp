// The termios port record on a real pseudo-terminal, with no simulator in between.

#include "serial/Enumcomports.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class TestPtyPort : public QObject
{
    Q_OBJECT

    int master = -1;
    QTemporaryDir portsDir;

private slots:
    void init()
    {
        QVERIFY(portsDir.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(portsDir.path()));
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0);
        QCOMPARE(grantpt(master), 0);
        QCOMPARE(unlockpt(master), 0);
        const QByteArray slave = ptsname(master);
        const QString link = portsDir.path() + QStringLiteral("/com12");
        QFile::remove(link);
        QVERIFY(QFile::link(QString::fromLocal8Bit(slave), link));
    }

    void cleanup()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    void listedAndOpenedByNumber()
    {
        PortList ports;
        EnumeratePorts(&ports, 6);
        bool listed = false;
        for (const PortName &p : ports)
            listed |= p.number == 12 && p.name == QLatin1String("COM12");
        QVERIFY(listed);

        COMMPORT port;
        // A pseudo-terminal refuses DTR and RTS; the port opens all the same.
        QVERIFY(OpenPort(&port, 12, 19200));
        QVERIFY(port.isOpen());
        termios t;
        QCOMPARE(tcgetattr(int(port.handle), &t), 0);
        QCOMPARE(cfgetispeed(&t), speed_t(B19200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_lflag & ICANON));
        QVERIFY(!(t.c_iflag & ICRNL)); // a carriage return reaches us as it was sent
    }

    void bytesQueuedAndRead()
    {
        COMMPORT port;
        QVERIFY(OpenPort(&port, 12, 9600));
        QCOMPARE(::write(master, "OK\r", 3), ssize_t(3));
        QTRY_VERIFY(ClearCommError(&port) && port.comStat.cbInQue == 3);
        char buffer[8];
        QCOMPARE(port.driver->read(port.handle, buffer, 3), 3);
        QCOMPARE(QByteArray(buffer, 3), QByteArray("OK\r"));
        QCOMPARE(port.driver->write(port.handle, "x", 1), 1);
        char echo[8] = {};
        ssize_t got = 0;
        for (int i = 0; i < 100 && (got = ::read(master, echo, sizeof echo)) <= 0; ++i)
            QTest::qWait(10);
        QCOMPARE(got, ssize_t(1));
        QCOMPARE(echo[0], 'x');
    }

    void goneDeviceFailsQuietly()
    {
        COMMPORT port;
        QVERIFY(OpenPort(&port, 12, 9600));
        ::close(master);
        master = -1;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 100; ++i) {
            ClearCommError(&port);
            QVERIFY(port.comStat.cbInQue <= 0);
            port.driver->write(port.handle, "x", 1);
        }
        QVERIFY(timer.elapsed() < 1000); // nothing blocked
    }

    void missingNumberDoesNotOpen()
    {
        COMMPORT port;
        QVERIFY(!OpenPort(&port, 250, 9600));
        QCOMPARE(port.handle, INVALID_PORT_HANDLE);
    }
};

QTEST_GUILESS_MAIN(TestPtyPort)
#include "tst_ptyport.moc"
