#include "channel/Flow.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

// Powers are taken through the logarithm, so a base of exactly 0 is its own case.
double power(double base, double exponent)
{
    if (base == 0.0)
        return 0.0;
    return std::exp(exponent * std::log(base));
}

} // namespace

double RectangularWeirFlow(qint32 B, qint32 b, qint32 P, qint32 h)
{
    const double Bm = B * 0.001;
    const double bm = b * 0.001;
    const double hm = h * 0.001;
    const double Pm = P * 0.001;
    // The 1 mm head correction is a single-precision constant in the sensor's own
    // table arithmetic; using it at that value keeps our table identical.
    const double he = hm + double(0.001f);
    const double r = bm / Bm;
    double kb;
    if (r > 0.35)
        kb = -0.10609 * r * r * r * r + 0.1922 * r * r * r - 0.11417 * r * r + 0.028182 * r - 0.00006;
    else
        kb = 0.00048 * r + 0.002298;
    const double A = (0.030365 * r - 0.00470432) / (1 - 1.76542 * r + 0.879917 * r * r);
    const double C = A * hm / Pm + (0.04789 * r + 1.724);
    return C * (bm + kb) * power(he, 1.5);
}

double VNotchWeirFlow(qint32 theta, qint32 h)
{
    const double th = theta;
    const double Ce = 0.607165052 - 0.000874466963 * th + 0.00000610393334 * th * th;
    const double kh =
        0.0144902648 - 0.00033955535 * th + 0.00000329819003 * th * th - 0.0000000106215442 * th * th * th;
    const double t = std::tan(th * double(0.5f) * 0.017453292519943295);
    const double hf = h * double(0.0032808399f);
    const double Qcfs = double(4.28f) * Ce * t * power(hf + kh, 2.5);
    return Qcfs * 0.0283168466;
}

double FlowForHead(qint32 type, const ChannelDimensions &dims, qint32 head)
{
    if (head < 0)
        return -1.0;
    if (type == ctVNotchWeir)
        return VNotchWeirFlow(dims.notchAngle, head);
    if (type != ctRectangularWeir && type != ctConstrictedWeir)
        return -1.0;
    if (dims.channelWidth <= 0 || dims.crestHeight <= 0)
        return -1.0;
    if (type == ctRectangularWeir)
        return RectangularWeirFlow(dims.channelWidth, dims.channelWidth, dims.crestHeight, head);
    return RectangularWeirFlow(dims.channelWidth, dims.notchWidth, dims.crestHeight, head);
}

qint32 FlowAxisMaximum(float value, qint32 divisions)
{
    if (divisions > 0 && value > 0) {
        // A flow beyond the integer range cannot be an axis; saturate rather than wrap.
        if (value >= 2147483647.0f)
            return std::numeric_limits<qint32>::max();
        return qint32(std::ceil(double(value)));
    }
    return 1;
}

qint32 TruncToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<qint32>::max();
    if (value <= -2147483647.0)
        return -std::numeric_limits<qint32>::max();
    return qint32(value);
}

qint32 MillimetresFromText(const QString &text)
{
    bool ok = false;
    double metres = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(metres))
        metres = -1.0;
    // Rounded half up in single precision, as the sensor's dimensions always were.
    const float sum = float(metres + double(0.0005f));
    return TruncToInt(double(sum) * double(1000.0f));
}

DimensionKey ClassifyDimensionKey(QChar key)
{
    if ((key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QLatin1Char('.'))
        return DimensionKey::Type;
    if (key == QLatin1Char(','))
        return DimensionKey::DecimalPoint;
    return DimensionKey::Refuse;
}

QString FormatFixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString FormatTrimmed(double value, int minDecimals, int maxDecimals)
{
    QString text = QString::number(value, 'f', maxDecimals);
    const int point = text.indexOf(QLatin1Char('.'));
    if (point < 0)
        return text;
    int end = text.size();
    while (end > point + 1 + minDecimals && text.at(end - 1) == QLatin1Char('0'))
        --end;
    return text.left(end);
}

QString MetresText(qint32 millimetres)
{
    return FormatFixed(millimetres * 0.001, 3);
}

QString CalibrationText(qint32 flowExponent)
{
    return FormatTrimmed(100.0 / std::pow(10.0, flowExponent), 1, 8) + QStringLiteral(" (l/s)");
}

QString FlowHintText(qint32 head, float flow)
{
    QString flowText;
    if (flow < 0.1f)
        flowText = FormatFixed(double(flow) * 1000.0, 1) + QStringLiteral(" l/s");
    else
        flowText = FormatFixed(double(flow), 3) + QStringLiteral(" m\u00B3/s");
    return QStringLiteral("Depth = ") + FormatFixed(head * 0.001, 3) + QStringLiteral("m\nFlow = ") +
           flowText;
}
