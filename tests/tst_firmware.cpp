// The firmware check after the search, the update files and the loader run, on the
// virtual clock with the in-process sensor and a scripted loader.
#include "ExchangeRig.h"
#include "FakeLoader.h"

#include "model/UpdateImage.h"

#include "exchange/Autodetect.h"
#include "exchange/Firmware.h"
#include "exchange/Upgrade.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const QString outOfDate = QStringLiteral(" EchoGauge firmware is out of date");
const QString fileFound = QStringLiteral(" Firmware update file found.");
const QString appOutOfDate = QStringLiteral(" Upgrade the EchoGauge firmware now?");
const QString upgrading = QStringLiteral(" Upgrading EchoGauge firmware ...");
const QString succeeded = QStringLiteral(" Firmware upgrade successful.");
const QString notFound = QStringLiteral(" Upgrade software could not be found.");
const QString failed = QStringLiteral(" The firmware upgrade has failed.");
const QString unknown = QStringLiteral(" An unknown error has occurred during the firmware upgrade!");

const QString row2Box = QStringLiteral(
    "The EchoGauge firmware installed (V1.12) is out of date and cannot be used with this software.\n"
    "You must have a direct connection from your PC to the EchoGauge to upgrade the firmware.");
QString row3Box(const QString &v)
{
    return "The EchoGauge firmware installed (" + v +
           ") is out of date and the upgrade software has not been found.\n"
           "You cannot use this software until the EchoGauge has been updated.";
}
QString row4Box(const QString &v)
{
    return "The EchoGauge firmware installed (" + v +
           ") is out of date and no suitable update file has been found.\n"
           "You cannot use this software until the EchoGauge has been updated.";
}
QString row5Box(const QString &v, const QString &u)
{
    return "The EchoGauge firmware installed (" + v +
           ") is out of date and will not work with this software.\nAn update file for firmware " + u +
           " has been found and will be installed now.";
}
const QString row7Box = QStringLiteral(
    "EchoGauge firmware V1.13 is currently installed, but an update file for firmware V1.14 has been "
    "found.\n\nThis new firmware will be installed now.");
const QString row8Box = QStringLiteral(
    "The EchoGauge firmware installed (V1.14) suggests that this software application may be out of date.\n"
    "Please check the Brookmere website to see if a newer version is available.");
const QString successBox = QStringLiteral("Firmware upgrade successful.");

using Icon = Dialogs::Icon;
const int info = int(Icon::Information);
const int error = int(Icon::Error);

// A sensor on COM3 behind the in-process serial seam, a data directory of the test's
// own, and the scripted loader in place of the real one.
struct FirmwareRig
{
    ExchangeRig rig{QStringLiteral("firmware")};
    QTemporaryDir data;
    FakeLoader loader{&rig.clock, &rig.serial, 3};

    explicit FirmwareRig(const QString &firmware, qint32 loggerBaud = 0)
    {
        SimOptions o;
        o.firmware = firmware;
        o.loggerBaud = loggerBaud;
        rig.serial.addSensor(3, o);
        rig.form->platform.dataDir = data.path();
        rig.form->platform.processes = &loader;
        rig.form->options = loggerBaud ? searchPassthrough19200 : searchDirect9600;
    }

    void addLoader()
    {
        QFile f(data.filePath("flashldr.exe"));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QString addUpdate(const QString &name, int version)
    {
        QDir().mkpath(data.filePath("UPD_Files"));
        UpdateImageSpec spec;
        spec.major = version / 100;
        spec.minor = version % 100;
        const QString path = data.filePath("UPD_Files/" + name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(makeUpdateImage(spec));
        return path;
    }
    void search(qint64 ms = 20000)
    {
        rig.form->menuSearchClick();
        rig.clock.advance(ms);
    }

    // The firmware check's own status texts, in order, without the progress dots.
    QStringList firmwareSteps() const
    {
        static const QStringList ours{outOfDate, fileFound, appOutOfDate, upgrading,
                                      succeeded, notFound,  failed,       unknown};
        QStringList out;
        for (const QString &s : rig.statusSteps())
            if (ours.contains(s))
                out << s;
        return out;
    }
    QStringList boxes() const
    {
        QStringList out;
        for (const auto &m : rig.dialogs.messages)
            out << m.text;
        return out;
    }
    QList<int> icons() const
    {
        QList<int> out;
        for (const auto &m : rig.dialogs.messages)
            out << int(m.icon);
        return out;
    }
    // The search handed the sensor on to the configuration read.
    bool configurationRead() const
    {
        for (const auto &t : rig.ticks)
            if (t.state == psReadConfigPrepare)
                return true;
        return false;
    }
};

QByteArray header(const UpdateImageSpec &spec, int size = 112)
{
    UpdateImageSpec s = spec;
    s.size = size;
    return makeUpdateImage(s).left(size);
}

} // namespace

class TestFirmware : public QObject
{
    Q_OBJECT

private slots:
    void versionDigits_data()
    {
        QTest::addColumn<QByteArray>("digits");
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("checkValue");
        QTest::addColumn<QString>("shown");

        QTest::newRow("1.13") << QByteArray("01.13") << 113 << 113 << "V1.13";
        QTest::newRow("1.12") << QByteArray("01.12") << 112 << 112 << "V1.12";
        QTest::newRow("only the last major digit counts") << QByteArray("11.13") << 1113 << 113 << "V11.13";
        QTest::newRow("20.99") << QByteArray("20.99") << 2099 << 99 << "V20.99";
        QTest::newRow("separator not checked") << QByteArray("01x07") << 107 << 107 << "V1.07";
        QTest::newRow("major not a number") << QByteArray("xx.13") << -87 << -87 << "V-0.87";
        QTest::newRow("minor not a number") << QByteArray("01.zz") << 100 << 100 << "V1.00";
        QTest::newRow("neither a number") << QByteArray("ab.cd") << -100 << -100 << "V-1.00";
        QTest::newRow("half a number") << QByteArray("1x.13") << -87 << -87 << "V-0.87";
    }
    void versionDigits()
    {
        QFETCH(QByteArray, digits);
        QFETCH(int, version);
        QFETCH(int, checkValue);
        QFETCH(QString, shown);
        const FirmwareDigits d = ParseFirmwareDigits(digits.left(2), digits.mid(3, 2));
        QCOMPARE(int(FirmwareVersionNumber(d)), version);
        QCOMPARE(FirmwareCheckValue(d), checkValue);
        QCOMPARE(FirmwareVersionText(FirmwareVersionNumber(d)), shown);
    }

    // The table by itself, at the edges of each condition.
    void decisionTable_data()
    {
        QTest::addColumn<int>("checkValue");
        QTest::addColumn<int>("newest");
        QTest::addColumn<bool>("relayed");
        QTest::addColumn<bool>("loader");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("next");

        const int accept = FirmwareDecision::Accept, refuse = FirmwareDecision::Refuse,
                  upgrade = FirmwareDecision::Upgrade;
        QTest::newRow("relayed, 1.13 with a newer file") << 113 << 120 << true << true << 1 << accept;
        QTest::newRow("relayed, 1.12") << 112 << 113 << true << true << 2 << refuse;
        QTest::newRow("1.12, no loader") << 112 << 113 << false << false << 3 << refuse;
        QTest::newRow("1.12, file 1.12") << 112 << 112 << false << true << 4 << refuse;
        QTest::newRow("1.12, file 1.05") << 112 << 105 << false << true << 4 << refuse;
        QTest::newRow("1.12, no file") << 112 << -1 << false << true << 4 << refuse;
        QTest::newRow("1.12, file 1.13") << 112 << 113 << false << true << 5 << upgrade;
        QTest::newRow("1.10, file 1.11") << 110 << 111 << false << true << 6 << accept;
        QTest::newRow("1.10, file 1.12") << 110 << 112 << false << true << 6 << accept;
        QTest::newRow("unreadable major, file 1.11") << -87 << 111 << false << true << 6 << accept;
        QTest::newRow("unreadable major, no file") << -87 << -1 << false << true << 4 << refuse;
        QTest::newRow("1.13, file 1.14") << 113 << 114 << false << true << 7 << upgrade;
        QTest::newRow("1.13, file 1.14, no loader") << 113 << 114 << false << false << 7 << upgrade;
        QTest::newRow("1.14, file 1.13") << 114 << 113 << false << true << 8 << accept;
        QTest::newRow("1.14, file 1.12") << 114 << 112 << false << true << 9 << accept;
        QTest::newRow("1.13, file 1.13") << 113 << 113 << false << true << 9 << accept;
        QTest::newRow("1.13, no file") << 113 << -1 << false << false << 9 << accept;
    }
    void decisionTable()
    {
        QFETCH(int, checkValue);
        QFETCH(int, newest);
        QFETCH(bool, relayed);
        QFETCH(bool, loader);
        QFETCH(int, row);
        QFETCH(int, next);
        const FirmwareDecision d =
            DecideFirmware(checkValue, qint16(checkValue), qint16(newest), relayed, loader);
        QCOMPARE(d.row, row);
        QCOMPARE(int(d.next), next);
        // Silent rows leave the status line and show nothing.
        const bool silent = row == 1 || row == 6 || row == 9;
        QCOMPARE(d.status.isEmpty(), silent);
        QCOMPARE(d.box.isEmpty(), silent);
    }

    // Every row as the search meets it: the status texts, the boxes, whether the
    // loader ran and whether the configuration is read afterwards.
    void checkAfterSearch_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("logger");
        QTest::addColumn<bool>("adopted");
        QTest::addColumn<bool>("loader");
        QTest::addColumn<QList<int>>("updates");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QList<int>>("icons");
        QTest::addColumn<bool>("loaderRan");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("version");

        const QList<int> none;
        QTest::newRow("row 1: 1.13 through a logger, newer file ignored")
            << "01.13" << 19200 << false << true << QList<int>{114} << QStringList{} << QStringList{} << none
            << false << true << 113;
        QTest::newRow("row 2: 1.12 through a logger")
            << "01.12" << 19200 << false << true << QList<int>{113} << QStringList{outOfDate}
            << QStringList{row2Box} << QList<int>{info} << false << false << 112;
        QTest::newRow("row 2: 1.12 on a run that adopted a port")
            << "01.12" << 0 << true << true << QList<int>{113} << QStringList{outOfDate}
            << QStringList{row2Box} << QList<int>{info} << false << false << 112;
        QTest::newRow("row 3: 1.12 direct, no loader")
            << "01.12" << 0 << false << false << QList<int>{113} << QStringList{outOfDate}
            << QStringList{row3Box("V1.12")} << QList<int>{error} << false << false << 112;
        QTest::newRow("row 4: 1.12, newest file 1.12")
            << "01.12" << 0 << false << true << QList<int>{105, 112} << QStringList{outOfDate}
            << QStringList{row4Box("V1.12")} << QList<int>{error} << false << false << 112;
        QTest::newRow("row 5: 1.12, file 1.13") << "01.12" << 0 << false << true << QList<int>{113}
                                                << QStringList{outOfDate, upgrading, succeeded}
                                                << QStringList{row5Box("V1.12", "V1.13"), successBox}
                                                << QList<int>{info, info} << true << true << 113;
        QTest::newRow("row 6: 1.10, file 1.11, silent")
            << "01.10" << 0 << false << true << QList<int>{111} << QStringList{} << QStringList{} << none
            << false << true << 110;
        QTest::newRow("row 7: 1.13, file 1.14")
            << "01.13" << 0 << false << true << QList<int>{114}
            << QStringList{fileFound, upgrading, succeeded} << QStringList{row7Box, successBox}
            << QList<int>{info, info} << true << true << 114;
        QTest::newRow("row 8: 1.14, file 1.13")
            << "01.14" << 0 << false << true << QList<int>{113} << QStringList{appOutOfDate}
            << QStringList{row8Box} << QList<int>{info} << false << true << 114;
        QTest::newRow("row 9: 1.13, no file, silent")
            << "01.13" << 0 << false << false << none << QStringList{} << QStringList{} << none << false
            << true << 113;
        QTest::newRow("row 9: 1.13, file 1.13")
            << "01.13" << 0 << false << true << QList<int>{113} << QStringList{} << QStringList{} << none
            << false << true << 113;
        QTest::newRow("11.13 is usable") << "11.13" << 0 << false << false << none << QStringList{}
                                         << QStringList{} << none << false << true << 1113;
        QTest::newRow("11.12 is out of date")
            << "11.12" << 0 << false << false << none << QStringList{outOfDate}
            << QStringList{row3Box("V11.12")} << QList<int>{error} << false << false << 1112;
        QTest::newRow("non-digits in the major field, file 1.13")
            << "xx.13" << 0 << false << true << QList<int>{113}
            << QStringList{outOfDate, upgrading, succeeded}
            << QStringList{row5Box("V-0.87", "V1.13"), successBox} << QList<int>{info, info} << true << true
            << 113;
        QTest::newRow("non-digits in the major field, no file")
            << "xx.13" << 0 << false << true << none << QStringList{outOfDate}
            << QStringList{row4Box("V-0.87")} << QList<int>{error} << false << false << -87;
    }
    void checkAfterSearch()
    {
        QFETCH(QString, firmware);
        QFETCH(int, logger);
        QFETCH(bool, adopted);
        QFETCH(bool, loader);
        QFETCH(QList<int>, updates);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, boxes);
        QFETCH(QList<int>, icons);
        QFETCH(bool, loaderRan);
        QFETCH(bool, accepted);
        QFETCH(int, version);

        FirmwareRig f(firmware, logger);
        if (loader)
            f.addLoader();
        for (int i = 0; i < updates.size(); ++i)
            f.addUpdate(QStringLiteral("fw%1.upd").arg(i), updates[i]);
        f.rig.form->commPort.attached = adopted;
        f.search();

        QCOMPARE(f.rig.form->sensorPort, qint16(3));
        QCOMPARE(f.firmwareSteps(), steps);
        QCOMPARE(f.boxes(), boxes);
        QCOMPARE(f.icons(), icons);
        QCOMPARE(f.loader.runs.size(), loaderRan ? 1 : 0);
        QCOMPARE(f.configurationRead(), accepted);
        QCOMPARE(int(f.rig.form->firmwareVersion), version);
        QCOMPARE(f.rig.form->commPort.isOpen(), accepted);
        QCOMPARE(f.rig.form->portState, qint8(psIdle));
        if (loaderRan) {
            // The sensor now reports the firmware of the file.
            QCOMPARE(f.rig.serial.sensor(3)->firmware,
                     FirmwareVersionText(version).mid(1).rightJustified(5, '0'));
        }
    }

    // The loader is started on the closed port with the file's path in quotes, and the
    // port is opened again as soon as it has ended, whatever the outcome.
    void loaderResults_data()
    {
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("accepted");

        const int exit = int(FakeLoader::End::Exit), crash = int(FakeLoader::End::Crash);
        QTest::newRow("success") << false << exit << 0 << succeeded << successBox << true;
        QTest::newRow("not started")
            << true << exit << 0 << notFound
            << "Upgrade software could not be found.\nFirmware upgrade has been aborted." << false;
        QTest::newRow("exit code 3") << false << exit << 3 << failed << "The firmware upgrade has failed."
                                     << false;
        QTest::newRow("exit code 255")
            << false << exit << 255 << failed << "The firmware upgrade has failed." << false;
        QTest::newRow("no exit code")
            << false << crash << 0 << unknown << "An unknown error has occurred during the firmware upgrade!"
            << false;
    }
    void loaderResults()
    {
        QFETCH(bool, refuse);
        QFETCH(int, end);
        QFETCH(int, exitCode);
        QFETCH(QString, status);
        QFETCH(QString, box);
        QFETCH(bool, accepted);

        FirmwareRig f(QStringLiteral("01.12"));
        f.addLoader();
        const QString file = f.addUpdate(QStringLiteral("fw113.upd"), 113);
        f.loader.refuseStart = refuse;
        f.loader.end = FakeLoader::End(end);
        f.loader.exitCode = exitCode;
        f.search();

        QCOMPARE(f.loader.runs.size(), 1);
        const FakeLoader::Run run = f.loader.runs.first();
        QCOMPARE(run.program, QDir(f.data.path()).absoluteFilePath("flashldr.exe"));
        QCOMPARE(run.arguments, (QStringList{"-Q", "-C3", "-N\"" + file + "\""}));
        QVERIFY(!run.portOpenAtStart);

        QCOMPARE(f.rig.statusSteps().last(), accepted ? QStringLiteral(" EchoGauge found on COM3") : status);
        QVERIFY(f.firmwareSteps().endsWith(status));
        QCOMPARE(f.rig.dialogs.messages.size(), 2);
        QCOMPARE(f.rig.dialogs.messages.last().text, box);
        QCOMPARE(f.rig.dialogs.messages.last().icon, accepted ? Icon::Information : Icon::Error);
        QCOMPARE(f.configurationRead(), accepted);
        QCOMPARE(int(f.rig.form->firmwareVersion), accepted ? 113 : 112);

        // Reopened the moment the loader was done with it (or failed to start)...
        const qint64 reopen = refuse ? run.startMs : f.loader.endedMs;
        QCOMPARE(f.rig.serial.opens.last().port, 3);
        QCOMPARE(f.rig.serial.opens.last().timeMs, reopen);
        QCOMPARE(f.rig.serial.settings(3).baud, accepted ? 9600 : 0);
        // ...and a refused sensor's port closed again by the search.
        QCOMPARE(f.rig.form->commPort.isOpen(), accepted);
        QCOMPARE(f.rig.serial.isOpen(3), accepted);
    }

    // One dot every 15 rounds of 100 ms while the loader runs.
    void progressDots()
    {
        FirmwareRig f(QStringLiteral("01.12"));
        f.addLoader();
        f.addUpdate(QStringLiteral("fw113.upd"), 113);
        f.loader.durationMs = 4000;
        f.search();

        QCOMPARE(f.loader.runs.size(), 1);
        const qint64 t0 = f.loader.runs.first().startMs;
        QCOMPARE(f.rig.firstMessageTime(upgrading), t0);
        QCOMPARE(f.rig.firstMessageTime(upgrading + "."), t0 + 1400);
        QCOMPARE(f.rig.firstMessageTime(upgrading + ".."), t0 + 2900);
        QCOMPARE(f.rig.firstMessageTime(upgrading + "..."), qint64(-1));
        QCOMPARE(f.loader.endedMs, t0 + 4000);
        QCOMPARE(f.rig.firstMessageTime(succeeded), t0 + 4000);
    }

    // A loader that never ends is ended at the bound and counts as one without an exit code.
    void loaderThatNeverEnds_data()
    {
        QTest::addColumn<int>("boundMs");
        QTest::newRow("shortened to 5 s") << 5000;
        QTest::newRow("the default ten minutes") << 0;
    }
    void loaderThatNeverEnds()
    {
        QFETCH(int, boundMs);
        FirmwareRig f(QStringLiteral("01.12"));
        f.addLoader();
        f.addUpdate(QStringLiteral("fw113.upd"), 113);
        f.loader.end = FakeLoader::End::Hang;
        if (boundMs)
            f.rig.form->loaderTimeoutMs = boundMs;
        else
            boundMs = 10 * 60 * 1000;
        f.search(boundMs + 20000);

        QCOMPARE(f.loader.runs.size(), 1);
        QVERIFY(f.loader.killed);
        QCOMPARE(f.loader.endedMs, f.loader.runs.first().startMs + boundMs);
        QCOMPARE(f.firmwareSteps(), (QStringList{outOfDate, upgrading, unknown}));
        QCOMPARE(f.rig.form->portState, qint8(psIdle));
        QVERIFY(!f.rig.form->commPort.isOpen());
    }

    // Keys and clicks during the loader are thrown away, not acted on afterwards.
    void noInputWhileTheLoaderRuns()
    {
        FirmwareRig f(QStringLiteral("01.12"));
        f.addLoader();
        f.addUpdate(QStringLiteral("fw113.upd"), 113);
        QLineEdit edit;
        f.loader.whileRunning = [&edit] {
            QCoreApplication::postEvent(&edit,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
        };
        f.search();
        QCoreApplication::processEvents();
        QCOMPARE(f.loader.runs.size(), 1);
        QCOMPARE(edit.text(), QString());

        // The same key outside the loader's run does arrive.
        QCoreApplication::postEvent(&edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
        QCoreApplication::processEvents();
        QCOMPARE(edit.text(), QStringLiteral("x"));
    }

    void updateHeader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("forSensor");

        UpdateImageSpec s;
        s.major = 1;
        s.minor = 13;
        QTest::newRow("valid") << header(s) << true << 113 << true;
        QTest::newRow("longer file") << header(s, 4000) << true << 113 << true;
        QTest::newRow("111 bytes") << header(s).left(111) << false << 0 << false;
        QByteArray magic = header(s);
        magic[15] = 0x1B;
        QTest::newRow("magic without its 0x1A") << magic << false << 0 << false;
        magic = header(s);
        magic[0] = 'o';
        QTest::newRow("magic in lower case") << magic << false << 0 << false;
        for (int length : {0, 1, 57, 58, 0xFFFF}) {
            UpdateImageSpec l = s;
            l.headerLength = length;
            QTest::newRow(qPrintable(QStringLiteral("length %1").arg(length)))
                << header(l) << false << 0 << false;
        }
        UpdateImageSpec odd = s;
        odd.headerLength = 55; // 27 words summed
        QTest::newRow("odd length") << header(odd) << true << 113 << true;
        UpdateImageSpec bad = s;
        bad.balanceSum = false;
        QTest::newRow("wrong checksum") << header(bad) << false << 0 << false;
        UpdateImageSpec shortHeader = s;
        shortHeader.headerLength = 34; // the version bytes lie beyond it
        QTest::newRow("version beyond the header reads 0") << header(shortHeader) << true << 0 << true;
        UpdateImageSpec product = s;
        product.product = 114;
        QTest::newRow("product 114") << header(product) << true << 113 << false;
        UpdateImageSpec kind = s;
        kind.kind = 2;
        QTest::newRow("kind 2") << header(kind) << true << 113 << false;
        UpdateImageSpec high = s;
        high.major = 255;
        high.minor = 255;
        QTest::newRow("255.255") << header(high) << true << 25755 << true;
    }
    void updateHeader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QFETCH(int, version);
        QFETCH(bool, forSensor);
        UpdateFileHeader h;
        QCOMPARE(ReadUpdateHeader(bytes, &h), valid);
        if (!valid)
            return;
        QCOMPARE(int(UpdateFileVersion(h)), version);
        QCOMPARE(IsSensorFirmware(h), forSensor);
        QCOMPARE(QByteArray(h.magic, 16), QByteArray("ORB Update File\x1a", 16));
    }

    // Files that fail any test are passed over; the newest of the rest is taken, the
    // first listed of equal versions.
    void updateFolder_data()
    {
        QTest::addColumn<QStringList>("files"); // name=version, or name=kind of fault
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("version");

        QTest::newRow("empty folder") << QStringList{} << QString() << -1;
        QTest::newRow("one file") << QStringList{"a.upd=113"} << "a.upd" << 113;
        QTest::newRow("newest wins") << QStringList{"a.upd=112", "b.upd=114", "c.upd=113"} << "b.upd" << 114;
        QTest::newRow("first of equal versions") << QStringList{"a.upd=114", "b.upd=114"} << "a.upd" << 114;
        QTest::newRow("every fault skipped")
            << QStringList{"magic.upd=magic",  "len0.upd=length0", "len1.upd=length1", "len57.upd=length57",
                           "sum.upd=checksum", "p.upd=product",    "k.upd=kind",       "short.upd=short",
                           "x.upd=directory",  "ok.upd=110",       "fw.bin=120",       ".hidden.upd=121"}
            << "ok.upd" << 110;
        QTest::newRow("extension in capitals") << QStringList{"FW.UPD=113"} << "FW.UPD" << 113;
    }
    void updateFolder()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, chosen);
        QFETCH(int, version);

        QTemporaryDir data;
        QDir().mkpath(data.filePath("UPD_Files"));
        for (const QString &entry : files) {
            const QString name = entry.section('=', 0, 0);
            const QString what = entry.section('=', 1);
            const QString path = data.filePath("UPD_Files/" + name);
            if (what == QLatin1String("directory")) {
                QVERIFY(QDir().mkpath(path));
                continue;
            }
            UpdateImageSpec s; // 1.13 unless the entry gives a version
            bool isVersion = false;
            const int v = what.toInt(&isVersion);
            if (isVersion) {
                s.major = v / 100;
                s.minor = v % 100;
            }
            QByteArray bytes;
            if (what == QLatin1String("magic")) {
                bytes = makeUpdateImage(s);
                bytes[3] = '_';
            } else if (what.startsWith(QLatin1String("length"))) {
                s.headerLength = what.mid(6).toInt();
                bytes = makeUpdateImage(s);
            } else if (what == QLatin1String("checksum")) {
                s.balanceSum = false;
                bytes = makeUpdateImage(s);
            } else if (what == QLatin1String("product")) {
                s.product = 114;
                bytes = makeUpdateImage(s);
            } else if (what == QLatin1String("kind")) {
                s.kind = 2;
                bytes = makeUpdateImage(s);
            } else if (what == QLatin1String("short")) {
                bytes = makeUpdateImage(s).left(111);
            } else {
                QVERIFY(isVersion);
                bytes = makeUpdateImage(s);
            }
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }

        const UpdateFile found = FindUpdateFile(data.path());
        QCOMPARE(found.path, chosen.isEmpty() ? QString() : data.filePath("UPD_Files/" + chosen));
        QCOMPARE(int(found.version), version);
    }

    // The loader and the update files are taken from the data directory only: ones
    // planted in the current directory are never used.
    void plantedInTheCurrentDirectory_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("dataDir"); // what the data directory holds
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("box");

        QTest::newRow("no data directory") << "01.12"
                                           << "none" << outOfDate << row3Box("V1.12");
        QTest::newRow("empty data directory") << "01.12"
                                              << "empty" << outOfDate << row3Box("V1.12");
        QTest::newRow("loader but no update file there") << "01.12"
                                                         << "loader" << outOfDate << row4Box("V1.12");
        QTest::newRow("newer file but no loader there")
            << "01.13"
            << "update" << notFound
            << "Upgrade software could not be found.\nFirmware upgrade has been aborted.";
    }
    void plantedInTheCurrentDirectory()
    {
        QFETCH(QString, firmware);
        QFETCH(QString, dataDir);
        QFETCH(QString, status);
        QFETCH(QString, box);

        // A loader that leaves a mark when it runs, and a newer update file.
        QTemporaryDir planted;
        const QString mark = planted.filePath("ran");
        {
            QFile loader(planted.filePath("flashldr.exe"));
            QVERIFY(loader.open(QIODevice::WriteOnly));
            loader.write(QStringLiteral("#!/bin/sh\ntouch '%1'\nexit 0\n").arg(mark).toLocal8Bit());
            loader.setPermissions(loader.permissions() | QFile::ExeOwner | QFile::ExeUser);
        }
        QDir().mkpath(planted.filePath("UPD_Files"));
        UpdateImageSpec s;
        s.major = 1;
        s.minor = 20;
        QFile upd(planted.filePath("UPD_Files/planted.upd"));
        QVERIFY(upd.open(QIODevice::WriteOnly));
        upd.write(makeUpdateImage(s));
        upd.close();

        FirmwareRig f(firmware);
        f.rig.form->platform.processes = Processes::system(); // really started, if at all
        if (dataDir == QLatin1String("none"))
            f.rig.form->platform.dataDir.clear();
        else if (dataDir == QLatin1String("loader"))
            f.addLoader();
        else if (dataDir == QLatin1String("update"))
            f.addUpdate(QStringLiteral("fw114.upd"), 114);

        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(planted.path()));
        f.search();
        QDir::setCurrent(before);

        QCOMPARE(f.firmwareSteps().last(), status);
        QCOMPARE(f.boxes().last(), box);
        QVERIFY(!QFile::exists(mark));
        QVERIFY(!f.configurationRead());
    }

    // The program's data directory is its own folder unless one is given; never the
    // current directory.
    void dataDirectoryOfTheProgram()
    {
        const QByteArray saved = qgetenv("ECHOGAUGE_DATA_DIR");
        QTemporaryDir elsewhere;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        qunsetenv("ECHOGAUGE_DATA_DIR");
        const QString own = Platform::system().dataDir;
        qputenv("ECHOGAUGE_DATA_DIR", "/some/where");
        const QString given = Platform::system().dataDir;
        QDir::setCurrent(before);
        if (saved.isNull())
            qunsetenv("ECHOGAUGE_DATA_DIR");
        else
            qputenv("ECHOGAUGE_DATA_DIR", saved);

        QCOMPARE(own, QCoreApplication::applicationDirPath());
        QCOMPARE(given, QStringLiteral("/some/where"));
        QCOMPARE(LoaderPath(QString()), QString());
        QCOMPARE(FindUpdateFile(QString()).version, qint16(-1));
    }
};

QTEST_MAIN(TestFirmware)
#include "tst_firmware.moc"
