// echogauge: the window's own exchanges run from the command line. The main window
// object runs unseen; its message boxes and file dialogs are answered by the command
// line, its status texts go to standard error and the results to standard output.
//
// Settings: the window's stored settings are read (the search's speeds and modes, the
// Tx delay, the headroom of "Set Max Height", the last port) and never written, so
// that a script leaves the window user's settings as they were.
#include "app/Mainform.h"
#include "app/Manualentry.h"
#include "channel/Channelfile.h"
#include "channel/Flowtable.h"
#include "cli/Cli.h"
#include "core/Timer.h"
#include "exchange/Autodetect.h"
#include "exchange/Readconfig.h"
#include "exchange/Upgrade.h"
#include "measure/Historyexport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace cli;

namespace {

// Ctrl+C, SIGTERM, a closed console: set from the handler, acted on in the event loop.
std::atomic<bool> interruptRequested{false};

void printOut(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

void printErr(const QString &text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    fflush(stderr);
}

// Every box becomes a line on standard error; the answer is the command line's.
class ConsoleDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &text, Icon icon, const QString &) override
    {
        messages << text;
        // A note is a status of its own, silenced with them; a warning or an error never.
        if (quiet && icon == Icon::Information)
            return;
        const char *kind = icon == Icon::Error ? "error" : icon == Icon::Warning ? "warning" : "note";
        printErr(
            QStringLiteral("echogauge: %1: %2")
                .arg(QLatin1String(kind), QString(text).replace(QLatin1Char('\n'), QStringLiteral("\n  "))));
    }
    QString openFileName(QWidget *, const QString &, const QString &) override
    {
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    bool openDocument(const QString &, bool *noViewer) override
    {
        if (noViewer)
            *noViewer = false;
        return false;
    }
    // The window's own dialogs (the verification's table) are not run; the command
    // prints what they would show.
    int exec(QDialog *) override { return QDialog::Rejected; }
    void beep() override {}

    QStringList openAnswers;
    QStringList saveAnswers;
    QStringList messages;
    bool quiet = false;
};

#ifndef _WIN32
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    interruptRequested = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

void installTerminationHandlers(QObject *owner, const std::function<void()> &onSignal)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [onSignal] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr); // the terminal closed
}
#else
BOOL WINAPI onConsoleEvent(DWORD)
{
    interruptRequested = true;
    // The system ends the process when a close handler returns: give the event loop
    // the time to stop the exchange and say what was written.
    for (int i = 0; i < 50 && interruptRequested; ++i)
        Sleep(100);
    return TRUE;
}
#endif

// Qt's own warnings (the unseen platform's among them) are not the user's business.
void quietQtMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        printErr(QStringLiteral("echogauge: ") + message);
}

struct Options
{
    QString command;
    QStringList positional;
    bool quiet = false;
    bool json = false;
    std::optional<PortArgument> port;
    QString portText;
    QString cdf;
    QString from;
    QString setup;
    QString height, maxHeight, lostEcho, type;
    int count = 1;
    double interval = 0;
    QString csv;
    QString pdf;
    QString site;
    bool yes = false;
    QString job = QStringLiteral("verify");
    int jobs = 0;
};

class Session
{
public:
    Session(const Options &o, ConsoleDialogs *dialogs) : opt(o), dialogs(dialogs)
    {
        Platform p = Platform::system();
        p.dialogs = dialogs;
        window = std::make_unique<TformMain>(p);
        w = window.get();
        w->LoadSettings();
        w->statusTextHook = [this](const QString &text) {
            lastStatus = text.trimmed();
            if (!opt.quiet && !lastStatus.isEmpty())
                printErr(lastStatus);
        };
        w->confirmUpgrade = [this] {
            printErr(opt.command == QLatin1String("upgrade")
                         ? QStringLiteral("echogauge: answered yes (upgrade --yes)")
                         : QStringLiteral("echogauge: answered no: only \"echogauge upgrade --yes\" "
                                          "installs firmware"));
            return opt.command == QLatin1String("upgrade") && opt.yes;
        };
    }
    ~Session() { ClosePort(&w->commPort); }

    // Runs the event loop until the exchange has ended; false when interrupted.
    bool runExchange()
    {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            // Never during a flash: the loader runs inside the firmware check, which
            // looks at the request once the loader has ended.
            if (w->portState == psIdle || (interruptRequested && !w->firmwareCheckRunning))
                loop.quit();
        });
        poll.start();
        loop.exec();
        if (!interruptRequested)
            return true;
        w->timerPortService->stop();
        w->portState = psIdle;
        return false;
    }

    // The search (with the firmware check) and the configuration read it hands over to.
    int find()
    {
        if (opt.port) {
            QString why;
            const int number = portNumber(&why);
            if (number < 0) {
                printErr(QStringLiteral("echogauge: ") + why);
                return why.startsWith(QLatin1String("--port")) ? exitUsage : exitNoPort;
            }
            w->searchOnlyPort = opt.port->kind == PortArgument::Network ? opt.port->device
                                                                        : QStringLiteral("COM%1").arg(number);
        }
        w->menuSearchClick();
        if (!runExchange())
            return interrupted();
        if (w->sensorFound && w->configRead)
            return exitDone;
        if (w->sensorFound)
            return failed(); // found, but its configuration did not come
        if (w->searchPortsOpened == 0) {
            printErr(QStringLiteral("echogauge: no port could be opened"));
            return exitNoPort;
        }
        if (lastStatus == QLatin1String("EchoGauge not found!")) {
            printErr(QStringLiteral("echogauge: EchoGauge not found"));
            result = QStringLiteral("not found");
            return exitDiffers;
        }
        return failed(); // identified, but its firmware cannot be used
    }

    int failed()
    {
        printErr(QStringLiteral("echogauge: failed: ") + lastStatus);
        result = QStringLiteral("failed");
        return exitFailed;
    }

    int interrupted()
    {
        printErr(QStringLiteral("echogauge: interrupted") +
                 (writtenRegisters.isEmpty() ? QString() : QStringLiteral("; ") + writtenText()));
        result = QStringLiteral("interrupted");
        return exitFailed;
    }

    QString writtenText() const
    {
        if (writtenRegisters.isEmpty())
            return QStringLiteral("no register was written");
        QStringList regs;
        for (int r : writtenRegisters)
            regs << QString::number(r);
        return QStringLiteral("registers written: ") + regs.join(QLatin1Char(' '));
    }

    // --port as a port number the search knows.
    int portNumber(QString *why) const
    {
        if (opt.port->kind != PortArgument::Device)
            return opt.port->number;
#ifdef _WIN32
        *why = QStringLiteral("--port %1: give COM<n>").arg(opt.port->device); // never parsed as a device
        return -1;
#else
        const QString device = QFileInfo(opt.port->device).canonicalFilePath();
        if (device.isEmpty()) {
            *why = QStringLiteral("%1: no such device").arg(opt.port->device);
            return -1;
        }
        SerialDriver *driver = w->platform.serial;
        for (const PortLink &link : driver->portLinks())
            if (link.targetExists && QFileInfo(link.target).canonicalFilePath() == device)
                return PortNumberForLinkName(link.name);
        for (const NumberedDevice &d : NumberedDevices(driver->serialDevices()))
            if (QFileInfo(d.path).canonicalFilePath() == device)
                return d.number;
        const int number = PortNumberForDevice(device, nullptr);
        if (number < 0)
            *why = QStringLiteral("--port %1: not a serial port the search can reach").arg(opt.port->device);
        return number;
#endif
    }

    // ------------------------------------------------------------ what the read gave
    QMap<int, qint32> dumpValues() const
    {
        return DumpRegisterValues(w->lastRegisterDump, {1, 9, 19, 23, 24, 128, 129, 130, 131, 132});
    }

    ChannelFileContent description() const
    {
        ChannelFileContent c;
        c.type = w->channelType();
        c.dims = w->dimensionsShown();
        return c;
    }

    SensorFacts facts() const
    {
        SensorFacts f;
        f.port = w->sensorPortName;
        f.device = w->commPort.openDevice;
        f.baud = w->sensorBaud;
        f.passthrough = w->sensorPassthrough;
        f.firmwareVersion = w->firmwareVersion;
        f.serial = w->sensorSerial;
        const UpdateFile update = FindUpdateFile(w->platform.dataDir);
        if (update.version > w->firmwareVersion)
            f.updateVersion = update.version;
        return f;
    }

    QJsonObject baseJson() const
    {
        QJsonObject o;
        o[QStringLiteral("schema")] = jsonSchema;
        o[QStringLiteral("command")] = opt.command;
        o[QStringLiteral("result")] = result;
        if (w->sensorFound)
            o[QStringLiteral("sensor")] = SensorJson(facts());
        return o;
    }

    void printJson(QJsonObject o) const
    {
        o[QStringLiteral("result")] = result;
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    }

    void printSensorText() const
    {
        const SensorFacts f = facts();
        printOut(QStringLiteral("port: %1%2, %3, %4\nfirmware: %5\nserial: %6\nupdate: %7\n")
                     .arg(f.port, f.device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(f.device),
                          f.passthrough ? QStringLiteral("through a logger") : QStringLiteral("direct"))
                     .arg(f.baud)
                     .arg(FirmwareVersionText(f.firmwareVersion))
                     .arg(f.serial, 5, 10, QLatin1Char('0'))
                     .arg(f.updateVersion
                              ? FirmwareVersionText(*f.updateVersion) + QStringLiteral(" available")
                              : QStringLiteral("none")));
    }

    // Values the read clamped or replaced are said, not passed over.
    void sayAdjustedValues() const
    {
        const QMap<int, qint32> raw = dumpValues();
        const ChannelFileContent c = description();
        const QList<QPair<int, qint32>> taken = {
            {128, c.type},
            {129, c.type == ctVNotchWeir ? c.dims.notchAngle : c.dims.notchWidth},
            {130, c.dims.crestHeight},
            {131, c.dims.channelWidth},
            {132, w->flowExponent}};
        for (const auto &[reg, value] : taken)
            if (raw.contains(reg) && raw.value(reg) != value)
                printErr(QStringLiteral("echogauge: register %1 held %2, taken as %3")
                             .arg(reg)
                             .arg(raw.value(reg))
                             .arg(value));
    }

    // ------------------------------------------------------------ set-up into the window
    // The window's "Set Max Height" state that gives the maximum height read from the
    // sensor, so that a write or upload that is not told otherwise keeps it.
    void keepWindowHigh()
    {
        const QMap<int, qint32> raw = dumpValues();
        if (!raw.contains(1))
            return;
        applyMaxHeight(quint16(raw.value(1)), false);
    }

    bool applyMaxHeight(qint32 maxMm, bool told)
    {
        const qint32 heightMm = w->trackSensorHeight->maximum() - w->trackSensorHeight->value();
        w->cbSetMaxHeight->setChecked(false);
        if (maxMm == w->WindowHighWord())
            return true; // the sensor's own window
        const auto percent = HeadroomForMaxHeight(heightMm, maxMm);
        if (percent) {
            w->maxHeightPercent = *percent;
            w->cbSetMaxHeight->setChecked(true);
            if (w->WindowHighWord() != maxMm)
                printErr(QStringLiteral("echogauge: maximum height %1 m goes out as %2 m (%3 % above the "
                                        "sensor height)")
                             .arg(maxMm / 1000.0, 0, 'f', 3)
                             .arg(w->WindowHighWord() / 1000.0, 0, 'f', 3)
                             .arg(*percent));
            return true;
        }
        printErr(QStringLiteral("echogauge: %1maximum height %2 m is not 1 % to 100 % above the sensor "
                                "height %3 m%4")
                     .arg(told ? QString() : QStringLiteral("the sensor's "))
                     .arg(maxMm / 1000.0, 0, 'f', 3)
                     .arg(heightMm / 1000.0, 0, 'f', 3)
                     .arg(told ? QString() : QStringLiteral("; the sensor's own window goes out instead")));
        return !told;
    }

    // The set-up values as the window's controls would hold them; false (with a
    // message) for a value outside what this sensor takes.
    bool applySetup(const SetupValues &v)
    {
        if (v.heightMm > w->trackSensorHeight->maximum()) {
            printErr(QStringLiteral("echogauge: the sensor height %1 m is beyond the sensor's range of %2 m")
                         .arg(v.heightMm / 1000.0, 0, 'f', 3)
                         .arg(w->trackSensorHeight->maximum() / 1000.0, 0, 'f', 3));
            return false;
        }
        w->cbChanType->setCurrentIndex(v.type);
        w->trackSensorHeight->setValue(w->trackSensorHeight->maximum() - v.heightMm);
        w->lostEchoValue = v.lostEcho;
        w->ShowLostEcho();
        if (v.maxHeightMm)
            return applyMaxHeight(*v.maxHeightMm, true);
        keepWindowHigh();
        return true;
    }

    // The set-up from --from, or from the single values over what the sensor holds.
    std::optional<SetupValues> setupFromOptions(bool fromFileOnly, const QString &file)
    {
        QString why;
        if (!file.isEmpty()) {
            QFile f(file);
            if (!f.open(QIODevice::ReadOnly)) {
                printErr(QStringLiteral("echogauge: %1: cannot be read (%2)").arg(file, f.errorString()));
                return std::nullopt;
            }
            const auto v = SetupFromJson(f.readAll(), file, &why);
            if (!v)
                printErr(QStringLiteral("echogauge: ") + why);
            return v;
        }
        if (fromFileOnly)
            return std::nullopt;
        const QMap<int, qint32> raw = dumpValues();
        SetupValues v;
        v.type = w->channelType();
        v.heightMm = w->trackSensorHeight->maximum() - w->trackSensorHeight->value();
        v.lostEcho = quint16(raw.value(24, 0xFFFF));
        if (v.lostEcho != 0xFFFF)
            v.lostEcho = qint16(v.lostEcho);
        if (!opt.type.isEmpty())
            v.type = ChannelTypeFromText(opt.type);
        if (!opt.height.isEmpty())
            v.heightMm = *MillimetresFromText(opt.height, &why);
        if (!opt.maxHeight.isEmpty())
            v.maxHeightMm = *MillimetresFromText(opt.maxHeight, &why);
        if (!opt.lostEcho.isEmpty())
            v.lostEcho = *LostEchoFromArgument(opt.lostEcho, &why);
        return v;
    }

    // The description file into the window, as "Load Channel Description" takes it.
    void loadDescription(const QString &path)
    {
        dialogs->openAnswers = {path};
        w->menuLoadChannelClick();
    }

    // ------------------------------------------------------------ the commands
    int cmdFind()
    {
        const int code = find();
        if (code != exitDone)
            return report(code);
        result = QStringLiteral("done");
        if (opt.json)
            printJson(baseJson());
        else
            printSensorText();
        return exitDone;
    }

    int cmdRead()
    {
        const int code = find();
        if (code != exitDone)
            return report(code);
        sayAdjustedValues();
        result = QStringLiteral("done");
        const QMap<int, qint32> raw = dumpValues();
        if (!opt.cdf.isEmpty()) {
            dialogs->saveAnswers = {opt.cdf};
            const int before = int(dialogs->messages.size());
            w->menuSaveChannelClick();
            if (dialogs->messages.size() != before)
                return report(exitFailed, QStringLiteral("failed"));
        }
        if (opt.json) {
            QJsonObject o = baseJson();
            o[QStringLiteral("setup")] = SetupJson(raw, raw.value(9));
            o[QStringLiteral("channel")] = ChannelJson(description());
            printJson(o);
            return exitDone;
        }
        printSensorText();
        const QJsonObject s = SetupJson(raw, raw.value(9));
        const ChannelFileContent c = description();
        printOut(QStringLiteral("type: %1\nsensor height: %2 m\nmaximum height: %3\nlost echo: %4\n"
                                "channel: notch angle %5, crest height %6 mm, channel width %7 mm, "
                                "notch width %8 mm\n")
                     .arg(ChannelTypeName(c.type))
                     .arg(s.value(QStringLiteral("height_m")).toDouble(), 0, 'f', 3)
                     .arg(s.contains(QStringLiteral("max_height_m"))
                              ? QString::number(s.value(QStringLiteral("max_height_m")).toDouble(), 'f', 3) +
                                    QStringLiteral(" m")
                              : QStringLiteral("not listed"))
                     .arg(s.value(QStringLiteral("lost_echo")).toVariant().toString())
                     .arg(c.dims.notchAngle)
                     .arg(c.dims.crestHeight)
                     .arg(c.dims.channelWidth)
                     .arg(c.dims.notchWidth));
        return exitDone;
    }

    int cmdWrite()
    {
        // The file is read before the sensor is searched for: a bad file ends at once.
        std::optional<SetupValues> fromFile;
        if (!opt.from.isEmpty()) {
            fromFile = setupFromOptions(true, opt.from);
            if (!fromFile)
                return report(exitUsage, QStringLiteral("bad input"));
        }
        const int code = find();
        if (code != exitDone)
            return report(code);
        const auto values = fromFile ? fromFile : setupFromOptions(false, QString());
        if (!values || !applySetup(*values))
            return report(exitUsage, QStringLiteral("bad input"));
        w->StartWriteConfig();
        const bool ended = runExchange();
        static const int order[] = {1, 23, 24, 128};
        for (int i = 0; i < int(w->writeStep) && i < 4; ++i)
            writtenRegisters << order[i];
        if (!ended)
            return report(interrupted(), QString(), true);
        if (w->writeStep < 4) {
            printErr(QStringLiteral("echogauge: ") + writtenText());
            return report(failed(), QString(), true);
        }
        result = QStringLiteral("done");
        return report(exitDone);
    }

    int cmdUpload()
    {
        QString why;
        const QString file = opt.positional.value(0);
        const auto content = CheckChannelFile(file, &why);
        if (!content) {
            printErr(QStringLiteral("echogauge: ") + why);
            return report(exitUsage, QStringLiteral("bad input"));
        }
        const int code = find();
        if (code != exitDone)
            return report(code);
        loadDescription(file);
        keepWindowHigh(); // against the description's type, as the upload writes it
        w->StartChannelUpload();
        const int first = HasFlowTable(w->channelType()) ? 0 : uploadFirstSettingsStep;
        const bool ended = runExchange();
        for (int step = first; step < int(w->channelStep); ++step)
            writtenRegisters << UploadRegister(step);
        if (!ended)
            return report(interrupted(), QString(), true);
        if (w->channelStep < uploadSteps) {
            printErr(QStringLiteral("echogauge: ") + writtenText());
            return report(failed(), QString(), true);
        }
        result = QStringLiteral("done");
        return report(exitDone);
    }

    // What the files describe, into the window; then "Verify Sensor".
    int verifyAgainst(const QString &cdf, const std::optional<SetupValues> &setup, VerifyOutcome *outcome)
    {
        if (!cdf.isEmpty())
            loadDescription(cdf);
        keepWindowHigh();
        if (setup && !applySetup(*setup))
            return exitUsage;
        w->menuVerifySensorClick();
        if (!runExchange())
            return interrupted();
        if (w->lastVerifyWindow.isEmpty())
            return failed();
        *outcome = CompareRegisters(w->lastVerifySensor, w->lastVerifyWindow,
                                    VerifiedRegisters(bool(setup), !cdf.isEmpty()));
        return outcome->differences.isEmpty() ? exitDone : exitDiffers;
    }

    int cmdVerify()
    {
        QString why;
        if (opt.cdf.isEmpty() && opt.setup.isEmpty()) {
            printErr(QStringLiteral("echogauge: verify needs --cdf FILE, --setup FILE.json or both"));
            return report(exitUsage, QStringLiteral("bad input"));
        }
        if (!opt.cdf.isEmpty() && !CheckChannelFile(opt.cdf, &why)) {
            printErr(QStringLiteral("echogauge: ") + why);
            return report(exitUsage, QStringLiteral("bad input"));
        }
        std::optional<SetupValues> setup;
        if (!opt.setup.isEmpty()) {
            setup = setupFromOptions(true, opt.setup);
            if (!setup)
                return report(exitUsage, QStringLiteral("bad input"));
        }
        const int code = find();
        if (code != exitDone)
            return report(code);
        VerifyOutcome outcome;
        const int verified = verifyAgainst(opt.cdf, setup, &outcome);
        if (verified != exitDone && verified != exitDiffers)
            return report(verified);
        result = verified == exitDone ? QStringLiteral("holds") : QStringLiteral("differs");
        if (opt.json) {
            QJsonObject o = baseJson();
            o[QStringLiteral("verify")] = outcome.json;
            printJson(o);
            return verified;
        }
        if (verified == exitDone) {
            printOut(QStringLiteral("holds (%1 registers compared)\n").arg(outcome.compared));
            return verified;
        }
        printOut(QStringLiteral("differs in %1 of %2 registers\n%3\t%4\t%5\n")
                     .arg(outcome.differences.size())
                     .arg(outcome.compared)
                     .arg(QStringLiteral("register"), QStringLiteral("in the sensor"),
                          QStringLiteral("expected")));
        for (const RegisterDifference &d : outcome.differences)
            printOut(QStringLiteral("%1\t%2\t%3\n").arg(RegisterCaption(d.reg), d.inSensor, d.inWindow));
        return verified;
    }

    int cmdMeasure()
    {
        const int code = find();
        if (code != exitDone)
            return report(code);
        QJsonArray readings;
        for (int n = 0; n < opt.count; ++n) {
            if (n > 0 && opt.interval > 0) {
                QEventLoop pause;
                QTimer::singleShot(int(opt.interval * 1000), &pause, &QEventLoop::quit);
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &pause, [&] {
                    if (interruptRequested)
                        pause.quit();
                });
                poll.start(20);
                pause.exec();
                if (interruptRequested)
                    return report(interrupted());
            }
            const qint64 before = w->historyEntries ? w->historyEntries->size() : 0;
            w->StartMeasurement(true);
            if (!runExchange())
                return report(interrupted());
            if (!w->historyEntries || w->historyEntries->size() == before)
                return report(failed());
            const HistoryRecord r = HistoryRecordOf(w->historyEntries->at(w->historyEntries->size() - 1));
            if (opt.json) {
                QJsonObject o;
                o[QStringLiteral("time")] = r.taken;
                o[QStringLiteral("quantity")] = r.quantity;
                o[QStringLiteral("value")] =
                    r.value.isEmpty() ? QJsonValue() : QJsonValue(r.value.toDouble());
                o[QStringLiteral("unit")] = r.unit;
                o[QStringLiteral("valid")] = r.valid == QLatin1String("yes");
                o[QStringLiteral("samples")] = r.samples.toInt();
                o[QStringLiteral("valid_samples")] = r.validSamples.toInt();
                o[QStringLiteral("gain")] = r.gain.toInt();
                if (!r.flow.isEmpty())
                    o[QStringLiteral("flow_m3s")] = r.flow.toDouble();
                readings.append(o);
            } else {
                printOut(QStringLiteral("%1\t%2\t%3\t%4\n")
                             .arg(r.taken,
                                  r.valid == QLatin1String("yes") ? r.value : QStringLiteral("invalid"),
                                  r.unit, r.quantity));
            }
        }
        if (!opt.csv.isEmpty()) {
            QFile f(opt.csv);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                f.write(HistoryCsv(*w->historyEntries)) < 0) {
                printErr(
                    QStringLiteral("echogauge: %1: cannot be written (%2)").arg(opt.csv, f.errorString()));
                return report(exitFailed, QStringLiteral("failed"));
            }
        }
        result = QStringLiteral("done");
        if (opt.json) {
            QJsonObject o = baseJson();
            o[QStringLiteral("measurements")] = readings;
            printJson(o);
        }
        return exitDone;
    }

    int cmdSend()
    {
        const QString text = opt.positional.join(QLatin1Char(' '));
        const int code = find();
        if (code != exitDone)
            return report(code);
        w->rxBuffer->Clear();
        listenWithoutManualWindow = true;
        w->StartManualCommand(manualCommandText(text), w->sensorPassthrough);
        if (!runExchange())
            return report(interrupted());
        const qint32 n = w->rxBuffer->Count();
        QByteArray reply(n, '\0');
        w->rxBuffer->Peek(reply.data(), 0, n);
        reply.replace("\r\n", "\n").replace('\r', '\n');
        result = QStringLiteral("done");
        if (opt.json) {
            QJsonObject o = baseJson();
            o[QStringLiteral("reply")] = QString::fromLatin1(reply);
            printJson(o);
        } else {
            printOut(QString::fromLatin1(reply));
            if (!reply.isEmpty() && !reply.endsWith('\n'))
                printOut(QStringLiteral("\n"));
        }
        return exitDone;
    }

    int cmdUpgrade()
    {
        if (!opt.yes) {
            printErr(QStringLiteral("echogauge: upgrade installs firmware only with --yes"));
            return exitUsage;
        }
        return cmdFind(); // the search's firmware check flashes, now that it may
    }

    int cmdReport()
    {
        if (opt.pdf.isEmpty()) {
            printErr(QStringLiteral("echogauge: report needs --pdf FILE"));
            return exitUsage;
        }
        const int code = find();
        if (code != exitDone)
            return report(code);
        // The verification compares what was just read with the sensor once more, so
        // that the report records a sensor that holds its own set-up.
        keepWindowHigh();
        w->menuVerifySensorClick();
        if (!runExchange())
            return report(interrupted());
        SiteReport r = w->siteReport();
        r.siteName = opt.site;
        QString error;
        if (!WriteSiteReport(opt.pdf, r, &error)) {
            printErr(QStringLiteral("echogauge: %1: %2").arg(opt.pdf, error));
            return report(exitFailed, QStringLiteral("failed"));
        }
        result = QStringLiteral("done");
        if (opt.json) {
            QJsonObject o = baseJson();
            o[QStringLiteral("pdf")] = QFileInfo(opt.pdf).absoluteFilePath();
            printJson(o);
        }
        return exitDone;
    }

    // A command that ends without its own output: the JSON line still says how.
    int report(int code, const QString &why = QString(), bool registers = false)
    {
        if (!why.isEmpty())
            result = why;
        else if (result.isEmpty())
            result = code == exitNoPort ? QStringLiteral("no port") : QStringLiteral("failed");
        if (opt.json) {
            QJsonObject o = baseJson();
            if (code != exitDone)
                o[QStringLiteral("status")] = lastStatus;
            if (registers) {
                QJsonArray regs;
                for (int r : writtenRegisters)
                    regs.append(r);
                o[QStringLiteral("written")] = regs;
            }
            printJson(o);
        }
        return code;
    }

    const Options &opt;
    ConsoleDialogs *dialogs;
    std::unique_ptr<TformMain> window;
    TformMain *w = nullptr;
    QString lastStatus;
    QString result;
    QList<int> writtenRegisters;
};

} // namespace

namespace {

int cmdPorts(const Options &opt)
{
    SerialDriver *driver = SerialDriver::system();
    PortList ports;
    EnumeratePorts(&ports, excludeBluetoothPort | excludeBluetoothModem, driver);
    QJsonArray rows;
    int openable = 0;
    for (const PortName &p : std::as_const(ports)) {
        COMMPORT port(driver);
        QString state = QStringLiteral("can be opened");
        QString device;
        if (p.number >= 0 && p.number <= 255 && OpenPort(&port, quint8(p.number), 9600)) {
            device = port.openDevice;
            ClosePort(&port);
            ++openable;
        } else {
            device = port.openDevice;
            RefusedPort refused{p.name, port.openDevice, RefusalForError(port.openError)};
#ifndef _WIN32
            refused = DescribeRefusedPort(refused);
#endif
            const QString text = RefusedPortsMessage({refused});
            // The line of the closing message that names this port.
            const QString prefix = QStringLiteral("%1 (%2): ").arg(p.name, port.openDevice);
            const qsizetype at = text.indexOf(prefix);
            state = at >= 0 ? text.mid(at + prefix.size()).section(QLatin1Char('\n'), 0, 0)
                            : QStringLiteral("cannot be opened");
        }
        if (opt.json) {
            QJsonObject o;
            o[QStringLiteral("schema")] = jsonSchema;
            o[QStringLiteral("port")] = p.name;
            o[QStringLiteral("device")] = device;
            o[QStringLiteral("opens")] = state == QLatin1String("can be opened");
            o[QStringLiteral("state")] = state;
            rows.append(o);
        } else {
            printOut(QStringLiteral("%1\t%2\t%3\n").arg(p.name, device, state));
        }
    }
    if (opt.json) {
        QJsonObject o;
        o[QStringLiteral("schema")] = jsonSchema;
        o[QStringLiteral("command")] = QStringLiteral("ports");
        o[QStringLiteral("ports")] = rows;
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    }
    if (openable == 0) {
        printErr(QStringLiteral("echogauge: no port could be opened"));
        return exitNoPort;
    }
    return exitDone;
}

int cmdFleet(const Options &opt, const QString &program)
{
    const QString file = opt.positional.value(0);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        printErr(QStringLiteral("echogauge: %1: cannot be read (%2)").arg(file, f.errorString()));
        return exitUsage;
    }
    QString why;
    const auto sites = ParseSites(f.readAll(), file, QFileInfo(file).absolutePath(), &why);
    if (!sites) {
        printErr(QStringLiteral("echogauge: ") + why);
        return exitUsage;
    }
    const bool verifyJob = opt.job == QLatin1String("verify");
    for (const Site &s : *sites) {
        if (verifyJob && s.cdf.isEmpty() && s.setup.isEmpty()) {
            printErr(QStringLiteral("echogauge: %1: site %2 has neither a description nor a set-up file to "
                                    "verify against")
                         .arg(file, s.name));
            return exitUsage;
        }
    }
    const int jobs = opt.jobs > 0 ? opt.jobs : qMax(1, QThread::idealThreadCount());

    struct Running
    {
        int index;
        QProcess *process;
        QElapsedTimer clock;
    };
    QList<SiteEnd> ends(sites->size(), SiteEnd::Failed);
    QStringList lines(sites->size());
    QList<QJsonObject> objects(sites->size());
    QList<qint64> times(sites->size(), 0);
    int next = 0;
    int running = 0;
    QEventLoop loop;

    std::function<void()> startMore = [&] {
        while (running < jobs && next < sites->size() && !interruptRequested) {
            const int index = next++;
            const Site &s = sites->at(index);
            QStringList args{opt.job, QStringLiteral("--port"), s.port, QStringLiteral("--json"),
                             QStringLiteral("--quiet")};
            if (opt.job != QLatin1String("read") && opt.job != QLatin1String("measure")) {
                if (!s.cdf.isEmpty())
                    args << QStringLiteral("--cdf") << s.cdf;
                if (!s.setup.isEmpty())
                    args << QStringLiteral("--setup") << s.setup;
            }
            auto *p = new QProcess(&loop);
            auto *clock = new QElapsedTimer;
            clock->start();
            ++running;
            const auto ended = [&, p, index, clock](int code, QProcess::ExitStatus st) {
                times[index] = clock->elapsed();
                delete clock;
                const QByteArray out = p->readAllStandardOutput();
                const QByteArray err = p->readAllStandardError();
                QJsonObject child;
                for (const QByteArray &line : out.split('\n'))
                    if (line.startsWith('{'))
                        child = QJsonDocument::fromJson(line).object();
                const int exitCode = st == QProcess::NormalExit ? code : exitFailed;
                ends[index] = SiteEndOf(exitCode, child.value(QStringLiteral("result")).toString());
                QString detail = child.value(QStringLiteral("status")).toString();
                const QList<QByteArray> errLines = err.trimmed().split('\n');
                if (ends[index] == SiteEnd::Failed && !errLines.isEmpty() && !errLines.last().isEmpty())
                    detail = QString::fromLocal8Bit(errLines.last()).remove(QStringLiteral("echogauge: "));
                if (ends[index] == SiteEnd::Differs) {
                    QStringList regs;
                    for (const QJsonValue r : child.value(QStringLiteral("verify"))
                                                  .toObject()
                                                  .value(QStringLiteral("registers"))
                                                  .toArray())
                        if (!r.toObject().value(QStringLiteral("same")).toBool())
                            regs << QString::number(r.toObject().value(QStringLiteral("register")).toInt());
                    detail = QStringLiteral("registers ") + regs.join(QLatin1Char(' '));
                }
                const Site &site = sites->at(index);
                QJsonObject o;
                o[QStringLiteral("schema")] = jsonSchema;
                o[QStringLiteral("site")] = site.name;
                o[QStringLiteral("port")] = site.port;
                o[QStringLiteral("job")] = opt.job;
                o[QStringLiteral("outcome")] = SiteEndText(ends[index], verifyJob);
                o[QStringLiteral("exit")] = exitCode;
                o[QStringLiteral("seconds")] = times[index] / 1000.0;
                if (!detail.isEmpty())
                    o[QStringLiteral("detail")] = detail;
                if (!child.isEmpty())
                    o[QStringLiteral("result")] = child;
                objects[index] = o;
                lines[index] = QStringLiteral("%1\t%2\t%3\t%4")
                                   .arg(site.name, site.port, SiteEndText(ends[index], verifyJob), detail);
                if (opt.json)
                    printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) +
                             QLatin1Char('\n'));
                else if (!opt.quiet)
                    printErr(lines[index]);
                p->deleteLater();
                --running;
                startMore();
                if (running == 0 && (next >= sites->size() || interruptRequested))
                    loop.quit();
            };
            QObject::connect(p, &QProcess::finished, &loop, ended);
            p->start(program, args);
            // A child that cannot start never finishes: its site has failed.
            if (!p->waitForStarted(10000)) {
                QObject::disconnect(p, &QProcess::finished, &loop, nullptr);
                ended(-1, QProcess::CrashExit);
            }
        }
    };
    startMore();
    if (running > 0)
        loop.exec();

    if (!opt.json) {
        printOut(QStringLiteral("site\tport\toutcome\tdetail\n"));
        for (const QString &line : std::as_const(lines))
            if (!line.isEmpty())
                printOut(line + QLatin1Char('\n'));
    }
    const QString summary = FleetSummary(ends, verifyJob);
    if (opt.json) {
        QJsonObject o;
        o[QStringLiteral("schema")] = jsonSchema;
        o[QStringLiteral("summary")] = summary;
        o[QStringLiteral("exit")] = FleetExitCode(ends);
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    } else {
        printOut(summary + QLatin1Char('\n'));
    }
    if (interruptRequested)
        return exitFailed;
    return FleetExitCode(ends);
}

// The options each command takes, besides --quiet.
QStringList allowedOptions(const QString &command)
{
    static const QMap<QString, QStringList> allowed = {
        {QStringLiteral("ports"), {"json"}},
        {QStringLiteral("find"), {"port", "json"}},
        {QStringLiteral("read"), {"port", "json", "cdf"}},
        {QStringLiteral("write"), {"port", "json", "from", "height", "max-height", "lost-echo", "type"}},
        {QStringLiteral("upload"), {"port", "json"}},
        {QStringLiteral("verify"), {"port", "json", "cdf", "setup"}},
        {QStringLiteral("measure"), {"port", "json", "count", "interval", "csv"}},
        {QStringLiteral("send"), {"port", "json"}},
        {QStringLiteral("report"), {"port", "json", "pdf", "site"}},
        {QStringLiteral("upgrade"), {"port", "json", "yes"}},
        {QStringLiteral("fleet"), {"do", "jobs", "json"}},
    };
    return allowed.value(command);
}

// The command line checked; an error message, or empty when it is good.
QString parseOptions(const QStringList &arguments, Options *o)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QList<QCommandLineOption> options = {
        QCommandLineOption(QStringLiteral("quiet")),
        QCommandLineOption(QStringLiteral("json")),
        QCommandLineOption(QStringLiteral("yes")),
        {QStringLiteral("port"), QString(), QStringLiteral("P")},
        {QStringLiteral("cdf"), QString(), QStringLiteral("FILE")},
        {QStringLiteral("from"), QString(), QStringLiteral("FILE")},
        {QStringLiteral("setup"), QString(), QStringLiteral("FILE")},
        {QStringLiteral("height"), QString(), QStringLiteral("M")},
        {QStringLiteral("max-height"), QString(), QStringLiteral("M")},
        {QStringLiteral("lost-echo"), QString(), QStringLiteral("V")},
        {QStringLiteral("type"), QString(), QStringLiteral("T")},
        {QStringLiteral("count"), QString(), QStringLiteral("N")},
        {QStringLiteral("interval"), QString(), QStringLiteral("S")},
        {QStringLiteral("csv"), QString(), QStringLiteral("FILE")},
        {QStringLiteral("pdf"), QString(), QStringLiteral("FILE")},
        {QStringLiteral("site"), QString(), QStringLiteral("NAME")},
        {QStringLiteral("do"), QString(), QStringLiteral("JOB")},
        {QStringLiteral("jobs"), QString(), QStringLiteral("N")},
    };
    parser.addOptions(options);
    if (!parser.parse(arguments))
        return parser.errorText();
    const QStringList allowed = allowedOptions(o->command) << QStringLiteral("quiet");
    for (const QString &name : parser.optionNames())
        if (!allowed.contains(name))
            return QStringLiteral("%1 does not take --%2").arg(o->command, name);
    for (const QCommandLineOption &opt : options)
        if (parser.values(opt).size() > 1)
            return QStringLiteral("--%1 is given more than once").arg(opt.names().first());

    o->positional = parser.positionalArguments();
    o->quiet = parser.isSet(QStringLiteral("quiet"));
    o->json = parser.isSet(QStringLiteral("json"));
    o->yes = parser.isSet(QStringLiteral("yes"));
    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };
    if (parser.isSet(QStringLiteral("port"))) {
        QString why;
        o->port = ParsePortArgument(value("port"), &why);
        if (!o->port)
            return why;
    }
    o->cdf = value("cdf");
    o->from = value("from");
    o->setup = value("setup");
    o->height = value("height");
    o->maxHeight = value("max-height");
    o->lostEcho = value("lost-echo");
    o->type = value("type");
    o->csv = value("csv");
    o->pdf = value("pdf");
    o->site = value("site");

    QString why;
    if (!o->height.isEmpty() && !MillimetresFromText(o->height, &why))
        return QStringLiteral("--height: ") + why;
    if (!o->maxHeight.isEmpty() && !MillimetresFromText(o->maxHeight, &why))
        return QStringLiteral("--max-height: ") + why;
    if (!o->lostEcho.isEmpty() && !LostEchoFromArgument(o->lostEcho, &why))
        return QStringLiteral("--lost-echo: ") + why;
    if (!o->type.isEmpty() && ChannelTypeFromText(o->type) < 0)
        return QStringLiteral("--type %1: give distance, depth, rectangular, constricted or v-notch")
            .arg(o->type);
    if (parser.isSet(QStringLiteral("count"))) {
        bool ok = false;
        o->count = value("count").toInt(&ok);
        if (!ok || o->count < 1)
            return QStringLiteral("--count %1: give a whole number from 1").arg(value("count"));
    }
    if (parser.isSet(QStringLiteral("interval"))) {
        bool ok = false;
        o->interval = value("interval").toDouble(&ok);
        if (!ok || !(o->interval >= 0 && o->interval <= 86400))
            return QStringLiteral("--interval %1: give seconds from 0 to 86400").arg(value("interval"));
    }
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        o->jobs = value("jobs").toInt(&ok);
        if (!ok || o->jobs < 1 || o->jobs > 256)
            return QStringLiteral("--jobs %1: give a whole number from 1 to 256").arg(value("jobs"));
    }
    if (parser.isSet(QStringLiteral("do"))) {
        o->job = value("do");
        if (o->job != QLatin1String("verify") && o->job != QLatin1String("read") &&
            o->job != QLatin1String("measure"))
            return QStringLiteral("--do %1: give verify, read or measure").arg(o->job);
    }

    // What each command needs.
    const QString &c = o->command;
    const qsizetype wanted = c == QLatin1String("upload") || c == QLatin1String("fleet") ? 1
                             : c == QLatin1String("send")                                ? -1
                                                                                         : 0;
    if (wanted == -1 && o->positional.isEmpty())
        return QStringLiteral("send needs the TEXT to send");
    if (wanted >= 0 && o->positional.size() != wanted)
        return wanted == 0 ? QStringLiteral("%1 takes no argument \"%2\"").arg(c, o->positional.value(0))
                           : QStringLiteral("%1 needs one file").arg(c);
    if (c == QLatin1String("write")) {
        const bool single =
            !o->height.isEmpty() || !o->maxHeight.isEmpty() || !o->lostEcho.isEmpty() || !o->type.isEmpty();
        if (o->from.isEmpty() == !single)
            return QStringLiteral("write needs either --from FILE.json or the values (--height, "
                                  "--max-height, --lost-echo, --type), not both");
    }
    if (c == QLatin1String("verify") && o->cdf.isEmpty() && o->setup.isEmpty())
        return QStringLiteral("verify needs --cdf FILE, --setup FILE.json or both");
    if (c == QLatin1String("report") && o->pdf.isEmpty())
        return QStringLiteral("report needs --pdf FILE");
    if (c == QLatin1String("upgrade") && !o->yes)
        return QStringLiteral("upgrade installs firmware only with --yes");
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    // No display is needed: the window runs unseen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietQtMessages);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(applicationTitle));

    QStringList args = QCoreApplication::arguments();
    const QString first = args.value(1);
    if (args.size() < 2) {
        printErr(UsageText());
        return exitUsage;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        printOut(UsageText());
        return exitDone;
    }
    if (first == QLatin1String("--version")) {
        printOut(QStringLiteral("echogauge %1\n").arg(QLatin1String(applicationVersion)));
        return exitDone;
    }
    if (first == QLatin1String("help")) {
        if (args.size() == 2) {
            printOut(UsageText());
            return exitDone;
        }
        const CommandInfo *c = FindCommand(args.at(2));
        if (!c) {
            printErr(QStringLiteral("echogauge: no command \"%1\"\n\n").arg(args.at(2)) + UsageText());
            return exitUsage;
        }
        printOut(CommandHelp(*c));
        return exitDone;
    }
    const CommandInfo *info = FindCommand(first);
    if (!info) {
        printErr(QStringLiteral("echogauge: no command \"%1\"\n\n").arg(first) + UsageText());
        return exitUsage;
    }
    Options opt;
    opt.command = first;
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        printOut(CommandHelp(*info));
        return exitDone;
    }
    args.removeAt(1);
    const QString error = parseOptions(args, &opt);
    if (!error.isEmpty()) {
        printErr(QStringLiteral("echogauge: ") + error + QStringLiteral("\n\n") + CommandHelp(*info));
        return exitUsage;
    }

#ifndef _WIN32
    installTerminationHandlers(&app, [] {});
#else
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#endif

    if (opt.command == QLatin1String("ports"))
        return cmdPorts(opt);
    if (opt.command == QLatin1String("fleet"))
        return cmdFleet(opt, QCoreApplication::applicationFilePath());

    ConsoleDialogs dialogs;
    dialogs.quiet = opt.quiet;
    Session session(opt, &dialogs);
    const QString &c = opt.command;
    int code = exitUsage;
    if (c == QLatin1String("find"))
        code = session.cmdFind();
    else if (c == QLatin1String("read"))
        code = session.cmdRead();
    else if (c == QLatin1String("write"))
        code = session.cmdWrite();
    else if (c == QLatin1String("upload"))
        code = session.cmdUpload();
    else if (c == QLatin1String("verify"))
        code = session.cmdVerify();
    else if (c == QLatin1String("measure"))
        code = session.cmdMeasure();
    else if (c == QLatin1String("send"))
        code = session.cmdSend();
    else if (c == QLatin1String("report"))
        code = session.cmdReport();
    else if (c == QLatin1String("upgrade"))
        code = session.cmdUpgrade();
    interruptRequested = false; // lets a Windows close handler return
    return code;
}
