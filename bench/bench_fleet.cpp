// echogauge fleet --do verify over 1, 8, 24 and 48 simulated sensors, each on its own
// pseudo-terminal, with --jobs 1, 4, 8 and 16: the wall time against the ideal (the
// slowest site's own time times the number of rounds), the peak memory of a job, and
// echogauge read's start-up time to its first status text. Prints; asserts nothing.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString cliProgram = QStringLiteral(EG_CLI_PROGRAM);
const QString simProgram = QStringLiteral(EG_SIM_PROGRAM);
constexpr int firstPort = 100;

bool waitForLink(const QString &path)
{
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(path) && t.elapsed() < 10000)
        QThread::msleep(20);
    return QFileInfo::exists(path);
}

// The largest resident set of any child waited for so far, in MB.
double childrenPeakMb()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_maxrss / 1024.0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // The window's settings as a user would have them, apart from any real user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(dir.path()));
    QDir().mkpath(dir.filePath(QStringLiteral("config/Brookmere")));
    {
        QFile f(dir.filePath(QStringLiteral("config/Brookmere/EchoGauge Setup.conf")));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("[General]\nLeft=0\nTop=0\nWidth=800\nRight=600\nOptions=7\nPort=-1\nBaud=9600\n"
                "Passthrough=0\nTx Delay=10\nMax Height Percent=10\n");
        QFile cdf(dir.filePath(QStringLiteral("depth.cdf")));
        if (!cdf.open(QIODevice::WriteOnly))
            return 1;
        cdf.write("[Channels]\nChannel Type=1\nNotch Angle=90\nCrest Height=1200\nChannel Width=800\n"
                  "Notch Width=400\n");
    }

    const int most = 48;
    std::vector<std::unique_ptr<QProcess>> sims;
    for (int i = 0; i < most; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->setProgram(simProgram);
        sim->setArguments({"--port", QStringLiteral("COM%1").arg(firstPort + i), "--register", "128=1",
                           "--register", "129=400", "--register", "130=1200", "--register", "131=800"});
        sim->setStandardOutputFile(QProcess::nullDevice());
        sim->start();
        sims.push_back(std::move(sim));
    }
    for (int i = 0; i < most; ++i)
        if (!waitForLink(dir.filePath(QStringLiteral("COM%1").arg(firstPort + i)))) {
            std::fprintf(stderr, "bench_fleet: simulator %d did not start\n", i);
            return 1;
        }

    // Start-up: from the start of the process to its first status text.
    std::vector<qint64> startups;
    for (int run = 0; run < 5; ++run) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(cliProgram, {"read", "--port", QStringLiteral("COM%1").arg(firstPort)});
        while (p.state() != QProcess::NotRunning && p.bytesAvailable() == 0 &&
               p.readAllStandardError().isEmpty()) {
            p.setReadChannel(QProcess::StandardError);
            if (p.waitForReadyRead(1))
                break;
        }
        startups.push_back(t.elapsed());
        p.waitForFinished(60000);
    }
    std::sort(startups.begin(), startups.end());
    const double singlePeak = childrenPeakMb();

    std::printf("echogauge fleet --do verify, %d cores\n\n", QThread::idealThreadCount());
    std::printf("%6s %5s %9s %9s %7s %12s\n", "sites", "jobs", "wall s", "ideal s", "ratio", "outcome");
    for (int sites : {1, 8, 24, 48}) {
        const QString list = dir.filePath(QStringLiteral("sites-%1.csv").arg(sites));
        QFile f(list);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < sites; ++i)
            f.write(QStringLiteral("s%1,COM%2,depth.cdf\n").arg(i).arg(firstPort + i).toUtf8());
        f.close();
        for (int jobs : {1, 4, 8, 16}) {
            if (jobs > sites && jobs != 1 && sites == 1)
                continue;
            QProcess p;
            QElapsedTimer t;
            t.start();
            p.start(cliProgram, {"fleet", list, "--jobs", QString::number(jobs), "--json"});
            p.waitForFinished(-1);
            const double wall = t.elapsed() / 1000.0;
            double slowest = 0;
            QString summary;
            for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                slowest = std::max(slowest, o.value(QStringLiteral("seconds")).toDouble());
                if (o.contains(QStringLiteral("summary")))
                    summary = o.value(QStringLiteral("summary")).toString();
            }
            const int rounds = (sites + jobs - 1) / jobs;
            const double ideal = slowest * rounds;
            std::printf("%6d %5d %9.2f %9.2f %7.2f  %s\n", sites, jobs, wall, ideal,
                        ideal > 0 ? wall / ideal : 0, qPrintable(summary));
            std::fflush(stdout);
        }
    }
    std::printf("\npeak memory of one echogauge read: %.1f MB; of any process in the fleets: %.1f MB\n",
                singlePeak, childrenPeakMb());
    std::printf(
        "echogauge read start-up to its first status text: median %lld ms, best %lld ms, worst %lld ms\n",
        startups[startups.size() / 2], startups.front(), startups.back());

    for (auto &sim : sims) {
        sim->terminate();
        sim->waitForFinished(3000);
    }
    return 0;
}
