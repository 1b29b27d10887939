// The console program's parsing and arithmetic: the port argument, the set-up values,
// the set-up and description files with the line of their first fault, the registers a
// verification compares, the site list of a fleet and the fleet's summary.
#include "cli/Cli.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace cli;

Q_DECLARE_METATYPE(std::optional<qint32>)

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        f.write(content);
        return f.fileName();
    }

private slots:
    void portArgument_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number"); // -1: a device, -2: refused, -3: a network port
        QTest::addColumn<QString>("device");
        QTest::newRow("COM7") << "COM7" << 7 << "";
        QTest::newRow("any case, leading zero") << "com07" << 7 << "";
        QTest::newRow("the last port") << "COM255" << 255 << "";
        QTest::newRow("no COM0") << "COM0" << -2 << "";
        QTest::newRow("beyond one byte") << "COM256" << -2 << "";
        QTest::newRow("a device path, cleaned") << "/dev//ttyUSB0" << -1 << "/dev/ttyUSB0";
        QTest::newRow("neither") << "ttyUSB0" << -2 << "";
        QTest::newRow("empty") << "" << -2 << "";
        QTest::newRow("RFC 2217 server") << "rfc2217://127.0.0.1:2001" << -3 << "rfc2217://127.0.0.1:2001";
        QTest::newRow("raw TCP, IPv6") << "tcp://[::1]:4001" << -3 << "tcp://[::1]:4001";
        QTest::newRow("network port without its port") << "tcp://site4" << -2 << "";
    }
    void portArgument()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(QString, device);
        QString error;
        const auto port = ParsePortArgument(text, &error);
        if (number == -2) {
            QVERIFY(!port);
            QVERIFY2(error.contains(QLatin1String("--port")), qPrintable(error));
            return;
        }
        QVERIFY2(port, qPrintable(error));
        QCOMPARE(port->kind, number >= 0    ? PortArgument::Number
                             : number == -1 ? PortArgument::Device
                                            : PortArgument::Network);
        QCOMPARE(port->number, number == -3 ? 0 : number);
        QCOMPARE(port->device, device);
    }

    // Every single value of "write" as the window's set-up takes it.
    void setupValues_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // INT_MIN: refused
        const int no = INT_MIN;
        QTest::newRow("metres to mm") << "m"
                                      << "2.75" << 2750;
        QTest::newRow("rounded to the mm") << "m"
                                           << "1.2345" << 1235;
        QTest::newRow("zero") << "m"
                              << "0" << 0;
        QTest::newRow("the longest range") << "m"
                                           << "10" << 10000;
        QTest::newRow("beyond it") << "m"
                                   << "10.001" << no;
        QTest::newRow("negative") << "m"
                                  << "-0.5" << no;
        QTest::newRow("not a number") << "m"
                                      << "two" << no;
        QTest::newRow("infinite") << "m"
                                  << "inf" << no;
        QTest::newRow("repeat") << "lost"
                                << "repeat" << 65535;
        QTest::newRow("Repeat") << "lost"
                                << "REPEAT" << 65535;
        QTest::newRow("a fixed value") << "lost"
                                       << "1234" << 1234;
        QTest::newRow("the lowest") << "lost"
                                    << "-32768" << -32768;
        QTest::newRow("-1 is the repeat code") << "lost"
                                               << "-1" << no;
        QTest::newRow("beyond a register") << "lost"
                                           << "32768" << no;
        QTest::newRow("type by name") << "type"
                                      << "v-notch" << 4;
        QTest::newRow("type by number") << "type"
                                        << "2" << 2;
        QTest::newRow("type, any case") << "type"
                                        << "Depth" << 1;
        QTest::newRow("no such type") << "type"
                                      << "5" << no;
        QTest::newRow("no such name") << "type"
                                      << "weir" << no;
    }
    void setupValues()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(int, value);
        QString error;
        std::optional<qint32> got;
        if (kind == QLatin1String("m"))
            got = MillimetresFromText(text, &error);
        else if (kind == QLatin1String("lost"))
            got = LostEchoFromArgument(text, &error);
        else if (const qint32 t = ChannelTypeFromText(text); t >= 0)
            got = t;
        if (value == INT_MIN) {
            QVERIFY(!got);
            QVERIFY(kind == QLatin1String("type") || !error.isEmpty());
        } else {
            QVERIFY2(got, qPrintable(error));
            QCOMPARE(*got, value);
        }
    }

    // A set-up file is refused with its name and the line of the fault.
    void setupFile_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error"); // empty: read
        const QByteArray good =
            "{\n \"schema\": 1,\n \"setup\": {\n  \"type\": \"depth\",\n"
            "  \"height_m\": 2.75,\n  \"max_height_m\": 3.025,\n  \"lost_echo\": \"repeat\"\n }\n}\n";
        QTest::newRow("good") << good << "";
        QTest::newRow("a comma missing after line 5")
            << QByteArray(good).replace("2.75,", "2.75") << "set.json:6:";
        QTest::newRow("no schema") << QByteArray(good).replace("\"schema\": 1", "\"schemo\": 1")
                                   << "set.json:1:";
        QTest::newRow("a later schema")
            << QByteArray(good).replace("\"schema\": 1", "\"schema\": 2") << "set.json:2:";
        QTest::newRow("height too large, line 5")
            << QByteArray(good).replace("2.75", "12.5") << "set.json:5: \"height_m\": 12.5 m is outside";
        QTest::newRow("height as text") << QByteArray(good).replace("2.75", "\"2.75\"") << "set.json:5:";
        QTest::newRow("unknown type, line 4") << QByteArray(good).replace("depth", "pond") << "set.json:4:";
        QTest::newRow("lost echo -1, line 7")
            << QByteArray(good).replace("\"repeat\"", "-1") << "set.json:7:";
        QTest::newRow("not an object") << QByteArray("[1, 2]\n") << "set.json:1:";
        QTest::newRow("empty") << QByteArray() << "set.json:1:";
    }
    void setupFile()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        QString why;
        const auto v = SetupFromJson(json, QStringLiteral("set.json"), &why);
        if (!error.isEmpty()) {
            QVERIFY(!v);
            QVERIFY2(why.startsWith(error), qPrintable(why));
            return;
        }
        QVERIFY2(v, qPrintable(why));
        QCOMPARE(v->type, 1);
        QCOMPARE(v->heightMm, 2750);
        QCOMPARE(v->maxHeightMm, std::optional<qint32>(3025));
        QCOMPARE(v->lostEcho, 65535);
    }

    // What "read --json" writes is what "write --from" and "verify --setup" read back.
    void setupRoundTrip_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("heightWord");
        QTest::addColumn<int>("windowHigh");
        QTest::addColumn<int>("lostEcho");
        QTest::newRow("depth, repeat") << 1 << 2750 << 3025 << 65535;
        QTest::newRow("a weir: the flow bit is no height") << 4 << (32768 | 1200) << 5000 << 300;
        QTest::newRow("negative lost echo") << 0 << 0 << 2500 << 65535 - 99;
    }
    void setupRoundTrip()
    {
        QFETCH(int, type);
        QFETCH(int, heightWord);
        QFETCH(int, windowHigh);
        QFETCH(int, lostEcho);
        QJsonObject root;
        root[QStringLiteral("schema")] = jsonSchema;
        root[QStringLiteral("setup")] =
            SetupJson({{1, windowHigh}, {23, heightWord}, {24, lostEcho}, {128, type}}, 10000);
        QString why;
        const auto v = SetupFromJson(QJsonDocument(root).toJson(), QStringLiteral("r.json"), &why);
        QVERIFY2(v, qPrintable(why));
        QCOMPARE(v->type, type);
        QCOMPARE(v->heightMm, heightWord & 0x7FFF);
        QCOMPARE(v->maxHeightMm, std::optional<qint32>(windowHigh));
        QCOMPARE(quint16(v->lostEcho), quint16(lostEcho));
        const QJsonObject regs =
            root[QStringLiteral("setup")].toObject()[QStringLiteral("registers")].toObject();
        QCOMPARE(regs[QStringLiteral("23")].toInt(), heightWord);
    }

    void channelFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // the suffix after the file name; empty: read
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("crest");
        const QByteArray good = "[Channels]\nChannel Type=4\nNotch Angle=60\nCrest Height=800\n"
                                "Channel Width=1200\nNotch Width=500\n";
        QTest::newRow("good") << good << "" << 4 << 800;
        QTest::newRow("other sections and keys kept aside")
            << QByteArray("[Site]\nName=Mill\n; a note\n") + good + "Comment=x\n"
            << "" << 4 << 800;
        QTest::newRow("missing dimensions take the defaults")
            << QByteArray("[Channels]\nChannel Type=1\n") << "" << 1 << 1000;
        QTest::newRow("a value that is no number")
            << QByteArray(good).replace("=800", "=0.8") << ":4: Crest Height" << 0 << 0;
        QTest::newRow("a type beyond the list")
            << QByteArray(good).replace("Type=4", "Type=7") << ":2: Channel Type" << 0 << 0;
        QTest::newRow("a dimension of nothing")
            << QByteArray(good).replace("=1200", "=0") << ":5: Channel Width" << 0 << 0;
        QTest::newRow("a line of nonsense")
            << QByteArray(good).insert(11, "weir\n") << ":2: \"weir\"" << 0 << 0;
        QTest::newRow("an unclosed section") << QByteArray("[Channels\n") << ":1: a section" << 0 << 0;
        QTest::newRow("no Channels section")
            << QByteArray("[Other]\nChannel Type=1\n") << ": no [Channels]" << 0 << 0;
    }
    void channelFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(int, type);
        QFETCH(int, crest);
        const QString path = writeFile(QStringLiteral("c.cdf"), content);
        QString why;
        const auto c = CheckChannelFile(path, &why);
        if (!error.isEmpty()) {
            QVERIFY(!c);
            QVERIFY2(why.startsWith(path + error), qPrintable(why));
            return;
        }
        QVERIFY2(c, qPrintable(why));
        QCOMPARE(c->type, type);
        QCOMPARE(c->dims.crestHeight, crest);
    }

    void headroom_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("percent"); // -1: none
        QTest::newRow("10 % above") << 2750 << 3025 << 10;
        QTest::newRow("rounded") << 3000 << 3304 << 10;
        QTest::newRow("double") << 1000 << 2000 << 100;
        QTest::newRow("more than double") << 1000 << 2010 << -1;
        QTest::newRow("at the height") << 1000 << 1000 << -1;
        QTest::newRow("below it") << 1000 << 900 << -1;
        QTest::newRow("no height") << 0 << 900 << -1;
    }
    void headroom()
    {
        QFETCH(int, height);
        QFETCH(int, max);
        QFETCH(int, percent);
        const auto p = HeadroomForMaxHeight(height, max);
        QCOMPARE(p.value_or(-1), percent);
    }

    // Only the registers the given files describe are compared.
    void compareRegisters_data()
    {
        QTest::addColumn<bool>("setup");
        QTest::addColumn<bool>("description");
        QTest::addColumn<bool>("tableListed");
        QTest::addColumn<int>("compared");
        QTest::addColumn<QList<int>>("differing");
        QTest::newRow("set-up only: 131 not looked at") << true << false << true << 3 << QList<int>{23};
        QTest::newRow("description with its table") << false << true << true << 69 << QList<int>{70, 131};
        QTest::newRow("description, dump without table") << false << true << false << 5 << QList<int>{131};
        QTest::newRow("both") << true << true << true << 72 << QList<int>{23, 70, 131};
    }
    void compareRegisters()
    {
        QFETCH(bool, setup);
        QFETCH(bool, description);
        QFETCH(bool, tableListed);
        QFETCH(int, compared);
        QFETCH(QList<int>, differing);
        RegisterWords expected;
        QMap<int, qint32> sensor;
        for (int reg : {1, 23, 24, 128, 129, 130, 131, 132}) {
            expected[reg] = quint16(reg * 3);
            sensor[reg] = reg * 3;
        }
        for (int reg = 64; reg <= 127; ++reg) {
            expected[reg] = quint16(reg);
            if (tableListed)
                sensor[reg] = reg;
        }
        sensor[23] = 1;
        sensor[131] = 777;
        if (tableListed)
            sensor[70] = 0;
        const VerifyOutcome out = CompareRegisters(sensor, expected, VerifiedRegisters(setup, description));
        QCOMPARE(out.compared, compared);
        QList<int> regs;
        for (const RegisterDifference &d : out.differences)
            regs << d.reg;
        QCOMPARE(regs, differing);
        QCOMPARE(out.json[QStringLiteral("registers")].toArray().size(), compared);
    }

    void sites_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("error"); // empty: read
        QTest::addColumn<int>("count");
        QTest::newRow("header, comment, blank line")
            << QByteArray("site,port,cdf,setup\n# north\n\nMill,COM3,weir.cdf\nQuay,/dev/ttyUSB1,,q.json\n")
            << "" << 2;
        QTest::newRow("no header") << QByteArray("Mill,COM3\n") << "" << 1;
        QTest::newRow("bad port on line 3")
            << QByteArray("site,port\nMill,COM3\nQuay,LPT1\n") << "s.csv:3: --port" << 0;
        QTest::newRow("a site twice")
            << QByteArray("Mill,COM3\nMill,COM4\n") << "s.csv:2: site \"Mill\"" << 0;
        QTest::newRow("too many fields") << QByteArray("Mill,COM3,a,b,c\n") << "s.csv:1: a row" << 0;
        QTest::newRow("no name") << QByteArray(",COM3\n") << "s.csv:1: the site" << 0;
        QTest::newRow("nothing") << QByteArray("site,port\n") << "s.csv: lists no site" << 0;
    }
    void sites()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, error);
        QFETCH(int, count);
        QString why;
        const auto sites = ParseSites(csv, QStringLiteral("s.csv"), QStringLiteral("/fleet"), &why);
        if (!error.isEmpty()) {
            QVERIFY(!sites);
            QVERIFY2(why.startsWith(error), qPrintable(why));
            return;
        }
        QVERIFY2(sites, qPrintable(why));
        QCOMPARE(sites->size(), count);
        if (count == 2) {
            QCOMPARE(sites->at(0).cdf, QStringLiteral("/fleet/weir.cdf"));
            QCOMPARE(sites->at(1).cdf, QString());
            QCOMPARE(sites->at(1).setup, QStringLiteral("/fleet/q.json"));
        }
    }

    void fleetSummary_data()
    {
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("all hold") << QList<int>{0, 0} << QStringList{"holds", "holds"}
                                  << "2 hold, 0 differ, 0 not found, 0 failed" << 0;
        QTest::newRow("differ and absent")
            << QList<int>{0, 1, 1, 1} << QStringList{"holds", "differs", "differs", "not found"}
            << "1 hold, 2 differ, 1 not found, 0 failed" << 1;
        QTest::newRow("a failure outweighs")
            << QList<int>{1, 3, 4, 2} << QStringList{"differs", "failed", "no port", "bad input"}
            << "0 hold, 1 differ, 0 not found, 3 failed" << 3;
        QTest::newRow("a child that crashed")
            << QList<int>{-1} << QStringList{""} << "0 hold, 0 differ, 0 not found, 1 failed" << 3;
    }
    void fleetSummary()
    {
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, results);
        QFETCH(QString, summary);
        QFETCH(int, exitCode);
        QList<SiteEnd> ends;
        for (int i = 0; i < codes.size(); ++i)
            ends << SiteEndOf(codes.at(i), results.at(i));
        QCOMPARE(FleetSummary(ends, true), summary);
        QCOMPARE(FleetExitCode(ends), exitCode);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
