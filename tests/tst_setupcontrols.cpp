// The sensor set-up controls and the height drawing beside the slider.
#include "model/InProcessSerial.h"

#include "TestPlatform.h"
#include "app/Mainform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "exchange/Setupcontrols.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <memory>

namespace {

struct Rig
{
    VirtualClock clock;
    InProcessSerial serial{&clock};
    RecordingDialogs dialogs;
    std::unique_ptr<TformMain> form;

    Rig()
    {
        form = std::make_unique<TformMain>(
            testPlatform(&clock, &serial, &dialogs, QStringLiteral("setupcontrols")));
    }
};

const QColor red(255, 0, 0);
const QColor black(0, 0, 0);

} // namespace

class TestSetupControls : public QObject
{
    Q_OBJECT

private slots:
    void thumbRow_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("row");
        QTest::newRow("top") << 0 << 52;
        QTest::newRow("bottom") << 10000 << 248;
        QTest::newRow("half") << 5000 << 150;
        QTest::newRow("truncated") << 7250 << 39 + 13 + 142; // 196 * 0.725 = 142.1
        QTest::newRow("one step") << 1 << 52;
    }
    void thumbRow()
    {
        QFETCH(int, position);
        QFETCH(int, row);
        QCOMPARE(TrackThumbRow(39, 222, position, 10000), row);
        Rig rig;
        rig.form->trackSensorHeight->setValue(position);
        QCOMPARE(rig.form->TrackThumbY(rig.form->trackSensorHeight), row);
    }

    void thumbRowOfAnEmptyRangeIsTheTop() { QCOMPARE(TrackThumbRow(39, 222, 0, 0), 52); }

    void sliderFormValues()
    {
        Rig rig;
        QSlider *t = rig.form->trackSensorHeight;
        QCOMPARE(t->geometry().top(), 39);
        QCOMPARE(t->height(), 222);
        QCOMPARE(t->maximum(), 10000);
        QCOMPARE(t->value(), 5555);
        QCOMPARE(t->pageStep(), 10);
        QCOMPARE(t->tickInterval(), 250);
        QVERIFY(t->invertedAppearance());
        QCOMPARE(rig.form->pbSensor->geometry(), QRect(78, 52, 145, 196));
    }

    // The drawing for a height: dimension line, sensor stacked on the thumb, picture
    // and walls below it. Channel type 0 scales the height to 149 pixels.
    void heightDrawing_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("g");
        QTest::newRow("2750 mm") << 7250 << "2.750m" << 194 << 41; // (149*2750+5000)/10000
        QTest::newRow("full height") << 0 << "10.000m" << 52 << 149;
        QTest::newRow("no height") << 10000 << "0.000m" << 248 << 0;
    }
    void heightDrawing()
    {
        QFETCH(int, position);
        QFETCH(QString, caption);
        QFETCH(int, y);
        QFETCH(int, g);
        Rig rig;
        TformMain &f = *rig.form;
        f.trackSensorHeight->setValue(position);
        f.UpdateSensorHeightDisplay();
        QCOMPARE(f.textSensorHeight->text(), caption);
        QCOMPARE(f.btnSetHeight->text(), "&Set Sensor Height (" + caption + ")");
        QCOMPARE(f.shapeBar->y(), y);
        QCOMPARE(f.shapeBtm->y(), y + g);
        QCOMPARE(f.shapeVert->y(), y);
        QCOMPARE(f.shapeVert->height(), g);
        QCOMPARE(f.labelH->y(), y + g / 2 - f.labelH->height() / 2);
        QCOMPARE(f.shapeEchoGauge1->y(), y - 8);
        QCOMPARE(f.shapeEchoGauge2->y(), y - 16);
        QCOMPARE(f.shapeEchoGauge3->y(), y - 24);
        QCOMPARE(f.shapeEchoGauge4->y(), y - 32);
        QCOMPARE(f.textSerial->y(), y - 48);
        QCOMPARE(f.pbSensor->y(), y);
        QCOMPARE(f.pbSensor->height(), 250 - y);
        const int wall = int(float(250 - y) * 0.9f);
        QCOMPARE(f.shapeWallLeft->height(), wall);
        QCOMPARE(f.shapeWallLeft->y(), 250 - wall);
        QCOMPARE(f.shapeWallRight->geometry(), QRect(f.shapeWallRight->x(), 250 - wall, 4, wall));
    }

    void depthChannelReachesTheBed()
    {
        Rig rig;
        TformMain &f = *rig.form;
        f.cbChanType->setCurrentIndex(1);
        f.trackSensorHeight->setValue(7250);
        f.UpdateSensorHeightDisplay();
        QCOMPARE(f.shapeBtm->y(), 250);
        QCOMPARE(f.shapeVert->height(), 250 - 194);
    }

    void movingTheSliderMarksTheSetupChanged()
    {
        Rig rig;
        TformMain &f = *rig.form;
        f.setupChanged = false;
        f.UpdateSensorHeightDisplay();
        QCOMPARE(captionColour(f.btnSetHeight), black);
        f.trackSensorHeight->setValue(100);
        QVERIFY(f.setupChanged);
        QCOMPARE(captionColour(f.btnSetHeight), red);
        // What a successful read or write does afterwards.
        f.setupChanged = false;
        f.UpdateSensorHeightDisplay();
        QCOMPARE(captionColour(f.btnSetHeight), black);
    }

    // A red caption marks what the sensor may not hold; on a button that cannot be
    // clicked (during an exchange) it must not make the button look live.
    void markedButtonsLookDisabledWhileDisabled_data()
    {
        QTest::addColumn<bool>("setup");
        QTest::newRow("Set Sensor Height") << true;
        QTest::newRow("Send Channel Data to EchoGauge") << false;
    }
    void markedButtonsLookDisabledWhileDisabled()
    {
        QFETCH(bool, setup);
        Rig rig;
        TformMain &f = *rig.form;
        QPushButton *button = setup ? f.btnSetHeight : f.btnSendChannelData;
        if (setup)
            f.trackSensorHeight->setValue(100);
        else
            f.markChannelChanged(true);
        const auto redPixels = [button] {
            const QImage shot = button->grab().toImage();
            int n = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    n += c.red() > 180 && c.green() < 90 && c.blue() < 90;
                }
            return n;
        };
        QVERIFY(redPixels() > 0);
        f.EnableSensorControls(false);
        QCOMPARE(redPixels(), 0);
        QCOMPARE(captionColour(button), red); // the mark itself stays
        f.EnableSensorControls(true);
        QVERIFY(redPixels() > 0);
    }

    void plusAndMinusStopAtTheEnds_data()
    {
        QTest::addColumn<bool>("plus");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("+ raises the height") << true << 5000 << 4999;
        QTest::newRow("- lowers it") << false << 5000 << 5001;
        QTest::newRow("+ at the minimum position") << true << 0 << 0;
        QTest::newRow("- at the maximum position") << false << 10000 << 10000;
    }
    void plusAndMinusStopAtTheEnds()
    {
        QFETCH(bool, plus);
        QFETCH(int, from);
        QFETCH(int, to);
        Rig rig;
        TformMain &f = *rig.form;
        f.trackSensorHeight->setValue(from);
        f.setupChanged = false;
        plus ? f.btnHeightUpClick() : f.btnHeightDownClick();
        QCOMPARE(f.trackSensorHeight->value(), to);
        QVERIFY(f.setupChanged);
        QCOMPARE(captionColour(f.btnSetHeight), red);
    }

    void lostEchoShown_data()
    {
        QTest::addColumn<qint32>("value");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("repeat last") << qint32(0xFFFF) << 0 << "-1";
        QTest::newRow("fixed 1500") << qint32(1500) << 1 << "1500";
        QTest::newRow("fixed, signed 16 bits") << qint32(0xFFFE) << 1 << "-2";
        QTest::newRow("zero") << qint32(0) << 1 << "0";
    }
    void lostEchoShown()
    {
        QFETCH(qint32, value);
        QFETCH(int, index);
        QFETCH(QString, text);
        Rig rig;
        TformMain &f = *rig.form;
        f.lostEchoValue = value;
        f.ShowLostEcho();
        QCOMPARE(f.cbLostEcho->currentIndex(), index);
        QCOMPARE(f.editLostEchoValue->isVisibleTo(f.tabSensor), index == 1);
        QCOMPARE(f.editLostEchoValue->text(), text);
    }

    void choosingAFixedValueEmptiesTheEdit()
    {
        Rig rig;
        TformMain &f = *rig.form;
        f.lostEchoValue = 1200;
        f.ShowLostEcho();
        f.setupChanged = false;
        f.cbLostEcho->setCurrentIndex(0);
        f.cbLostEchoChange();
        QVERIFY(!f.editLostEchoValue->isVisibleTo(f.tabSensor));
        QVERIFY(f.editLostEchoValue->text().isEmpty());
        QVERIFY(f.setupChanged);
        f.setupChanged = false;
        f.editLostEchoValue->setText("30");
        QVERIFY(f.setupChanged);
        f.setupChanged = false;
        f.cbSetMaxHeight->click();
        QVERIFY(f.setupChanged);
    }
};

QTEST_MAIN(TestSetupControls)
#include "tst_setupcontrols.moc"
