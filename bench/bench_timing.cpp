// How long each exchange with the sensor takes against how long its protocol says
// it must take, and what the application costs in start-up time, memory and CPU.
// Prints figures; asserts nothing.
//   build/bench/bench_timing [idle-seconds] [measuring-seconds]     (defaults: 30 30)
//
// The exchanges run the application's main window in this process, on the system
// clock and the system's serial driver, against echogauge-sim on pseudo-terminals,
// in real time. The ideal durations below are worked out from the protocol's own
// constants, written out here; nothing of the application is asked for them.
#include "BenchSupport.h"
#include "model/InProcessSerial.h"

#include "app/Mainform.h"
#include "app/Platform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

// ------------------------------------------------------------------ the protocol's constants

constexpr double startTickMs = 16;    // a start operation and every preparation state but the search's
constexpr double pollTickMs = 100;    // every tick while a request is outstanding
constexpr double settleMs = 750;      // a freshly opened search candidate
constexpr double quietPassMs = 100;   // one pass of the quiet-line wait before every request
constexpr double txDelayMs = 20;      // "Tx Delay": one character per 20 ms (the default)
constexpr int attemptsPerRequest = 3; // probes per search candidate

// Time allowed per attempt, direct / through a logger.
constexpr double probeTimeout[2] = {500, 1500};
constexpr double writeTimeout[2] = {250, 1500};
constexpr double uploadTimeout[2] = {250, 2000};

// echogauge-sim: the sensor starts its answer 30 ms after the last character of a
// request, and sends at 9600 baud, 11 bit times a character (start, 8 data, 2 stop).
// A logger waits 10 ms, relays the request to the sensor at 9600 and passes every
// character of the answer on at its own speed as it comes in.
constexpr double sensorReplyDelayMs = 30;
constexpr double loggerTurnaroundMs = 10;
constexpr int sensorBaud = 9600;
constexpr int loggerBaud = 19200;

double characterMs(int baud)
{
    return 11000.0 / baud;
}

// Replies as the simulator sends them, and how much of each must be in before the
// application can recognise it.
//   identification "EchoGauge 18F2620 Version 01.13\r\n": recognised at its 31st character
//   measurement "65535,1,5,5,3,\r\n": recognised at its 14th character
//   acknowledgement "OK\r": all 3 characters
//   register dump of the simulator's factory registers: 2298 characters, taken once a
//   whole poll interval has brought nothing new. It is "\r\n", the identification
//   (33), two 25-character lines, 86 register lines of a 15-character name, "(R<n>): ",
//   the value and "\r\n" (86 x 22 + 196 digits of register numbers + 120 digits of
//   values) and "End\r\n".
constexpr int identificationMatch = 31;
constexpr int measurementMatch = 14;
constexpr int acknowledgementLength = 3;
constexpr int factoryDumpLength = 2298;

// The request as it goes out on the line: through a logger "...X" travels as
// "...EGCNFG(X)".
int framedLength(const QByteArray &request, bool logger)
{
    return int(request.size()) + (logger ? 8 : 0);
}

// ------------------------------------------------------------------ the ideal timeline

// How a reply is recognised: as soon as the pattern is in, or (the configuration read
// and write) once the count of bytes held has not changed over a whole poll interval.
enum class Recognised
{
    OnPattern,
    WhenQuiet
};

struct Attempt
{
    bool found;
    double foundAt;   // the tick on which the reply is taken
    double expiresAt; // the tick on which the attempt's time has run out
};

// One request handed to SendCommand by a tick at sendAt.
//  - The quiet-line wait takes one pass: the line is quiet before every request here.
//  - The sender writes character k at sendAt + pass + k x delay and stops one delay after
//    the last; the scheduler, re-armed at sendAt + pass with the poll interval, ticks
//    every 100 ms from there but counts only from its first tick after the sender has
//    stopped (a tick due at the very moment the sender stops still finds it running).
//  - Each counting tick takes 100 ms off the attempt's time; a tick with time left
//    polls, the first without resends (or gives the candidate up).
//  - The reply's last needed character is in at: last request character + sensor
//    delay + its characters at 9600, through a logger also the logger's turnaround,
//    the relayed request at 9600 and one character at the logger's speed.
//  - A pattern is taken on the first polling tick at or after it is in; a quiet reply
//    on the tick after the first polling tick that sees all of it.
Attempt runAttempt(double sendAt, const QByteArray &request, bool logger, double timeoutMs, int replyChars,
                   Recognised how)
{
    const int n = framedLength(request, logger);
    const double lineFree = sendAt + quietPassMs;
    const double lastChar = lineFree + n * txDelayMs;
    const int firstCounting = int(std::floor((n + 1) * txDelayMs / pollTickMs + 1e-9)) + 1;
    auto tick = [&](int j) { return lineFree + j * pollTickMs; };

    double replyIn = -1;
    if (replyChars > 0) {
        if (logger) {
            const double sensorHasIt =
                lastChar + loggerTurnaroundMs + request.size() * characterMs(sensorBaud);
            replyIn = sensorHasIt + sensorReplyDelayMs + replyChars * characterMs(sensorBaud) +
                      characterMs(loggerBaud);
        } else {
            replyIn = lastChar + sensorReplyDelayMs + replyChars * characterMs(sensorBaud);
        }
    }

    int expires = firstCounting;
    while (timeoutMs - (expires - firstCounting + 1) * pollTickMs > 0)
        ++expires;
    Attempt a{false, 0, tick(expires)};
    if (replyIn < 0)
        return a;
    int seen = firstCounting;
    while (seen < expires && tick(seen) < replyIn)
        ++seen;
    const int taken = how == Recognised::OnPattern ? seen : seen + 1;
    if (seen < expires && taken < expires) {
        a.found = true;
        a.foundAt = tick(taken);
    }
    return a;
}

const QByteArray identify("...PDAC");
const QByteArray dumpRequest("...PDAh");
const QByteArray measure("...PDAs");

QByteArray registerWrite(int reg, quint16 value)
{
    return "...ATR" + QByteArray::number(reg) + "=" + QByteArray::number(value) + "\r";
}

// From the start operation (the window's first showing for the start-up search) to
// the tick that recognises the identification. The first tick (16 ms) finds the
// attempts used up and opens a candidate; 750 ms later its preparation purges; 100 ms
// later the first probe goes out. A silent candidate takes three whole attempts, and
// the tick on which the third runs out opens the next candidate.
double idealSearch(int silentBefore, bool logger)
{
    double t = startTickMs;
    for (int c = 0; c < silentBefore; ++c) {
        t += settleMs + pollTickMs;
        for (int a = 0; a < attemptsPerRequest; ++a)
            t = runAttempt(t, identify, logger, probeTimeout[logger], 0, Recognised::OnPattern).expiresAt;
    }
    t += settleMs + pollTickMs;
    return runAttempt(t, identify, logger, probeTimeout[logger], identificationMatch, Recognised::OnPattern)
        .foundAt;
}

// From StartReadConfig: its preparation 16 ms later, the request 16 ms after that.
double idealReadConfig(bool logger)
{
    const double timeout = logger ? 20000 : 10000;
    return runAttempt(2 * startTickMs, dumpRequest, logger, timeout, factoryDumpLength, Recognised::WhenQuiet)
        .foundAt;
}

// From StartWriteConfig to " Sensor data successfully written": four register writes,
// each acknowledged; the next register goes out only on the tick on which the
// current attempt's time runs out.
double idealWriteConfig(const std::vector<QByteArray> &writes, bool logger)
{
    double t = 2 * startTickMs;
    for (size_t i = 0; i < writes.size(); ++i) {
        const Attempt a = runAttempt(t, writes[i], logger, writeTimeout[logger], acknowledgementLength,
                                     Recognised::WhenQuiet);
        if (!a.found)
            return -1; // the rules themselves would retry: no clean ideal
        t = i + 1 < writes.size() ? a.expiresAt : a.foundAt;
    }
    return t;
}

// From StartChannelUpload to " Channel data successfully written": every step is
// written on the tick after the previous acknowledgement was taken.
double idealUpload(const std::vector<QByteArray> &writes, bool logger)
{
    double t = 2 * startTickMs;
    for (size_t i = 0; i < writes.size(); ++i) {
        const Attempt a = runAttempt(t, writes[i], logger, uploadTimeout[logger], acknowledgementLength,
                                     Recognised::OnPattern);
        if (!a.found)
            return -1;
        t = a.foundAt + (i + 1 < writes.size() ? pollTickMs : 0);
    }
    return t;
}

// From the first StartMeasurement to the tenth reading: each measurement is a
// preparation 16 ms after its start, the request 16 ms later, the reading on the
// first poll that holds it; with "Continuous" the next starts on that same tick.
double idealMeasurements(int count, bool logger)
{
    const double timeout = logger ? 2000 : 1500;
    double t = 0;
    for (int i = 0; i < count; ++i)
        t = runAttempt(t + 2 * startTickMs, measure, logger, timeout, measurementMatch, Recognised::OnPattern)
                .foundAt;
    return t;
}

// The write sends what the configuration read left: a depth channel (type 1) with the
// sensor at 3000 mm, Window High from the sensor type (5000) with "Set Max Height"
// off, lost echo "repeat" (65535).
std::vector<QByteArray> benchWrites()
{
    return {registerWrite(1, 5000), registerWrite(23, 3000), registerWrite(24, 65535), registerWrite(128, 1)};
}

// The upload is of a rectangular weir with no crest (every flow count 65535, flow
// exponent 4), the sensor at 3000 mm with the flow bit, notch width 500 mm, width 1000 mm.
constexpr int benchChannelType = 2;
constexpr quint16 benchHeightWord = 3000 | 0x8000;

std::vector<QByteArray> benchUpload()
{
    // The table's heads: the integer parts of k x 161.29033 mm (single precision), k = 0..31.
    static const int heads[32] = {0,    161,  322,  483,  645,  806,  967,  1129, 1290, 1451, 1612,
                                  1774, 1935, 2096, 2258, 2419, 2580, 2741, 2903, 3064, 3225, 3387,
                                  3548, 3709, 3870, 4032, 4193, 4354, 4516, 4677, 4838, 5000};
    std::vector<QByteArray> out;
    for (int k = 0; k < 32; ++k) {
        out.push_back(registerWrite(64 + 2 * k, quint16(heads[k])));
        out.push_back(registerWrite(65 + 2 * k, 65535));
    }
    out.push_back(registerWrite(1, 5000));
    out.push_back(registerWrite(23, benchHeightWord));
    out.push_back(registerWrite(24, 65535));
    out.push_back(registerWrite(128, benchChannelType));
    out.push_back(registerWrite(129, 500));
    out.push_back(registerWrite(130, 0));
    out.push_back(registerWrite(131, 1000));
    out.push_back(registerWrite(132, 4));
    return out;
}

// ------------------------------------------------------------------ running the window

// The settings a previous run would have left: the last connection (port -1: none)
// and the search options.
void storeSettings(int port, int baud, bool passthrough, int options)
{
    QSettings store(benchSettingsOrganization, QStringLiteral("EchoGauge Setup"));
    store.clear();
    store.setValue(QStringLiteral("Left"), 0);
    store.setValue(QStringLiteral("Top"), 0);
    store.setValue(QStringLiteral("Width"), 0); // too small: the window keeps its own size
    store.setValue(QStringLiteral("Right"), 0);
    store.setValue(QStringLiteral("Options"), options);
    store.setValue(QStringLiteral("Port"), port);
    store.setValue(QStringLiteral("Baud"), baud);
    store.setValue(QStringLiteral("Passthrough"), passthrough ? 1 : 0);
    store.setValue(QStringLiteral("Tx Delay"), int(txDelayMs));
    store.setValue(QStringLiteral("Max Height Percent"), 10);
    store.sync();
}

double residentMB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Runs the event loop until done() holds or limitMs have passed; true if it held.
bool runUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Runs the event loop for ms, as app.exec() would.
void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A main window on the system clock and serial driver, with what it shows and does
// time-stamped.
struct Window
{
    QuietDialogs dialogs;
    std::unique_ptr<TformMain> form;
    QElapsedTimer clock;
    double shownAt = -1;             // the first show event: the start-up search begins
    double readConfigStartedAt = -1; // the tick that recognised the identification
    QList<QPair<double, QString>> messages;

    struct ShowWatch : QObject
    {
        Window *w;
        explicit ShowWatch(Window *w) : w(w) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Show && w->shownAt < 0)
                w->shownAt = w->now();
            return false;
        }
    } showWatch{this};

    Window()
    {
        clock.start();
        form = std::make_unique<TformMain>(benchPlatform(Clock::system(), SerialDriver::system(), &dialogs));
        form->installEventFilter(&showWatch);
        QObject::connect(form->statusBar, &QStatusBar::messageChanged, form.get(),
                         [this](const QString &text) {
                             messages.append({now(), text});
                             static const bool trace = qEnvironmentVariableIntValue("EG_BENCH_TRACE") == 1;
                             if (trace)
                                 fprintf(stderr, "%10.1f %s\n", now(), qPrintable(text));
                         });
        QObject::connect(form->timerPortService, &Timer::timeout, form.get(), [this] {
            if (readConfigStartedAt < 0 && form->portState == psReadConfigPrepare)
                readConfigStartedAt = now();
            ticks.push_back(
                {tickStartedUs - form->timerPortService->dueUs(), Clock::system()->nowUs() - tickStartedUs});
        });
        // The port-service timer's own QTimer: when each tick begins.
        if (QObject *q = form->timerPortService->findChild<QTimer *>())
            q->installEventFilter(&tickWatch);
    }

    // How late each tick of the port-service timer began, and how long it ran (us).
    struct TickTimes
    {
        qint64 lateUs;
        qint64 runUs;
    };
    std::vector<TickTimes> ticks;
    qint64 tickStartedUs = 0;
    struct TickWatch : QObject
    {
        Window *w;
        explicit TickWatch(Window *w) : w(w) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Timer)
                w->tickStartedUs = Clock::system()->nowUs();
            return false;
        }
    } tickWatch{this};

    void printTicks(const char *what)
    {
        if (qEnvironmentVariableIntValue("EG_BENCH_TRACE") != 1 || ticks.empty())
            return;
        double late = 0, run = 0, lateMax = 0, runMax = 0;
        for (const TickTimes &t : ticks) {
            late += t.lateUs / 1000.0;
            run += t.runUs / 1000.0;
            lateMax = std::max(lateMax, t.lateUs / 1000.0);
            runMax = std::max(runMax, t.runUs / 1000.0);
        }
        fprintf(stderr, "%s: %zu ticks, late %.2f ms mean %.2f max, ran %.2f ms mean %.2f max\n", what,
                ticks.size(), late / ticks.size(), lateMax, run / ticks.size(), runMax);
        ticks.clear();
    }

    double now() const { return clock.nsecsElapsed() / 1e6; }

    double firstMessageAfter(double from, const QString &prefix) const
    {
        for (const auto &m : messages)
            if (m.first >= from && m.second.startsWith(prefix))
                return m.first;
        return -1;
    }
    bool sawAfter(double from, const QString &prefix) const { return firstMessageAfter(from, prefix) >= 0; }
    QString lastMessage() const { return messages.isEmpty() ? QString() : messages.last().second; }
};

struct Row
{
    QString exchange;
    QString line;
    double measured;
    double ideal;
};
std::vector<Row> rows;

void addRow(const QString &exchange, bool logger, double measured, double ideal, const QString &note = {})
{
    rows.push_back(
        {exchange, logger ? QStringLiteral("logger 19200") : QStringLiteral("direct 9600"), measured, ideal});
    if (!note.isEmpty())
        printf("  %s (%s): %s\n", qPrintable(exchange), qPrintable(rows.back().line), qPrintable(note));
}

// The start-up search as the window runs it when first shown; returns the window,
// connected, with its configuration read.
std::unique_ptr<Window> startUp(bool logger, bool sensorFirst, const QString &label)
{
    if (sensorFirst)
        storeSettings(5, logger ? loggerBaud : sensorBaud, logger, 7);
    else // no last connection; through a logger only the 19200 logger candidates are searched
        storeSettings(-1, 9600, false, logger ? 4 : 1);
    auto w = std::make_unique<Window>();
    w->form->show();
    const bool ok = runUntil([&] { return w->sawAfter(0, QStringLiteral(" Sensor data received")); }, 120000);
    const double measured = w->readConfigStartedAt - w->shownAt;
    addRow(label, logger, ok ? measured : -1, idealSearch(sensorFirst ? 0 : 4, logger),
           ok ? QString() : QStringLiteral("not found: ") + w->lastMessage());
    return ok ? std::move(w) : nullptr;
}

// Runs one exchange from its start operation to the status text that ends it.
double timeExchange(Window &w, const std::function<void()> &start, const QString &endText, int limitMs)
{
    w.printTicks("before");
    const double t0 = w.now();
    start();
    if (!runUntil([&] { return w.sawAfter(t0, endText) || w.form->portState == psIdle; }, limitMs))
        return -1;
    w.printTicks(qPrintable(endText));
    const double end = w.firstMessageAfter(t0, endText);
    if (end < 0) {
        printf("  ended with \"%s\"\n", qPrintable(w.lastMessage()));
        return -1;
    }
    return end - t0;
}

void exchangeFigures(bool logger)
{
    startUp(logger, false, QStringLiteral("start-up search, sensor 5th"));
    std::unique_ptr<Window> w = startUp(logger, true, QStringLiteral("start-up search, sensor 1st"));
    if (!w)
        return;
    TformMain &f = *w->form;

    addRow(QStringLiteral("configuration read"), logger,
           timeExchange(
               *w, [&] { f.StartReadConfig(); }, QStringLiteral(" Sensor data received"), 70000),
           idealReadConfig(logger));

    f.cbSetMaxHeight->setChecked(false);
    addRow(QStringLiteral("configuration write"), logger,
           timeExchange(
               *w, [&] { f.StartWriteConfig(); }, QStringLiteral(" Sensor data successfully written"), 30000),
           idealWriteConfig(benchWrites(), logger));

    f.cbChanType->setCurrentIndex(benchChannelType);
    f.crestHeight = 0;
    f.channelWidth = 1000;
    f.notchWidth = 500;

    addRow(QStringLiteral("channel upload, 72 steps"), logger,
           timeExchange(
               *w, [&] { f.StartChannelUpload(); }, QStringLiteral(" Channel data successfully written"),
               200000),
           idealUpload(benchUpload(), logger));

    // Ten readings in a continuous series, the animation running.
    const int count = 10;
    const int before = int(f.historyEntries->size());
    f.cb_Continuous->setChecked(true);
    const double t0 = w->now();
    f.menuMeasureClick();
    double tenth = -1;
    // Looked at after every tick of the scheduler: the tick that takes the tenth reading.
    QObject::connect(f.timerPortService, &Timer::timeout, &f, [&] {
        if (tenth < 0 && int(f.historyEntries->size()) - before >= count) {
            tenth = w->now() - t0;
            f.cb_Continuous->setChecked(false);
        }
    });
    runUntil([&] { return tenth >= 0 && f.portState == psIdle; }, 60000);
    w->printTicks("measurements");
    addRow(QStringLiteral("ten measurements"), logger, tenth, idealMeasurements(count, logger));
}

// CPU of this process while the window measures continuously, direct line.
void measuringCpu(int seconds)
{
    std::unique_ptr<Window> w = startUp(false, true, QStringLiteral("(start-up for the CPU figure)"));
    rows.pop_back();
    if (!w)
        return;
    TformMain &f = *w->form;
    f.cb_Continuous->setChecked(true);
    f.menuMeasureClick();
    const int before = int(f.historyEntries->size());
    const double cpu0 = cpuSeconds();
    const double t0 = w->now();
    idleFor(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double wall = (w->now() - t0) / 1000.0;
    printf(
        "CPU measuring continuously      %5.1f %% of one core (%d readings in %.0f s, animation running)\n",
        100.0 * cpu / wall, int(f.historyEntries->size()) - before, wall);
    f.cb_Continuous->setChecked(false);
    runUntil([&] { return f.portState == psIdle; }, 5000);
}

// ------------------------------------------------------------------ child processes

// A fresh process that does what the program's entry point does: the window is
// built and shown, and the time from the parent's spawn to the first painted frame
// is reported; then it waits for the start-up search and configuration read, reports
// its resident memory, sits idle with the sensor connected and reports its CPU.
int startupChild(int idleSeconds)
{
    const qint64 spawned = qgetenv("EG_BENCH_SPAWN_NS").toLongLong();
    int argc = 1;
    char name[] = "echogauge-setup";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("EchoGauge Setup Application"));
    QApplication::setFont(windowFont());
    storeSettings(5, sensorBaud, false, 7);

    struct PaintWatch : QObject
    {
        bool painted = false;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    } paintWatch;
    QuietDialogs dialogs;
    TformMain window(benchPlatform(Clock::system(), SerialDriver::system(), &dialogs));
    window.installEventFilter(&paintWatch);
    window.show();
    runUntil([&] { return paintWatch.painted; }, 10000);
    QApplication::processEvents(); // the frame painted is flushed
    printf("shown %.1f\n", (monotonicNs() - spawned) / 1e6);
    fflush(stdout);

    runUntil([&] { return window.statusText().startsWith(QStringLiteral(" Sensor data received")); }, 30000);
    printf("status %s\n", qPrintable(window.statusText()));
    printf("rss %.1f\n", residentMB());
    fflush(stdout);

    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    idleFor(idleSeconds * 1000);
    printf("idle %.3f %.1f\n", 100.0 * (cpuSeconds() - cpu0) / (t.elapsed() / 1000.0), t.elapsed() / 1000.0);
    return 0;
}

// A fresh process on the virtual clock: the window finds the in-process sensor, then
// measures continuously for an hour of clock time, animation and history graph
// included, painting as it goes; its resident memory before and after.
int hourChild()
{
    int argc = 1;
    char name[] = "echogauge-setup";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    storeSettings(-1, 9600, false, 1);
    VirtualClock clock;
    InProcessSerial serial(&clock);
    SimSensor *sensor = serial.addSensor(5);
    QuietDialogs dialogs;
    TformMain window(benchPlatform(&clock, &serial, &dialogs));
    window.show();
    for (int i = 0; i < 60 && !window.menuMeasure->isEnabled(); ++i) {
        clock.advance(1000);
        QApplication::processEvents();
    }
    printf("status %s\n", qPrintable(window.statusText()));
    printf("rss0 %.1f\n", residentMB());
    window.cb_Continuous->setChecked(true);
    window.menuMeasureClick();
    QElapsedTimer wall;
    wall.start();
    for (int s = 0; s < 3600; ++s) {
        clock.advance(1000);
        QApplication::processEvents();
        // The in-process line keeps a log of every byte for tests; it is no part of
        // the application's memory.
        serial.writes.clear();
        sensor->requests.clear();
    }
    printf("readings %lld\n", static_cast<long long>(window.historyEntries->size()));
    printf("rss1 %.1f\n", residentMB());
    printf("wall %.1f\n", wall.elapsed() / 1000.0);
    return 0;
}

QMap<QString, QString> runChild(const QString &mode, const QStringList &args)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("EG_BENCH_SPAWN_NS"), QString::number(monotonicNs()));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList{mode} + args);
    child.waitForFinished(-1);
    QMap<QString, QString> out;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const int blank = line.indexOf(' ');
        if (blank > 0)
            out.insert(QString::fromLatin1(line.left(blank)), QString::fromLocal8Bit(line.mid(blank + 1)));
    }
    return out;
}

QProcess *startSim(const QString &port, const QStringList &more, const QString &portsDir)
{
    auto *sim = new QProcess;
    sim->start(QStringLiteral(EG_SIM_PROGRAM), QStringList{QStringLiteral("--port"), port} + more);
    QElapsedTimer wait;
    wait.start();
    while (!QFile::exists(portsDir + '/' + port) && wait.elapsed() < 5000)
        QThread::msleep(10);
    return sim;
}

void stopSim(QProcess *sim)
{
    sim->terminate();
    sim->waitForFinished(3000);
    delete sim;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config; // no setting of a real user is read or written
    if (qEnvironmentVariableIsEmpty("EG_BENCH_CHILD")) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        qputenv("EG_BENCH_CHILD", "1");
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "--startup-child")
        return startupChild(argc > 2 ? atoi(argv[2]) : 30);
    if (mode == "--hour-child")
        return hourChild();

    const int idleSeconds = argc > 1 ? atoi(argv[1]) : 30;
    const int measuringSeconds = argc > 2 ? atoi(argv[2]) : 30;
    QApplication app(argc, argv);
    QTemporaryDir ports;
    qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(ports.path()));

    // Four ports that answer nothing ahead of the sensor's COM5.
    std::vector<QProcess *> silent;
    for (int i = 1; i <= 4; ++i)
        silent.push_back(
            startSim(QStringLiteral("COM%1").arg(i), {QStringLiteral("--silent")}, ports.path()));

    for (bool logger : {false, true}) {
        QStringList simArgs;
        if (logger)
            simArgs << QStringLiteral("--logger") << QString::number(loggerBaud);
        QProcess *sensor = startSim(QStringLiteral("COM5"), simArgs, ports.path());
        exchangeFigures(logger);
        stopSim(sensor);
    }

    printf("\n%-30s %-13s %10s %10s %7s\n", "exchange", "line", "measured", "ideal", "ratio");
    for (const Row &r : rows)
        printf("%-30s %-13s %8.0f ms %7.0f ms %7.3f\n", qPrintable(r.exchange), qPrintable(r.line),
               r.measured, r.ideal, r.ideal > 0 && r.measured > 0 ? r.measured / r.ideal : 0.0);
    printf("\n");
    fflush(stdout);

    QProcess *sensor = startSim(QStringLiteral("COM5"), {}, ports.path());
    const auto start = runChild(QStringLiteral("--startup-child"), {QString::number(idleSeconds)});
    printf("process start to window shown   %5.0f ms\n", start.value(QStringLiteral("shown")).toDouble());
    printf("resident memory after start-up  %5.1f MB (%s)\n", start.value(QStringLiteral("rss")).toDouble(),
           qPrintable(start.value(QStringLiteral("status")).trimmed()));
    const QStringList idle = start.value(QStringLiteral("idle")).split(' ');
    printf("CPU idle, sensor connected      %5.2f %% of one core (over %s s)\n", idle.value(0).toDouble(),
           qPrintable(idle.value(1)));
    fflush(stdout);

    measuringCpu(measuringSeconds);
    stopSim(sensor);
    for (QProcess *s : silent)
        stopSim(s);

    const auto hour = runChild(QStringLiteral("--hour-child"), {});
    const double rss0 = hour.value(QStringLiteral("rss0")).toDouble();
    const double rss1 = hour.value(QStringLiteral("rss1")).toDouble();
    printf("an hour of continuous measuring %5s readings on the virtual clock (%s s of real time)\n",
           qPrintable(hour.value(QStringLiteral("readings"))),
           qPrintable(hour.value(QStringLiteral("wall"))));
    printf("resident memory over that hour  %5.1f MB -> %.1f MB (%+.1f MB)\n", rss0, rss1, rss1 - rss0);
    return 0;
}
