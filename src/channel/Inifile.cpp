#include "channel/Inifile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool isSectionHeader(const QString &trimmed)
{
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.contains(QLatin1Char(']'));
}

QString sectionName(const QString &trimmed)
{
    return trimmed.mid(1, trimmed.indexOf(QLatin1Char(']')) - 1).trimmed();
}

} // namespace

bool IniFile::load(const QString &path)
{
    lines.clear();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    // Only a regular file of a sensible size is a description: a FIFO would block the
    // window for ever and a device such as /dev/zero never ends.
    if (!info.isFile() || info.size() > maxFileSize)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The file may have grown since it was looked at; never take in more than the limit.
    QByteArray bytes = file.read(maxFileSize + 1);
    if (bytes.size() > maxFileSize)
        return false;
    // Editors on Windows start a UTF-8 file with a byte-order mark, which would hide
    // the first section header.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // Only ASCII names and digits are ours; anything else is carried through unchanged.
    const QString text = QString::fromLatin1(bytes);
    lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return true;
}

bool IniFile::save(const QString &path) const
{
    const QFileInfo info(path);
    // A read-only file stays untouched even where its directory would let us replace it.
    if (info.exists() && !info.isWritable())
        return false;
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text;
    for (const QString &line : lines)
        text += line.toLatin1() + "\r\n";
    if (file.write(text) != text.size())
        return false;
    return file.commit();
}

int IniFile::sectionLine(const QString &section) const
{
    for (int i = 0; i < lines.size(); ++i) {
        const QString t = lines.at(i).trimmed();
        if (isSectionHeader(t) && sectionName(t).compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniFile::sectionEnd(int headerLine) const
{
    int i = headerLine + 1;
    while (i < lines.size() && !isSectionHeader(lines.at(i).trimmed()))
        ++i;
    return i;
}

int IniFile::keyLine(int headerLine, const QString &key) const
{
    const int end = sectionEnd(headerLine);
    for (int i = headerLine + 1; i < end; ++i) {
        const QString &line = lines.at(i);
        if (line.trimmed().startsWith(QLatin1Char(';')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniFile::value(const QString &section, const QString &key, const QString &fallback) const
{
    const int header = sectionLine(section);
    if (header < 0)
        return fallback;
    const int at = keyLine(header, key);
    if (at < 0)
        return fallback;
    const QString &line = lines.at(at);
    QString v = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
    if (v.size() >= 2 && (v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))))
        v = v.mid(1, v.size() - 2);
    return v;
}

qint32 IniFile::intValue(const QString &section, const QString &key, qint32 fallback) const
{
    bool ok = false;
    const qint32 v = value(section, key).toInt(&ok, 10);
    return ok ? v : fallback;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    const QString line = key + QLatin1Char('=') + value;
    int header = sectionLine(section);
    if (header < 0) {
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(line);
        return;
    }
    const int at = keyLine(header, key);
    if (at >= 0) {
        lines[at] = line;
        return;
    }
    // After the section's last key, ahead of any blank lines that part it from the next.
    int end = sectionEnd(header);
    while (end > header + 1 && lines.at(end - 1).trimmed().isEmpty())
        --end;
    lines.insert(end, line);
}
