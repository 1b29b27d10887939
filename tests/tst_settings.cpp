// The settings store and the Options dialog, each case in a settings scope of its own.
#include "model/InProcessSerial.h"
#include "model/UpdateImage.h"

#include "app/Mainform.h"
#include "app/Optionsform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <limits>
#include <memory>

namespace {

struct Rig
{
    VirtualClock clock;
    InProcessSerial serial{&clock};
    RecordingDialogs dialogs;
    Platform platform;
    std::unique_ptr<TformMain> form;

    explicit Rig(const QString &scope)
    {
        platform.clock = &clock;
        platform.serial = &serial;
        platform.dialogs = &dialogs;
        platform.settingsOrganization = QStringLiteral("EchoGaugeTest-settings-") + scope;
        platform.dataDir = QString(); // no guide
        store().clear();
        form = std::make_unique<TformMain>(platform);
    }
    ~Rig()
    {
        form.reset();
        store().clear();
    }
    QSettings store() const { return QSettings(platform.settingsOrganization, platform.settingsApplication); }
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    // Where absolute paths begin: a drive on Windows.
#ifdef _WIN32
    const QString root = QStringLiteral("C:");
#else
    const QString root;
#endif

private slots:
    void firstRunKeepsTheDefaults()
    {
        Rig rig(QStringLiteral("first"));
        rig.form->FormShow();
        // The start size is the minimum: the designed client area, 550 x 540 outside.
        const QSize start = rig.form->minimumSize();
        QCOMPARE(rig.form->size(), start);
        QVERIFY(start.width() >= 542 && start.height() >= 540);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(rig.form->x(), screen.width() / 2 - start.width() / 2);
        QCOMPARE(rig.form->y(), screen.height() / 2 - start.height() / 2);
        QCOMPARE(rig.form->options, 7u);
        QCOMPARE(rig.form->timerSlowTx->interval(), 20);
        QCOMPARE(rig.form->maxHeightPercent, 10);
        QCOMPARE(rig.form->sensorPassthrough, false);
    }

    void loadingStopsAtTheFirstMissingValue()
    {
        Rig rig(QStringLiteral("partial"));
        {
            QSettings s = rig.store();
            s.setValue("Left", 40);
            s.setValue("Top", 30);
            s.setValue("Width", 600);
            // no "Right": everything after it keeps its default
            s.setValue("Options", 31);
            s.setValue("Port", 4);
            s.setValue("Baud", 19200);
            s.setValue("Passthrough", 1);
            s.setValue("Tx Delay", 50);
            s.setValue("Max Height Percent", 25);
        }
        rig.form->LoadSettings();
        QCOMPARE(rig.form->pos(), QPoint(40, 30));
        QCOMPARE(rig.form->width(), 600);
        QCOMPARE(rig.form->height(), rig.form->minimumSize().height());
        QCOMPARE(rig.form->options, 7u);
        QCOMPARE(rig.form->sensorPort, qint16(-1));
        QCOMPARE(rig.form->sensorBaud, 0);
        QCOMPARE(rig.form->sensorPassthrough, false);
        QCOMPARE(rig.form->timerSlowTx->interval(), 20);
        QCOMPARE(rig.form->maxHeightPercent, 10);
    }

    // A port that is not a 32-bit integer ends loading there; the values before it stay.
    void loadingStopsAtAValueOfTheWrongType_data()
    {
        QTest::addColumn<QVariant>("port");
        QTest::addColumn<int>("portRead");
        QTest::addColumn<int>("baudRead");
        QTest::newRow("text where a number belongs") << QVariant("COM3") << -1 << 0;
        QTest::newRow("empty") << QVariant("") << -1 << 0;
        QTest::newRow("fractional") << QVariant("3.5") << -1 << 0;
        QTest::newRow("beyond 32 bits") << QVariant(qint64(1) << 32 | 3) << -1 << 0;
        QTest::newRow("a list") << QVariant(QStringList{"3", "4"}) << -1 << 0;
        QTest::newRow("digits as text are a number") << QVariant("3") << 3 << 9600;
    }
    void loadingStopsAtAValueOfTheWrongType()
    {
        QFETCH(QVariant, port);
        Rig rig(QStringLiteral("mistyped"));
        {
            QSettings s = rig.store();
            s.setValue("Left", 1);
            s.setValue("Top", 2);
            s.setValue("Width", 560);
            s.setValue("Right", 560);
            s.setValue("Options", 15);
            s.setValue("Port", port);
            s.setValue("Baud", 9600);
        }
        rig.form->LoadSettings();
        QCOMPARE(rig.form->options, 15u);
        QTEST(int(rig.form->sensorPort), "portRead");
        QTEST(rig.form->sensorBaud, "baudRead");
    }

    void aFullKeyIsRead()
    {
        Rig rig(QStringLiteral("full"));
        {
            QSettings s = rig.store();
            const QList<QPair<const char *, int>> values = {{"Left", 10},      {"Top", 20},
                                                            {"Width", 700},    {"Right", 560},
                                                            {"Options", 0x17}, {"Port", 5},
                                                            {"Baud", 19200},   {"Passthrough", 1},
                                                            {"Tx Delay", 50},  {"Max Height Percent", 30}};
            for (const auto &v : values)
                s.setValue(v.first, v.second);
        }
        rig.form->FormShow();
        QCOMPARE(rig.form->size(), QSize(700, 560));
        QCOMPARE(rig.form->options, 0x17u);
        QCOMPARE(rig.form->sensorPassthrough, true);
        QCOMPARE(rig.form->timerSlowTx->interval(), 50);
        QCOMPARE(rig.form->maxHeightPercent, 30);
        // Bit 4: engineering mode from the start.
        QVERIFY(rig.form->windowTitle().endsWith(" (Engineering Mode)"));
        QVERIFY(rig.form->menuManualEntry->isVisible());
    }

    // Every value is checked as it is loaded. One bad value in an otherwise good key
    // keeps its own default; the values after it are still read. The offscreen
    // screen offers 800 x 800, where the default window, of the minimum size, sits at
    // 125 across and centred down (%T); %H stands for the minimum height.
    void storedValuesAreChecked_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint32>("value");
        QTest::addColumn<QString>("loaded");

        const QString good =
            QStringLiteral("10,20 600x560 options 71 port 5 19200 pt 1 delay 40 headroom 30");
        auto with = [&](const char *from, const char *to) { return QString(good).replace(from, to); };
        const qint32 most = std::numeric_limits<qint32>::max();
        const qint32 least = std::numeric_limits<qint32>::min();

        QTest::newRow("a good key") << "Left" << 10 << good;
        QTest::newRow("left off the screen") << "Left" << -5 << with("10,20", "125,20");
        QTest::newRow("left far away") << "Left" << most << with("10,20", "125,20");
        QTest::newRow("left puts the right edge off the screen") << "Left" << 251 << with("10,20", "125,20");
        QTest::newRow("left at the last place that fits")
            << "Left" << 250 << with("10,20 600x560", "250,20 550x560");
        QTest::newRow("top far above") << "Top" << least << with("10,20", "10,%T");
        QTest::newRow("top puts the bottom off the screen") << "Top" << 261 << with("10,20", "10,%T");
        QTest::newRow("a 36 GB window") << "Width" << 99999999 << with("600x560", "550x560");
        QTest::newRow("narrower than the minimum") << "Width" << 100 << with("600x560", "550x560");
        QTest::newRow("width one past the screen's edge") << "Width" << 791 << with("600x560", "550x560");
        QTest::newRow("width to the screen's edge") << "Width" << 790 << with("600x560", "790x560");
        QTest::newRow("height beyond the screen") << "Right" << 781 << with("600x560", "600x%H");
        QTest::newRow("height to the screen's edge") << "Right" << 780 << with("600x560", "600x780");
        QTest::newRow("negative height") << "Right" << -560 << with("600x560", "600x%H");
        QTest::newRow("options -1") << "Options" << -1 << with("options 71", "options 7");
        QTest::newRow("options with a carried upper bit")
            << "Options" << 0x10047 << with("options 71", "options 65607");
        QTest::newRow("port 65543 is not port 7") << "Port" << 65543 << with("port 5", "port -1");
        QTest::newRow("port 0") << "Port" << 0 << with("port 5", "port -1");
        QTest::newRow("port 256") << "Port" << 256 << with("port 5", "port -1");
        QTest::newRow("port 255") << "Port" << 255 << with("port 5", "port 255");
        QTest::newRow("no port") << "Port" << -1 << with("port 5", "port -1");
        QTest::newRow("baud -9600") << "Baud" << -9600 << with("19200", "0");
        QTest::newRow("baud 38400, no speed of ours") << "Baud" << 38400 << with("19200", "0");
        QTest::newRow("baud 115200") << "Baud" << 115200 << with("19200", "115200");
        QTest::newRow("passthrough 2") << "Passthrough" << 2 << with("pt 1", "pt 0");
        QTest::newRow("negative delay") << "Tx Delay" << -5 << with("delay 40", "delay 10");
        QTest::newRow("zero delay") << "Tx Delay" << 0 << with("delay 40", "delay 10");
        QTest::newRow("huge delay") << "Tx Delay" << most << with("delay 40", "delay 2000");
        QTest::newRow("delay at the top of the range")
            << "Tx Delay" << 2000 << with("delay 40", "delay 2000");
        QTest::newRow("headroom -2^31")
            << "Max Height Percent" << least << with("headroom 30", "headroom 10");
        QTest::newRow("headroom 0") << "Max Height Percent" << 0 << with("headroom 30", "headroom 10");
        QTest::newRow("headroom 101") << "Max Height Percent" << 101 << with("headroom 30", "headroom 10");
        QTest::newRow("headroom 100") << "Max Height Percent" << 100 << with("headroom 30", "headroom 100");
    }
    void storedValuesAreChecked()
    {
        QFETCH(QString, name);
        QFETCH(qint32, value);
        QFETCH(QString, loaded);

        QCOMPARE(QGuiApplication::primaryScreen()->availableVirtualGeometry(), QRect(0, 0, 800, 800));
        Rig rig(QStringLiteral("checked"));
        {
            QSettings s = rig.store();
            const QList<QPair<const char *, int>> values = {{"Left", 10},      {"Top", 20},
                                                            {"Width", 600},    {"Right", 560},
                                                            {"Options", 0x47}, {"Port", 5},
                                                            {"Baud", 19200},   {"Passthrough", 1},
                                                            {"Tx Delay", 40},  {"Max Height Percent", 30}};
            for (const auto &v : values)
                s.setValue(v.first, v.second);
            s.setValue(name, value);
        }
        rig.form->FormShow();
        TformMain &f = *rig.form;
        loaded
            .replace(QStringLiteral("%H"), QString::number(f.minimumHeight()))
            // Centred as the window centres itself: half the screen less half the window.
            .replace(QStringLiteral("%T"), QString::number(800 / 2 - f.minimumHeight() / 2));
        QCOMPARE(QStringLiteral("%1,%2 %3x%4 options %5 port %6 %7 pt %8 delay %9 headroom %10")
                     .arg(f.x())
                     .arg(f.y())
                     .arg(f.width())
                     .arg(f.height())
                     .arg(f.options)
                     .arg(f.sensorPort)
                     .arg(f.sensorBaud)
                     .arg(int(f.sensorPassthrough))
                     .arg(f.timerSlowTx->interval())
                     .arg(f.maxHeightPercent),
                 loaded);
    }

    // What failed its check is written back as its default, so one bad start does not
    // follow the user into every later one.
    void refusedValuesAreNotWrittenBack()
    {
        Rig rig(QStringLiteral("rewritten"));
        {
            QSettings s = rig.store();
            const QList<QPair<const char *, int>> values = {
                {"Left", -100000},   {"Top", 2000000},
                {"Width", 99999999}, {"Right", 0},
                {"Options", -1},     {"Port", 65543},
                {"Baud", -9600},     {"Passthrough", 7},
                {"Tx Delay", -1000}, {"Max Height Percent", std::numeric_limits<qint32>::min()}};
            for (const auto &v : values)
                s.setValue(v.first, v.second);
        }
        rig.form->FormShow();
        rig.form->StoreSettings();
        QSettings s = rig.store();
        QCOMPARE(s.value("Left").toInt(), 125);
        QCOMPARE(s.value("Top").toInt(), 800 / 2 - rig.form->minimumHeight() / 2);
        QCOMPARE(s.value("Width").toInt(), 550);
        QCOMPARE(s.value("Right").toInt(), rig.form->minimumHeight());
        QCOMPARE(s.value("Options").toInt(), 0x47); // 7, with the head box's bit refreshed
        QCOMPARE(s.value("Port").toInt(), -1);
        QCOMPARE(s.value("Tx Delay").toInt(), 10);
        QCOMPARE(s.value("Max Height Percent").toInt(), 10);
    }

    // A stored delay below the range used to drive the character timer as it stood
    // and stall the start-up search; taken into the range, the search finds the sensor.
    void startUpSearchRunsWithAStoredDelayOutOfRange_data()
    {
        QTest::addColumn<int>("stored");
        QTest::newRow("negative") << -5;
        QTest::newRow("zero") << 0;
        QTest::newRow("below the range") << 5;
    }
    void startUpSearchRunsWithAStoredDelayOutOfRange()
    {
        QFETCH(int, stored);
        Rig rig(QStringLiteral("delay"));
        rig.serial.addSensor(3);
        {
            QSettings s = rig.store();
            const QList<QPair<const char *, int>> values = {{"Left", 10},         {"Top", 20},
                                                            {"Width", 550},       {"Right", 540},
                                                            {"Options", 1},       {"Port", 3},
                                                            {"Baud", 9600},       {"Passthrough", 0},
                                                            {"Tx Delay", stored}, {"Max Height Percent", 10}};
            for (const auto &v : values)
                s.setValue(v.first, v.second);
        }
        rig.form->FormShow();
        QCOMPARE(rig.form->timerSlowTx->interval(), 10);
        rig.clock.advance(16 + 850 + 100 + 7 * 10);
        QCOMPARE(rig.serial.written(3), QByteArray("...PDAC"));
        rig.clock.advance(1000);
        // Found: the configuration read that follows is under way on COM3.
        QCOMPARE(rig.form->sensorPort, qint16(3));
        QVERIFY(rig.form->portState == psReadConfigPrepare || rig.form->portState == psReadConfig);
    }

    // Neither the settings nor the port links of a test are the user's own.
    void settingsLiveInTheTestsOwnFolder()
    {
#ifdef _WIN32
        QSKIP("settings live in the registry on Windows, under the test's own key");
#else
        const QString own = QStringLiteral(EG_TEST_CONFIG_HOME);
        Rig rig(QStringLiteral("where"));
        rig.form->StoreSettings();
        const QString file = rig.store().fileName();
        QVERIFY2(file.startsWith(own + QLatin1Char('/')), qPrintable(file));
        QVERIFY(QFile::exists(file));
        QVERIFY(!file.startsWith(QDir::homePath() + QStringLiteral("/.config/")));
        QCOMPARE(SerialDriver::system()->portsDirectory(), own + QStringLiteral("/Brookmere/ports"));
#endif
    }

    // The guide, the loader and the update files are looked for in the data
    // directory; a relative one must not bring the current directory back.
    void dataDirectory_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("directory");
        QTest::newRow("not set: beside the program") << "" << root + "/opt/eg/bin";
        QTest::newRow("absolute") << root + "/srv/echogauge" << root + "/srv/echogauge";
        QTest::newRow("relative") << "docs" << root + "/opt/eg/bin/docs";
        QTest::newRow("relative, upwards") << "../share/eg/" << root + "/opt/eg/share/eg";
        QTest::newRow("the current directory's name") << "." << root + "/opt/eg/bin";
#ifdef _WIN32
        QTest::newRow("rooted without a drive") << "/srv/echogauge"
                                                << "C:/srv/echogauge";
#endif
    }
    void dataDirectory()
    {
        QFETCH(QString, setting);
        QFETCH(QString, directory);
        QCOMPARE(DataDirectory(setting, root + QStringLiteral("/opt/eg/bin")), directory);
    }

    // Without a folder chosen, an installed copy finds the guide, the loader and the
    // update files in the system's folder, and a copy that keeps them beside itself
    // uses those.
    void dataDirectoryOfAnInstalledCopy_data()
    {
        QTest::addColumn<QString>("besideProgram"); // what lies there: guide, loader, update
        QTest::addColumn<QString>("inSystem");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("expected"); // program, system or chosen
        QTest::newRow("installed, the guide in the system folder") << ""
                                                                   << "guide"
                                                                   << ""
                                                                   << "system";
        QTest::newRow("installed, the loader in the system folder") << ""
                                                                    << "loader"
                                                                    << ""
                                                                    << "system";
        QTest::newRow("installed, an update file in the system folder") << ""
                                                                        << "update"
                                                                        << ""
                                                                        << "system";
        QTest::newRow("an invalid update file counts for nothing") << ""
                                                                   << "bad update"
                                                                   << ""
                                                                   << "program";
        QTest::newRow("nothing anywhere") << ""
                                          << ""
                                          << ""
                                          << "program";
        QTest::newRow("data beside the program first") << "loader"
                                                       << "guide"
                                                       << ""
                                                       << "program";
        QTest::newRow("a chosen folder first") << ""
                                               << "guide"
                                               << "chosen"
                                               << "chosen";
    }
    void dataDirectoryOfAnInstalledCopy()
    {
        QFETCH(QString, besideProgram);
        QFETCH(QString, inSystem);
        QFETCH(QString, setting);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const QString program = root.filePath("bin");
        const QString system = root.filePath("share/echogauge-setup");
        const QString chosen = root.filePath("chosen");
        auto place = [](const QString &dir, const QString &what) {
            QDir().mkpath(dir + "/UPD_Files");
            QString path = dir + "/flashldr.exe";
            QByteArray bytes = "#!/bin/sh\n";
            if (what == QLatin1String("guide"))
                path = dir + "/DOC-115-0001 Rev B.pdf";
            else if (what.endsWith(QLatin1String("update"))) {
                path = dir + "/UPD_Files/fw113.upd";
                UpdateImageSpec spec;
                spec.balanceSum = what == QLatin1String("update");
                bytes = makeUpdateImage(spec);
            }
            QFile f(path);
            return what.isEmpty() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        };
        QVERIFY(place(program, besideProgram));
        QVERIFY(place(system, inSystem));
        QVERIFY(QDir().mkpath(chosen));
        const QString want = expected == QLatin1String("program")  ? program
                             : expected == QLatin1String("system") ? system
                                                                   : chosen;
        QCOMPARE(DataDirectory(setting.isEmpty() ? QString() : chosen, program, system), want);
    }

    void dataDirectoryFromTheEnvironment()
    {
        const QString program = QCoreApplication::applicationDirPath();
        qputenv("ECHOGAUGE_DATA_DIR", "guides");
        const QString relative = Platform::system().dataDir;
        qunsetenv("ECHOGAUGE_DATA_DIR");
        QCOMPARE(relative, program + QStringLiteral("/guides"));
        QCOMPARE(Platform::system().dataDir, program);
    }

    void closingWithThePortClosedWritesNoPort()
    {
        Rig rig(QStringLiteral("closedport"));
        {
            QSettings s = rig.store();
            s.setValue("Baud", 19200);
            s.setValue("Passthrough", 1);
        }
        rig.form->sensorPort = 6;
        rig.form->sensorBaud = 9600;
        QVERIFY(!rig.form->commPort.isOpen());
        rig.form->StoreSettings();
        QSettings s = rig.store();
        QCOMPARE(s.value("Port").toInt(), -1);
        QCOMPARE(s.value("Baud").toInt(), 19200);
        QCOMPARE(s.value("Passthrough").toInt(), 1);
    }

    void storedOptionBitsFollowTheControls_data()
    {
        QTest::addColumn<uint>("before");
        QTest::addColumn<bool>("head");
        QTest::addColumn<bool>("flow");
        QTest::addColumn<int>("written");
        QTest::newRow("head only, old bits 5..7 cleared") << 0xE7u << true << false << 0x47;
        QTest::newRow("flow only") << 7u << false << true << 0x87;
        QTest::newRow("neither; upper bits carried") << 0x10107u << false << false << 0x10107;
    }
    void storedOptionBitsFollowTheControls()
    {
        QFETCH(uint, before);
        QFETCH(bool, head);
        QFETCH(bool, flow);
        QFETCH(int, written);
        Rig rig(QStringLiteral("bits"));
        rig.form->options = before;
        {
            // The boxes' states as they stand, without the graph's rule that one is always on.
            const QSignalBlocker headQuiet(rig.form->cbHead);
            const QSignalBlocker flowQuiet(rig.form->cbFlow);
            rig.form->cbHead->setChecked(head);
            rig.form->cbFlow->setChecked(flow);
        }
        rig.form->StoreSettings();
        QCOMPARE(rig.store().value("Options").toInt(), written);
    }

    void storeWritesEveryValueAndTheyReadBack()
    {
        Rig rig(QStringLiteral("roundtrip"));
        rig.form->FormShow();
        rig.form->timerSlowTx->setInterval(40);
        rig.form->maxHeightPercent = 15;
        rig.form->trackSensorHeight->setValue(1234);
        rig.form->StoreSettings();
        QSettings s = rig.store();
        QCOMPARE(s.value("Sensor Height").toInt(), 1234);
        QCOMPARE(s.value("Tx Delay").toInt(), 40);
        QCOMPARE(s.value("Max Height Percent").toInt(), 15);
        QCOMPARE(s.value("Channel Type").toInt(), 0);
        QCOMPARE(s.value("Notch Angle").toInt(), 90);
        QCOMPARE(s.value("Crest Height").toInt(), 1000);
        QCOMPARE(s.value("Channel Width").toInt(), 1000);
        QCOMPARE(s.value("Notch Width").toInt(), 500);
        QCOMPARE(s.value("Width").toInt(), rig.form->minimumSize().width());
        QCOMPARE(s.value("Right").toInt(), rig.form->minimumSize().height());

        TformMain again(rig.platform);
        again.LoadSettings();
        QCOMPARE(again.timerSlowTx->interval(), 40);
        QCOMPARE(again.maxHeightPercent, 15);
    }

    // The dialog runs modally; the step is taken once it is up.
    void optionsDialog_data()
    {
        QTest::addColumn<int>("delayIn");
        QTest::addColumn<int>("headroomIn");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("delayShown");
        QTest::addColumn<int>("headroomShown");
        QTest::addColumn<int>("delayAfter");
        QTest::addColumn<int>("headroomAfter");
        QTest::newRow("5 ms shows and stores 10") << 5 << 10 << true << 10 << 10 << 10 << 10;
        QTest::newRow("above the ranges clamp") << 3000 << 250 << true << 2000 << 100 << 2000 << 100;
        QTest::newRow("cancel keeps even a clamped value") << 5 << 0 << false << 10 << 1 << 5 << 0;
        QTest::newRow("in range stays") << 40 << 20 << true << 40 << 20 << 40 << 20;
    }
    void optionsDialog()
    {
        QFETCH(int, delayIn);
        QFETCH(int, headroomIn);
        QFETCH(bool, ok);
        QFETCH(int, delayShown);
        QFETCH(int, headroomShown);
        QFETCH(int, delayAfter);
        QFETCH(int, headroomAfter);
        Rig rig(QStringLiteral("options"));
        rig.form->timerSlowTx->setInterval(delayIn);
        rig.form->maxHeightPercent = headroomIn;
        int shownDelay = -1, shownHeadroom = -1;
        QString shownText;
        bool cancelHadFocus = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<TformOptions *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shownDelay = dialog->spinDelay->position();
            shownHeadroom = dialog->spinHeadroom->position();
            shownText = dialog->editDelay->text();
            cancelHadFocus = dialog->btnCancel->isDefault();
            (ok ? dialog->btnOk : dialog->btnCancel)->click();
        });
        rig.dialogs.onDialog = [](QDialog *d) { return d->exec(); }; // the real modal run
        rig.form->menuOptionsClick();
        QCOMPARE(rig.dialogs.dialogsRun, QStringList{QStringLiteral(" Options")});
        QCOMPARE(shownDelay, delayShown);
        QCOMPARE(shownHeadroom, headroomShown);
        QCOMPARE(shownText, QString::number(delayShown));
        QVERIFY(cancelHadFocus);
        QCOMPARE(rig.form->timerSlowTx->interval(), delayAfter);
        QCOMPARE(rig.form->maxHeightPercent, headroomAfter);
    }

    void cancelAfterChangingTheValuesChangesNothing()
    {
        Rig rig(QStringLiteral("cancelchanged"));
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<TformOptions *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->spinDelay->click(UpDown::Up);
            dialog->spinHeadroom->click(UpDown::Down);
            QCOMPARE(dialog->editDelay->text(), QStringLiteral("30"));
            QCOMPARE(dialog->editHeadroom->text(), QStringLiteral("9"));
            dialog->btnCancel->click();
        });
        rig.dialogs.onDialog = [](QDialog *d) { return d->exec(); };
        rig.form->menuOptionsClick();
        QCOMPARE(rig.form->timerSlowTx->interval(), 20);
        QCOMPARE(rig.form->maxHeightPercent, 10);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
