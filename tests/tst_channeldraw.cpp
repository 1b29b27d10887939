#include "channel/Channeldraw.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>

// The channel pictures at design size, read back pixel by pixel.
class TestChannelDraw : public QObject
{
    Q_OBJECT

    static const int W = 145;
    static const int H = 196;

    template <typename Draw> static QImage render(Draw draw)
    {
        QImage image(W, H, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, false);
        draw(p);
        p.end();
        return image;
    }
    static bool isWater(const QImage &i, int x, int y) { return i.pixelColor(x, y) == waterColour(); }
    static bool isBlack(const QImage &i, int x, int y) { return i.pixelColor(x, y) == QColor(Qt::black); }
    static bool isWhite(const QImage &i, int x, int y) { return i.pixelColor(x, y) == QColor(Qt::white); }

private slots:
    void surfaceOfDistanceAndDepth()
    {
        for (bool depth : {false, true}) {
            const QImage i = render([depth](QPainter &p) {
                depth ? DrawDepthPicture(p, W, H, false) : DrawDistancePicture(p, W, H, false);
            });
            QVERIFY(isWhite(i, 10, 64));
            QVERIFY(isWater(i, 10, 65));
            QVERIFY(isWater(i, 140, 195));
        }
    }

    void rectangularCrestAndWater()
    {
        const QImage i = render([](QPainter &p) { DrawRectangularPicture(p, W, H, false); });
        QVERIFY(isWhite(i, 10, 38));
        QVERIFY(isWater(i, 10, 39));
        QVERIFY(isWater(i, 10, 145));
        QVERIFY(isBlack(i, 10, 147));
        QVERIFY(isBlack(i, 144, 147));
        QVERIFY(isWhite(i, 10, 150));
    }

    void constrictedPlateAndWater()
    {
        const ConstrictedGeometry g = constrictedGeometry(W, H, 500, 1000);
        QCOMPARE(g.k, 36);
        QCOMPARE(g.s, 39);
        QCOMPARE(g.c, 147);
        QCOMPARE(g.w, 66);
        const QImage i = render([](QPainter &p) { DrawConstrictedPicture(p, W, H, W, 500, 1000, false); });
        QVERIFY(isBlack(i, 10, 39));   // approach plate top
        QVERIFY(isBlack(i, 36, 100));  // left side plate
        QVERIFY(isBlack(i, 109, 100)); // right side plate
        QVERIFY(isBlack(i, 72, 147));  // crest
        QVERIFY(isWater(i, 38, 66));
        QVERIFY(isWater(i, 107, 145));
        QVERIFY(isWhite(i, 72, 65));
        QVERIFY(isWhite(i, 10, 100)); // no water beside the notch
    }

    void constrictedOddWidths_data()
    {
        QTest::addColumn<qint32>("notch");
        QTest::addColumn<qint32>("channel");
        QTest::addColumn<int>("k");
        QTest::newRow("no channel width: notch across the channel") << 500 << 0 << 0;
        QTest::newRow("negative channel width") << 500 << -1000 << 0;
        QTest::newRow("notch wider than channel") << 2000 << 1000 << 0;
        QTest::newRow("no notch: closed") << 0 << 1000 << 72;
    }
    void constrictedOddWidths()
    {
        QFETCH(qint32, notch);
        QFETCH(qint32, channel);
        QTEST(constrictedGeometry(W, H, notch, channel).k, "k");
    }

    void vnotchGeometryCases()
    {
        const VNotchGeometry n90 = vnotchGeometry(W, H, 90);
        QCOMPARE(n90.SL.x(), -35);
        QCOMPARE(n90.V, QPoint(72, 147));
        QCOMPARE(n90.y, 92);
        QCOMPARE(n90.ew, 54);
        QVERIFY(std::fabs(n90.r - 83.4) < 0.05);
        const VNotchGeometry n60 = vnotchGeometry(W, H, 60);
        QCOMPARE(n60.SL, QPoint(10, 39));
        QCOMPARE(n60.y, 66);
        QCOMPARE(NotchAngleText(90), QString::fromUtf8("90\u00BA"));
    }

    void vnotchWaterTriangle()
    {
        const QImage i = render([](QPainter &p) { DrawVNotchPicture(p, W, H, 90, false); });
        QVERIFY(isWater(i, 72, 120));
        QVERIFY(isWater(i, 30, 93));
        QVERIFY(isWhite(i, 72, 85));  // above the water line
        QVERIFY(isWhite(i, 20, 140)); // beside the notch, below the water
    }

    // Angles a description file may hold although no track bar offers them: the
    // notch edges run out toward infinity, yet every coordinate stays a number that
    // the next sum cannot overflow, and the notch stays symmetric about its vertex.
    void vnotchFarOutAngles_data()
    {
        QTest::addColumn<qint32>("angle");
        for (qint32 angle : {180, -180, 179, 181, 360, 540, -540})
            QTest::newRow(qPrintable(QString::number(angle))) << angle;
    }
    void vnotchFarOutAngles()
    {
        QFETCH(qint32, angle);
        const VNotchGeometry g = vnotchGeometry(W, H, angle);
        const qint64 bound = 1 << 24;
        for (qint64 v : {qint64(g.SL.x()), qint64(g.SR.x()), qint64(g.ew), qint64(g.y)})
            QVERIFY2(v > -bound && v < bound, qPrintable(QString::number(v)));
        QCOMPARE(qint64(g.SL.x()) - g.V.x(), qint64(g.V.x()) - g.SR.x());
        QCOMPARE(g.V, QPoint(72, 147));
        // The arc, its arrowheads and the angle text are drawn as well.
        const QImage i = render([angle](QPainter &p) { DrawVNotchPicture(p, W, H, angle, true); });
        QVERIFY(isBlack(i, 72, 147));
    }

    // At 180 degrees the notch is a flat crest through the vertex, on both sides.
    void vnotchOfHalfACircleIsFlat()
    {
        const QImage i = render([](QPainter &p) { DrawVNotchPicture(p, W, H, 180, false); });
        for (int x : {5, 40, 105, 140})
            QVERIFY2(isBlack(i, x, 147), qPrintable(QString::number(x)));
        QVERIFY(isWhite(i, 140, 60));
    }
    void arrowHeadPointingUp()
    {
        QPoint pts[3] = {QPoint(-10, 5), QPoint(-10, -5), QPoint(0, 0)};
        RotatePoints(pts, 2, -M_PI / 2);
        QCOMPARE(pts[0] + QPoint(72, 0), QPoint(77, 10));
        QCOMPARE(pts[1] + QPoint(72, 0), QPoint(68, 10));
        QCOMPARE(pts[2], QPoint(0, 0));
        const QImage i = render([](QPainter &p) {
            p.setPen(Qt::black);
            p.setBrush(Qt::black);
            DrawArrowHead(p, 72, 0, 10, 10, -M_PI / 2);
        });
        QVERIFY(isBlack(i, 72, 1));
        QVERIFY(isBlack(i, 72, 9));
        QVERIFY(isWhite(i, 72, 12));
        QVERIFY(isWhite(i, 66, 3));
    }

    void rotationByZeroChangesNothing()
    {
        QPoint pts[2] = {QPoint(3, 4), QPoint(-7, 2)};
        RotatePoints(pts, 2, 0.0);
        QCOMPARE(pts[0], QPoint(3, 4));
        QCOMPARE(pts[1], QPoint(-7, 2));
    }
};

QTEST_MAIN(TestChannelDraw)
#include "tst_channeldraw.moc"
