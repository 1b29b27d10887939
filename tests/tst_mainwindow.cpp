#include "app/Mainform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <memory>

namespace {

struct Rig
{
    VirtualClock clock;
    RecordingDialogs dialogs;
    QTemporaryDir dataDir;
    std::unique_ptr<TformMain> form;
    QString organization = QStringLiteral("EchoGaugeTest-mainwindow");

    void start(bool withGuide)
    {
        QSettings(organization, QStringLiteral("EchoGauge Setup")).clear();
        if (withGuide) {
            QFile guide(dataDir.filePath(QStringLiteral("DOC-115-0001 Rev B.pdf")));
            QVERIFY(guide.open(QIODevice::WriteOnly));
        }
        Platform p;
        p.clock = &clock;
        p.dialogs = &dialogs;
        p.settingsOrganization = organization;
        p.dataDir = dataDir.path();
        form = std::make_unique<TformMain>(p);
        form->FormShow();
    }
    ~Rig()
    {
        form.reset();
        QSettings(organization, QStringLiteral("EchoGauge Setup")).clear();
    }
    void type(const QString &keys)
    {
        for (QChar c : keys)
            form->FormKeyPress(c);
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void formAtStart()
    {
        Rig rig;
        rig.start(false);
        TformMain &f = *rig.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("  EchoGauge Setup Application - V1.12"));
        QCOMPARE(f.pageControl->tabText(0), QStringLiteral("  Sensor Setup  "));
        QCOMPARE(f.pageControl->tabText(1), QStringLiteral("  Channel Description  "));
        QCOMPARE(f.pageControl->currentWidget(), f.tabSensor);
        QVERIFY(!f.menuMeasure->isEnabled());
        QVERIFY(!f.menuManualEntry->isVisible());
        QVERIFY(!f.menuShowGuide->isVisible());
        QVERIFY(!f.menuDisplay->menuAction()->isVisible());
        QVERIFY(f.menuMetric->isChecked());
        QCOMPARE(f.trackSensorHeight->value(), 0);
        QCOMPARE(f.editCrestHeight->text(), QStringLiteral("1.000"));
        QCOMPARE(f.editNotchWidth->text(), QStringLiteral("0.500"));
        // Separators before "Options ...", "Exit" and "About ...".
        const QList<QAction *> file = f.menuFile->actions();
        QVERIFY(file.at(file.indexOf(f.menuOptions) - 1)->isSeparator());
        QVERIFY(file.at(file.indexOf(f.menuExit) - 1)->isSeparator());
        const QList<QAction *> help = f.menuHelp->actions();
        QVERIFY(help.at(help.indexOf(f.menuAbout) - 1)->isSeparator());
        QCOMPARE(f.portState, qint8(psSearch)); // the start-up search is under way
    }

    void engineeringKeys_data()
    {
        QTest::addColumn<bool>("overDrawing");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("on");
        QTest::newRow("upper case over the drawing") << true << "QXV47215" << true;
        QTest::newRow("lower case over the drawing") << true << "qxv47215" << true;
        QTest::newRow("pointer elsewhere") << false << "QXV47215" << false;
        QTest::newRow("a wrong key first") << true << "aQXV47215" << false;
        QTest::newRow("one key short") << true << "QXV4721" << false;
    }
    void engineeringKeys()
    {
        QFETCH(bool, overDrawing);
        QFETCH(QString, keys);
        QFETCH(bool, on);
        Rig rig;
        rig.start(false);
        if (overDrawing)
            rig.form->pbSensorMouseEnter();
        rig.type(keys);
        QCOMPARE(rig.form->windowTitle().endsWith(QStringLiteral(" (Engineering Mode)")), on);
        QCOMPARE(rig.form->menuManualEntry->isVisible(), on);
    }

    void reenteringTheDrawingStartsAfresh()
    {
        Rig rig;
        rig.start(false);
        rig.form->pbSensorMouseEnter();
        rig.type(QStringLiteral("x"));
        rig.form->pbSensorMouseLeave();
        rig.form->pbSensorMouseEnter();
        rig.type(QStringLiteral("QXV47215"));
        QVERIFY(rig.form->menuManualEntry->isVisible());
    }

    void guide_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<bool>("noViewer");
        QTest::addColumn<QString>("message");
        QTest::newRow("opens") << true << true << false << QString();
        QTest::newRow("no viewer") << true << false << true
                                   << "The Quick-Start Guide cannot be shown.\nNo PDF viewer is installed.";
        QTest::newRow("viewer fails") << true << false << false << "The Quick-Start Guide cannot be shown.";
        QTest::newRow("missing") << false << true << false << "Quick-Start Guide Not Found";
    }
    void guide()
    {
        QFETCH(bool, present);
        QFETCH(bool, opens);
        QFETCH(bool, noViewer);
        QFETCH(QString, message);
        Rig rig;
        rig.dialogs.documentOpens = opens;
        rig.dialogs.documentNoViewer = noViewer;
        rig.start(present);
        QCOMPARE(rig.form->menuShowGuide->isVisible(), present);
        rig.form->menuShowGuideClick();
        if (present) {
            QCOMPARE(rig.dialogs.documentsOpened.size(), 1);
            QCOMPARE(rig.dialogs.documentsOpened.first(), rig.dataDir.filePath("DOC-115-0001 Rev B.pdf"));
        }
        if (message.isEmpty()) {
            QVERIFY(rig.dialogs.messages.isEmpty());
            QVERIFY(rig.form->menuShowGuide->isVisible());
        } else {
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QCOMPARE(rig.dialogs.messages.first().text, message);
            QCOMPARE(rig.dialogs.messages.first().icon, Dialogs::Icon::Error);
            QCOMPARE(rig.form->statusText(), QLatin1Char(' ') + message);
            QVERIFY(!rig.form->menuShowGuide->isVisible());
        }
    }

    void guideIsNotTakenFromTheCurrentDirectory()
    {
        QTemporaryDir cwd;
        QFile planted(cwd.filePath(QStringLiteral("DOC-115-0001.pdf")));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        const QString old = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        QCOMPARE(FindGuide(QString()), QString());
        Rig rig;
        rig.start(false);
        QDir::setCurrent(old);
        QVERIFY(!rig.form->menuShowGuide->isVisible());
    }

    // Key preview: a key typed into the focused edit is seen by the window first and
    // still reaches the edit.
    void keysReachTheWindowAndTheFocusedControl()
    {
        Rig rig;
        rig.start(false);
        TformMain &f = *rig.form;
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.editLostEchoValue->show(); // a control the running search leaves enabled
        f.editLostEchoValue->clear();
        f.editLostEchoValue->setFocus();
        QTRY_VERIFY(f.editLostEchoValue->hasFocus());
        f.pbSensorMouseEnter();
        QTest::keyClicks(f.editLostEchoValue, QStringLiteral("2"));
        QCOMPARE(f.keyBuffer, QStringLiteral("2"));
        QCOMPARE(f.editLostEchoValue->text(), QStringLiteral("2"));
        f.pbSensorMouseEnter();
        QTest::keyClicks(f.editLostEchoValue, QStringLiteral("qxv47215"));
        QVERIFY(f.windowTitle().endsWith(QStringLiteral(" (Engineering Mode)")));
    }

    // In real time: the application finds the simulated sensor at start-up, and
    // SIGTERM closes it as "Exit" does, storing the connection.
    void terminationStoresTheConnectionFound()
    {
        QTemporaryDir ports, config;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ECHOGAUGE_PORTS_DIR"), ports.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess sim, app;
        sim.setProcessEnvironment(env);
        app.setProcessEnvironment(env);
        sim.start(QStringLiteral(EG_SIM_PROGRAM), {QStringLiteral("--port"), QStringLiteral("COM7")});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(ports.path()).isEmpty(), 5000);
        app.start(QStringLiteral(EG_APP_PROGRAM), {});
        QVERIFY(app.waitForStarted());
        QTest::qWait(5000);
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(5000));
        sim.terminate();
        sim.waitForFinished(3000);
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QSettings stored(config.filePath(QStringLiteral("Brookmere/EchoGauge Setup.conf")),
                         QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Port")).toInt(), 7);
        QCOMPARE(stored.value(QStringLiteral("Baud")).toInt(), 9600);
        QCOMPARE(stored.value(QStringLiteral("Passthrough")).toInt(), 0);
        // The designed client width, or more where the window system's frame is too
        // thin to make up 550 pixels outside.
        const int width = stored.value(QStringLiteral("Width")).toInt();
        QVERIFY2(width >= 542 && width <= 550, qPrintable(QString::number(width)));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
