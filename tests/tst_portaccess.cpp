// Why a port could not be opened: the error classes, what the system's tables say
// about a device, and the message the user is given.

#include "serial/Portaccess.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

RefusedPort permission(const QString &port, const QString &device, const QString &group, bool mayOpen = true,
                       bool joinedLater = false)
{
    RefusedPort p;
    p.port = port;
    p.device = device;
    p.refusal = PortRefusal::NoPermission;
    p.group = group;
    p.groupMayOpen = mayOpen;
    p.groupJoinedLater = joinedLater;
    return p;
}

RefusedPort inUse(const QString &port, const QString &device, const QList<PortHolder> &holders = {})
{
    RefusedPort p;
    p.port = port;
    p.device = device;
    p.refusal = PortRefusal::InUse;
    p.holders = holders;
    return p;
}

QString deviceNumbers(const QString &path)
{
    struct stat node;
    if (::stat(QFile::encodeName(path).constData(), &node) != 0)
        return QString();
    return QStringLiteral("%1:%2:%3")
        .arg(::major(node.st_dev), 2, 16, QLatin1Char('0'))
        .arg(::minor(node.st_dev), 2, 16, QLatin1Char('0'))
        .arg(node.st_ino);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestPortAccess : public QObject
{
    Q_OBJECT

private slots:
    // An open's error, as Linux gives it or as Windows does, in the classes the
    // closing message tells apart. Windows's codes overlap the error numbers (13 is
    // EACCES here, invalid data there): they are never classed as they are.
    void refusalForError_data()
    {
        QTest::addColumn<bool>("windows");
        QTest::addColumn<int>("error");
        QTest::addColumn<PortRefusal>("refusal");
        QTest::newRow("EACCES") << false << EACCES << PortRefusal::NoPermission;
        QTest::newRow("EBUSY") << false << EBUSY << PortRefusal::InUse;
        QTest::newRow("ENOENT") << false << ENOENT << PortRefusal::None;
        QTest::newRow("access denied: held") << true << 5 << PortRefusal::InUse;
        QTest::newRow("sharing violation: held") << true << 32 << PortRefusal::InUse;
        QTest::newRow("file not found: gone") << true << 2 << PortRefusal::None;
        QTest::newRow("invalid data, EACCES's number") << true << 13 << PortRefusal::None;
        QTest::newRow("no error") << true << 0 << PortRefusal::None;
    }
    void refusalForError()
    {
        QFETCH(bool, windows);
        QFETCH(int, error);
        QFETCH(PortRefusal, refusal);
        QCOMPARE(RefusalForError(windows ? ErrorNumberForWindowsError(quint32(error)) : error), refusal);
    }

    // Lines of /proc/locks against the node 00:17 inode 1234.
    void flockHolders_data()
    {
        QTest::addColumn<QByteArray>("locks");
        QTest::addColumn<quint64>("dev");
        QTest::addColumn<QList<qint64>>("pids");
        const quint64 dev = makedev(0, 0x17);
        QTest::newRow("one lock") << QByteArray("1: FLOCK  ADVISORY  WRITE 4242 00:17:1234 0 EOF\n") << dev
                                  << QList<qint64>{4242};
        QTest::newRow("device numbers in hex")
            << QByteArray("7: FLOCK  ADVISORY  WRITE 77 103:1a:1234 0 EOF\n") << quint64(makedev(0x103, 0x1a))
            << QList<qint64>{77};
        QTest::newRow("decimal is not hex") << QByteArray("1: FLOCK  ADVISORY  WRITE 5 00:23:1234 0 EOF\n")
                                            << quint64(makedev(0, 23)) << QList<qint64>{};
        QTest::newRow("another inode")
            << QByteArray("1: FLOCK  ADVISORY  WRITE 4242 00:17:12345 0 EOF\n") << dev << QList<qint64>{};
        QTest::newRow("a waiter holds nothing")
            << QByteArray("1: FLOCK  ADVISORY  WRITE 10 00:17:1234 0 EOF\n"
                          "1: -> FLOCK  ADVISORY  WRITE 11 00:17:1234 0 EOF\n")
            << dev << QList<qint64>{10};
        QTest::newRow("shared locks, each holder once")
            << QByteArray("2: FLOCK  ADVISORY  READ 10 00:17:1234 0 EOF\n"
                          "3: FLOCK  ADVISORY  READ 12 00:17:1234 0 EOF\n"
                          "4: FLOCK  ADVISORY  READ 10 00:17:1234 0 EOF\n")
            << dev << QList<qint64>{10, 12};
        QTest::newRow("record locks do not stop ours")
            << QByteArray("1: POSIX  ADVISORY  WRITE 30 00:17:1234 0 EOF\n"
                          "2: OFDLCK ADVISORY  WRITE -1 00:17:1234 0 EOF\n")
            << dev << QList<qint64>{};
        QTest::newRow("holder outside our view")
            << QByteArray("1: FLOCK  ADVISORY  WRITE 0 00:17:1234 0 EOF\n"
                          "2: FLOCK  ADVISORY  WRITE -1 00:17:1234 0 EOF\n")
            << dev << QList<qint64>{};
        QTest::newRow("damaged lines")
            << QByteArray("1: FLOCK\n\n1: FLOCK  ADVISORY  WRITE x 00:17:1234 0 EOF\n"
                          "1: FLOCK  ADVISORY  WRITE 9 0017:1234 0 EOF\n"
                          "1: FLOCK  ADVISORY  WRITE 9 zz:17:1234 0 EOF\n")
            << dev << QList<qint64>{};
    }
    void flockHolders()
    {
        QFETCH(QByteArray, locks);
        QFETCH(quint64, dev);
        QFETCH(QList<qint64>, pids);
        QCOMPARE(FlockHolders(locks, dev, 1234), pids);
    }

    // A process table of the test's own, holding descriptors on /dev/null and
    // /dev/zero, with or without a lock entry on /dev/null.
    void deviceHoldersFromAProcessTable_data()
    {
        QTest::addColumn<QString>("locks"); // "%1" stands for /dev/null's device and inode
        QTest::addColumn<QStringList>("expected");
        const QString self = QString::number(::getpid());
        QTest::newRow("no lock: every process with the device open")
            << QString() << QStringList{"500 picocom", "502 "};
        QTest::newRow("the lock holder alone") << "1: FLOCK  ADVISORY  WRITE 600 %1 0 EOF\n"
                                               << QStringList{"600 minicom"};
        QTest::newRow("a lock holder that has gone") << "1: FLOCK  ADVISORY  WRITE 601 %1 0 EOF\n"
                                                     << QStringList{"500 picocom", "502 "};
        QTest::newRow("a lock on another file") << "1: FLOCK  ADVISORY  WRITE 600 00:01:1 0 EOF\n"
                                                << QStringList{"500 picocom", "502 "};
        QTest::newRow("our own lock is named") << "1: FLOCK  ADVISORY  WRITE " + self + " %1 0 EOF\n"
                                               << QStringList{self + " tst_portaccess"};
    }
    void deviceHoldersFromAProcessTable()
    {
        QFETCH(QString, locks);
        QFETCH(QStringList, expected);
        QTemporaryDir proc;
        QVERIFY(proc.isValid());
        const QString self = QString::number(::getpid());
        QVERIFY(writeFile(proc.filePath("locks"),
                          QString(locks).replace("%1", deviceNumbers("/dev/null")).toLatin1()));
        struct Process
        {
            QString pid;
            QByteArray comm; // empty: no comm file
            QStringList fds;
        };
        // A descriptor outside /dev is never followed: on a network mount that has
        // gone, a look at it would never return. This one leads to /dev/null.
        const QString elsewhere = proc.filePath("mnt/null");
        QVERIFY(QDir().mkpath(proc.filePath("mnt")) && QFile::link("/dev/null", elsewhere));
        const QList<Process> table{
            {"500", "picocom\n", {"/dev/zero", "/dev/null"}},
            {"503", "sshfs\n", {elsewhere}},
            {"501", "bash\n", {"/dev/zero"}},
            {"502", QByteArray(), {"/dev/null"}},
            {"600", "minicom\n", {}},
            {self, "tst_portaccess\n", {"/dev/null"}},
            {"self", "not a process\n", {"/dev/null"}},
        };
        for (const Process &p : table) {
            QVERIFY(QDir(proc.path()).mkpath(p.pid + "/fd"));
            if (!p.comm.isEmpty())
                QVERIFY(writeFile(proc.filePath(p.pid + "/comm"), p.comm));
            for (int i = 0; i < p.fds.size(); ++i)
                QVERIFY(
                    QFile::link(p.fds.at(i), proc.filePath(QStringLiteral("%1/fd/%2").arg(p.pid).arg(i))));
        }

        QStringList got;
        for (const PortHolder &h : DeviceHolders("/dev/null", proc.path()))
            got << QStringLiteral("%1 %2").arg(h.pid).arg(h.program);
        QCOMPARE(got, expected);
        QVERIFY(DeviceHolders("/dev/no-such-device", proc.path()).isEmpty());
    }

    // The group that owns a device the user may not open, and whether joining it helps.
    void ownerGroupOfARefusedDevice_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("mayOpen");
        QTest::addColumn<bool>("member");
        QTest::newRow("group reads and writes") << 0660 << true << false;
        QTest::newRow("group reads only") << 0640 << false << false;
        QTest::newRow("owner only") << 0600 << false << false;
        QTest::newRow("a group we run in") << 0660 << true << true;
    }
    void ownerGroupOfARefusedDevice()
    {
        QFETCH(int, mode);
        QFETCH(bool, mayOpen);
        QFETCH(bool, member);
        QTemporaryDir dir;
        const QString device = dir.filePath("ttyUSB0");
        QVERIFY(writeFile(device, QByteArray()));
        // Root's own group is never advice to give, so root hands the node to another.
        gid_t gid = ::getegid();
        if (gid == 0) {
            const group *dialout = ::getgrnam("dialout");
            gid = dialout ? dialout->gr_gid : 20;
            QCOMPARE(::chown(QFile::encodeName(device).constData(), uid_t(-1), gid), 0);
        }
        QCOMPARE(::chmod(QFile::encodeName(device).constData(), mode_t(mode)), 0);
        const group *g = ::getgrgid(gid);
        const QString name = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
        // An ordinary user's node is in the test's own group; root joins the node's
        // group for as long as the row needs it.
        if (::geteuid() != 0)
            member = true;
        else if (member)
            QCOMPARE(::setgroups(1, &gid), 0);
        const auto leave = qScopeGuard([member] {
            if (::geteuid() == 0 && member)
                ::setgroups(0, nullptr);
        });

        const RefusedPort got = DescribeRefusedPort(permission("COM33", device, QString()));
        QCOMPARE(got.group, name);
        QCOMPARE(got.groupMayOpen, mayOpen);
        QCOMPARE(got.groupMember, member);
        QVERIFY(!got.groupJoinedLater); // the test runs in its own groups
        QVERIFY(got.holders.isEmpty());

        // A device gone by the time it is described keeps what the search knew.
        const RefusedPort gone = DescribeRefusedPort(permission("COM34", dir.filePath("ttyUSB1"), QString()));
        QVERIFY(gone.group.isEmpty());
        QCOMPARE(gone.port, QStringLiteral("COM34"));
    }

    void message_data()
    {
        QTest::addColumn<QList<RefusedPort>>("ports");
        QTest::addColumn<QString>("text");
        const QString notFound1 = "EchoGauge was not found, and this port could not be opened:\n\n";
        const QString notFoundN = "EchoGauge was not found, and these ports could not be opened:\n\n";
        const QString searchAgain = "then choose \"Search for EchoGauge\" again.";

        QTest::newRow("one port without permission")
            << QList<RefusedPort>{permission("COM33", "/dev/ttyUSB0", "dialout")}
            << notFound1 + "COM33 (/dev/ttyUSB0): no permission (the device belongs to the group dialout)\n\n"
                           "To use the port, add yourself to the group dialout:\n"
                           "    sudo usermod -aG dialout $USER\n"
                           "then log out and in again.";
        QTest::newRow("two groups, one command")
            << QList<RefusedPort>{permission("COM1", "/dev/ttyS0", "dialout"),
                                  permission("COM33", "/dev/ttyUSB0", "uucp"),
                                  permission("COM34", "/dev/ttyUSB1", "dialout")}
            << notFoundN + "COM1 (/dev/ttyS0): no permission (the device belongs to the group dialout)\n"
                           "COM33 (/dev/ttyUSB0): no permission (the device belongs to the group uucp)\n"
                           "COM34 (/dev/ttyUSB1): no permission (the device belongs to the group dialout)\n\n"
                           "To use these ports, add yourself to the groups dialout and uucp:\n"
                           "    sudo usermod -aG dialout,uucp $USER\n"
                           "then log out and in again.";
        QTest::newRow("no group may open it")
            << QList<RefusedPort>{permission("COM5", "/dev/ttyS4", "root", false)}
            << notFound1 + "COM5 (/dev/ttyS4): no permission\n\n"
                           "No group may use /dev/ttyS4: ask your system administrator for access.";
        QTest::newRow("joined, not logged in again")
            << QList<RefusedPort>{permission("COM33", "/dev/ttyUSB0", "dialout", true, true)}
            << notFound1 + "COM33 (/dev/ttyUSB0): no permission (the device belongs to the group dialout)\n\n"
                           "You are a member of the group dialout already, but this session began before you "
                           "joined: log out and in again.";
        QTest::newRow("in use by named programs")
            << QList<RefusedPort>{inUse("COM65", "/dev/ttyACM0", {{4321, "picocom"}, {99, QString()}})}
            << notFound1 +
                   "COM65 (/dev/ttyACM0): in use by picocom (process 4321) and process 99\n\n"
                   "Close the program that holds the port, " +
                   searchAgain;
        QTest::newRow("in use, holder unknown; a program's name taken as it is")
            << QList<RefusedPort>{inUse("COM33", "/dev/ttyUSB0"),
                                  inUse("COM34", "/dev/ttyUSB1", {{7, "%2 %1"}})}
            << notFoundN +
                   "COM33 (/dev/ttyUSB0): in use by another program\n"
                   "COM34 (/dev/ttyUSB1): in use by %2 %1 (process 7)\n\n"
                   "Close the program that holds those ports, " +
                   searchAgain;
        QTest::newRow("both reasons, in the search's order")
            << QList<RefusedPort>{inUse("COM1", "/dev/ttyS0", {{12, "minicom"}}),
                                  permission("COM33", "/dev/ttyUSB0", "dialout"),
                                  permission("COM97", "/dev/rfcomm0", "bluetooth", true, true)}
            << notFoundN +
                   "COM1 (/dev/ttyS0): in use by minicom (process 12)\n"
                   "COM33 (/dev/ttyUSB0): no permission (the device belongs to the group dialout)\n"
                   "COM97 (/dev/rfcomm0): no permission (the device belongs to the group bluetooth)\n\n"
                   "To use the port, add yourself to the group dialout:\n"
                   "    sudo usermod -aG dialout $USER\n"
                   "then log out and in again.\n\n"
                   "You are a member of the group bluetooth already, but this session began before you "
                   "joined: log out and in again.\n\n"
                   "Close the program that holds the port, " +
                   searchAgain;
        RefusedPort member = permission("COM33", "/dev/ttyUSB0", "dialout");
        member.groupMember = true;
        QTest::newRow("in the group, refused all the same")
            << QList<RefusedPort>{member, permission("COM34", "/dev/ttyUSB1", "dialout")}
            << notFoundN + "COM33 (/dev/ttyUSB0): no permission, although you are in the group dialout\n"
                           "COM34 (/dev/ttyUSB1): no permission (the device belongs to the group dialout)\n\n"
                           "To use the port, add yourself to the group dialout:\n"
                           "    sudo usermod -aG dialout $USER\n"
                           "then log out and in again.\n\n"
                           "Something other than its group keeps you out of /dev/ttyUSB0 (an access control "
                           "list, AppArmor or SELinux): ask your system administrator for access.";
        QTest::newRow("group unknown")
            << QList<RefusedPort>{permission("COM33", "/dev/ttyUSB0", QString())}
            << notFound1 + "COM33 (/dev/ttyUSB0): no permission\n\n"
                           "Ask your system administrator for access to /dev/ttyUSB0.";
        QTest::newRow("in use on Windows: no device, no holder")
            << QList<RefusedPort>{inUse("COM7", QString())}
            << notFound1 + "COM7: in use by another program\n\nClose the program that holds the port, " +
                   searchAgain;
        RefusedPort missing = permission("COM3", "/dev/ttyS2", "dialout");
        missing.refusal = PortRefusal::None;
        QTest::newRow("nothing the user can act on") << QList<RefusedPort>{missing} << QString();
    }
    void message()
    {
        QFETCH(QList<RefusedPort>, ports);
        QFETCH(QString, text);
        QCOMPARE(RefusedPortsMessage(ports), text);
    }
};

QTEST_GUILESS_MAIN(TestPortAccess)
#include "tst_portaccess.moc"
