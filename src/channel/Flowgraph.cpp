#include "channel/Flowgraph.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

void textAt(QPainter &p, int left, int top, const QString &text)
{
    p.drawText(left, top + QFontMetrics(p.font()).ascent(), text);
}

} // namespace

FlowGraphResult DrawFlowGraphPicture(QPainter &p, int W, int H, qint32 type, const ChannelDimensions &dims)
{
    FlowGraphResult result;
    if (type == ctMeasureDistance || type == ctMeasureDepth)
        return result;

    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    const QPoint frame[5] = {QPoint(0, 0), QPoint(W - 1, 0), QPoint(W - 1, H - 1), QPoint(0, H - 1),
                             QPoint(0, 0)};
    p.drawPolyline(frame, 5);
    // Below 69 x 50 there is no room for a plot: the frame alone says so.
    if (W < 69 || H < 50)
        return result;
    const QPoint axes[3] = {QPoint(48, 8), QPoint(48, H - 41), QPoint(W - 20, H - 41)};
    p.drawPolyline(axes, 3);

    const float qmax = float(FlowForHead(type, dims, 5000));
    // A flow beyond any scale (a notch angle far out of range) is treated as no flow.
    if (!(qmax >= 0) || !std::isfinite(qmax))
        return result;

    result.flowScaleX = float((W - 68) * double(0.0002f));
    result.scaledX = true;

    QFont font = p.font();
    // 8 points on the 96 dpi screen the layout was made for.
    font.setPixelSize(11);
    p.setFont(font);
    const QFontMetrics fm(font);

    textAt(p, 44 - fm.horizontalAdvance(QStringLiteral("0")), H - 37, QStringLiteral("0"));

    const double headStep = (W - 68) / 5.0;
    double x = 0;
    for (int i = 0; i < 5; ++i) {
        x += headStep;
        const QString label = FormatFixed(x / result.flowScaleX * 0.001, 3);
        const double X = 48 + x;
        p.drawLine(int(X), 8, int(X), H - 41);
        textAt(p, int(X - fm.horizontalAdvance(label) * 0.5), H - 37, label);
    }

    const QString headTitle = QStringLiteral("Water Head (metres)");
    textAt(p, (W - 68) / 2 - fm.horizontalAdvance(headTitle) / 2 + 48, H - fm.height() - 6, headTitle);

    const qint32 M = FlowAxisMaximum(qmax, 5);
    result.flowScaleY = float(double(H - 49) / M);
    result.scaledY = true;

    const double flowStep = (H - 49) / 5.0;
    double y = 0;
    for (int i = 0; i < 5; ++i) {
        y += flowStep;
        const QString label = FormatFixed(y / result.flowScaleY, 1);
        const int Y = (H - 41) - int(y);
        p.drawLine(48, Y, W - 20, Y);
        textAt(p, 44 - fm.horizontalAdvance(label), int(Y - fm.height() * 0.5), label);
    }

    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPixelSize(12);
    p.setFont(titleFont);
    const QString flowTitle = QStringLiteral("Flow (cubic metres / sec.)");
    const QFontMetrics tfm(titleFont);
    // Reading upward: the text's start point at (6, width/2 + H/2), its top toward x = 6.
    p.save();
    p.translate(6, tfm.horizontalAdvance(flowTitle) / 2 + H / 2);
    p.rotate(-90);
    p.drawText(0, tfm.ascent(), flowTitle);
    p.restore();

    QPen curve(QColor(255, 0, 0), 2);
    curve.setCapStyle(Qt::SquareCap);
    curve.setJoinStyle(Qt::MiterJoin);
    p.setPen(curve);
    QPoint from(49, H - 42);
    for (qint32 h = 25; h < 5000; h += 25) {
        const double Q =
            type == ctVNotchWeir
                ? VNotchWeirFlow(dims.notchAngle, h)
                : RectangularWeirFlow(dims.channelWidth,
                                      type == ctRectangularWeir ? dims.channelWidth : dims.notchWidth,
                                      dims.crestHeight, h);
        const double X = std::max(h * double(result.flowScaleX) + 48, 49.0);
        double Y = (H - 41) - double(result.flowScaleY) * Q;
        if (!(Y <= H - 42))
            Y = H - 42; // also a flow that is not a number
        Y = std::max(Y, -32768.0);
        const QPoint to(TruncToInt(X), TruncToInt(Y));
        p.drawLine(from, to);
        from = to;
    }
    result.givesFlow = true;
    return result;
}
