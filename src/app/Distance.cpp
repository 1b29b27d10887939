#include "app/Distance.h"

QString FormatDistance(qint32 millimetres, bool metric)
{
    // Single precision throughout, so that a value on an exact half inch rounds the
    // way the sensor's own displays do.
    const float metres = float(millimetres) * 0.001f;
    if (metric)
        return QString::number(double(metres), 'f', 3) + QLatin1Char('m');

    const float inchesAndHalf = metres * 39.37008f + 0.5f;
    const quint8 feet = quint8(qint32(inchesAndHalf * (1.0f / 12.0f)));
    const qint32 inches = qint32(inchesAndHalf) % 12;
    QString text;
    if (feet != 0)
        text = QString::number(feet) + QStringLiteral("' ");
    return text + QString::number(inches) + QLatin1Char('"');
}
