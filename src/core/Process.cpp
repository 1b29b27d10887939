#include "core/Process.h"

#include <QFileInfo>
#include <QProcess>

namespace {

class SystemChildProcess : public ChildProcess
{
public:
    ~SystemChildProcess() override
    {
        if (process.state() != QProcess::NotRunning)
            kill();
    }

    bool begin(const QString &program, const QStringList &arguments)
    {
        process.setProgram(program);
#ifdef Q_OS_WIN
        // The loader parses its own command line; Qt's quoting would escape the
        // quotes it expects around the file name.
        process.setNativeArguments(arguments.join(QLatin1Char(' ')));
#else
        process.setArguments(arguments);
#endif
        // Whatever the program prints goes where ours goes: a pipe nobody reads
        // could fill and stall it. It reads nothing from us.
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start();
        return process.waitForStarted();
    }

    bool waitForFinished(int ms) override
    {
        if (process.state() == QProcess::NotRunning)
            return true;
        process.waitForFinished(ms);
        return process.state() == QProcess::NotRunning;
    }

    bool exitCode(int *code) const override
    {
        if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit)
            return false;
        *code = process.exitCode();
        return true;
    }

    void kill() override
    {
        process.kill();
        process.waitForFinished(5000);
    }

private:
    QProcess process;
};

class SystemProcesses : public Processes
{
public:
    std::unique_ptr<ChildProcess> start(const QString &program, const QStringList &arguments) override
    {
        // A bare name would be searched for in PATH: only a full path is run.
        if (program.isEmpty() || QFileInfo(program).isRelative())
            return nullptr;
        auto child = std::make_unique<SystemChildProcess>();
        if (!child->begin(program, arguments))
            return nullptr;
        return child;
    }
};

} // namespace

Processes *Processes::system()
{
    static SystemProcesses processes;
    return &processes;
}
