// The history graph in a long continuous run, and the application's CPU while it
// measures continuously with the animation running. Prints figures; asserts nothing.
//   nice -n 19 build/bench/bench_history [entries] [seconds]
#include "BenchSupport.h"
#include "model/InProcessSerial.h"

#include "app/Mainform.h"
#include "app/Platform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "measure/Historyview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Runs the event loop as the application does, sleeping until the next event, until
// done() holds or the time is up. Polling with processEvents would spin and charge
// its own busy loop to the application.
template <typename Done> bool runUntil(Done done, int ms)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    deadline.start(ms);
    check.start(50);
    if (!done())
        loop.exec();
    return done();
}

// The entries alone, without the window around them.
void entryFigures(qint64 entries)
{
    const size_t before = mallinfo2().uordblks;
    {
        THistory history;
        for (qint64 i = 0; i < entries; ++i)
            history.append({qint32(i % 9000), 1.0f, -1.0f, 5, 5, 3, 0, 0});
        printf("memory of the entries alone      %.1f bytes per entry\n",
               double(mallinfo2().uordblks - before) / double(entries));
    }
}

void historyFigures(qint64 entries)
{
    VirtualClock clock;
    InProcessSerial serial(&clock);
    QuietDialogs dialogs;
    TformMain form(benchPlatform(&clock, &serial, &dialogs));
    form.cbChanType->setCurrentIndex(0);
    form.AddHistoryEntry(10000, 1000.0f, -1, 5, 5, 3); // the scale every later reading fits

    const size_t heapBefore = mallinfo2().uordblks;
    QElapsedTimer t;
    qint64 firstNs = 0, lastNs = 0, worstNs = 0;
    const qint64 window = std::min<qint64>(1000, entries / 4);
    for (qint64 i = 1; i < entries; ++i) {
        t.start();
        form.AddHistoryEntry(qint32(1000 + i % 9000), 100.0f, -1, 5, 5, 3);
        const qint64 ns = t.nsecsElapsed();
        worstNs = std::max(worstNs, ns);
        if (i <= window)
            firstNs += ns;
        if (i > entries - 1 - window)
            lastNs += ns;
        // The window's own events run between readings, as they do between measurements.
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    const size_t heapAfter = mallinfo2().uordblks;
    printf("entries                          %lld\n", static_cast<long long>(form.historyEntries->size()));
    printf("full layouts while adding        %d (entries that fit need none)\n", form.historyLayouts - 1);
    printf("memory added per entry           %.1f bytes (record %zu bytes)\n",
           double(heapAfter - heapBefore) / double(entries - 1), sizeof(TGraphEntry));
    printf("add an entry that fits           %.2f us mean of the first %lld, %.2f us mean of the last %lld, "
           "%.1f us worst\n",
           firstNs / 1e3 / double(window), static_cast<long long>(window), lastNs / 1e3 / double(window),
           static_cast<long long>(window), worstNs / 1e3);

    const int runs = 50;
    t.start();
    for (int i = 0; i < runs; ++i)
        form.LayoutHistoryGraph();
    printf("full layout at %lld entries     %.3f ms\n", static_cast<long long>(entries),
           t.nsecsElapsed() / 1e6 / runs);

    auto *area = static_cast<HistoryArea *>(form.scrollGraphArea);
    QImage image(area->size(), QImage::Format_RGB32);
    t.start();
    for (int i = 0; i < runs; ++i) {
        image.fill(Qt::white);
        QPainter p(&image);
        form.paintHistory(p, image.rect());
    }
    printf("paint of the visible graph       %.3f ms (%dx%d pixels)\n", t.nsecsElapsed() / 1e6 / runs,
           image.width(), image.height());

    t.start();
    form.clearHistory();
    printf("Clear of %lld entries          %.3f ms\n", static_cast<long long>(entries),
           t.nsecsElapsed() / 1e6);

    // Again without the event loop in between, as when readings come faster than the
    // window gets back to its loop: whatever an added entry leaves behind for the loop
    // to deal with stays counted here.
    const size_t idleBefore = mallinfo2().uordblks;
    for (qint64 i = 0; i < entries; ++i)
        form.AddHistoryEntry(qint32(1000 + i % 9000), 100.0f, -1, 5, 5, 3);
    printf("memory added per entry, loop idle %.1f bytes\n",
           double(mallinfo2().uordblks - idleBefore) / double(entries));
}

// The whole application, shown, against echogauge-sim on a pseudo-terminal in real time.
void continuousFigures(int seconds)
{
    QTemporaryDir ports;
    qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(ports.path()));
    QProcess sim;
    sim.start(QStringLiteral(EG_SIM_PROGRAM), {QStringLiteral("--port"), QStringLiteral("COM9")});
    QElapsedTimer wait;
    wait.start();
    while (!QFile::exists(ports.filePath(QStringLiteral("COM9"))) && wait.elapsed() < 5000)
        QThread::msleep(20);

    QuietDialogs dialogs;
    auto form = std::make_unique<TformMain>(benchPlatform(Clock::system(), SerialDriver::system(), &dialogs));
    form->show(); // runs the start-up search
    if (!runUntil([&] { return form->menuMeasure->isEnabled(); }, 60000)) {
        printf("continuous measurement           sensor not found: %s\n", qPrintable(form->statusText()));
        return;
    }
    form->cb_Continuous->setChecked(true);
    form->menuMeasureClick();
    const double cpu0 = cpuSeconds();
    wait.start();
    runUntil([] { return false; }, seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double wall = wait.elapsed() / 1000.0;
    printf("continuous measurement           %lld readings in %.1f s, last %s\n",
           static_cast<long long>(form->historyEntries->size()), wall, qPrintable(form->statusText()));
    printf("application CPU while measuring  %.1f %% of one core (animation running)\n", 100.0 * cpu / wall);
    form->cb_Continuous->setChecked(false);
    form.reset();
    sim.terminate();
    sim.waitForFinished(3000);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config; // no setting of a real user is read or written
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 entries = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100000;
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 20;
    entryFigures(std::max<qint64>(entries, 100));
    historyFigures(std::max<qint64>(entries, 100));
    if (seconds > 0)
        continuousFigures(seconds);
    return 0;
}
