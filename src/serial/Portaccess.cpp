// Why a port could not be opened, and what the user can do about it.
#include "serial/Portaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <vector>
#endif

PortRefusal RefusalForError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return PortRefusal::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
        return PortRefusal::InUse;
    default:
        return PortRefusal::None;
    }
}

int ErrorNumberForWindowsError(quint32 code)
{
    // The system's own values, spelled out so that the mapping builds and is
    // tested everywhere.
    constexpr quint32 fileNotFound = 2;      // ERROR_FILE_NOT_FOUND
    constexpr quint32 pathNotFound = 3;      // ERROR_PATH_NOT_FOUND
    constexpr quint32 accessDenied = 5;      // ERROR_ACCESS_DENIED
    constexpr quint32 sharingViolation = 32; // ERROR_SHARING_VIOLATION
#ifdef _WIN32
    static_assert(fileNotFound == ERROR_FILE_NOT_FOUND && pathNotFound == ERROR_PATH_NOT_FOUND &&
                  accessDenied == ERROR_ACCESS_DENIED && sharingViolation == ERROR_SHARING_VIOLATION);
#endif
    switch (code) {
    case 0:
        return 0;
    // Windows grants a COM port to one handle and to every user: a port that is
    // there but denied is held by another program.
    case accessDenied:
    case sharingViolation:
        return EBUSY;
    case fileNotFound:
    case pathNotFound:
        return ENOENT;
    default:
        return EIO;
    }
}

#ifndef _WIN32
namespace {

QString commandName(const QString &procRoot, qint64 pid)
{
    QFile comm(QStringLiteral("%1/%2/comm").arg(procRoot).arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readLine(256).trimmed());
}

bool statNode(const QString &path, struct stat *node)
{
    return ::stat(QFile::encodeName(path).constData(), node) == 0;
}

// Whether the descriptor name in the open directory fds is open on the character
// device rdev. Its link is read, never followed: a descriptor on a network mount
// that has gone (sshfs, an NFS hard mount) would block any look at its file for
// good. Only nodes under /dev are looked at, and not through a further link. Read
// by hand: QFileInfo::symLinkTarget looks at the link's target before reading it.
bool descriptorOnDevice(int fds, const char *name, dev_t rdev)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(fds, name, target, sizeof target);
    if (n <= 0 || size_t(n) >= sizeof target)
        return false;
    const QString path = QDir::cleanPath(QFile::decodeName(QByteArray(target, int(n))));
    struct stat node;
    return path.startsWith(QLatin1String("/dev/")) &&
           ::lstat(QFile::encodeName(path).constData(), &node) == 0 && S_ISCHR(node.st_mode) &&
           node.st_rdev == rdev;
}

// Whether the process has a descriptor open on the character device rdev. Listed
// with readdir, which never looks at an entry's target, whatever a listing that
// filters entries by kind may do.
bool processHasDevice(const QString &fdDirectory, dev_t rdev)
{
    DIR *fds = ::opendir(QFile::encodeName(fdDirectory).constData());
    if (!fds)
        return false;
    bool found = false;
    while (const dirent *entry = ::readdir(fds)) {
        if (entry->d_name[0] != '.' && descriptorOnDevice(::dirfd(fds), entry->d_name, rdev)) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

// Membership takes effect at login: a user added to a group since still runs
// without it until they log in again.
bool listedInGroup(gid_t group)
{
    const passwd *user = ::getpwuid(::geteuid());
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(size_t(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool processInGroup(gid_t group)
{
    if (::getegid() == group)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    groups.resize(size_t(std::max(::getgroups(count, groups.data()), 0)));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

} // namespace

QList<qint64> FlockHolders(const QByteArray &locks, quint64 dev, quint64 inode)
{
    QList<qint64> pids;
    for (const QByteArray &line : locks.split('\n')) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; a waiter's line has "->"
        // before the kind and holds nothing. Only whole-file locks stop ours: the
        // record locks of fcntl do not meet them.
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f.at(1) != "FLOCK")
            continue;
        const QList<QByteArray> node = f.at(5).split(':');
        if (node.size() != 3)
            continue;
        bool ok[4] = {};
        const qint64 pid = f.at(4).toLongLong(&ok[0]);
        const quint64 major = node.at(0).toULongLong(&ok[1], 16);
        const quint64 minor = node.at(1).toULongLong(&ok[2], 16);
        const quint64 ino = node.at(2).toULongLong(&ok[3]);
        // A process outside our view shows as 0 or -1.
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || pid <= 0)
            continue;
        if (major == ::major(dev) && minor == ::minor(dev) && ino == inode && !pids.contains(pid))
            pids.append(pid);
    }
    return pids;
}

QList<PortHolder> DeviceHolders(const QString &device, const QString &procRoot)
{
    QList<PortHolder> holders;
    struct stat node;
    if (!statNode(device, &node))
        return holders;

    // The lock table names every process that holds a lock, whoever it belongs to.
    QFile locks(procRoot + QStringLiteral("/locks"));
    if (locks.open(QIODevice::ReadOnly)) {
        for (qint64 pid : FlockHolders(locks.readAll(), node.st_dev, node.st_ino))
            if (QFileInfo::exists(QStringLiteral("%1/%2").arg(procRoot).arg(pid)))
                holders.append({pid, commandName(procRoot, pid)});
    }
    if (!holders.isEmpty() || !S_ISCHR(node.st_mode))
        return holders;

    // A program that holds the terminal in exclusive mode without a lock shows only
    // by its open descriptors, and only to its own user (or root).
    const QString self = QString::number(::getpid());
    const QStringList processes = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &process : processes) {
        bool numeric = false;
        const qint64 pid = process.toLongLong(&numeric);
        if (!numeric || process == self)
            continue;
        if (processHasDevice(QStringLiteral("%1/%2/fd").arg(procRoot, process), node.st_rdev))
            holders.append({pid, commandName(procRoot, pid)});
    }
    return holders;
}

RefusedPort DescribeRefusedPort(const RefusedPort &port, const QString &procRoot)
{
    RefusedPort refused = port;
    struct stat node;
    if (refused.refusal == PortRefusal::NoPermission && statNode(refused.device, &node)) {
        const group *owner = ::getgrgid(node.st_gid);
        refused.group = owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(node.st_gid);
        // Joining root's group is no advice to give.
        refused.groupMayOpen =
            node.st_gid != 0 && (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        refused.groupMember = processInGroup(node.st_gid);
        refused.groupJoinedLater = listedInGroup(node.st_gid) && !refused.groupMember;
    } else if (refused.refusal == PortRefusal::InUse) {
        refused.holders = DeviceHolders(refused.device, procRoot);
    }
    return refused;
}
#endif

namespace {

QString listed(const QStringList &items)
{
    if (items.size() < 2)
        return items.join(QString());
    return QStringList(items.mid(0, items.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           items.constLast();
}

QString groupsText(const QStringList &groups)
{
    return (groups.size() == 1 ? QStringLiteral("the group ") : QStringLiteral("the groups ")) +
           listed(groups);
}

QString holdersText(const QList<PortHolder> &holders)
{
    if (holders.isEmpty())
        return QStringLiteral("another program");
    QStringList named;
    for (const PortHolder &h : holders)
        named << (h.program.isEmpty()
                      ? QStringLiteral("process %1").arg(h.pid)
                      : QStringLiteral("%1 (process %2)").arg(h.program, QString::number(h.pid)));
    return listed(named);
}

} // namespace

QString RefusedPortsMessage(const QList<RefusedPort> &ports)
{
    QStringList lines;
    QStringList toJoin;      // groups the user can be added to
    QStringList joinedLater; // groups that take effect at the next login
    QStringList ownerOnly;   // devices no group membership opens
    QStringList members;     // devices whose group the user is in, refused all the same
    QStringList unknown;     // devices whose group could not be found
    int joinable = 0;        // ports that joining a group opens
    int inUse = 0;
    int unreachable = 0;
    for (const RefusedPort &p : ports) {
        if (p.refusal == PortRefusal::Unreachable) {
            lines << QStringLiteral("%1: %2").arg(p.port, p.reason);
            ++unreachable;
            continue;
        }
        // Windows names a port by its COM name alone.
        const QString name = p.device.isEmpty() ? p.port + QStringLiteral(": ")
                                                : QStringLiteral("%1 (%2): ").arg(p.port, p.device);
        if (p.refusal == PortRefusal::InUse) {
            lines << name + QStringLiteral("in use by ") + holdersText(p.holders);
            ++inUse;
            continue;
        }
        if (p.refusal != PortRefusal::NoPermission)
            continue;
        // Without the group there is no group to name, let alone to join.
        if (p.group.isEmpty()) {
            lines << name + QStringLiteral("no permission");
            unknown << p.device;
            continue;
        }
        const QString &group = p.group;
        if (!p.groupMayOpen) {
            lines << name + QStringLiteral("no permission");
            ownerOnly << p.device;
            continue;
        }
        // Joining a group the user is in already cannot help: an access list or a
        // security policy keeps them out.
        if (p.groupMember) {
            lines << name + QStringLiteral("no permission, although you are in the group %1").arg(group);
            members << p.device;
            continue;
        }
        lines << name + QStringLiteral("no permission (the device belongs to the group %1)").arg(group);
        QStringList &list = p.groupJoinedLater ? joinedLater : toJoin;
        if (!list.contains(group))
            list << group;
        if (!p.groupJoinedLater)
            ++joinable;
    }
    if (lines.isEmpty())
        return QString();

    QStringList text;
    text << (lines.size() == 1
                 ? QStringLiteral("EchoGauge was not found, and this port could not be opened:")
                 : QStringLiteral("EchoGauge was not found, and these ports could not be opened:")) +
                QStringLiteral("\n\n") + lines.join(QLatin1Char('\n'));
    if (!toJoin.isEmpty())
        text << QStringLiteral("To use %1, add yourself to %2:\n    sudo usermod -aG %3 $USER\n"
                               "then log out and in again.")
                    .arg(joinable == 1 ? QStringLiteral("the port") : QStringLiteral("these ports"),
                         groupsText(toJoin), toJoin.join(QLatin1Char(',')));
    if (!joinedLater.isEmpty())
        text << QStringLiteral("You are a member of %1 already, but this session began before you joined: "
                               "log out and in again.")
                    .arg(groupsText(joinedLater));
    if (!ownerOnly.isEmpty())
        text << QStringLiteral("No group may use %1: ask your system administrator for access.")
                    .arg(listed(ownerOnly));
    if (!members.isEmpty())
        text << QStringLiteral(
                    "Something other than %1 keeps you out of %2 (an access control list, AppArmor "
                    "or SELinux): ask your system administrator for access.")
                    .arg(members.size() == 1 ? QStringLiteral("its group") : QStringLiteral("their groups"),
                         listed(members));
    if (!unknown.isEmpty())
        text << QStringLiteral("Ask your system administrator for access to %1.").arg(listed(unknown));
    if (unreachable > 0)
        text << QStringLiteral(
            "Check the address in \"Network Ports ...\" of the Options and that the device "
            "server is on and reachable, then choose \"Search for EchoGauge\" again.");
    if (inUse > 0)
        text << QStringLiteral("Close the program that holds %1, then choose \"Search for EchoGauge\" again.")
                    .arg(inUse == 1 ? QStringLiteral("the port") : QStringLiteral("those ports"));
    return text.join(QStringLiteral("\n\n"));
}
