// The settings store and the Options dialog, each case in a settings scope of its own.
#include "model/InProcessSerial.h"

#include "app/Mainform.h"
#include "app/Optionsform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

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

    void loadingStopsAtAValueOfTheWrongType()
    {
        Rig rig(QStringLiteral("mistyped"));
        {
            QSettings s = rig.store();
            s.setValue("Left", 1);
            s.setValue("Top", 2);
            s.setValue("Width", 560);
            s.setValue("Right", 560);
            s.setValue("Options", 15);
            s.setValue("Port", "COM3"); // text where a number belongs
            s.setValue("Baud", 9600);
        }
        rig.form->LoadSettings();
        QCOMPARE(rig.form->options, 15u);
        QCOMPARE(rig.form->sensorPort, qint16(-1));
        QCOMPARE(rig.form->sensorBaud, 0);
    }

    void aFullKeyIsRead()
    {
        Rig rig(QStringLiteral("full"));
        {
            QSettings s = rig.store();
            const QList<QPair<const char *, int>> values = {{"Left", 10},      {"Top", 20},
                                                            {"Width", 700},    {"Right", 600},
                                                            {"Options", 0x17}, {"Port", 5},
                                                            {"Baud", 19200},   {"Passthrough", 1},
                                                            {"Tx Delay", 5},   {"Max Height Percent", 30}};
            for (const auto &v : values)
                s.setValue(v.first, v.second);
        }
        rig.form->FormShow();
        QCOMPARE(rig.form->size(), QSize(700, 600));
        QCOMPARE(rig.form->options, 0x17u);
        QCOMPARE(rig.form->sensorPassthrough, true);
        // Out-of-range values are used as read.
        QCOMPARE(rig.form->timerSlowTx->interval(), 5);
        QCOMPARE(rig.form->maxHeightPercent, 30);
        // Bit 4: engineering mode from the start.
        QVERIFY(rig.form->windowTitle().endsWith(" (Engineering Mode)"));
        QVERIFY(rig.form->menuManualEntry->isVisible());
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
        rig.form->menuOptionsClick();
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
        rig.form->menuOptionsClick();
        QCOMPARE(rig.form->timerSlowTx->interval(), 20);
        QCOMPARE(rig.form->maxHeightPercent, 10);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
