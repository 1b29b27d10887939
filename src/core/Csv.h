#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Comma-separated values as spreadsheets read them (RFC 4180): one record a line,
// CR LF after every line, UTF-8, and a field quoted (its quotes doubled) only when it
// holds a comma, a quote, a line break or blanks at either end.
QString CsvField(const QString &field);
QByteArray CsvRecord(const QStringList &fields);

// The first record of a CSV file, after the UTF-8 byte-order mark: without the mark
// the spreadsheet most engineers use reads the file in the machine's code page, and
// "m³/s" comes out garbled.
QByteArray CsvFirstRecord(const QStringList &fields);

// Replaces the file at path with bytes, or leaves whatever was there untouched: the
// bytes go to a temporary file beside it, which takes the name only once all of them
// are written. On failure error (when given) says why, in the system's words.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error);
