#pragma once

#include <QString>
#include <QStringList>

// A small INI file kept as its lines, so that writing a key changes that one line and
// leaves every other section, key and comment as it was. Our own rather than
// QSettings: its INI format escapes blanks in key names ("Channel%20Type"), which
// would change the format other programs read. Sections and keys match without
// regard to case, as the Windows profile functions do; the first of duplicates wins.
class IniFile
{
public:
    // Reads the file; a missing file is an empty one. False when it exists but cannot be
    // read, is not a regular file (a FIFO, a device) or is larger than maxFileSize. A
    // leading UTF-8 byte-order mark is skipped.
    bool load(const QString &path);
    static constexpr qint64 maxFileSize = 1024 * 1024;
    // Writes every line with CR LF line ends. False when the file cannot be written;
    // the file on disk is then left as it was.
    bool save(const QString &path) const;

    QString value(const QString &section, const QString &key, const QString &fallback = QString()) const;
    // A value that is missing or not a decimal integer gives the fallback.
    qint32 intValue(const QString &section, const QString &key, qint32 fallback) const;
    // Replaces the key's value in place, or adds the key at the end of its section,
    // or the section at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);

    QStringList lines;

private:
    int sectionLine(const QString &section) const;
    int sectionEnd(int headerLine) const;
    int keyLine(int headerLine, const QString &key) const;
};
