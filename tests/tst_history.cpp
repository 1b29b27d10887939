// The measurement history graph: axis captions and scales, where bars stand, when a
// layout runs, "Clear", the series boxes, the scrolling and the hints.
#include "model/InProcessSerial.h"

#include "TestPlatform.h"

#include "app/Mainform.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "measure/Historyview.h"
#include "measure/Tgraphentry.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <memory>

namespace {

struct Window
{
    VirtualClock clock;
    InProcessSerial serial{&clock};
    RecordingDialogs dialogs;
    std::unique_ptr<TformMain> form;

    explicit Window(qint32 type = 0, qint32 flowExponent = 0)
    {
        form =
            std::make_unique<TformMain>(testPlatform(&clock, &serial, &dialogs, QStringLiteral("history")));
        form->cbChanType->setCurrentIndex(type);
        form->flowExponent = flowExponent;
    }

    void add(qint32 value, float flow = 0, float headFlow = -1)
    {
        form->AddHistoryEntry(value, flow, headFlow, 5, 5, 3);
    }

    HistoryPlacement placement(qint64 index) const
    {
        return PlaceHistoryEntry(form->historyEntries->at(index), index, area()->scrollX(),
                                 form->historyScales());
    }

    HistoryArea *area() const { return static_cast<HistoryArea *>(form->scrollGraphArea); }

    QStringList ticks() const
    {
        return {form->label1Head->text(), form->label2Head->text(), form->label3Head->text()};
    }
};

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void oneOptionalDecimal_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("one decimal") << 1.234 << "1.2";
        QTest::newRow("whole") << 1.0 << "1";
        QTest::newRow("rounds up into the whole") << 0.96 << "1";
        QTest::newRow("below one") << 0.308 << "0.3";
        QTest::newRow("zero") << 0.0 << "0";
    }

    void oneOptionalDecimal()
    {
        QFETCH(double, value);
        QTEST(OneOptionalDecimal(value), "text");
    }

    // The first reading lays the value axis out: its maximum, three ticks and the title.
    void valueAxis_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("maximum");
        QTest::addColumn<QStringList>("ticks");

        QTest::newRow("distance 1234 mm") << 0 << 0 << 1234 << "D i s t"
                                          << "1.2m -" << QStringList{"0.3m -", "0.6m -", "0.9m -"};
        QTest::newRow("depth 4000 mm") << 1 << 0 << 4000 << "D e p t h"
                                       << "4m -" << QStringList{"1m -", "2m -", "3m -"};
        QTest::newRow("weir, exponent 3, 500 counts")
            << 2 << 3 << 500 << "F l o w"
            << "50.0l/s -" << QStringList{"12.5l/s -", "25.0l/s -", "37.5l/s -"};
        QTest::newRow("V-notch, exponent 2, 4000 counts: m3/s")
            << 4 << 2 << 4000 << "F l o w" << QString("4.0m\u00B3/s -")
            << QStringList{QString("1.0m\u00B3/s -"), QString("2.0m\u00B3/s -"), QString("3.0m\u00B3/s -")};
        QTest::newRow("a zero reading still scales to 1") << 0 << 0 << 0 << "D i s t"
                                                          << "0m -" << QStringList{"0m -", "0m -", "0m -"};
    }

    void valueAxis()
    {
        QFETCH(int, type);
        QFETCH(int, exponent);
        QFETCH(int, value);

        Window w(type, exponent);
        const int layouts = w.form->historyLayouts;
        w.add(value);
        if (value > 0)
            QCOMPARE(w.form->historyLayouts, layouts + 1);
        else
            w.form->LayoutHistoryGraph(); // 0 does not exceed an axis that was never laid out
        QCOMPARE(w.form->headAxisMax, qMax(value, 1));
        QTEST(w.form->labelHead->text(), "title");
        QTEST(w.form->labelMaxHead->text(), "maximum");
        QTEST(w.ticks(), "ticks");
        QVERIFY(!w.form->labelMaxHead->isHidden());
        QVERIFY(!w.form->label2Head->isHidden());

        // Labels end at the axis; the ticks stand in four equal steps above zero.
        const int axisX = w.form->labelMaxHead->geometry().right() + 1;
        QCOMPARE(w.form->labelZeroHead->geometry().right() + 1, axisX);
        QCOMPARE(w.form->label2Head->geometry().right() + 1, axisX);
        QCOMPARE(w.form->labelMaxHead->y(), w.form->scrollGraphArea->y());
        const int step = (w.form->labelZeroHead->y() - w.form->labelMaxHead->y()) / 4;
        QCOMPARE(w.form->label1Head->y(), w.form->labelZeroHead->y() - step);
        QCOMPARE(w.form->label3Head->y(), w.form->labelZeroHead->y() - 3 * step);
        // The graph area starts at the axis; the title spans the axis.
        QCOMPARE(w.form->scrollGraphArea->x(), axisX);
        QCOMPARE(w.form->labelHead->y(), w.form->labelMaxHead->y() + w.form->labelMaxHead->height() / 2);
        QCOMPARE(w.form->labelHead->geometry().bottom() + 1,
                 w.form->labelZeroHead->y() + w.form->labelZeroHead->height() / 2);
        QCOMPARE(w.form->headScale, float(w.form->labelHead->height()) / float(w.form->headAxisMax));
    }

    // A reading that fits is placed without a layout, its bar in proportion.
    void fittingReadingNeedsNoLayout()
    {
        Window w;
        w.add(1234);
        const int layouts = w.form->historyLayouts;
        w.add(1000);
        QCOMPARE(w.form->historyLayouts, layouts);
        QCOMPARE(w.form->headAxisMax, 1234);

        const QRect first = w.placement(0).headBar;
        const QRect second = w.placement(1).headBar;
        QCOMPARE(second.height(), int(1000 * double(w.form->headScale)));
        QVERIFY(qAbs(second.height() - first.height() * 1000 / 1234) <= 1);
        QVERIFY(first.height() > 150); // the axis is most of the group's height
        QCOMPARE(second.x() - first.x(), 32);
        QCOMPARE(first.width(), 33);
        QCOMPARE(first.bottom() + 1, w.form->barBaseline);
        QCOMPARE(second.bottom() + 1, w.form->barBaseline);
        // The rows of labels under the bars.
        QCOMPARE(w.placement(1).gainLabel.y(), w.form->gainRowTop);
        QCOMPARE(w.placement(1).samplesLabel.y(), w.form->samplesRowTop);
        QCOMPARE(w.form->gainRowTop, w.form->labelGainHead->y() - w.form->scrollGraphArea->y() - 1);

        // A larger one rescales the axis and shrinks the earlier bars.
        w.add(2000);
        QCOMPARE(w.form->historyLayouts, layouts + 1);
        QCOMPARE(w.form->labelMaxHead->text(), QStringLiteral("2m -"));
        QVERIFY(w.placement(0).headBar.height() < first.height());
    }

    // Drawn as the user sees it: teal bars with a black outline, the labels under them.
    void barsAsDrawn()
    {
        Window w;
        w.add(1234);
        w.add(617);
        QImage image(w.area()->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        w.form->paintHistory(p, image.rect());
        p.end();

        const QRect bar = w.placement(1).headBar;
        QCOMPARE(image.pixelColor(bar.center()), winColor(0x808000));
        QCOMPARE(image.pixelColor(bar.left(), bar.center().y()), QColor(Qt::black));
        QCOMPARE(image.pixelColor(bar.center().x(), bar.top()), QColor(Qt::black));
        QCOMPARE(image.pixelColor(bar.center().x(), bar.top() - 1), QColor(Qt::white));
        // The two bars share the outline where they meet.
        QCOMPARE(image.pixelColor(32, bar.bottom() - 1), QColor(Qt::black));
        // Something is written in the gain row under each bar, nothing beside the last.
        auto inked = [&](const QRect &r) {
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    if (image.pixelColor(x, y) != QColor(Qt::white))
                        return true;
            return false;
        };
        QVERIFY(inked(w.placement(0).gainLabel));
        QVERIFY(inked(w.placement(1).samplesLabel));
        QVERIFY(!inked(w.placement(1).gainLabel.translated(32, 0)));
    }

    // Both series on: two 17-pixel bars per entry, the flow bar 16 pixels to the right.
    void bothSeries()
    {
        Window w(2, 3);
        w.form->cbFlow->setChecked(true);
        w.add(500, 0.05f, 0.3f);
        w.add(250, 0.025f, 0.2f);
        QVERIFY(!w.form->labelFlow->isHidden());
        QVERIFY(!w.form->labelMaxFlow->isHidden());
        const HistoryPlacement at = w.placement(1);
        QCOMPARE(at.headBar.width(), 17);
        QCOMPARE(at.flowBar.width(), 17);
        QCOMPARE(at.flowBar.x() - at.headBar.x(), 16);
        QCOMPARE(at.headBar.bottom(), at.flowBar.bottom());
        QCOMPARE(at.flowBar.bottom() + 1, w.form->barBaseline);
        QCOMPARE(w.form->flowAxisMax, 1);
        QCOMPARE(at.flowBar.height(), int(double(0.025f) * double(w.form->flowScale)));
        // The head axis chose l/s, and the flow axis follows it.
        QCOMPARE(w.form->labelMaxFlow->text(), QStringLiteral("- 1000.0l/s"));
        QCOMPARE(w.form->label2Flow->text(), QStringLiteral("- 500l/s"));
        // The graph area lies between the two axes.
        QCOMPARE(w.form->scrollGraphArea->geometry().right() + 1, w.form->labelMaxFlow->x());
    }

    void seriesBoxes_data()
    {
        QTest::addColumn<bool>("uncheckHead");
        QTest::newRow("unchecking the value series checks the flow series") << true;
        QTest::newRow("unchecking the flow series checks the value series") << false;
    }

    void seriesBoxes()
    {
        QFETCH(bool, uncheckHead);
        Window w;
        w.add(1000);
        if (uncheckHead) {
            const int layouts = w.form->historyLayouts;
            w.form->cbHead->setChecked(false);
            QVERIFY(w.form->cbFlow->isChecked());
            QVERIFY(w.form->historyLayouts > layouts);
            QVERIFY(w.form->labelHead->isHidden());
            QVERIFY(!w.form->labelFlow->isHidden());
            QCOMPARE(w.placement(0).flowBar.width(), 33);
            QCOMPARE(w.form->barBaseline,
                     w.form->labelFlow->geometry().bottom() + 1 - w.form->scrollGraphArea->y() + 1);
        } else {
            w.form->cbFlow->setChecked(true);
            w.form->cbHead->setChecked(false);
            w.form->cbFlow->setChecked(false);
            QVERIFY(w.form->cbHead->isChecked());
            QVERIFY(!w.form->labelHead->isHidden());
            QVERIFY(w.form->labelFlow->isHidden());
        }
        QVERIFY(w.form->cbHead->isChecked() || w.form->cbFlow->isChecked());
    }

    // "Clear" empties the graph without a layout; the axes keep their captions.
    void clearWithoutLayout()
    {
        Window w;
        w.add(1000);
        for (int i = 1; i < 100; ++i)
            w.add(i * 10);
        QCOMPARE(w.form->historyEntries->size(), qint64(100));
        QVERIFY(w.area()->scrollX() > 0);
        const int layouts = w.form->historyLayouts;
        const QString maximum = w.form->labelMaxHead->text();

        w.form->btnClearGraphClick();
        QCOMPARE(w.form->historyEntries->size(), qint64(0));
        QCOMPARE(w.form->historyLayouts, layouts);
        QCOMPARE(w.form->labelMaxHead->text(), maximum);
        QCOMPARE(w.form->headAxisMax, 1000);
        QCOMPARE(w.area()->scrollX(), 0);

        // The next reading stands at the left again, on the scale kept.
        w.add(500);
        QCOMPARE(w.form->historyLayouts, layouts);
        QCOMPARE(w.placement(0).headBar.x(), 0);
        QCOMPARE(w.placement(0).headBar.height(), int(500 * double(w.form->headScale)));
    }

    // The newest entry comes into view: the area scrolls by one slot per entry as far
    // as the range allows.
    void scrollsToTheNewest()
    {
        Window w;
        w.form->clearHistory();
        for (int i = 0; i < 40; ++i)
            w.add(100 + i);
        const int viewWidth = w.area()->viewport()->width();
        const qint64 content = 40 * 32 + 1;
        QCOMPARE(w.area()->contentWidth(), content);
        QCOMPARE(w.area()->horizontalScrollBar()->maximum(), int(content - viewWidth));
        QCOMPARE(w.area()->scrollX(), int(content - viewWidth));
        const QRect newest = w.placement(39).headBar;
        QVERIFY(newest.left() >= 0 && newest.right() < viewWidth);
    }

    // In the window as shown: the graph area ends inside its group, so its scroll bar
    // is there to use after 30 readings; one step of the bar, or a third of a wheel
    // notch, is one entry; and a new reading comes wholly into view even when the
    // user had scrolled back to the first ones.
    void scrollBarInReach()
    {
        Window w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.clock.advance(5000); // the start-up search finds nothing here
        for (int i = 0; i < 30; ++i)
            w.add(1000 + 10 * i);
        QCoreApplication::processEvents(); // the area shows its bar from its event loop
        HistoryArea *area = w.area();
        QGroupBox *group = w.form->groupHistory;
        QCOMPARE(area->geometry().bottom(), group->height() - 7); // 6 px above the edge, as designed
        QScrollBar *bar = area->horizontalScrollBar();
        QVERIFY(bar->isVisible());
        const QRect barInGroup(bar->mapTo(group, QPoint(0, 0)), bar->size());
        QVERIFY2(group->rect().contains(barInGroup), qPrintable(QStringLiteral("bar at %1,%2 %3x%4")
                                                                    .arg(barInGroup.x())
                                                                    .arg(barInGroup.y())
                                                                    .arg(barInGroup.width())
                                                                    .arg(barInGroup.height())));
        QCOMPARE(bar->singleStep(), 32);
        QCOMPARE(bar->value(), bar->maximum());

        // The ordinary wheel moves it as the sideways one does.
        const int notchStep = QApplication::wheelScrollLines() * 32;
        for (const QPoint delta : {QPoint(0, 120), QPoint(120, 0)}) {
            const int before = area->scrollX();
            QWheelEvent notch(QPointF(10, 10), area->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                              delta, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(area->viewport(), &notch);
            QCOMPARE(area->scrollX(), before - notchStep);
        }

        bar->setValue(0);
        w.add(1200);
        const QRect newest = w.placement(30).headBar;
        QVERIFY(newest.left() >= 0 && newest.right() < area->viewport()->width());
    }

    void hints_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("value");
        QTest::addColumn<float>("flow");
        QTest::addColumn<QString>("hint");
        QTest::newRow("distance") << 0 << 1234 << 123.4f << "Dist = 1.234m";
        QTest::newRow("depth") << 1 << 850 << 85.0f << "Depth = 0.850m";
        QTest::newRow("invalid distance") << 0 << -1 << 0.0f << "Dist = -0.001m";
        QTest::newRow("weir in l/s") << 2 << 123 << 0.0123f << "Flow = 12.3 l/s";
        QTest::newRow("weir in m3/s") << 3 << 2000 << 0.2f << QString("Flow = 0.2 m\u00B3/s");
    }

    void hints()
    {
        QFETCH(int, type);
        QFETCH(int, value);
        QFETCH(float, flow);
        const TGraphEntry e{value, flow, 0.31448f, 5, 5, 3, qint8(type), 0};
        QTEST(HeadBarHint(e), "hint");
        QCOMPARE(FlowBarHint(e), QString("Flow=0.314 m\u00B3/s"));
    }

    // The hint shown is the one of the bar under the pointer, and none off the bars.
    void hintUnderThePointer()
    {
        Window w;
        w.add(1234);
        w.add(500);
        w.add(-1); // invalid: no bar to point at
        const QRect first = w.placement(0).headBar;
        const QRect second = w.placement(1).headBar;
        QCOMPARE(w.form->historyHintAt(first.center()), QStringLiteral("Dist = 1.234m"));
        QCOMPARE(w.form->historyHintAt(second.center()), QStringLiteral("Dist = 0.500m"));
        QCOMPARE(w.form->historyHintAt(QPoint(second.center().x(), second.top() - 5)), QString());
        QCOMPARE(
            w.form->historyHintAt(QPoint(w.placement(2).gainLabel.center().x(), w.form->barBaseline - 1)),
            QString());
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
