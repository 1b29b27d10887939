// Ports on real pseudo-terminals, in real time: a port is ours alone while we hold
// it, and a port the user may not open, or that another program holds, is named
// once the search has failed.
//
// Run with "--search <ports directory>", the program is a window that searches once
// and prints what it showed; with "--hold-exclusive <device>" it holds the device in
// exclusive mode, without a lock, until it is ended. The tests start it so, as
// another user or as another program.

#include "SimHarness.h"

#include "exchange/Autodetect.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An ordinary user: root passes both the permissions and the exclusive mode.
constexpr uid_t ordinaryUid = 65534;

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

// The error an ordinary user's open of path meets, 0 when it opens. As root the open
// is made by a child that has given up root.
int ordinaryUserOpenError(const QByteArray &path)
{
    if (!runningAsRoot()) {
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(ordinaryUid) != 0 || ::setuid(ordinaryUid) != 0)
            ::_exit(255);
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a second flock on descriptor fd meets, 0 when it takes the lock (and lets go).
int flockError(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno;
    ::flock(fd, LOCK_UN);
    return 0;
}

bool exclusiveMode(int fd)
{
    int on = 0;
    return ::ioctl(fd, TIOCGEXCL, &on) == 0 && on;
}

// A pseudo-terminal of the test's own, published as COM<number> in dir.
struct Pty
{
    Pty(const QTemporaryDir &dir, int number)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        slave = ::ptsname(master);
        // Anyone may open it: only the holds under test keep others out.
        ::chmod(slave.constData(), 0666);
        link = dir.filePath(QStringLiteral("COM%1").arg(number));
        QFile::link(QString::fromLocal8Bit(slave), link);
    }
    ~Pty()
    {
        QFile::remove(link);
        if (master >= 0)
            ::close(master);
    }
    int master = -1;
    QByteArray slave;
    QString link;
};

// The window's search, run once in this process: prints the last status text and
// every message shown, each followed by a line "--".
int searchOnce(const QString &portsDirectory)
{
    qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(portsDirectory));
    RecordingDialogs dialogs;
    Platform p =
        testPlatform(Clock::system(), SerialDriver::system(), &dialogs, QStringLiteral("e2e-ports-user"));
    TformMain form(p);
    form.options = searchDirect9600;
    form.menuSearchClick();
    QElapsedTimer t;
    t.start();
    while (form.portState != psIdle && t.elapsed() < 60000)
        QTest::qWait(20);
    std::printf("status:%s\n--\n", qPrintable(form.statusText()));
    for (const RecordingDialogs::Shown &m : dialogs.messages)
        std::printf("message:%s\n--\n", qPrintable(m.text));
    return form.portState == psIdle ? 0 : 1;
}

int holdExclusive(const QByteArray &device)
{
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0)
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    ::pause();
    return 0;
}

} // namespace

class TestE2ePorts : public QObject
{
    Q_OBJECT

    QTemporaryDir portsDir;

    // A window on the real clock and serial ports, searching the direct candidates once.
    QString searchAndWait(RecordingDialogs *dialogs)
    {
        auto form = realTimeWindow(dialogs, QStringLiteral("e2e-ports-%1").arg(::getpid()));
        form->options = searchDirect9600;
        form->menuSearchClick();
        QElapsedTimer t;
        t.start();
        while (form->portState != psIdle && t.elapsed() < 30000)
            QTest::qWait(20);
        return form->statusText();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(portsDir.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(portsDir.path()));
    }

    // While we hold a port, another program's flock on it fails and an ordinary
    // user's open is refused as busy; once we close it, or its device goes, we let
    // go of both.
    void heldPortIsOursAlone_data()
    {
        QTest::addColumn<bool>("deviceGoes");
        QTest::newRow("closed") << false;
        QTest::newRow("device gone") << true;
    }
    void heldPortIsOursAlone()
    {
        QFETCH(bool, deviceGoes);
        Pty pty(portsDir, 12);
        QVERIFY(!pty.slave.isEmpty());
        // Another program's descriptor, opened before ours.
        const int other = ::open(pty.slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(other >= 0);

        COMMPORT port;
        QVERIFY(OpenPort(&port, 12, 9600));
        QCOMPARE(flockError(other), EWOULDBLOCK);
        QVERIFY(exclusiveMode(other));
        QCOMPARE(ordinaryUserOpenError(pty.slave), EBUSY);

        if (deviceGoes) {
            ::close(pty.master);
            pty.master = -1;
            QVERIFY(!ClearCommError(&port)); // the next look at the port finds it gone
            QVERIFY(port.isOpen());          // the record keeps it until the search lets go
            QCOMPARE(flockError(other), 0);
        } else {
            ClosePort(&port);
            QCOMPARE(flockError(other), 0);
            QVERIFY(!exclusiveMode(other));
            QCOMPARE(ordinaryUserOpenError(pty.slave), 0);
            // And we take it again.
            QVERIFY(OpenPort(&port, 12, 9600));
            QCOMPARE(flockError(other), EWOULDBLOCK);
        }
        ::close(other);
    }

    // A descriptor handed over by a calling program is the caller's: its lock and its
    // exclusive mode stay as the caller set them, and we take none of our own.
    void adoptedHandleKeepsItsOwnersHolds()
    {
        Pty pty(portsDir, 13);
        const int caller = ::open(pty.slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(caller >= 0);
        const int other = ::open(pty.slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(other >= 0);
        {
            COMMPORT port;
            QVERIFY(AttachPort(&port, ::dup(caller)));
            QCOMPARE(flockError(other), 0);
            QVERIFY(!exclusiveMode(other));
            ClosePort(&port);
        }
        QCOMPARE(::flock(caller, LOCK_EX | LOCK_NB), 0);
        QCOMPARE(::ioctl(caller, TIOCEXCL), 0);
        {
            COMMPORT port;
            QVERIFY(AttachPort(&port, ::dup(caller)));
            ClearCommError(&port);
            ClosePort(&port);
        }
        QCOMPARE(flockError(other), EWOULDBLOCK);
        QVERIFY(exclusiveMode(other));
        ::ioctl(caller, TIOCNXCL);
        ::close(caller);
        ::close(other);
    }

    // A run that adopted a caller's handle and then found the sensor on a port of its
    // own lets go of that port when it ends, while the simulator and another program
    // still have the terminal open: the adopted handle's mark does not make the
    // port the search opened the caller's.
    void adoptedRunLetsGoOfTheSearchsPortAtTheEnd()
    {
        Pty caller(portsDir, 14);
        const int handle = ::open(caller.slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(handle >= 0);
        Simulator sim(53);
        QVERIFY2(sim.waitPublished(), sim.output.constData());
        const QByteArray device = QFile::encodeName(QFileInfo(sim.link).canonicalFilePath());
        QCOMPARE(::chmod(device.constData(), 0666), 0); // only the holds keep others out
        const int other = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(other >= 0);
        {
            RecordingDialogs dialogs;
            auto form = realTimeWindow(&dialogs, QStringLiteral("e2e-ports-%1").arg(::getpid()));
            QVERIFY(AttachPort(&form->commPort, ::dup(handle)));
            form->options = searchDirect9600;
            form->menuSearchClick();
            QTRY_VERIFY_WITH_TIMEOUT(form->portState == psIdle, 30000);
            QCOMPARE(form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
            QVERIFY(form->commPort.attached);
            QVERIFY(exclusiveMode(other));
        }
        QVERIFY(!exclusiveMode(other));
        QCOMPARE(flockError(other), 0);
        QCOMPARE(ordinaryUserOpenError(device), 0);
        ::close(other);
        ::close(handle);
    }

    // A port another program holds is not opened: no byte reaches its device, and
    // the message names it with its holder. With the sensor found elsewhere nothing
    // is said.
    void portHeldByAnotherProgram_data()
    {
        QTest::addColumn<QString>("hold");
        QTest::addColumn<bool>("sensorElsewhere");
        QTest::newRow("flock") << "flock" << false;
        QTest::newRow("exclusive mode without a lock") << "exclusive" << false;
        QTest::newRow("flock, sensor found on another port") << "flock" << true;
    }
    void portHeldByAnotherProgram()
    {
        QFETCH(QString, hold);
        QFETCH(bool, sensorElsewhere);
        const QString wire = portsDir.filePath("wire51.log");
        Simulator held(51, {"--wire-log", wire});
        QVERIFY2(held.waitPublished(), held.output.constData());
        const QByteArray device = QFile::encodeName(QFileInfo(held.link).canonicalFilePath());
        std::unique_ptr<Simulator> sensor;
        if (sensorElsewhere) {
            sensor = std::make_unique<Simulator>(52);
            QVERIFY2(sensor->waitPublished(), sensor->output.constData());
        }

        QProcess holder;
        if (hold == QLatin1String("flock")) {
            // It waits for the lock while a probe below holds the port.
            holder.start("flock", {QString::fromLocal8Bit(device), "sleep", "60"});
        } else {
            holder.start(QCoreApplication::applicationFilePath(),
                         {"--hold-exclusive", QString::fromLocal8Bit(device)});
            QVERIFY(holder.waitForReadyRead(5000) && holder.readAll() == "held\n");
        }
        QVERIFY2(holder.waitForStarted(5000), qPrintable(holder.errorString()));
        const qint64 pid = holder.processId();
        COMMPORT probe;
        const auto refused = [&probe] {
            const bool opened = OpenPort(&probe, 51, 9600) || probe.isOpen();
            ClosePort(&probe);
            return !opened && probe.openError == EBUSY;
        };
        QTRY_VERIFY_WITH_TIMEOUT(refused(), 5000);

        RecordingDialogs dialogs;
        const QString status = searchAndWait(&dialogs);
        holder.kill();
        holder.waitForFinished(3000);
        held.stop();

        QVERIFY(wireBytes(readWireLog(wire), '>').isEmpty());
        if (sensorElsewhere) {
            QCOMPARE(status, QStringLiteral(" Sensor data received from EchoGauge"));
            QVERIFY2(dialogs.messages.isEmpty(), qPrintable(dialogs.messages.value(0).text));
            return;
        }
        QCOMPARE(status, QStringLiteral(" EchoGauge not found!"));
        QCOMPARE(dialogs.messages.size(), 1);
        const QString text = dialogs.messages.first().text;
        const QString program = hold == QLatin1String("flock")
                                    ? QStringLiteral("flock")
                                    : QFileInfo(QCoreApplication::applicationFilePath())
                                          .fileName()
                                          .left(15); // the system keeps 15 characters
        QVERIFY2(text.contains(QStringLiteral("COM51 (%1): in use by ").arg(QString::fromLocal8Bit(device))),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("%1 (process %2)").arg(program).arg(pid)), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("Close the program that holds")), qPrintable(text));
    }

    // A user who may not open the device is told the port, the device, its group and
    // the command that lets them in. Root may open anything, so the search runs as an
    // ordinary user in a program of its own, kept out of a device that belongs to
    // root and a group that user is not in.
    void portWithoutPermission()
    {
        if (!runningAsRoot())
            QSKIP("giving the device to another user and a group we are not in needs root");
        const group *serial = ::getgrnam("dialout");
        if (!serial)
            serial = ::getgrnam("uucp");
        if (!serial)
            QSKIP("neither the group dialout nor uucp exists");
        const gid_t gid = serial->gr_gid;
        const QString groupName = QString::fromLocal8Bit(serial->gr_name);
        Simulator sim(55);
        QVERIFY2(sim.waitPublished(), sim.output.constData());
        const QString device = QFileInfo(sim.link).canonicalFilePath();
        const QByteArray node = QFile::encodeName(device);

        QTemporaryDir place;
        QVERIFY(place.isValid());
        const QString program = place.filePath(QStringLiteral("tst_e2e_ports"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        // The device as a serial port is: its group's members may use it.
        QCOMPARE(::chown(node.constData(), 0, gid), 0);
        QCOMPARE(::chmod(node.constData(), 0660), 0);
        for (const QString &path : {place.path(), portsDir.path()})
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                    QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                    QFileDevice::ExeOther));
        QProcess user;
        user.setChildProcessModifier([] {
            // In no group but its own, which is not the device's.
            if (::setgroups(0, nullptr) != 0 || ::setgid(ordinaryUid) != 0 || ::setuid(ordinaryUid) != 0)
                ::_exit(126);
        });
        QVERIFY(gid != ordinaryUid);

        user.start(program, {"--search", portsDir.path()});
        QVERIFY2(user.waitForFinished(60000), "the search did not end");
        const QString out = QString::fromLocal8Bit(user.readAllStandardOutput());
        QVERIFY2(user.exitStatus() == QProcess::NormalExit && user.exitCode() == 0,
                 qPrintable(out + QString::fromLocal8Bit(user.readAllStandardError())));
        sim.stop();

        QVERIFY2(out.contains("status: EchoGauge not found!\n"), qPrintable(out));
        QCOMPARE(out.count(QLatin1String("message:")), 1);
        QVERIFY2(out.contains(QStringLiteral("COM55 (%1): no permission (the device belongs to the group %2)")
                                  .arg(device, groupName)),
                 qPrintable(out));
        // One command adds the user to every group that lets them in.
        const QRegularExpression command(QStringLiteral("\n    sudo usermod -aG ([a-z0-9_,-]+) \\$USER\n"
                                                        "then log out and in again."));
        const QRegularExpressionMatch m = command.match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out));
        QVERIFY2(m.captured(1).split(QLatin1Char(',')).contains(groupName), qPrintable(out));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--search"))
        return searchOnce(args.at(2));
    if (args.size() == 3 && args.at(1) == QLatin1String("--hold-exclusive"))
        return holdExclusive(QFile::encodeName(args.at(2)));
    TestE2ePorts test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_ports.moc"
