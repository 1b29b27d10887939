#pragma once

// What the end-to-end tests share: echogauge-sim running for one test, the registers
// and the wire log it writes, and a record of the main window's status texts.

#include "SimRegisters.h"
#include "TestPlatform.h"
#include "app/Mainform.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QStatusBar>
#include <QStringList>
#include <QTest>

#include <memory>

// echogauge-sim running for one test, published in the test's own ports directory
// (ECHOGAUGE_PORTS_DIR of the test's environment). Stopped with the object.
class Simulator
{
public:
    // environment, when given, is the simulator's whole environment (its own ports
    // directory among it); otherwise it inherits the test's.
    explicit Simulator(const QStringList &arguments,
                       const QProcessEnvironment &environment = QProcessEnvironment())
    {
        const qsizetype at = arguments.indexOf(QStringLiteral("--port"));
        const QString dir = environment.isEmpty() ? qEnvironmentVariable("ECHOGAUGE_PORTS_DIR")
                                                  : environment.value(QStringLiteral("ECHOGAUGE_PORTS_DIR"));
        if (at >= 0 && at + 1 < arguments.size())
            link = dir + QLatin1Char('/') + arguments.at(at + 1);
        if (!environment.isEmpty())
            process.setProcessEnvironment(environment);
        process.setProgram(QStringLiteral(EG_SIM_PROGRAM));
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
    }
    // The sensor on COM<port>, with further options.
    explicit Simulator(int port, const QStringList &more = QStringList())
        : Simulator(QStringList{QStringLiteral("--port"), QStringLiteral("COM%1").arg(port)} + more)
    {
    }
    ~Simulator() { stop(); }

    // Waits for the simulator's ready line: by then its port link is published.
    bool waitReady()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
            output += process.readAllStandardOutput();
            if (output.contains("echogauge-sim: COM") && output.contains('\n'))
                return true;
        }
        return false;
    }
    // The ready line, then its link in the ports directory, each within 5 s.
    bool waitPublished()
    {
        if (!waitReady())
            return false;
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(link) && t.elapsed() < 5000)
            QTest::qWait(50);
        return QFileInfo::exists(link);
    }
    // SIGTERM: it removes its link and writes its registers. False when it had to be
    // killed after waitMs.
    bool stop(int waitMs = 3000)
    {
        if (process.state() == QProcess::NotRunning)
            return true;
        process.terminate();
        if (process.waitForFinished(waitMs))
            return true;
        process.kill();
        process.waitForFinished(3000);
        return false;
    }
    void kill()
    {
        process.kill();
        process.waitForFinished(3000);
    }

    QProcess process;
    QByteArray output;
    QString link; // where the port is published
};

// A main window on the real clock, serial ports and processes, never shown, with a
// settings scope of the test's own; dataDir is where it looks for the loader.
inline std::unique_ptr<TformMain> realTimeWindow(Dialogs *dialogs, const QString &testName,
                                                 const QString &dataDir = QString())
{
    Platform p = testPlatform(Clock::system(), SerialDriver::system(), dialogs, testName);
    p.dataDir = dataDir;
    return std::make_unique<TformMain>(p);
}

// The stand-in loader, built beside the simulator.
inline QString simLoaderProgram()
{
    return QFileInfo(QStringLiteral(EG_SIM_PROGRAM)).dir().filePath(QStringLiteral("flashldr.exe"));
}

// The simulator's wire log ("--wire-log"): runs of bytes, each marked ">" from the
// PC, "<" to the PC, or "!" from the PC at line settings the device does not take.
struct WireRun
{
    char direction;
    QByteArray bytes;
};

inline QList<WireRun> readWireLog(const QString &path)
{
    QList<WireRun> runs;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return runs;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.size() < 2 || line.at(1) != ' ')
            continue;
        QByteArray bytes;
        for (qsizetype i = 2; i < line.size(); ++i) {
            const char c = line.at(i);
            if (c != '\\' || i + 1 >= line.size()) {
                bytes += c;
                continue;
            }
            const char e = line.at(++i);
            if (e == 'r')
                bytes += '\r';
            else if (e == 'n')
                bytes += '\n';
            else if (e == 'x' && i + 2 < line.size()) {
                bytes += char(line.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else
                bytes += e;
        }
        runs.append({line.at(0), bytes});
    }
    return runs;
}

// Every byte of one direction, in order.
inline QByteArray wireBytes(const QList<WireRun> &runs, char direction)
{
    QByteArray all;
    for (const WireRun &r : runs)
        if (r.direction == direction)
            all += r.bytes;
    return all;
}

// A request as it must cross the line: unchanged on a direct connection, wrapped in
// the logger's configuration frame in passthrough mode.
inline QByteArray framedRequest(const QByteArray &request, bool passthrough)
{
    if (!passthrough || !request.startsWith("..."))
        return request;
    return "...EGCNFG(" + request.mid(3) + ")";
}

// Every text the status bar shows, in order. The progress dots an exchange adds to
// " ..." are left off, and a text repeated at once is kept once, so that a step's
// record reads as the sequence of its messages.
class StatusRecorder : public QObject
{
public:
    explicit StatusRecorder(QStatusBar *bar)
    {
        QObject::connect(bar, &QStatusBar::messageChanged, this, [this](const QString &text) {
            QString t = text;
            const qsizetype dots = t.indexOf(QLatin1String(" ..."));
            if (dots >= 0 && t.mid(dots + 4).count(QLatin1Char('.')) == t.size() - dots - 4)
                t.truncate(dots + 4);
            if (t.isEmpty() || (!texts.isEmpty() && texts.constLast() == t))
                return;
            texts.append(t);
        });
    }
    // The texts since the last take.
    QStringList take()
    {
        QStringList out = texts;
        texts.clear();
        return out;
    }
    QStringList texts;
};
