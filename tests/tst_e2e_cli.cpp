// The console program in real time: every command of the real echogauge against
// echogauge-sim on pseudo-terminals, directly and through the simulated logger at
// 19200, without a display. The cases run side by side (each its own simulator) and
// are then checked row by row: exit codes, what the program printed, and what the
// simulator's registers and wire log say reached the sensor.
#include "SimHarness.h"
#include "channel/Flowtable.h"
#include "model/UpdateImage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <thread>

namespace {

// One run of the program. In its arguments %D stands for the case's directory and
// %P for the simulator's port.
struct Step
{
    QStringList args;
    int exitCode;
    QString out; // a regular expression standard output must match, or empty
    QString err; // the same for standard error
    // While it runs: once standard error shows this text, act is done to the step
    // (the simulator stopped, the program interrupted).
    QString when;
    enum Act
    {
        None,
        StopSensor,
        Interrupt,
    } act = None;
};

struct StepResult
{
    int exitCode = -99;
    QByteArray out;
    QByteArray err;
};

struct Case
{
    QString name;
    int port = 0; // 0: no simulator
    int loggerBaud = 0;
    QStringList simArgs;
    QList<Step> steps;
    // What the simulator holds afterwards (its registers), checked in the row.
    QMap<int, int> registers;

    // Filled in by the run.
    QList<StepResult> results;
    QString dir;
    std::shared_ptr<Simulator> sim;
    qint64 simPid = 0;
    qint64 ms = 0;
};

const QString program = QStringLiteral(EG_CLI_PROGRAM);

QString expand(QString arg, const Case &c)
{
    return arg.replace(QLatin1String("%D"), c.dir)
        .replace(QLatin1String("%P"), QStringLiteral("COM%1").arg(c.port));
}

StepResult runStep(const Step &step, Case &c)
{
    QStringList args;
    for (const QString &a : step.args)
        args << expand(a, c);
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    p.start();
    StepResult r;
    if (!p.waitForStarted(10000))
        return r;
    bool acted = false;
    QElapsedTimer clock;
    clock.start();
    while (p.state() != QProcess::NotRunning && clock.elapsed() < 120000) {
        p.waitForReadyRead(50);
        r.out += p.readAllStandardOutput();
        r.err += p.readAllStandardError();
        if (step.act != Step::None && !acted && r.err.contains(step.when.toUtf8())) {
            acted = true;
            if (step.act == Step::StopSensor)
                ::kill(pid_t(c.simPid), SIGSTOP);
            else
                ::kill(pid_t(p.processId()), SIGTERM);
        }
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill(); // hung: the row fails on its exit code
        p.waitForFinished(5000);
        r.err += "\n(killed after 120 s)";
        return r;
    }
    r.out += p.readAllStandardOutput();
    r.err += p.readAllStandardError();
    if (acted && step.act == Step::StopSensor)
        ::kill(pid_t(c.simPid), SIGCONT);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

// The window's settings the program reads and must leave as they were.
const QByteArray settings = "[General]\nLeft=0\nTop=0\nWidth=800\nRight=600\nOptions=7\nPort=-1\nBaud=9600\n"
                            "Passthrough=0\nTx Delay=10\nMax Height Percent=10\n";
const QByteArray vNotchFile = "[Channels]\nChannel Type=4\nNotch Angle=90\nCrest Height=1000\n"
                              "Channel Width=1000\nNotch Width=500\n";
const QByteArray depthFile = "[Channels]\nChannel Type=1\nNotch Angle=90\nCrest Height=1200\n"
                             "Channel Width=800\nNotch Width=400\n";

} // namespace

class TestE2eCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QList<Case> cases;
    qint64 runMs = 0;
    // The fleet: a dozen sensors, two differing and one silent, verified side by side.
    std::vector<std::unique_ptr<Simulator>> fleetSims;
    QProcess fleet;
    QByteArray fleetOut;

    Case *find(const QString &name)
    {
        for (Case &c : cases)
            if (c.name == name)
                return &c;
        return nullptr;
    }

    void writeFile(const QString &path, const QByteArray &content)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(dir.path()));
        // The window's settings, which the program reads: the quickest Tx pace the
        // Options dialog offers, and the search over direct 9600 and the loggers at
        // 9600 and 19200.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Brookmere");
        QDir().mkpath(config);
        writeFile(config + QStringLiteral("/EchoGauge Setup.conf"), settings);
        // The loader and a 1.13 update file, for the sensor that still runs 1.12.
        const QString data = dir.filePath(QStringLiteral("data"));
        QDir().mkpath(data + QStringLiteral("/UPD_Files"));
        QVERIFY(QFile::copy(simLoaderProgram(), data + QStringLiteral("/flashldr.exe")));
        UpdateImageSpec update;
        update.major = 1;
        update.minor = 13;
        update.size = 1024;
        writeFile(data + QStringLiteral("/UPD_Files/fw113.upd"), makeUpdateImage(update));
        qputenv("ECHOGAUGE_DATA_DIR", QFile::encodeName(data));
        writeFile(dir.filePath(QStringLiteral("vnotch.cdf")), vNotchFile);
        writeFile(dir.filePath(QStringLiteral("depth.cdf")), depthFile);
        writeFile(dir.filePath(QStringLiteral("bad.cdf")),
                  QByteArray(vNotchFile).replace("Crest Height=1000", "Crest Height=1,0"));
        writeFile(dir.filePath(QStringLiteral("bad.json")),
                  "{\n \"schema\": 1,\n \"setup\": {\n  \"type\": \"depth\"\n  \"height_m\": 2\n }\n}\n");
        writeFile(
            dir.filePath(QStringLiteral("setup.json")),
            "{\"schema\": 1, \"setup\": {\"type\": \"depth\", \"height_m\": 2.5, \"max_height_m\": 2.75,"
            " \"lost_echo\": 321}}\n");

        const QString d = QStringLiteral("%D/");
        const auto step = [](QStringList args, int code, QString out = QString(), QString err = QString()) {
            return Step{args, code, out, err, QString(), Step::None};
        };
        const QStringList simBase{"--register", "23=2750", "--register", "19=4711"};
        cases = {};
        auto add = [&](QString name, int port, int logger, QList<Step> steps, QMap<int, int> registers = {},
                       QStringList extra = {}) {
            Case c;
            c.name = name;
            c.port = port;
            c.loggerBaud = logger;
            c.simArgs = simBase + extra;
            c.steps = steps;
            c.registers = registers;
            cases.append(std::move(c));
        };

        // The longest case first. Upload, verify, a register changed behind the program's back, verify again.
        add("upload and verify, direct", 75, 0,
            {step({"upload", "--port", "%P", d + "vnotch.cdf"}, 0, QString(),
                  "Channel data successfully written"),
             step({"verify", "--port", "%P", "--cdf", d + "vnotch.cdf"}, 0, "holds \\(69 registers"),
             step({"send", "--port", "%P", "...ATR131=777^M"}, 0, "OK"),
             step({"verify", "--port", "%P", "--cdf", d + "vnotch.cdf", "--json"}, 1,
                  "\"differing\":1.*\\{\"caption\":\"131[^}]*\"expected\":1000,\"register\":131,\"same\":"
                  "false,\"sensor\":777")},
            {{128, 4}, {129, 90}, {131, 777}, {23, 2750}});
        // The search's result; the set-up in JSON and a description file; a set-up
        // read from one sensor and written into another.
        add("find, direct", 71, 0,
            {step({"find", "--port", "%P", "--json"}, 0,
                  "\"baud\":9600,.*\"passthrough\":false,.*\"serial\":4711.*\"update_available\":false",
                  "Searching for EchoGauge - COM71"),
             // The port by its device path: the link's target is the simulator's terminal.
             step({"find", "--port", "%D/COM71", "--quiet"}, 0, "^port: COM71 \\(/dev/pts/")});
        add("read through a logger", 72, 19200,
            {step({"read", "--port", "%P", "--json", "--cdf", d + "read.cdf"}, 0,
                  "\"schema\":1.*\"passthrough\":true.*\"height_m\":2\\.75.*\"type\":\"depth\"",
                  "Sensor data received from EchoGauge"),
             step({"verify", "--port", "%P", "--cdf", d + "read.cdf", "--quiet"}, 0, "^holds", "^$")});
        add("write the values, direct", 73, 0,
            {step({"write", "--port", "%P", "--height", "3.21", "--lost-echo", "1234", "--type", "depth"}, 0,
                  QString(), "Sensor data successfully written"),
             step({"verify", "--port", "%P", "--setup", "%D/setup.json"}, 1, "differs in 3 of 3 registers",
                  QString())},
            {{23, 3210}, {24, 1234}, {128, 1}});
        add("write --from through a logger", 74, 19200,
            {step({"write", "--port", "%P", "--from", d + "setup.json"}, 0),
             step({"verify", "--port", "%P", "--setup", d + "setup.json", "--json"}, 0,
                  "\"result\":\"holds\".*\"compared\":3")},
            {{1, 2750}, {23, 2500}, {24, 321}, {128, 1}});
        add("upload through a logger", 76, 19200,
            {step({"upload", "--port", "%P", d + "depth.cdf"}, 0),
             step({"measure", "--port", "%P", "--count", "2", "--csv", d + "m.csv"}, 0,
                  "(\\t[0-9.]+\\tm\\tdepth\\n.*){2}")},
            {{128, 1}, {130, 1200}, {131, 800}, {129, 400}});
        add("send through a logger", 77, 19200,
            {step({"send", "--port", "%P", "--json", "...ATR23=1500^M"}, 0, "\"reply\":\"[^\"]*OK")},
            {{23, 1500}});
        // Faults: a sensor that stops answering mid-upload, an interrupted upload.
        add("sensor stops mid-upload", 78, 0,
            {Step{{"upload", "--port", "%P", d + "vnotch.cdf"},
                  3,
                  QString(),
                  "Channel Data Not Written!.*registers written: 64 65 66 67 68 69 70 71 72 73( 74)?\n",
                  "Writing channel data 10 of 71",
                  Step::StopSensor}});
        add("interrupted upload", 79, 0,
            {Step{{"upload", "--port", "%P", d + "vnotch.cdf"},
                  3,
                  QString(),
                  "interrupted; registers written: 64 65 66 67 68",
                  "Writing channel data 5 of 71",
                  Step::Interrupt}});
        add("not found", 80, 0, {step({"find", "--port", "%P", "--json"}, 1, "\"result\":\"not found\"")}, {},
            {"--silent"});
        add("a report", 81, 0,
            {step({"report", "--port", "%P", "--pdf", d + "site.pdf", "--site", "Mill"}, 0),
             step({"ports", "--json"}, 0, "\"opens\":true,\"port\":\"COM81\"")});
        // Firmware 1.12 is not upgraded without being told, then is.
        add("upgrade only when told", 82, 0,
            {step({"find", "--port", "%P", "--json"}, 3, "\"result\":\"failed\"",
                  "answered no.*failed: EchoGauge firmware is out of date"),
             step({"upgrade", "--port", "%P", "--yes"}, 0, "firmware: V1\\.13",
                  "Firmware upgrade successful")},
            {}, {"--firmware", "01.12"});
        // Bad input and usage: no sensor is needed, nothing is sent.
        add("bad files and usage", 0, 0,
            {step({"upload", "--port", "COM9", d + "bad.cdf"}, 2, QString(), "bad.cdf:4: Crest Height"),
             step({"verify", "--port", "COM9", "--setup", d + "bad.json"}, 2, QString(), "bad.json:5:"),
             step({"write", "--from", d + "nothing.json"}, 2, QString(), "nothing.json: cannot be read"),
             step({"write", "--height", "11"}, 2, QString(), "--height: 11 m is outside"),
             step({"write", "--height", "2", "--from", d + "setup.json"}, 2, QString(), "not both"),
             step({"verify", "--port", "COM9"}, 2, QString(), "needs --cdf"),
             step({"read", "--port", "LPT1"}, 2, QString(), "--port LPT1"),
             step({"read", "--count", "2"}, 2, QString(), "read does not take --count"),
             step({"frobnicate"}, 2, QString(), "no command \"frobnicate\""),
             step({"upgrade"}, 2, QString(), "only with --yes"),
             step({"help", "verify"}, 0, "Usage: echogauge verify"), step({"--help"}, 0, "fleet SITES.csv"),
             step({"find", "--port", "COM200", "--quiet"}, 4, QString(), "no port could be opened")});

        // Every simulator first, then the cases side by side, four at a time.
        QElapsedTimer clock;
        clock.start();
        for (Case &c : cases) {
            c.dir = dir.path();
            if (!c.port)
                continue;
            QStringList args = c.simArgs;
            args << "--registers-out" << dir.filePath(QStringLiteral("registers-%1.txt").arg(c.port));
            if (c.loggerBaud)
                args << "--logger" << QString::number(c.loggerBaud);
            c.sim = std::make_shared<Simulator>(c.port, args);
            QVERIFY2(c.sim->waitPublished(), qPrintable(c.name));
            c.simPid = c.sim->process.processId();
        }
        // The fleet runs meanwhile, a program of its own.
        QByteArray sites = "site,port,cdf\n";
        for (int i = 0; i < 12; ++i) {
            const int port = 90 + i;
            QStringList args{"--register", "128=1",
                             "--register", "129=400",
                             "--register", "130=1200",
                             "--register", QStringLiteral("131=%1").arg(i == 3 || i == 7 ? 777 : 800)};
            if (i == 10)
                args << "--silent";
            fleetSims.push_back(std::make_unique<Simulator>(port, args));
            QVERIFY(fleetSims.back()->waitPublished());
            sites += QStringLiteral("site%1,COM%2,depth.cdf\n")
                         .arg(i + 1, 2, 10, QLatin1Char('0'))
                         .arg(port)
                         .toUtf8();
        }
        writeFile(dir.filePath(QStringLiteral("sites.csv")), sites);
        fleet.setProgram(program);
        fleet.setArguments({"fleet", dir.filePath(QStringLiteral("sites.csv")), "--jobs", "4"});
        fleet.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        fleet.start();

        std::atomic<int> next{0};
        std::vector<std::thread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back([&] {
                for (int i = next++; i < cases.size(); i = next++) {
                    QElapsedTimer caseClock;
                    caseClock.start();
                    for (const Step &s : cases[i].steps)
                        cases[i].results.append(runStep(s, cases[i]));
                    cases[i].ms = caseClock.elapsed();
                }
            });
        for (std::thread &t : workers)
            t.join();
        QVERIFY(fleet.waitForFinished(240000));
        fleetOut = fleet.readAllStandardOutput();
        for (Case &c : cases)
            if (c.sim)
                QVERIFY(c.sim->stop(5000)); // it writes its registers on the way out
        for (auto &sim : fleetSims)
            sim->stop(5000);
        runMs = clock.elapsed();
        for (const Case &c : std::as_const(cases))
            qInfo("%lld ms: %s", c.ms, qPrintable(c.name));
        qInfo("all cases and the fleet ran in %lld ms", runMs);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("name");
        for (const Case &c : std::as_const(cases))
            QTest::newRow(qPrintable(c.name)) << c.name;
    }

    void commands()
    {
        QFETCH(QString, name);
        Case *c = find(name);
        QVERIFY(c);
        QCOMPARE(c->results.size(), c->steps.size());
        for (int i = 0; i < c->steps.size(); ++i) {
            const Step &s = c->steps.at(i);
            const StepResult &r = c->results.at(i);
            const QString what = QStringLiteral("step %1 (%2):\n--- stdout\n%3--- stderr\n%4")
                                     .arg(i + 1)
                                     .arg(s.args.join(QLatin1Char(' ')), QString::fromLocal8Bit(r.out),
                                          QString::fromLocal8Bit(r.err));
            QVERIFY2(r.exitCode == s.exitCode,
                     qPrintable(QStringLiteral("exit %1, not %2, ").arg(r.exitCode).arg(s.exitCode) + what));
            const auto matches = [](const QString &pattern, const QByteArray &text) {
                return pattern.isEmpty() ||
                       QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
                           .match(QString::fromLocal8Bit(text))
                           .hasMatch();
            };
            QVERIFY2(matches(s.out, r.out),
                     qPrintable(QStringLiteral("stdout lacks ") + s.out + QLatin1Char(' ') + what));
            QVERIFY2(matches(s.err, r.err),
                     qPrintable(QStringLiteral("stderr lacks ") + s.err + QLatin1Char(' ') + what));
        }
        if (!c->port)
            return;
        const QMap<int, int> held =
            readSimRegisters(dir.filePath(QStringLiteral("registers-%1.txt").arg(c->port)));
        for (auto it = c->registers.cbegin(); it != c->registers.cend(); ++it) {
            const int want = it.key() == 23 && held.value(128) >= 2 ? it.value() | 0x8000 : it.value();
            QVERIFY2(held.value(it.key()) == want, qPrintable(QStringLiteral("register %1 holds %2, not %3")
                                                                  .arg(it.key())
                                                                  .arg(held.value(it.key()))
                                                                  .arg(want)));
        }
    }

    void fleetOfSites()
    {
        const QString out = QString::fromUtf8(fleetOut);
        QCOMPARE(fleet.exitCode(), 1);
        QVERIFY2(out.endsWith(QLatin1String("9 hold, 2 differ, 1 not found, 0 failed\n")), qPrintable(out));
        // The table lists every site in the file's order with its outcome.
        const QStringList rows =
            out.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^site\\d")));
        QCOMPARE(rows.size(), 12);
        for (int i = 0; i < 12; ++i) {
            const QString outcome = i == 3 || i == 7 ? QStringLiteral("differs\tregisters 131")
                                    : i == 10        ? QStringLiteral("not found")
                                                     : QStringLiteral("holds");
            QVERIFY2(rows.at(i).startsWith(QStringLiteral("site%1\tCOM%2\t%3")
                                               .arg(i + 1, 2, 10, QLatin1Char('0'))
                                               .arg(90 + i)
                                               .arg(outcome)),
                     qPrintable(rows.at(i)));
        }
    }

    // What the files say, beyond the registers: the description saved, the history
    // CSV, the report, and the upload's table in the sensor.
    void filesWritten()
    {
        QFile cdf(dir.filePath(QStringLiteral("read.cdf")));
        QVERIFY(cdf.open(QIODevice::ReadOnly));
        QVERIFY(cdf.readAll().contains("Channel Type=1"));
        QFile csv(dir.filePath(QStringLiteral("m.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), 3); // the header and two readings
        // The window user's settings were read, never written.
        QFile stored(qEnvironmentVariable("XDG_CONFIG_HOME") +
                     QStringLiteral("/Brookmere/EchoGauge Setup.conf"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), settings);
        QFile pdf(dir.filePath(QStringLiteral("site.pdf")));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");

        const QMap<int, int> held = readSimRegisters(dir.filePath(QStringLiteral("registers-75.txt")));
        const FlowTable table = BuildFlowTable(ctVNotchWeir, ChannelDimensions{90, 1000, 1000, 500});
        for (int k = 0; k < 64; ++k)
            QCOMPARE(held.value(64 + k), int(table.words[size_t(k)]));
        // The sensor that stopped: every register said to be written holds its word.
        const QMap<int, int> stopped = readSimRegisters(dir.filePath(QStringLiteral("registers-78.txt")));
        for (int k = 0; k < 10; ++k)
            QCOMPARE(stopped.value(64 + k), int(table.words[size_t(k)]));
    }
};

QTEST_GUILESS_MAIN(TestE2eCli)
#include "tst_e2e_cli.moc"
