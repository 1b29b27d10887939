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
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

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
    // The loader and a 1.13 update file: what an out-of-date sensor is upgraded with.
    QString addUpgrade()
    {
        addLoader();
        return addUpdate(QStringLiteral("fw113.upd"), 113);
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

// The first bytes of an update file for 1.13 with one thing changed.
QByteArray updateStart(int length = 56, quint16 product = 115, quint16 kind = 1, bool balanced = true)
{
    UpdateImageSpec s;
    s.headerLength = length;
    s.product = product;
    s.kind = kind;
    s.balanceSum = balanced;
    s.size = 112;
    return makeUpdateImage(s);
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
        const FirmwareDigits d = ParseFirmwareDigits(digits.left(2), digits.mid(3, 2));
        QTEST(int(FirmwareVersionNumber(d)), "version");
        QTEST(int(FirmwareCheckValue(d)), "checkValue");
        QTEST(FirmwareVersionText(FirmwareVersionNumber(d)), "shown");
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
        // An older file that would be taken for old but usable firmware (row 6) does
        // not make unreadable firmware usable.
        QTest::newRow("non-digits in the major field, file 1.11")
            << "xx.13" << 0 << false << true << QList<int>{111} << QStringList{outOfDate}
            << QStringList{row4Box("V-0.87")} << QList<int>{error} << false << false << -87;
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
        QTEST(f.firmwareSteps(), "steps");
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
        QFETCH(bool, accepted);

        FirmwareRig f(QStringLiteral("01.12"));
        const QString file = f.addUpgrade();
        f.loader.refuseStart = refuse;
        f.loader.end = FakeLoader::End(end);
        f.loader.exitCode = exitCode;
        f.search();

        QCOMPARE(f.loader.runs.size(), 1);
        const FakeLoader::Run run = f.loader.runs.first();
        QCOMPARE(run.program, QDir(f.data.path()).absoluteFilePath("flashldr.exe"));
        // The loader is given the path as its own system writes it.
        QCOMPARE(run.arguments, (QStringList{"-Q", "-C3", "-N\"" + QDir::toNativeSeparators(file) + "\""}));
        QVERIFY(!run.portOpenAtStart);

        QCOMPARE(f.rig.statusSteps().last(),
                 accepted ? QStringLiteral(" Sensor data received from EchoGauge") : status);
        QVERIFY(f.firmwareSteps().endsWith(status));
        QCOMPARE(f.rig.dialogs.messages.size(), 2);
        QTEST(f.rig.dialogs.messages.last().text, "box");
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
        f.addUpgrade();
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
        f.addUpgrade();
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

    // Keys and clicks during the loader are thrown away, not acted on afterwards; the
    // pointer moved and a key pressed over the main window are not a request to quit.
    void noInputWhileTheLoaderRuns()
    {
        FirmwareRig f(QStringLiteral("01.12"));
        f.addUpgrade();
        QLineEdit edit;
        f.rig.form->createWinId();
        QWindow *window = f.rig.form->windowHandle();
        QVERIFY(window);
        f.loader.whileRunning = [&edit, window] {
            QCoreApplication::postEvent(&edit,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
            const QPointF at(20, 20);
            QCoreApplication::postEvent(window, new QMouseEvent(QEvent::MouseMove, at, at, at, Qt::NoButton,
                                                                Qt::NoButton, Qt::NoModifier));
            QCoreApplication::postEvent(window,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
        };
        f.search();
        QCoreApplication::processEvents();
        QCOMPARE(f.loader.runs.size(), 1);
        QCOMPARE(edit.text(), QString());
        QVERIFY(!f.rig.form->closedDuringFirmwareCheck);
        QCOMPARE(f.boxes().last(), successBox);
        QVERIFY(f.configurationRead());

        // The same key outside the loader's run does arrive.
        QCoreApplication::postEvent(&edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
        QCoreApplication::processEvents();
        QCOMPARE(edit.text(), QStringLiteral("x"));
    }

    // A request to quit while one of the firmware check's boxes is open (log-out,
    // SIGTERM, Ctrl+C) ends the check there: no loader, no configuration read, and the
    // settings stored with the sensor's port.
    void closeWhileABoxIsOpen_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("update");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("loaderRuns");
        QTest::newRow("out of date, to be upgraded") << "01.12" << 113 << row5Box("V1.12", "V1.13") << 0;
        QTest::newRow("newer file, to be installed") << "01.13" << 114 << row7Box << 0;
        QTest::newRow("application out of date") << "01.14" << 113 << row8Box << 0;
        QTest::newRow("upgrade reported") << "01.12" << 113 << successBox << 1;
    }
    void closeWhileABoxIsOpen()
    {
        QFETCH(QString, firmware);
        QFETCH(int, update);
        QFETCH(QString, box);
        FirmwareRig f(firmware);
        f.addLoader();
        f.addUpdate(QStringLiteral("fw.upd"), update);
        QSettings store(f.rig.form->platform.settingsOrganization, f.rig.form->platform.settingsApplication);
        store.clear();
        f.rig.dialogs.whileMessageShown = [&](const QString &text) {
            if (text == box)
                f.rig.form->close();
        };
        f.search();
        QCOMPARE(f.boxes().last(), box);
        QTEST(int(f.loader.runs.size()), "loaderRuns");
        QVERIFY(!f.configurationRead());
        store.sync();
        QCOMPARE(store.value(QStringLiteral("Port")).toInt(), 3);
    }

    // A header counts with its version, or is skipped (-1).
    void updateHeader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("version");

        QByteArray magic = updateStart();
        magic[15] = 0x1B;
        UpdateImageSpec newest;
        newest.major = newest.minor = 255;
        QTest::newRow("valid") << updateStart() << 113;
        QTest::newRow("longer file") << makeUpdateImage(UpdateImageSpec()) << 113;
        QTest::newRow("111 bytes") << updateStart().left(111) << -1;
        QTest::newRow("magic without its 0x1A") << magic << -1;
        QTest::newRow("length 0") << updateStart(0) << -1;
        QTest::newRow("length 1") << updateStart(1) << -1;
        QTest::newRow("length 57") << updateStart(57) << -1;
        QTest::newRow("length 65535") << updateStart(0xFFFF) << -1;
        QTest::newRow("odd length, 27 words summed") << updateStart(55) << 113;
        QTest::newRow("wrong checksum") << updateStart(56, 115, 1, false) << -1;
        QTest::newRow("version beyond the header reads 0") << updateStart(34) << 0;
        QTest::newRow("product 114") << updateStart(56, 114) << -1;
        QTest::newRow("kind 2") << updateStart(56, 115, 2) << -1;
        QTest::newRow("255.255") << makeUpdateImage(newest) << 25755;
    }
    void updateHeader()
    {
        QFETCH(QByteArray, bytes);
        UpdateFileHeader h;
        const bool counts = ReadUpdateHeader(bytes, &h) && IsSensorFirmware(h);
        QTEST(counts ? int(UpdateFileVersion(h)) : -1, "version");
    }

    // The folder: entries that are not readable update files are passed over; the
    // newest of the rest is taken, the first listed of equal versions.
    void updateFolder_data()
    {
        QTest::addColumn<QStringList>("files"); // name=version, or name=what is wrong with it
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("version");

        QTest::newRow("empty folder") << QStringList{} << QString() << -1;
        QTest::newRow("newest wins") << QStringList{"a.upd=112", "b.upd=114", "c.upd=113"} << "b.upd" << 114;
        QTest::newRow("first of equal versions") << QStringList{"b.upd=114", "a.upd=114"} << "a.upd" << 114;
        QTest::newRow("faulty entries skipped")
            << QStringList{"a.upd=short", "b.upd=checksum", "x.upd=directory",
                           "c.upd=110",   "fw.bin=120",     ".hidden.upd=121"}
            << "c.upd" << 110;
        QTest::newRow("extension in capitals") << QStringList{"FW.UPD=113"} << "FW.UPD" << 113;
    }
    void updateFolder()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, chosen);

        QTemporaryDir data;
        const QDir folder(data.filePath("UPD_Files"));
        QDir().mkpath(folder.path());
        for (const QString &entry : files) {
            const QString name = entry.section('=', 0, 0), what = entry.section('=', 1);
            UpdateImageSpec s;
            s.major = what.toInt() / 100;
            s.minor = what.toInt() % 100;
            s.balanceSum = what != QLatin1String("checksum");
            QByteArray bytes = makeUpdateImage(s);
            if (what == QLatin1String("short"))
                bytes = updateStart().left(111);
            if (what == QLatin1String("directory")) {
                QVERIFY(folder.mkpath(name));
                continue;
            }
            QFile f(folder.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }

        const UpdateFile found = FindUpdateFile(data.path());
        QCOMPARE(found.path, chosen.isEmpty() ? QString() : folder.filePath(chosen));
        QTEST(int(found.version), "version");
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
#ifdef _WIN32
        // Rooted without a drive: on the program's own drive.
        QCOMPARE(given, QCoreApplication::applicationDirPath().left(2) + QStringLiteral("/some/where"));
#else
        QCOMPARE(given, QStringLiteral("/some/where"));
#endif
        QCOMPARE(LoaderPath(QString()), QString());
        QCOMPARE(FindUpdateFile(QString()).version, qint16(-1));
    }
};

QTEST_MAIN(TestFirmware)
#include "tst_firmware.moc"
