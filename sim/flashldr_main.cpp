// flashldr.exe: the firmware loader, as the application runs it:
//   flashldr.exe -Q -C<port number> -N"<update file>"
// It sends the update file to the sensor on COM<n> and exits with 0 when the
// sensor has taken it. This program stands in for the maker's own loader, a
// separate tool, so it finds and opens the port itself and shares no code with
// the application's serial link.
#include "model/LineSettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

enum ExitCode
{
    exitOk = 0,
    exitUsage = 1,
    exitFile = 2,
    exitPort = 3,
    exitNoAnswer = 4,
    exitRefused = 5
};

bool quiet = false;

int fail(ExitCode code, const QString &text)
{
    if (!quiet)
        std::fprintf(stderr, "flashldr.exe: %s\n", qPrintable(text));
    return code;
}

// The device of COM<n>: a link in the ports directory, else the numbering rule of
// the serial devices.
QString deviceForPort(int number)
{
    const QByteArray env = qgetenv("ECHOGAUGE_PORTS_DIR");
    const QDir dir(env.isEmpty() ? QDir::homePath() + QStringLiteral("/.config/Brookmere/ports")
                                 : QString::fromLocal8Bit(env));
    for (const QFileInfo &fi : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (fi.fileName().compare(QStringLiteral("COM%1").arg(number), Qt::CaseInsensitive) == 0 &&
            fi.exists())
            return fi.symLinkTarget().isEmpty() ? fi.filePath() : fi.symLinkTarget();
    }
    if (number >= 97)
        return QStringLiteral("/dev/rfcomm%1").arg(number - 97);
    if (number >= 65)
        return QStringLiteral("/dev/ttyACM%1").arg(number - 65);
    if (number >= 33)
        return QStringLiteral("/dev/ttyUSB%1").arg(number - 33);
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

// Waits up to timeoutMs for one of the answers; returns its index or -1.
int waitFor(int fd, const QList<QByteArray> &answers, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno != EAGAIN)
                return -1;
            if (n > 0)
                got.append(buffer, int(n));
        }
        for (int i = 0; i < answers.size(); ++i)
            if (got.contains(answers[i]))
                return i;
    }
    return -1;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EAGAIN)
            return false;
        if (n > 0)
            done += n;
        else
            QThread::msleep(5);
    }
    return true;
}

// The image goes out at the sensor's line speed, as over a real cable, so that a
// flash takes its time; a pseudo-terminal would otherwise swallow it at once.
bool writePaced(int fd, const QByteArray &bytes)
{
    constexpr qsizetype chunk = 64;
    QElapsedTimer t;
    t.start();
    for (qsizetype done = 0; done < bytes.size(); done += chunk) {
        if (!writeAll(fd, bytes.mid(done, chunk)))
            return false;
        const qint64 dueMs = characterMicros(9600, qMin(done + chunk, bytes.size())) / 1000;
        if (dueMs > t.elapsed())
            QThread::msleep(quint64(dueMs - t.elapsed()));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int port = -1;
    QString path;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.compare(QLatin1String("-Q"), Qt::CaseInsensitive) == 0) {
            quiet = true;
        } else if (arg.startsWith(QLatin1String("-C"), Qt::CaseInsensitive)) {
            bool ok = false;
            port = arg.mid(2).toInt(&ok);
            if (!ok || port < 1 || port > 255)
                return fail(exitUsage, QStringLiteral("bad port number in %1").arg(arg));
        } else if (arg.startsWith(QLatin1String("-N"), Qt::CaseInsensitive)) {
            path = arg.mid(2);
            if (path.isEmpty() && i + 1 < argc)
                path = QString::fromLocal8Bit(argv[++i]);
            if (path.size() >= 2 && path.startsWith('"') && path.endsWith('"'))
                path = path.mid(1, path.size() - 2);
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::printf("usage: flashldr.exe [-Q] -C<port number> -N\"<update file>\"\n"
                        "  -Q  quiet: no messages\n"
                        "exit codes: 0 loaded, 1 usage, 2 file unreadable, 3 port not opened,\n"
                        "            4 no answer from the sensor, 5 file refused by the sensor\n");
            return exitOk;
        } else {
            return fail(exitUsage, QStringLiteral("unknown option %1").arg(arg));
        }
    }
    if (port < 0 || path.isEmpty())
        return fail(exitUsage,
                    QStringLiteral("usage: flashldr.exe [-Q] -C<port number> -N\"<update file>\""));

    // The application names files the Windows way (UPD_Files\name.upd).
    QFile file(path);
    if (!file.exists())
        file.setFileName(QString(path).replace('\\', '/'));
    if (!file.open(QIODevice::ReadOnly))
        return fail(exitFile, QStringLiteral("cannot read %1").arg(path));
    const QByteArray image = file.readAll();

    const QString device = deviceForPort(port);
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fail(exitPort, QStringLiteral("cannot open COM%1 (%2)").arg(port).arg(device));
    // The sensor's boot loader listens at 9600 8N2, like the sensor itself.
    const termios settings = makeTermios(LineSettings::eightNoneTwo(9600));
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        ::close(fd);
        return fail(exitPort, QStringLiteral("cannot set up COM%1").arg(port));
    }
    tcflush(fd, TCIOFLUSH);

    // Announce the image with its size, then send it once the sensor is ready.
    const QByteArray announce = "...UPD=" + QByteArray::number(image.size()) + "\r";
    for (char c : announce) {
        if (!writeAll(fd, QByteArray(1, c))) {
            ::close(fd);
            return fail(exitPort, QStringLiteral("COM%1 went away").arg(port));
        }
        QThread::msleep(5);
    }
    if (waitFor(fd, {"OK\r"}, 2000) != 0) {
        ::close(fd);
        return fail(exitNoAnswer, QStringLiteral("no answer from the sensor on COM%1").arg(port));
    }
    if (!writePaced(fd, image)) {
        ::close(fd);
        return fail(exitPort, QStringLiteral("COM%1 went away").arg(port));
    }
    // The sensor takes the image at its own pace: 11 bit times a character.
    const int allowMs = int(characterMicros(9600, image.size()) / 1000) + 3000;
    const int answer = waitFor(fd, {"OK\r", "ERR\r"}, allowMs);
    ::close(fd);
    if (answer == 1)
        return fail(exitRefused, QStringLiteral("the sensor refused %1").arg(path));
    if (answer != 0)
        return fail(exitNoAnswer, QStringLiteral("the sensor did not confirm the update"));
    if (!quiet)
        std::printf("flashldr.exe: %s loaded\n", qPrintable(path));
    return exitOk;
}
