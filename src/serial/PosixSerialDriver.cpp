// The serial seam on the operating system's own devices, through termios.
#ifndef _WIN32
#include "serial/SerialDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every call is made from the user-interface thread and must return at once:
// the descriptor stays non-blocking, and a device that has gone answers with an
// error, which is reported as a failed call.
class PosixSerialDriver : public SerialDriver
{
public:
    QStringList serialDevices() override
    {
        QStringList devices;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            devices.append(info.systemLocation());
        return devices;
    }

    QString portsDirectory() override
    {
        const QByteArray env = qgetenv("ECHOGAUGE_PORTS_DIR");
        if (!env.isEmpty())
            return QString::fromLocal8Bit(env);
        // Beside the settings, wherever the user's configuration lives.
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/Brookmere/ports");
    }

    QList<PortLink> portLinks() override
    {
        static const QRegularExpression comName(QStringLiteral("^COM[0-9]+$"),
                                                QRegularExpression::CaseInsensitiveOption);
        QList<PortLink> links;
        // System lists the dangling links too; the port list leaves them out itself.
        const QFileInfoList entries =
            QDir(portsDirectory())
                .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            if (!entry.isSymLink() || !comName.match(entry.fileName()).hasMatch())
                continue;
            const bool exists = entry.exists();
            // The device at the end of the chain (a /dev/serial/by-id link ends at
            // ttyUSB0) decides the device class.
            links.append(
                {entry.fileName(), exists ? entry.canonicalFilePath() : entry.symLinkTarget(), exists});
        }
        return links;
    }

    PortHandle open(const QByteArray &path) override
    {
        lastError = 0;
        // Only a terminal is a port. A regular file or /dev/null behind a port link
        // would swallow the probes as data, and a pipe could block; they fail like a
        // missing port. Nothing but a character device is opened at all, and the
        // descriptor is checked again in case the node changed in between.
        struct stat node;
        if (::stat(path.constData(), &node) != 0)
            return failed(errno);
        if (!S_ISCHR(node.st_mode))
            return failed(ENOTTY);
        int fd;
        do
            fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return failed(errno);
        if (!::isatty(fd)) {
            ::close(fd);
            return failed(ENOTTY);
        }
        if (!holdExclusively(fd)) {
            ::close(fd);
            return failed(EBUSY);
        }
        return PortHandle(fd);
    }

    int lastOpenError() const override { return lastError; }

    bool getAttributes(PortHandle h, termios *t) override { return ::tcgetattr(int(h), t) == 0; }

    bool setAttributes(PortHandle h, const termios &t) override
    {
        return ::tcsetattr(int(h), TCSANOW, &t) == 0;
    }

    bool raiseModemLines(PortHandle h) override
    {
        int lines = TIOCM_DTR | TIOCM_RTS;
        return ::ioctl(int(h), TIOCMBIS, &lines) == 0;
    }

    int bytesQueued(PortHandle h) override
    {
        int n = 0;
        if (::ioctl(int(h), FIONREAD, &n) != 0) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV)
                release(int(h)); // the device has gone
            return -1;
        }
        return n;
    }

    int read(PortHandle h, char *buffer, int count) override
    {
        // An adopted descriptor may be blocking; only read what is there.
        if (count <= 0 || !ready(h, POLLIN))
            return -1;
        ssize_t n;
        do
            n = ::read(int(h), buffer, size_t(count));
        while (n < 0 && errno == EINTR);
        return int(n);
    }

    int write(PortHandle h, const char *data, int count) override
    {
        // A hung-up terminal answers EIO; a full output queue must not stall the window.
        if (count <= 0 || !ready(h, POLLOUT))
            return -1;
        ssize_t n;
        do
            n = ::write(int(h), data, size_t(count));
        while (n < 0 && errno == EINTR);
        return int(n);
    }

    void close(PortHandle h) override
    {
        release(int(h));
        ::close(int(h));
    }

private:
    bool ready(PortHandle h, short events)
    {
        pollfd p{int(h), events, 0};
        int r;
        do
            r = ::poll(&p, 1, 0);
        while (r < 0 && errno == EINTR);
        // A terminal whose device has gone (an adapter pulled out, a pseudo-terminal
        // whose other end closed) is hung up.
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            release(int(h));
        return r > 0 && (p.revents & events);
    }

    PortHandle failed(int error)
    {
        lastError = error;
        return INVALID_PORT_HANDLE;
    }

    // Takes the port for us alone, as other serial tools do: the advisory lock that
    // they test, and the terminal's exclusive mode, which refuses every other open
    // but root's. False when another program holds the port by either.
    bool holdExclusively(int fd)
    {
        // Root passes another program's exclusive mode, so it asks first.
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
            return false;
        int r;
        do
            r = ::flock(fd, LOCK_EX | LOCK_NB);
        while (r != 0 && errno == EINTR);
        // Only another holder refuses the port; a device that takes no locks is used
        // without one.
        if (r != 0 && errno == EWOULDBLOCK)
            return false;
        ::ioctl(fd, TIOCEXCL);
        held.insert(fd);
        return true;
    }

    // Lets go of both holds on a port we took. The exclusive mode belongs to the
    // terminal, not to the descriptor, so it would outlive our close while anyone else
    // has the terminal open (a pseudo-terminal's other end counts). A handle adopted
    // from a calling program was never held by us and is left as its owner set it.
    // A terminal already hung up (its adapter pulled out, its other end closed)
    // refuses every request, this one too: its exclusive mode then stays until the
    // last program that has it open closes it. Nobody can open a device that has
    // gone anyway; the lock goes with our descriptor in any case.
    void release(int fd)
    {
        if (!held.remove(fd))
            return;
        ::ioctl(fd, TIOCNXCL);
        ::flock(fd, LOCK_UN);
    }

    int lastError = 0;
    QSet<int> held; // the descriptors we opened and hold exclusively
};

} // namespace

SerialDriver *SerialDriver::local()
{
    static PosixSerialDriver driver;
    return &driver;
}
#endif
