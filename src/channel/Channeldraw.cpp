#include "channel/Channeldraw.h"

#include "channel/Flow.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>

namespace {

const double pi = 3.14159265358979323846;

// A notch angle near 180 degrees puts the notch edges and the angle's arc practically
// at infinity. Coordinates are held within a bound far outside any paint box and far
// from the integer limits, so that sums of two of them cannot overflow either.
const double coordinateLimit = 1 << 20;

int pixel(double value)
{
    return TruncToInt(std::clamp(value, -coordinateLimit, coordinateLimit));
}

QPen platePen()
{
    QPen pen(Qt::black, 3);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

// Rectangles are given as their corners with the right and bottom edge excluded,
// the way the picture's coordinates are worked out.
void waterRect(QPainter &p, int x1, int y1, int x2, int y2)
{
    if (x2 > x1 && y2 > y1)
        p.fillRect(QRect(x1, y1, x2 - x1, y2 - y1), waterColour());
}

void dimensionLine(QPainter &p, int x1, int y1, int x2, int y2)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::black);
    p.drawLine(x1, y1, x2, y2);
}

void letter(QPainter &p, int x, int top, const QString &text)
{
    p.setPen(Qt::black);
    p.drawText(x, top + QFontMetrics(p.font()).ascent(), text);
}

int textHeight(QPainter &p)
{
    return QFontMetrics(p.font()).height();
}

// The crest height dimension of both rectangular weirs.
void crestDimension(QPainter &p, int W, int H, int c)
{
    const int x = W / 2;
    dimensionLine(p, x, c, x, H);
    DrawArrowHead(p, x, c, 10, 10, -pi / 2);
    DrawArrowHead(p, x, H, 10, 10, pi / 2);
    letter(p, x + 2, c + (H - c - textHeight(p)) / 2, QStringLiteral("P"));
}

} // namespace

void RotatePoints(QPoint *points, int count, double angle)
{
    if (angle == 0.0)
        return;
    for (int i = count - 1; i >= 0; --i) {
        const double x = points[i].x();
        const double y = points[i].y();
        if (x == 0 && y == 0)
            continue;
        const double rho = std::sqrt(x * x + y * y);
        const double phi = std::atan2(y, x);
        points[i] = QPoint(TruncToInt(rho * std::cos(angle + phi) + 0.5),
                           TruncToInt(rho * std::sin(angle + phi) + 0.5));
    }
}

void DrawArrowHead(QPainter &canvas, int x, int y, int length, int width, double angle)
{
    QPoint pts[3] = {QPoint(-length, width / 2), QPoint(-length, -width / 2), QPoint(0, 0)};
    RotatePoints(pts, 2, angle);
    pts[0] += QPoint(x, y);
    pts[1] += QPoint(x, y);
    pts[2] = QPoint(x, y);
    canvas.drawPolygon(pts, 3);
}

void DrawDistancePicture(QPainter &p, int W, int H, bool withDimensions)
{
    const int s = int(unsigned(H) / 3);
    waterRect(p, 0, s, W, H);
    if (!withDimensions)
        return;
    const int x = W / 2;
    dimensionLine(p, x, 0, x, s);
    DrawArrowHead(p, x, 0, 10, 10, -pi / 2);
    DrawArrowHead(p, x, s, 10, 10, pi / 2);
    letter(p, x + 2, (s - textHeight(p)) / 2, QStringLiteral("d"));
}

void DrawDepthPicture(QPainter &p, int W, int H, bool withDimensions)
{
    const int s = int(unsigned(H) / 3);
    waterRect(p, 0, s, W, H);
    if (!withDimensions)
        return;
    const int x = W / 2;
    dimensionLine(p, x, s, x, H);
    DrawArrowHead(p, x, s, 10, 10, -pi / 2);
    DrawArrowHead(p, x, H, 10, 10, pi / 2);
    letter(p, x + 2, s + (H - s - textHeight(p)) / 2, QStringLiteral("d"));
}

void DrawRectangularPicture(QPainter &p, int W, int H, bool withDimensions)
{
    const int c = int(unsigned(3 * H) / 4);
    const int s = int(unsigned(H) / 5);
    p.setPen(platePen());
    p.drawLine(0, c, W, c);
    if (withDimensions)
        crestDimension(p, W, H, c);
    waterRect(p, 0, s, W, c - 1);
}

ConstrictedGeometry constrictedGeometry(int W, int H, qint32 notchWidth, qint32 channelWidth)
{
    ConstrictedGeometry g;
    g.c = int(unsigned(3 * H) / 4);
    g.s = int(unsigned(H) / 5);
    g.w = g.s + (g.c - g.s) / 4;
    // The picture has no meaning for a channel without width; show the crest across
    // it rather than divide by zero.
    double ratio = channelWidth > 0 ? double(notchWidth) / double(channelWidth) : 1.0;
    if (ratio > 1.0)
        ratio = 1.0;
    if (ratio < 0.0)
        ratio = 0.0;
    g.k = TruncToInt((W - W * ratio) * 0.5);
    return g;
}

void DrawConstrictedPicture(QPainter &p, int W, int H, int Wc, qint32 notchWidth, qint32 channelWidth,
                            bool withDimensions)
{
    const ConstrictedGeometry g = constrictedGeometry(W, H, notchWidth, channelWidth);
    p.setPen(platePen());
    const QPoint plate[6] = {QPoint(0, g.s),        QPoint(g.k, g.s),      QPoint(g.k, g.c),
                             QPoint(Wc - g.k, g.c), QPoint(Wc - g.k, g.s), QPoint(Wc, g.s)};
    p.drawPolyline(plate, 6);
    if (withDimensions) {
        crestDimension(p, W, H, g.c);
        const int y = g.s - 12;
        const int x1 = g.k + 2;
        const int x2 = Wc - g.k - 2;
        dimensionLine(p, x1, y, x2, y);
        DrawArrowHead(p, x1, y, 10, 10, pi);
        DrawArrowHead(p, x2, y, 10, 10, 0);
        const QString n = QStringLiteral("N");
        const int tw = QFontMetrics(p.font()).horizontalAdvance(n);
        letter(p, W / 2 - tw / 2, y - textHeight(p), n);
    }
    waterRect(p, g.k + 2, g.w, Wc - g.k - 1, g.c - 1);
}

VNotchGeometry vnotchGeometry(int W, int H, qint32 notchAngle)
{
    VNotchGeometry g;
    g.a = notchAngle * 0.5 * 0.017453292519943295;
    g.t = std::tan(g.a);
    g.V = QPoint(W / 2, int(unsigned(3 * H) / 4));
    g.s = int(unsigned(H) / 5);
    const int d = g.V.y() - g.s;
    const int e0 = pixel(d * g.t);
    g.SL = QPoint(g.V.x() - e0, g.s);
    g.SR = QPoint(g.V.x() + e0, g.s);
    // A notch wider than the picture at the plate top is filled to three quarters of
    // the picture's width instead of three quarters of its depth.
    const double e = g.SL.x() >= 0 ? 0.75 * d : 0.75 * W / (2 * g.t);
    g.ew = pixel(e * g.t);
    g.y = pixel(g.V.y() - e);
    g.r = (g.V.y() - (g.y - 4)) / std::cos(g.a);
    return g;
}

void DrawVNotchPicture(QPainter &p, int W, int H, qint32 notchAngle, bool withDimensions)
{
    const VNotchGeometry g = vnotchGeometry(W, H, notchAngle);
    const int Vx = g.V.x();
    const int Vy = g.V.y();
    p.setPen(QPen(waterColour(), 1));
    p.setBrush(waterColour());
    const QPoint water[3] = {g.V, QPoint(Vx + g.ew, g.y), QPoint(Vx - g.ew, g.y)};
    p.drawPolygon(water, 3);

    p.setPen(platePen());
    p.setBrush(Qt::NoBrush);
    const QPoint plate[5] = {QPoint(-1, g.s), g.SL, g.V, g.SR, QPoint(W, g.s)};
    p.drawPolyline(plate, 5);

    if (!withDimensions)
        return;
    p.setPen(QPen(Qt::black, 1));
    const double r = g.r;
    const int ir = pixel(r);
    const double D = std::sqrt(r * r + 100);
    const double b = g.a - std::atan(10 / r);
    // Counter-clockwise over the top, between the two notch edges.
    const QRect box(QPoint(Vx - ir, Vy - ir), QPoint(Vx + ir, Vy + ir));
    const double start = 90.0 - b * 180.0 / pi;
    const double span = 2 * b * 180.0 / pi;
    p.drawArc(box, int(std::lround(start * 16)), int(std::lround(span * 16)));
    p.setBrush(Qt::black);
    const int dx = pixel(D * std::sin(g.a));
    const int dy = pixel(D * std::cos(g.a));
    DrawArrowHead(p, Vx + dx, Vy - dy, 10, 10, b);
    DrawArrowHead(p, Vx - dx, Vy - dy, 10, 10, pi - b);
    const QString text = NotchAngleText(notchAngle);
    const int tw = QFontMetrics(p.font()).horizontalAdvance(text);
    p.setBrush(Qt::NoBrush);
    letter(p, Vx - tw / 2, Vy - ir - textHeight(p), text);
}

QString NotchWidthCaption(qint32 notchWidth)
{
    return QStringLiteral("Notch Width, N = ") + MetresText(notchWidth) + QLatin1Char('m');
}

QString NotchAngleText(qint32 notchAngle)
{
    return QString::number(notchAngle) + QChar(0xBA);
}
