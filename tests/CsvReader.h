#pragma once

// Reads back what the exports write (RFC 4180): quoted fields with doubled quotes
// and line breaks inside, CR LF between records. Deliberately separate from the
// writer, so that a fault in one is not mirrored by the other.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

inline QList<QStringList> ReadCsv(const QByteArray &bytes, bool *wellFormed = nullptr)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    bool ok = true;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            record << field;
            records << record;
            record.clear();
            field.clear();
            ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('"')) {
            ok = false; // a bare line end or a stray quote
            field += c;
        } else {
            field += c;
        }
    }
    // Every record, the last one too, ends in CR LF.
    if (quoted || !field.isEmpty() || !record.isEmpty())
        ok = false;
    if (wellFormed)
        *wellFormed = ok;
    return records;
}
