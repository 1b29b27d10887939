#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Comma-separated values as spreadsheets read them (RFC 4180): one record a line,
// CR LF after every line, UTF-8, and a field quoted (its quotes doubled) only when it
// holds a comma, a quote, a line break or blanks at either end.
QString CsvField(const QString &field);
QByteArray CsvRecord(const QStringList &fields);

// Replaces the file at path with bytes, or leaves whatever was there untouched: the
// bytes go to a temporary file beside it, which takes the name only once all of them
// are written. On failure error (when given) says why, in the system's words.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error);
