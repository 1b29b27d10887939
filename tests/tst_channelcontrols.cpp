#include "FakeSerial.h"
#include "app/Mainform.h"
#include "app/Platform.h"
#include "channel/Flow.h"
#include "core/Clock.h"
#include "core/Dialogs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

// The channel page's handlers on a window that is never shown.
class TestChannelControls : public QObject
{
    Q_OBJECT

    struct Rig
    {
        VirtualClock clock;
        FakeSerial serial{&clock};
        RecordingDialogs dialogs;
        Platform p;
        std::unique_ptr<TformMain> form;
        Rig()
        {
            p.clock = &clock;
            p.serial = &serial;
            p.dialogs = &dialogs;
            p.settingsOrganization = QStringLiteral("EchoGaugeTest-channelcontrols");
            form = std::make_unique<TformMain>(p);
        }
    };

    static void typeEdit(QLineEdit *edit, const QString &text)
    {
        edit->setText(text); // the change signal runs the handler as a keystroke would
    }

private slots:
    void editsGiveMillimetres_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint32>("mm");
        QTest::newRow("rounds half up") << "1.2345" << 1235;
        QTest::newRow("just under 3 m") << "2.9995" << 3000;
        QTest::newRow("not a number") << "abc" << -999;
    }
    void editsGiveMillimetres()
    {
        QFETCH(QString, text);
        QFETCH(qint32, mm);
        Rig r;
        TformMain &w = *r.form;
        typeEdit(w.editCrestHeight, text);
        QCOMPARE(w.crestHeight, mm);
        typeEdit(w.editChanWidth, text);
        QCOMPARE(w.channelWidth, mm);
        typeEdit(w.editNotchWidth, text);
        QCOMPARE(w.notchWidth, mm);
        QVERIFY(w.channelChanged);
        QCOMPARE(w.btnSendChannelData->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
    }

    void upDownSteps_data()
    {
        QTest::addColumn<qint32>("start");
        QTest::addColumn<bool>("up");
        QTest::addColumn<qint32>("after");
        QTest::addColumn<QString>("text");
        QTest::newRow("up 50") << 1000 << true << 1050 << "1.050";
        QTest::newRow("down 50") << 1000 << false << 950 << "0.950";
        QTest::newRow("top stays") << 10000 << true << 10000 << "10.000";
        QTest::newRow("bottom stays") << 50 << false << 50 << "0.050";
        QTest::newRow("typed above comes back") << 12000 << true << 10000 << "10.000";
        QTest::newRow("typed below comes back") << 10 << false << 50 << "0.050";
    }
    void upDownSteps()
    {
        QFETCH(qint32, start);
        QFETCH(bool, up);
        QFETCH(qint32, after);
        QFETCH(QString, text);
        Rig r;
        TformMain &w = *r.form;
        w.crestHeight = start;
        bool allow = true;
        w.udChanWidthChangingEx(w.udCrestHeight, allow, 0, up ? UpDown::Up : UpDown::Down);
        QCOMPARE(w.crestHeight, after);
        QCOMPARE(w.editCrestHeight->text(), text);
    }

    void narrowerConstrictedChannelHalvesTheNotch()
    {
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        w.cbChanTypeClick();
        w.notchWidth = 500;
        typeEdit(w.editChanWidth, QStringLiteral("0.400"));
        QCOMPARE(w.channelWidth, 400);
        QCOMPARE(w.notchWidth, 200);
        QCOMPARE(w.tbNotchData->maximum(), 400);
        QCOMPARE(w.tbNotchData->value(), 200);
        // A channel still wider than its notch keeps the notch.
        typeEdit(w.editChanWidth, QStringLiteral("0.300"));
        QCOMPARE(w.notchWidth, 200);
        QCOMPARE(w.tbNotchData->maximum(), 300);
    }

    void trackBarSetsTheNotchOfItsType()
    {
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctVNotchWeir);
        w.notchAngle = 90;
        w.SetupNotchAngleTrackBar();
        w.markChannelChanged(false);
        w.btnChanIncClick();
        QCOMPARE(w.notchAngle, 91);
        QVERIFY(w.channelChanged);
        w.tbNotchData->setValue(150);
        w.btnChanIncClick(); // at the top already
        QCOMPARE(w.notchAngle, 150);
        w.btnChanDecClick();
        QCOMPARE(w.notchAngle, 149);
    }

    void trackBarDoesNothingForARectangularWeir()
    {
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctRectangularWeir);
        w.notchAngle = 90;
        w.notchWidth = 500;
        w.markChannelChanged(false);
        w.tbNotchData->setValue(w.tbNotchData->value() == 100 ? 101 : 100);
        w.tbNotchDataChange();
        QCOMPARE(w.notchAngle, 90);
        QCOMPARE(w.notchWidth, 500);
        QVERIFY(!w.channelChanged);
        QCOMPARE(w.btnSendChannelData->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
    }

    void setUpsDoNotMarkAChange()
    {
        Rig r;
        TformMain &w = *r.form;
        w.channelWidth = 1000;
        w.notchWidth = 400;
        w.notchAngle = 60;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        w.markChannelChanged(false);
        w.SetupNotchWidthTrackBar();
        QCOMPARE(w.tbNotchData->minimum(), 150);
        QCOMPARE(w.tbNotchData->maximum(), 1000);
        QCOMPARE(w.tbNotchData->value(), 400);
        w.cbChanType->setCurrentIndex(ctVNotchWeir);
        w.SetupNotchAngleTrackBar();
        QCOMPARE(w.tbNotchData->minimum(), 15);
        QCOMPARE(w.tbNotchData->maximum(), 150);
        QCOMPARE(w.tbNotchData->value(), 60);
        QVERIFY(!w.channelChanged);
        QCOMPARE(w.notchWidth, 400);
    }

    void saveThenLoadRestoresTheDescription()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("site.cdf"));
        Rig a;
        TformMain &w = *a.form;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        typeEdit(w.editCrestHeight, QStringLiteral("0.750"));
        typeEdit(w.editChanWidth, QStringLiteral("2.500"));
        typeEdit(w.editNotchWidth, QStringLiteral("1.200"));
        w.notchAngle = 45;
        a.dialogs.saveAnswers << path;
        w.menuSaveChannelClick();
        QVERIFY(a.dialogs.messages.isEmpty());

        Rig b;
        TformMain &v = *b.form;
        b.dialogs.openAnswers << path;
        v.menuLoadChannelClick();
        QCOMPARE(v.cbChanType->currentIndex(), int(ctConstrictedWeir));
        QCOMPARE(v.notchAngle, 45);
        QCOMPARE(v.crestHeight, 750);
        QCOMPARE(v.channelWidth, 2500);
        QCOMPARE(v.notchWidth, 1200);
        QCOMPARE(v.editChanWidth->text(), QStringLiteral("2.500"));
        QVERIFY(v.channelChanged);
    }

    void unwritableFileIsReported()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/site.cdf"));
        Rig r;
        TformMain &w = *r.form;
        w.crestHeight = 1234;
        r.dialogs.saveAnswers << path;
        w.menuSaveChannelClick();
        QCOMPARE(r.dialogs.messages.size(), 1);
        QCOMPARE(r.dialogs.messages.at(0).text, QStringLiteral("Unable to write to %1").arg(path));
        QCOMPARE(w.crestHeight, 1234);
    }
};

QTEST_MAIN(TestChannelControls)
#include "tst_channelcontrols.moc"
