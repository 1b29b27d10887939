// echogauge-sim: the sensor, and optionally a data logger in front of it, on a
// pseudo-terminal published as COM<n> in the ports directory.
#include "model/LineSettings.h"
#include "model/SimDevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

QString portsDirectory()
{
    const QByteArray env = qgetenv("ECHOGAUGE_PORTS_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QDir::homePath() + QStringLiteral("/.config/Brookmere/ports");
}

int fail(const QString &text)
{
    std::fprintf(stderr, "echogauge-sim: %s\n", qPrintable(text));
    return 1;
}

// What crossed the line, for a test to compare with what the application meant to
// send: one line per run of bytes in one direction, "> " from the PC, "< " to the
// PC, "! " from the PC at line settings the device does not understand. Bytes are
// written as text: printable ASCII as it stands, a backslash doubled, CR and LF as
// \r and \n, every other byte as \xHH.
class WireLog
{
public:
    bool open(const QString &path)
    {
        file.setFileName(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    }
    void record(char direction, const char *bytes, qint64 count)
    {
        if (!file.isOpen() || count <= 0)
            return;
        QByteArray text;
        if (direction != last) {
            if (last)
                text += '\n';
            text += direction;
            text += ' ';
            last = direction;
        }
        for (qint64 i = 0; i < count; ++i) {
            const auto b = quint8(bytes[i]);
            if (b == '\\')
                text += "\\\\";
            else if (b == '\r')
                text += "\\r";
            else if (b == '\n')
                text += "\\n";
            else if (b >= 0x20 && b < 0x7F)
                text += char(b);
            else
                text += "\\x" + QByteArray::number(b, 16).rightJustified(2, '0');
        }
        // Unbuffered: a test reads the log while we run.
        file.write(text);
    }

private:
    QFile file;
    char last = 0;
};

// Replaces the file whole, so that a reader never sees half of it.
bool writeRegistersFile(const SimSensor &sensor, const QString &path)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(sensor.registersText());
    return f.commit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("echogauge-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated EchoGauge sensor (and data logger) on a pseudo-terminal, published as a "
                       "COM<n> link in $ECHOGAUGE_PORTS_DIR or ~/.config/Brookmere/ports."));
    parser.addHelpOption();
    const QCommandLineOption portOpt("port", "Port name to publish (default COM7).", "COM<n>", "COM7");
    const QCommandLineOption loggerOpt(
        "logger", "Put a data logger at this speed (9600, 19200, 115200) in front.", "baud");
    const QCommandLineOption firmwareOpt("firmware", "Firmware version reported (default 01.13).", "MM.mm",
                                         "01.13");
    const QCommandLineOption levelOpt("level", "Water depth in the channel, mm (default 1000).", "mm",
                                      "1000");
    const QCommandLineOption mountOpt(
        "mount", "Height of the sensor above the channel bottom, mm (default 3000).", "mm", "3000");
    const QCommandLineOption registerOpt("register", "Set a register at start (repeatable).", "n=value");
    const QCommandLineOption delayOpt("reply-delay", "Time before the sensor answers, ms (default 30).", "ms",
                                      "30");
    const QCommandLineOption latencyOpt(
        "latency",
        "Answer this long after the whole request has arrived, in place of the reply delay and a logger's "
        "relay time; the answer's characters take their time on top, ms.",
        "ms");
    const QCommandLineOption silentOpt("silent", "Answer nothing.");
    const QCommandLineOption garbleOpt("garble", "Corrupt every reply.");
    const QCommandLineOption splitOpt("split", "Send every reply in two pieces with this pause.", "ms");
    const QCommandLineOption noAckOpt("no-ack", "Store register writes without answering OK.");
    const QCommandLineOption missingOpt("missing-register", "Leave this register out of the dump.", "n");
    const QCommandLineOption invalidOpt("invalid", "Report every measurement as invalid.");
    const QCommandLineOption dropOpt("drop", "Lose the first n replies.", "n");
    const QCommandLineOption signedOpt("signed-registers",
                                       "Show register values as signed numbers in the dump.");
    const QCommandLineOption outOpt(
        "registers-out", "Write the registers as R<n>=<v> lines to this file on exit and after every write.",
        "file");
    const QCommandLineOption wireOpt("wire-log", "Log every byte received and sent to this file.", "file");
    parser.addOptions({portOpt, loggerOpt, firmwareOpt, levelOpt, mountOpt, registerOpt, delayOpt, latencyOpt,
                       silentOpt, garbleOpt, splitOpt, noAckOpt, missingOpt, invalidOpt, dropOpt, signedOpt,
                       outOpt, wireOpt});
    parser.process(app);

    const QString portName = parser.value(portOpt).toUpper();
    if (!QRegularExpression(QStringLiteral("^COM([1-9][0-9]{0,2})$")).match(portName).hasMatch())
        return fail(
            QStringLiteral("--port wants a name COM1..COM255, not \"%1\"").arg(parser.value(portOpt)));
    qint32 loggerBaud = 0;
    if (parser.isSet(loggerOpt)) {
        loggerBaud = parser.value(loggerOpt).toInt();
        if (loggerBaud != 9600 && loggerBaud != 19200 && loggerBaud != 115200)
            return fail(QStringLiteral("--logger wants 9600, 19200 or 115200"));
    }
    if (!QRegularExpression(QStringLiteral("^.{2}\\..{2}$")).match(parser.value(firmwareOpt)).hasMatch())
        return fail(QStringLiteral("--firmware wants five characters such as 01.13"));

    SimDevice device(loggerBaud);
    SimSensor &sensor = device.sensor();
    sensor.firmware = parser.value(firmwareOpt);
    sensor.levelMm = parser.value(levelOpt).toInt();
    sensor.mountHeightMm = parser.value(mountOpt).toInt();
    sensor.replyDelayMs = qMax(0, parser.value(delayOpt).toInt());
    if (parser.isSet(latencyOpt)) {
        bool ok = false;
        device.latencyMs = parser.value(latencyOpt).toInt(&ok);
        if (!ok || device.latencyMs < 0 || device.latencyMs > 60000)
            return fail(QStringLiteral("--latency wants a number of milliseconds, 0..60000"));
    }
    for (const QString &r : parser.values(registerOpt)) {
        const QStringList parts = r.split('=');
        bool okN = false, okV = false;
        const int n = parts.value(0).toInt(&okN);
        const uint v = parts.value(1).toUInt(&okV);
        if (parts.size() != 2 || !okN || !okV || n < 0 || n > 255 || v > 0xFFFF)
            return fail(QStringLiteral("--register wants n=value, such as 23=2750"));
        sensor.setRegister(n, quint16(v));
    }
    sensor.faults.silent = parser.isSet(silentOpt);
    sensor.faults.garbled = parser.isSet(garbleOpt);
    sensor.faults.splitPauseMs = parser.isSet(splitOpt) ? qMax(1, parser.value(splitOpt).toInt()) : 0;
    sensor.faults.noAcknowledge = parser.isSet(noAckOpt);
    sensor.faults.missingRegister = parser.isSet(missingOpt) ? parser.value(missingOpt).toInt() : -1;
    sensor.faults.invalidReadings = parser.isSet(invalidOpt);
    sensor.faults.dropReplies = parser.isSet(dropOpt) ? parser.value(dropOpt).toInt() : 0;
    sensor.faults.signedRegisters = parser.isSet(signedOpt);
    WireLog wire;
    if (parser.isSet(wireOpt) && !wire.open(parser.value(wireOpt)))
        return fail(QStringLiteral("cannot write the wire log %1").arg(parser.value(wireOpt)));
    const QString registersPath = parser.value(outOpt);
    QMap<int, quint16> registersWritten;
    if (!registersPath.isEmpty()) {
        registersWritten = sensor.registers;
        if (!writeRegistersFile(sensor, registersPath))
            return fail(QStringLiteral("cannot write %1").arg(registersPath));
    }

    // The pseudo-terminal. We keep the slave open ourselves: the master would
    // otherwise read EIO each time the application closes its side, and its
    // termios, which the pair shares, tells us the application's line settings.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(strerror(errno)));
    const char *slaveName = ptsname(master);
    const QByteArray slavePath = slaveName ? QByteArray(slaveName) : QByteArray();
    const int slave = slavePath.isEmpty() ? -1 : ::open(slavePath.constData(), O_RDWR | O_NOCTTY);
    if (slave < 0)
        return fail(QStringLiteral("cannot open the pseudo-terminal's slave: %1").arg(strerror(errno)));
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Raw, at the speed a terminal comes up with: nothing is understood until the
    // application sets the device's own settings.
    termios initial = makeTermios({38400, 8, false, 1});
    tcsetattr(slave, TCSANOW, &initial);

    const QString dir = portsDirectory();
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("cannot create the ports directory %1").arg(dir));
    const QString link = dir + '/' + portName;
    QFile::remove(link); // a link left behind by a simulator that was killed
    if (!QFile::link(QString::fromLocal8Bit(slavePath), link))
        return fail(QStringLiteral("cannot create the link %1").arg(link));

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("echogauge-sim: %s -> %s (%s)\n", qPrintable(portName), slavePath.constData(),
                qPrintable(device.lineSettings().toString()));
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    const LineSettings wanted = device.lineSettings();
    char buffer[512];
    while (!stopRequested) {
        const qint64 now = clock.nsecsElapsed() / 1000;
        termios current;
        const bool matching = tcgetattr(slave, &current) == 0 && LineSettings::fromTermios(current) == wanted;

        // Characters whose time has come leave; at other settings they would be
        // noise that the application's receiver throws away.
        const QByteArray out = device.takeOutput(now);
        if (!out.isEmpty() && matching) {
            const ssize_t sent = ::write(master, out.constData(), size_t(out.size()));
            if (sent < 0 && errno != EAGAIN)
                break;
            wire.record('<', out.constData(), sent);
        }

        int timeoutMs = 10;
        const qint64 next = device.nextOutputUs();
        if (next >= 0)
            timeoutMs = int(qBound<qint64>(qint64(0), (next - now + 999) / 1000, qint64(10)));
        pollfd p = {master, POLLIN, 0};
        const int ready = poll(&p, 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n < 0 && errno != EAGAIN && errno != EIO)
                break;
            // Bytes at the wrong speed or format are garbage to the device.
            termios now2;
            const bool understood = tcgetattr(slave, &now2) == 0 && LineSettings::fromTermios(now2) == wanted;
            const qint64 at = clock.nsecsElapsed() / 1000;
            wire.record(understood ? '>' : '!', buffer, n);
            for (ssize_t i = 0; understood && i < n; ++i)
                device.arrive(at, buffer[i]);
            if (!registersPath.isEmpty() && sensor.registers != registersWritten) {
                registersWritten = sensor.registers;
                writeRegistersFile(sensor, registersPath);
            }
        }
    }

    QFile::remove(link);
    if (!registersPath.isEmpty() && !writeRegistersFile(sensor, registersPath))
        std::fprintf(stderr, "echogauge-sim: cannot write %s\n", qPrintable(registersPath));
    ::close(slave);
    ::close(master);
    return 0;
}
