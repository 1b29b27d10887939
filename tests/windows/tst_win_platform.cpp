// The Windows paths around the serial link: the settings as registry values, the
// firmware loader as a process with its command line and exit code, the guide
// opened with the user's viewer, and quitting on a console's close.
#include "model/InProcessSerial.h"

#include "app/Mainform.h"
#include "app/Manualentry.h"
#include "app/Windowsquit.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Timer.h"
#include "exchange/Upgrade.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

const QString testOrganization = QStringLiteral("EchoGaugeTest-winplatform");

struct Rig
{
    VirtualClock clock;
    InProcessSerial serial{&clock};
    RecordingDialogs dialogs;
    Platform platform;
    std::unique_ptr<TformMain> form;

    Rig()
    {
        platform.clock = &clock;
        platform.serial = &serial;
        platform.dialogs = &dialogs;
        platform.settingsOrganization = testOrganization;
        platform.dataDir = QString();
        store().remove(QString());
        form = std::make_unique<TformMain>(platform);
    }
    ~Rig()
    {
        form.reset();
        store().remove(QString());
    }
    QSettings store() const { return QSettings(platform.settingsOrganization, platform.settingsApplication); }
};

// A value as the registry holds it: its type and its data as a number or text.
struct RegistryValue
{
    DWORD type = REG_NONE;
    qint64 number = 0;
    QString text;
};

RegistryValue registryValue(const QString &keyPath, const QString &name, HKEY root = HKEY_CURRENT_USER)
{
    RegistryValue v;
    BYTE data[1024];
    DWORD size = sizeof data - 2;
    const std::wstring valueName = name.toStdWString();
    if (RegGetValueW(root, keyPath.toStdWString().c_str(), name.isEmpty() ? nullptr : valueName.c_str(),
                     RRF_RT_ANY | RRF_NOEXPAND, &v.type, data, &size) != ERROR_SUCCESS)
        return RegistryValue();
    if (v.type == REG_DWORD)
        v.number = qint32(*reinterpret_cast<DWORD *>(data));
    else if (v.type == REG_SZ)
        v.text = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data), int(size / 2))
                     .section(QChar(0), 0, 0);
    return v;
}

// Sets the default value of a key of HKEY_CLASSES_ROOT, where the shell looks up
// what opens a type of document.
bool setClassString(const QString &keyPath, const QString &value)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.toStdWString().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring v = value.toStdWString();
    const bool ok = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(v.c_str()),
                                   DWORD((v.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

QString wintool()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("eg-wintool.exe"));
}

// The command lines eg-wintool recorded, once it has written some.
QStringList recorded(const QString &file, int timeoutMs = 10000)
{
    QFile f(file);
    QElapsedTimer t;
    t.start();
    while (!f.exists() && t.elapsed() < timeoutMs)
        QTest::qWait(50);
    QTest::qWait(100); // the line is written in one call; let it close the file
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestWinPlatform : public QObject
{
    Q_OBJECT

private slots:
    // The application's own key, as the installer and a support engineer know it.
    void settingsKeyOfTheApplication()
    {
        const Platform p;
        const QSettings store(p.settingsOrganization, p.settingsApplication);
        QCOMPARE(store.format(), QSettings::NativeFormat);
        QCOMPARE(store.fileName(),
                 QStringLiteral("\\HKEY_CURRENT_USER\\Software\\Brookmere\\EchoGauge Setup"));
    }

    // Integers and booleans are DWORDs, texts registry strings, the manual window's
    // values in the MME sub-key.
    void settingsAreRegistryValuesOfTheirTypes()
    {
        Rig rig;
        TformMain &w = *rig.form;
        rig.serial.addSensor(3);
        QVERIFY(OpenPort(&w.commPort, 3, 19200));
        w.sensorPort = 3;
        w.sensorBaud = 19200;
        w.sensorPassthrough = true;
        w.options = 0x17;
        w.trackSensorHeight->setValue(1234);
        w.notchAngle = 45;
        auto *manual = new TformManual(&w);
        formManual = manual;
        manual->txRows[0].edit->setText(QStringLiteral("...PDAs^m"));
        manual->txRows[1].passthrough->setChecked(true);
        manual->close();
        w.StoreSettings();

        // "Options" gains bit 6 on the way: "Water Head" is checked.
        const QString key =
            QStringLiteral("Software\\") + testOrganization + QStringLiteral("\\EchoGauge Setup");
        const struct
        {
            const char *name;
            qint64 value;
        } numbers[] = {{"Options", 0x57},       {"Port", 3},         {"Baud", 19200},
                       {"Passthrough", 1},      {"Tx Delay", 20},    {"Max Height Percent", 10},
                       {"Sensor Height", 1234}, {"Notch Angle", 45}, {"Crest Height", 1000},
                       {"Channel Type", 0}};
        for (const auto &n : numbers) {
            const RegistryValue v = registryValue(key, QString::fromLatin1(n.name));
            QVERIFY2(v.type == REG_DWORD, n.name);
            QCOMPARE(v.number, n.value);
        }
        for (const char *name : {"Left", "Top", "Width", "Right", "Channel Width", "Notch Width"})
            QVERIFY2(registryValue(key, QString::fromLatin1(name)).type == REG_DWORD, name);
        const QString mme = key + QStringLiteral("\\MME");
        QCOMPARE(registryValue(mme, QStringLiteral("TX_TEXT_0")).type, DWORD(REG_SZ));
        QCOMPARE(registryValue(mme, QStringLiteral("TX_TEXT_0")).text, QStringLiteral("...PDAs^m"));
        QCOMPARE(registryValue(mme, QStringLiteral("TX_CHECK_1")).type, DWORD(REG_DWORD));
        QCOMPARE(registryValue(mme, QStringLiteral("TX_CHECK_1")).number, 1);
        QCOMPARE(registryValue(mme, QStringLiteral("TX_CHECK_0")).number, 0);
        QCOMPARE(registryValue(mme, QStringLiteral("Right")).type, DWORD(REG_DWORD));

        // Closing with the port closed: "Port" is -1, a DWORD of all ones.
        ClosePort(&w.commPort);
        w.StoreSettings();
        QCOMPARE(registryValue(key, QStringLiteral("Port")).number, -1);
    }

    // The loader gets the command line the maker's loader parses, with Windows
    // paths, from beside the program; its exit code decides.
    void loaderRunsWithItsCommandLine_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("result");
        QTest::newRow("exit code 0") << 0 << int(lrSuccess);
        QTest::newRow("exit code 5") << 5 << int(lrFailed);
    }
    void loaderRunsWithItsCommandLine()
    {
        QFETCH(int, exitCode);
        QFETCH(int, result);
        QTemporaryDir top;
        const QString dataDir = top.filePath(QStringLiteral("Echo Gauge"));
        QVERIFY(QDir().mkpath(dataDir + QStringLiteral("/UPD_Files")));
        QVERIFY(QFile::copy(wintool(), dataDir + QStringLiteral("/flashldr.exe")));
        const QString update = dataDir + QStringLiteral("/UPD_Files/fw113.upd");
        const QString record = top.filePath(QStringLiteral("record.txt"));
        qputenv("EG_WINTOOL_RECORD", QDir::toNativeSeparators(record).toLocal8Bit());
        qputenv("EG_WINTOOL_EXIT", QByteArray::number(exitCode));

        Rig rig;
        rig.platform.processes = Processes::system();
        rig.platform.dataDir = dataDir;
        rig.form = std::make_unique<TformMain>(rig.platform);
        rig.serial.addSensor(3);
        QVERIFY(OpenPort(&rig.form->commPort, 3, 9600));
        rig.form->sensorPort = 3;
        rig.form->sensorBaud = 9600;
        const TLoaderResult got = rig.form->RunLoader(update);
        qunsetenv("EG_WINTOOL_RECORD");
        qunsetenv("EG_WINTOOL_EXIT");

        QCOMPARE(int(got), result);
        // The program quoted (its folder has a blank), then the loader's options
        // exactly as it parses them.
        const QString native = QDir::toNativeSeparators(dataDir);
        const QStringList lines = recorded(record);
        QCOMPARE(lines.size(), 1);
        const QString program = QStringLiteral("\"%1\\flashldr.exe\"").arg(native);
        const QString options = QStringLiteral(" -Q -C3 -N\"%1\\UPD_Files\\fw113.upd\"").arg(native);
        QVERIFY2(lines.first().startsWith(program), qPrintable(lines.first()));
        QVERIFY2(lines.first().endsWith(options), qPrintable(lines.first()));
        QCOMPARE(lines.first()
                     .mid(program.size(), lines.first().size() - program.size() - options.size())
                     .trimmed(),
                 QString());
        QVERIFY(rig.form->commPort.isOpen()); // the sensor's port is back
    }

    // The shell's "open" starts the viewer the user chose for PDF files; a type
    // nothing is associated with says so.
    void guideOpensWithTheUsersViewer()
    {
        QTemporaryDir dir;
        const QString guide = dir.filePath(QStringLiteral("DOC-115-0001 Quick Start.pdf"));
        QFile f(guide);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n");
        f.close();
        const QString record = dir.filePath(QStringLiteral("viewer.txt"));
        qputenv("EG_WINTOOL_RECORD", QDir::toNativeSeparators(record).toLocal8Bit());
        // The viewer for PDF files, for this test: eg-wintool, which notes what it opens.
        const RegistryValue before = registryValue(QStringLiteral(".pdf"), QString(), HKEY_CLASSES_ROOT);
        QVERIFY(setClassString(QStringLiteral(".pdf"), QStringLiteral("EchoGaugeTest.Viewer")));
        QVERIFY(
            setClassString(QStringLiteral("EchoGaugeTest.Viewer\\shell\\open\\command"),
                           QStringLiteral("\"%1\" \"%2\"").arg(QDir::toNativeSeparators(wintool()), "%1")));

        bool noViewer = true;
        const bool opened = Dialogs::system()->openDocument(guide, &noViewer);
        const QStringList lines = recorded(record);
        qunsetenv("EG_WINTOOL_RECORD");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"EchoGaugeTest.Viewer");
        if (before.type == REG_SZ)
            setClassString(QStringLiteral(".pdf"), before.text);
        else
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L".pdf");

        QVERIFY(opened);
        QVERIFY(!noViewer);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(QStringLiteral(" \"%1\"").arg(QDir::toNativeSeparators(guide))),
                 qPrintable(lines.first()));

        const QString unknown = dir.filePath(QStringLiteral("guide.egnoviewer"));
        QVERIFY(QFile::copy(guide, unknown));
        QVERIFY(!Dialogs::system()->openDocument(unknown, &noViewer));
        QVERIFY(noViewer);
        QVERIFY(!Dialogs::system()->openDocument(dir.filePath(QStringLiteral("missing.pdf")), &noViewer));
        QVERIFY(!noViewer);
    }

    // A console's close: the window is closed as by "Exit" and the settings are in
    // the registry before the handler lets the system end the process.
    void consoleCloseStoresTheSettingsFirst_data()
    {
        QTest::addColumn<ulong>("event");
        QTest::addColumn<bool>("handled");
        QTest::addColumn<bool>("waits");
        QTest::newRow("console closed") << ulong(CTRL_CLOSE_EVENT) << true << true;
        QTest::newRow("log-off") << ulong(CTRL_LOGOFF_EVENT) << true << true;
        QTest::newRow("shut-down") << ulong(CTRL_SHUTDOWN_EVENT) << true << true;
        QTest::newRow("Ctrl+C") << ulong(CTRL_C_EVENT) << true << false;
        QTest::newRow("Ctrl+Break") << ulong(CTRL_BREAK_EVENT) << true << false;
        QTest::newRow("another event") << ulong(99) << false << false;
    }
    void consoleCloseStoresTheSettingsFirst()
    {
        QFETCH(ulong, event);
        QFETCH(bool, handled);
        QFETCH(bool, waits);
        Rig rig;
        rig.form->show(); // the first showing loads the defaults
        rig.form->maxHeightPercent = 37;
        QVERIFY(rig.form->isVisible());
        QVERIFY(!rig.store().contains(QStringLiteral("Max Height Percent")));

        std::atomic<int> returned{-1};
        std::atomic<bool> storedOnReturn{false};
        TformMain *window = rig.form.get();
        const QString organization = rig.platform.settingsOrganization;
        std::thread handler([&, window, organization] {
            const bool r = HandleConsoleEvent(window, event, 10000);
            storedOnReturn = QSettings(organization, QStringLiteral("EchoGauge Setup"))
                                 .contains(QStringLiteral("Max Height Percent"));
            returned = r ? 1 : 0;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned != -1, 15000);
        handler.join();
        QCOMPARE(returned == 1, handled);
        if (waits)
            QVERIFY(storedOnReturn); // not before the window had stored them
        if (handled)
            QTRY_VERIFY(!rig.form->isVisible());
        else
            QVERIFY(rig.form->isVisible());
        QCOMPARE(rig.store().value(QStringLiteral("Max Height Percent")).toInt(), handled ? 37 : 0);
    }
};

QTEST_MAIN(TestWinPlatform)
#include "tst_win_platform.moc"
