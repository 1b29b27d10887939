#include "channel/Flow.h"
#include "channel/Flowgraph.h"

#include <QImage>
#include <QPainter>
#include <QTest>

// The flow graph at the size of the channel page's paint box, read back pixel by pixel.
class TestFlowGraph : public QObject
{
    Q_OBJECT

    static const int W = 248;
    static const int H = 382;

    static QImage render(qint32 type, const ChannelDimensions &dims, FlowGraphResult *result = nullptr)
    {
        QImage image(W, H, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        p.setFont(QFont(QStringLiteral("Arial")));
        const FlowGraphResult r = DrawFlowGraphPicture(p, W, H, type, dims);
        p.end();
        if (result)
            *result = r;
        return image;
    }
    static bool isBlack(const QImage &i, int x, int y) { return i.pixelColor(x, y) == QColor(Qt::black); }
    static bool isRed(const QImage &i, int x, int y) { return i.pixelColor(x, y) == QColor(255, 0, 0); }

private slots:
    void gridLines()
    {
        ChannelDimensions dims; // 90 degrees
        FlowGraphResult r;
        const QImage i = render(ctVNotchWeir, dims, &r);
        QVERIFY(r.givesFlow);
        QCOMPARE(r.flowScaleX, float(180 * double(0.0002f)));
        QVERIFY(qAbs(r.flowScaleX - 0.036f) < 1e-6f);
        // Head grid lines, checked near the top where the curve is far away.
        for (int x : {84, 120, 156, 192, 228}) {
            QVERIFY2(isBlack(i, x, 20), qPrintable(QString::number(x)));
            QVERIFY(!isBlack(i, x + 1, 20));
        }
        // Flow grid lines, checked at the left where the curve is still low.
        for (int y : {275, 208, 142, 75, 8}) {
            QVERIFY2(isBlack(i, 60, y), qPrintable(QString::number(y)));
            QVERIFY(!isBlack(i, 60, y + 1));
        }
        QVERIFY(isBlack(i, 48, 200));     // flow axis
        QVERIFY(isBlack(i, 150, H - 41)); // head axis
        QVERIFY(isBlack(i, 0, 0));
        QVERIFY(isBlack(i, W - 1, H - 1)); // frame
    }

    void flowAxisScale_data()
    {
        QTest::addColumn<qint32>("type");
        QTest::addColumn<qint32>("maximum");
        QTest::addColumn<QString>("firstLabel");
        QTest::addColumn<QString>("lastLabel");
        QTest::newRow("v-notch 90") << qint32(ctVNotchWeir) << 77 << "15.4"
                                    << "77.0";
        QTest::newRow("rectangular 1000/1000") << qint32(ctRectangularWeir) << 33 << "6.6"
                                               << "33.0";
    }
    void flowAxisScale()
    {
        QFETCH(qint32, type);
        QFETCH(qint32, maximum);
        QFETCH(QString, firstLabel);
        QFETCH(QString, lastLabel);
        ChannelDimensions dims;
        FlowGraphResult r;
        render(type, dims, &r);
        QVERIFY(r.scaledY);
        QCOMPARE(r.flowScaleY, float(333.0 / maximum));
        QCOMPARE(FormatFixed(66.6 / r.flowScaleY, 1), firstLabel);
        QCOMPARE(FormatFixed(333.0 / r.flowScaleY, 1), lastLabel);
    }

    void curveStartsAtTheOrigin()
    {
        ChannelDimensions dims;
        const QImage i = render(ctVNotchWeir, dims);
        QVERIFY(isRed(i, 49, H - 42));
        // Somewhere on the curve at a head of 2 m.
        const int x = 48 + int(2000 * 0.036);
        bool found = false;
        for (int y = 8; y < H - 41 && !found; ++y)
            found = isRed(i, x, y);
        QVERIFY(found);
    }

    void typesWithoutFlowDrawNothing()
    {
        ChannelDimensions dims;
        for (qint32 type : {qint32(ctMeasureDistance), qint32(ctMeasureDepth)}) {
            FlowGraphResult r;
            const QImage i = render(type, dims, &r);
            QVERIFY(!r.givesFlow);
            QVERIFY(!r.scaledX);
            QVERIFY(!isBlack(i, 0, 0));
            QVERIFY(!isBlack(i, 48, 200));
        }
    }

    void tooSmallABoxDrawsTheFrameOnly()
    {
        QImage image(60, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        const FlowGraphResult r = DrawFlowGraphPicture(p, 60, 40, ctVNotchWeir, ChannelDimensions());
        p.end();
        QVERIFY(!r.givesFlow);
        QVERIFY(isBlack(image, 0, 0));
    }

    void hintTexts_data()
    {
        QTest::addColumn<qint32>("head");
        QTest::addColumn<QString>("text");
        QTest::newRow("500 mm") << 500 << QString::fromUtf8("Depth = 0.500m\nFlow = 0.242 m\u00B3/s");
        QTest::newRow("200 mm") << 200 << QStringLiteral("Depth = 0.200m\nFlow = 24.7 l/s");
    }
    void hintTexts()
    {
        QFETCH(qint32, head);
        QTEST(FlowHintText(head, float(VNotchWeirFlow(90, head))), "text");
    }

    void hintChangesUnitAtATenthOfACubicMetre()
    {
        QVERIFY(FlowHintText(0, 0.1f).endsWith(QString::fromUtf8(" m\u00B3/s")));
        QVERIFY(FlowHintText(0, 0.0999f).endsWith(QStringLiteral(" l/s")));
        QVERIFY(VNotchWeirFlow(90, 350) < 0.1);
        QVERIFY(VNotchWeirFlow(90, 351) >= 0.1);
    }
};

QTEST_MAIN(TestFlowGraph)
#include "tst_flowgraph.moc"
