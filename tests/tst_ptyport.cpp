// The termios port record on a real pseudo-terminal, with no simulator in between.

#include "serial/Enumcomports.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System).size());
}
} // namespace

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
        for (const char *name : {"COM5", "middle"})
            QFile::remove(portsDir.filePath(QLatin1String(name)));
        const QString target = portsDir.filePath(QStringLiteral("target"));
        if (!QFile::remove(target))
            QDir(target).removeRecursively();
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

    // Only a terminal opens as a port: what a link points at otherwise is neither
    // opened nor written to, and fails like a missing port, leaving no descriptor.
    void onlyATerminalOpens_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("regular file") << "file";
        QTest::newRow("/dev/null") << "null";
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("directory") << "directory";
        QTest::newRow("link to a link to a file") << "chain";
        QTest::newRow("missing target") << "missing";
    }
    void onlyATerminalOpens()
    {
        QFETCH(QString, kind);
        const QString target = portsDir.filePath(QStringLiteral("target"));
        const QByteArray content = "a user's file\n";
        QString linkTo = target;
        if (kind == QLatin1String("file") || kind == QLatin1String("chain")) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        } else if (kind == QLatin1String("null")) {
            linkTo = QStringLiteral("/dev/null");
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        } else if (kind == QLatin1String("directory")) {
            QVERIFY(QDir().mkpath(target));
        }
        if (kind == QLatin1String("chain")) {
            linkTo = portsDir.filePath(QStringLiteral("middle"));
            QVERIFY(QFile::link(target, linkTo));
        }
        QVERIFY(QFile::link(linkTo, portsDir.filePath(QStringLiteral("COM5"))));

        const int before = openDescriptors();
        COMMPORT port;
        QVERIFY(!OpenPort(&port, 5, 9600));
        QVERIFY(!port.isOpen());
        QVERIFY(!WritePortByte(&port, '.'));
        QCOMPARE(openDescriptors(), before);
        if (kind == QLatin1String("file") || kind == QLatin1String("chain")) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content);
        }
    }

    // A terminal that opens but cannot be set to the speed asked for stays open, as
    // the port record is; reopening and closing it leave nothing behind.
    void unconfigurableTerminalStaysOpenWithoutALeak()
    {
        const int before = openDescriptors();
        {
            COMMPORT port;
            for (int i = 0; i < 3; ++i) {
                QVERIFY(!OpenPort(&port, 12, 12345));
                QVERIFY(port.isOpen());
                QCOMPARE(openDescriptors(), before + 1);
            }
            QVERIFY(!OpenPortByName(&port, portsDir.filePath(QStringLiteral("com12")), 12345));
            QCOMPARE(openDescriptors(), before + 1);
            ClosePort(&port);
            QCOMPARE(openDescriptors(), before);
            QVERIFY(OpenPort(&port, 12, 9600));
        }
        QCOMPARE(openDescriptors(), before); // the record closes what it owns
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
