#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// One run of an external program that the application waits for.
class ChildProcess
{
public:
    virtual ~ChildProcess() = default;

    // Waits at most ms for the program to end; true once it has ended.
    virtual bool waitForFinished(int ms) = 0;
    // The exit code of a program that ended by itself; false when there is none
    // (it crashed or was killed).
    virtual bool exitCode(int *code) const = 0;
    // Ends a program that has overstayed its welcome and waits for it to go.
    virtual void kill() = 0;
};

// Starting programs goes through this seam, so that a test replaces the firmware
// loader with a scripted one that runs on the virtual clock.
class Processes
{
public:
    virtual ~Processes() = default;

    // Starts program (a full path; never looked up in PATH or the current
    // directory) with its arguments; null when it cannot be started.
    virtual std::unique_ptr<ChildProcess> start(const QString &program, const QStringList &arguments) = 0;

    static Processes *system();
};
