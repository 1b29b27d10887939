#include "model/UpdateImage.h"

#include <QRegularExpression>
#include <QString>

QByteArray makeUpdateImage(const UpdateImageSpec &spec)
{
    QByteArray image(qMax(spec.size, 112), '\0');
    auto put = [&](int offset, quint16 w) {
        image[offset] = char(w & 0xFF);
        image[offset + 1] = char(w >> 8);
    };
    image.replace(0, 16, QByteArray("ORB Update File\x1a", 16));
    put(16, quint16(spec.headerLength));
    put(28, spec.product);
    put(30, spec.kind);
    image[34] = char(spec.minor);
    image[35] = char(spec.major);
    // The program image: a repeating count, so that a loader that mangles or
    // truncates it is easy to see in a dump.
    for (int i = 112; i < image.size(); ++i)
        image[i] = char(i & 0xFF);

    const int words = qBound(0, spec.headerLength, 56) / 2;
    quint16 sum = 0;
    for (int i = 0; i < words; ++i)
        sum = quint16(sum + (quint8(image[2 * i]) | quint8(image[2 * i + 1]) << 8));
    if (spec.balanceSum && words > 9)
        put(18, quint16(-sum));
    else if (!spec.balanceSum && sum == 0 && words > 9)
        put(18, 1);
    return image;
}

bool parseUpdateVersion(const QString &text, int *major, int *minor)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})$")).match(text);
    if (!m.hasMatch())
        return false;
    const int a = m.captured(1).toInt();
    const int b = m.captured(2).toInt();
    if (a > 255 || b > 255)
        return false;
    *major = a;
    *minor = b;
    return true;
}
