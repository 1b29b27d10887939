#include "ExchangeRig.h"

#include "app/Mainform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What the channel page offers for the type shown: which controls are there, what
// the notch track bar spans and says, and whether the flow-table items are on.
QStringList pageOffers(TformMain &w)
{
    QStringList out;
    // One control of each group that the types show or hide together.
    const QList<QPair<QString, QWidget *>> controls{
        {"notch track bar", w.tbNotchData},    {"notch width edit", w.editNotchWidth},
        {"crest height", w.editCrestHeight},   {"channel width", w.editChanWidth},
        {"sensor picture", w.shapeEchoGauge5}, {"height slider", w.trackSensorHeight},
    };
    for (const auto &c : controls)
        out << c.first + (c.second->isHidden() ? QStringLiteral(" hidden") : QStringLiteral(" shown"));
    if (!w.tbNotchData->isHidden())
        out << QStringLiteral("notch %1..%2 at %3, \"%4\"")
                   .arg(w.tbNotchData->minimum())
                   .arg(w.tbNotchData->maximum())
                   .arg(w.tbNotchData->value())
                   .arg(w.labelNotchAngle->text());
    out << QStringLiteral("calibration ") + w.textTarvelCal->text();
    const QList<QPair<QString, bool>> items{{"Show Flow Table", w.menuShowFlowTable->isEnabled()},
                                            {"its button", w.btnShowFlowTable->isEnabled()},
                                            {"Export Flow Table", w.menuExportFlowTable->isEnabled()}};
    for (const auto &item : items)
        out << item.first + (item.second ? QStringLiteral(" on") : QStringLiteral(" off"));
    return out;
}

// A pick with the mouse in the type list's drop-down: the item is selected and the
// list says it was activated.
void pickByHand(TformMain &w, int type)
{
    w.cbChanType->setCurrentIndex(type);
    emit w.cbChanType->activated(type);
}

} // namespace

// The channel page's handlers and pictures, on a window that is never shown.
class TestChannelWindow : public QObject
{
    Q_OBJECT

    VirtualClock clock;
    RecordingDialogs dialogs;

    Platform platform()
    {
        Platform p = Platform::system();
        p.clock = &clock;
        p.dialogs = &dialogs;
        p.settingsOrganization = QStringLiteral("EchoGaugeTest-channelwindow");
        return p;
    }

    static void selectType(TformMain &w, int type)
    {
        w.cbChanType->setCurrentIndex(type);
        w.cbChanTypeClick();
    }

    static bool red(TformMain &w)
    {
        return w.btnSendChannelData->palette().color(QPalette::ButtonText) == QColor(255, 0, 0);
    }

private slots:
    void typedDimensions()
    {
        TformMain w(platform());
        w.setChannelEditText(w.editChanWidth, QStringLiteral("1.2345"));
        QCOMPARE(w.channelWidth, 1235);
        QVERIFY(red(w) && w.channelChanged);
        w.editChanWidth->setText(QStringLiteral("abc"));
        QCOMPARE(w.channelWidth, -999);
        selectType(w, 2);
        QCOMPARE(w.FlowForHead(500), -1.0);
        w.editChanWidth->setText(QStringLiteral("2.9995"));
        QCOMPARE(w.channelWidth, 3000);
    }

    void upDownLimits()
    {
        TformMain w(platform());
        w.channelWidth = 10000;
        w.udChanWidth->click(UpDown::Up);
        QCOMPARE(w.channelWidth, 10000);
        QCOMPARE(w.editChanWidth->text(), QStringLiteral("10.000"));
        w.crestHeight = 80;
        w.udCrestHeight->click(UpDown::Down);
        QCOMPARE(w.crestHeight, 50);
        w.udCrestHeight->click(UpDown::Down);
        QCOMPARE(w.crestHeight, 50);
    }

    void narrowerConstrictedChannelHalvesTheNotch()
    {
        TformMain w(platform());
        selectType(w, 3);
        w.notchWidth = 900;
        w.markChannelChanged(false);
        w.editChanWidth->setText(QStringLiteral("0.8"));
        QCOMPARE(w.notchWidth, 900); // not while the width may still be typed
        emit w.editChanWidth->editingFinished();
        QCOMPARE(w.notchWidth, 400);
        QCOMPARE(w.tbNotchData->maximum(), 800);
        QCOMPARE(w.tbNotchData->value(), 400);
        QVERIFY(red(w));
    }

    void trackBarIdleForRectangularWeir()
    {
        TformMain w(platform());
        selectType(w, 2);
        w.markChannelChanged(false);
        const int notch = w.notchWidth;
        const int angle = w.notchAngle;
        w.tbNotchData->setValue(w.tbNotchData->value() + 7);
        QCOMPARE(w.notchWidth, notch);
        QCOMPARE(w.notchAngle, angle);
        QVERIFY(!red(w));
    }

    void switchingNotchTypesKeepsTheNotch()
    {
        TformMain w(platform());
        selectType(w, 3);
        w.pbChannel->render();
        QCOMPARE(w.tbNotchData->minimum(), 150);
        QCOMPARE(w.tbNotchData->maximum(), 1000);
        selectType(w, 4);
        w.pbChannel->render();
        QCOMPARE(w.tbNotchData->minimum(), 15);
        QCOMPARE(w.tbNotchData->maximum(), 150);
        selectType(w, 3);
        w.pbChannel->render();
        QCOMPARE(w.notchAngle, 90);
        QCOMPARE(w.notchWidth, 500);
        QCOMPARE(w.tbNotchData->value(), 500);
        w.btnChanIncClick();
        QCOMPARE(w.notchWidth, 501);
    }

    void pictures_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("angle");
        QTest::addColumn<QList<QPoint>>("water");
        QTest::addColumn<QList<QPoint>>("dry");
        QTest::addColumn<QList<QPoint>>("black");
        QTest::newRow("distance") << 0 << 90 << QList<QPoint>{{10, 65}, {10, 195}} << QList<QPoint>{{10, 64}}
                                  << QList<QPoint>{{72, 30}};
        QTest::newRow("depth") << 1 << 90 << QList<QPoint>{{10, 65}} << QList<QPoint>{{10, 64}}
                               << QList<QPoint>{{72, 120}};
        QTest::newRow("rectangular") << 2 << 90 << QList<QPoint>{{10, 39}, {10, 145}}
                                     << QList<QPoint>{{10, 38}, {10, 160}}
                                     << QList<QPoint>{{10, 147}, {72, 170}};
        QTest::newRow("constricted") << 3 << 90 << QList<QPoint>{{38, 66}, {107, 145}}
                                     << QList<QPoint>{{38, 65}, {20, 100}}
                                     << QList<QPoint>{{20, 39}, {36, 100}, {109, 100}, {60, 147}, {60, 27}};
        QTest::newRow("v-notch 90") << 4 << 90 << QList<QPoint>{{72, 140}, {30, 93}}
                                    << QList<QPoint>{{72, 90}, {15, 93}} << QList<QPoint>{{72, 147}};
        QTest::newRow("v-notch 60") << 4 << 60 << QList<QPoint>{{72, 67}} << QList<QPoint>{{72, 64}}
                                    << QList<QPoint>{{10, 39}};
    }

    void pictures()
    {
        QFETCH(int, type);
        QFETCH(int, angle);
        QFETCH(QList<QPoint>, water);
        QFETCH(QList<QPoint>, dry);
        QFETCH(QList<QPoint>, black);
        TformMain w(platform());
        w.notchAngle = angle;
        selectType(w, type);
        const QImage img = w.pbChannel->render();
        QCOMPARE(img.size(), QSize(145, 196));
        for (const QPoint &p : water)
            QVERIFY2(img.pixel(p) == qRgb(166, 202, 240),
                     qPrintable(QStringLiteral("water at %1,%2").arg(p.x()).arg(p.y())));
        for (const QPoint &p : dry)
            QVERIFY2(img.pixel(p) == qRgb(255, 255, 255),
                     qPrintable(QStringLiteral("dry at %1,%2").arg(p.x()).arg(p.y())));
        for (const QPoint &p : black)
            QVERIFY2(img.pixel(p) == qRgb(0, 0, 0),
                     qPrintable(QStringLiteral("black at %1,%2").arg(p.x()).arg(p.y())));
    }

    void visibilityFollowsTheType_data()
    {
        QTest::addColumn<bool>("byHand");
        QTest::newRow("chosen by hand") << true;
        QTest::newRow("chosen as a configuration read selects it") << false;
    }

    void visibilityFollowsTheType()
    {
        QFETCH(bool, byHand);
        TformMain w(platform());
        const auto choose = [&](int type) {
            byHand ? selectType(w, type) : w.cbChanType->setCurrentIndex(type);
        };
        choose(3);
        w.pbSensor->render();
        QVERIFY(!w.tbNotchData->isHidden());
        QVERIFY(w.editNotchWidth->isHidden());
        QVERIFY(!w.editChanWidth->isHidden());
        choose(0);
        w.pbChannel->render();
        QVERIFY(w.tbNotchData->isHidden());
        QVERIFY(w.editChanWidth->isHidden());
        QVERIFY(w.trackSensorHeight->isHidden());
        QVERIFY(!w.shapeEchoGauge5->isHidden());
    }

    // A paint only draws. The sensor picture is placed, and the captions and limits
    // follow, where those inputs change: the height, a type chosen by code, a finished
    // channel width.
    void placingFollowsItsInputsNotThePaint()
    {
        TformMain w(platform());
        selectType(w, 1);
        w.shapeEchoGauge1->move(0, 0);
        w.pbSensor->render();
        w.pbChannel->render();
        QCOMPARE(w.shapeEchoGauge1->pos(), QPoint(0, 0));
        w.trackSensorHeight->setValue(2000);
        const int face = w.TrackThumbY(w.trackSensorHeight);
        QCOMPARE(w.shapeEchoGauge1->geometry().bottom() + 1, face);
        QCOMPARE(w.pbSensor->y(), face);

        w.cbChanType->setCurrentIndex(3); // as a configuration read selects it
        QCOMPARE(w.labelNotchAngle->text(), QStringLiteral("Notch Width, N = 0.500m"));
        w.setChannelEditText(w.editChanWidth, QStringLiteral("2.0"));
        emit w.editChanWidth->editingFinished();
        QCOMPARE(w.tbNotchData->maximum(), 2000);
        w.cbChanType->setCurrentIndex(0);
        QCOMPARE(w.textTarvelCal->text(), QStringLiteral("0.001 (m)"));
    }

    void flowGraphGridAndHint()
    {
        TformMain w(platform());
        selectType(w, 4);
        w.pbFlowGraph->resize(248, 382);
        const QImage img = w.pbFlowGraph->render();
        QCOMPARE(w.flowScaleX, 0.036f);
        for (int x : {84, 120, 156, 192, 228})
            QCOMPARE(img.pixel(x, 50), qRgb(0, 0, 0));
        for (int y : {275, 208, 142, 75, 8})
            QCOMPARE(img.pixel(150, y), qRgb(0, 0, 0));
        int y = 0;
        while (y < 382 && img.pixel(66, y) != qRgb(255, 0, 0))
            ++y;
        QVERIFY(y < 382);
        w.pbFlowGraphMouseMove(66, y);
        QCOMPARE(w.pbFlowGraph->toolTip(), QStringLiteral("Depth = 0.500m\nFlow = 0.242 m\u00B3/s"));
        w.pbFlowGraphMouseMove(150, 150);
        QVERIFY(w.pbFlowGraph->toolTip().isEmpty());
        selectType(w, 1);
        w.pbFlowGraph->render();
        QVERIFY(w.cbHead->isChecked() && !w.cbHead->isEnabled() && !w.cbFlow->isEnabled());
    }

    // However the type comes to be selected, the page ends with what picking it by
    // hand gives: a constricted weir loaded from a file has its notch track bar, its
    // dimensions to edit and its flow-table items.
    void everyRouteEndsAsPickingByHand_data()
    {
        QTest::addColumn<QString>("route");
        QTest::newRow("description file") << "file";
        QTest::newRow("configuration read") << "read";
        QTest::newRow("keyboard on the closed list") << "keys";
        QTest::newRow("drop-down opened through the accessibility interface") << "accessible";
    }

    void everyRouteEndsAsPickingByHand()
    {
        QFETCH(QString, route);
        ExchangeRig rig(QStringLiteral("channelwindow"));
        TformMain &w = *rig.form;
        SimSensor *sensor = rig.connectSensor();
        QTemporaryDir dir;
        pickByHand(w, ctMeasureDistance);

        const auto select = [&](int type) {
            if (route == QLatin1String("file")) {
                const QString path = writeTestFile(
                    dir, QStringLiteral("site%1.cdf").arg(type),
                    QStringLiteral("[Channels]\r\nChannel Type=%1\r\nNotch Angle=60\r\nCrest Height=800\r\n"
                                   "Channel Width=1200\r\nNotch Width=400\r\n")
                        .arg(type)
                        .toLatin1());
                rig.dialogs.openAnswers << path;
                w.menuLoadChannelClick();
            } else if (route == QLatin1String("read")) {
                sensor->setRegister(128, quint16(type));
                sensor->setRegister(129, type == ctVNotchWeir ? 60 : 400);
                sensor->setRegister(130, 800);
                sensor->setRegister(131, 1200);
                w.StartReadConfig();
                QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 15000));
                QCOMPARE(w.statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
            } else if (route == QLatin1String("keys")) {
                while (w.cbChanType->currentIndex() != type)
                    QTest::keyClick(w.cbChanType,
                                    w.cbChanType->currentIndex() < type ? Qt::Key_Down : Qt::Key_Up);
            } else {
                // A screen reader opens the list with its "ShowMenu" action; the item is
                // then chosen in the open list and taken with Enter.
                QAccessibleInterface *list = QAccessible::queryAccessibleInterface(w.cbChanType);
                QVERIFY(list && list->actionInterface());
                list->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
                QAbstractItemView *view = w.cbChanType->view();
                QVERIFY(view->isVisible());
                view->setCurrentIndex(view->model()->index(type, 0));
                QTest::keyClick(view, Qt::Key_Return);
            }
            QCOMPARE(w.cbChanType->currentIndex(), type);
        };

        // From distance to a constricted weir, as the fault was met, then every type.
        for (int type : {ctConstrictedWeir, ctMeasureDistance, ctVNotchWeir, ctConstrictedWeir,
                         ctMeasureDepth, ctRectangularWeir, ctVNotchWeir}) {
            select(type);
            const QStringList reached = pageOffers(w);
            pickByHand(w, (type + 1) % 5);
            pickByHand(w, type);
            QCOMPARE(reached, pageOffers(w));
        }
    }

    void unwritableFileShowsTheMessage()
    {
        TformMain w(platform());
        dialogs.messages.clear();
        dialogs.saveAnswers << QStringLiteral("/nonexistent-dir/x.cdf");
        w.menuSaveChannelClick();
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages.first().text, QStringLiteral("Unable to write to /nonexistent-dir/x.cdf"));
    }
};

QTEST_MAIN(TestChannelWindow)
#include "tst_channelwindow.moc"
