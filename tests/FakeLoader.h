#pragma once

// A firmware loader on the virtual clock: it runs for a scripted time, then ends
// with a scripted result; on success it puts the update file's firmware into the
// in-process sensor, as the real loader does over the port.

#include "model/InProcessSerial.h"
#include "model/SimSensor.h"

#include "core/Clock.h"
#include "core/Process.h"

#include <QFile>

#include <functional>

class FakeLoader : public Processes
{
public:
    enum class End
    {
        Exit,  // exits with exitCode
        Crash, // dies without an exit code
        Hang,  // never ends by itself
    };

    struct Run
    {
        QString program;
        QStringList arguments;
        qint64 startMs;
        bool portOpenAtStart; // the sensor's port, as the application left it
    };

    FakeLoader(VirtualClock *clock, InProcessSerial *serial, int sensorPort)
        : clock(clock), serial(serial), sensorPort(sensorPort)
    {
    }

    // The script.
    bool refuseStart = false;
    End end = End::Exit;
    int exitCode = 0;
    qint64 durationMs = 4000;
    std::function<void()> whileRunning; // called on every wait

    QList<Run> runs;
    qint64 endedMs = -1;
    bool killed = false;

    std::unique_ptr<ChildProcess> start(const QString &program, const QStringList &arguments) override
    {
        runs.append({program, arguments, clock->nowMs(), serial->isOpen(sensorPort)});
        if (refuseStart)
            return nullptr;
        return std::make_unique<Child>(this, clock->nowMs() + durationMs, arguments);
    }

private:
    class Child : public ChildProcess
    {
    public:
        Child(FakeLoader *owner, qint64 endAtMs, const QStringList &arguments)
            : owner(owner), endAtMs(endAtMs), arguments(arguments)
        {
        }
        bool waitForFinished(int ms) override
        {
            if (ended)
                return true;
            if (owner->whileRunning)
                owner->whileRunning();
            const qint64 left = endAtMs - owner->clock->nowMs();
            if (owner->end == End::Hang || left > ms) {
                owner->clock->sleepMs(ms);
                return false;
            }
            owner->clock->sleepMs(int(left));
            finish();
            return true;
        }
        bool exitCode(int *code) const override
        {
            if (!ended || owner->killed || owner->end != End::Exit)
                return false;
            *code = owner->exitCode;
            return true;
        }
        void kill() override
        {
            owner->killed = true;
            ended = true;
            owner->endedMs = owner->clock->nowMs();
        }

    private:
        void finish()
        {
            ended = true;
            owner->endedMs = owner->clock->nowMs();
            if (owner->end != End::Exit || owner->exitCode != 0)
                return;
            // -N"<path>": the file the application named.
            for (const QString &a : arguments) {
                if (!a.startsWith(QLatin1String("-N\"")) || !a.endsWith(QLatin1Char('"')))
                    continue;
                QFile f(a.mid(3, a.size() - 4));
                SimSensor *sensor = owner->serial->sensor(owner->sensorPort);
                if (sensor && f.open(QIODevice::ReadOnly)) {
                    const QString version = updateImageVersion(f.readAll());
                    if (!version.isEmpty())
                        sensor->firmware = version;
                }
            }
        }

        FakeLoader *owner;
        qint64 endAtMs;
        QStringList arguments;
        bool ended = false;
    };

    VirtualClock *clock;
    InProcessSerial *serial;
    int sensorPort;
};
