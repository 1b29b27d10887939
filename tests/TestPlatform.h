#pragma once

// The seams of a main window under test: the given clock, serial driver and dialog
// recorder, and a settings scope of the test's own so that no test touches a real
// user's settings.

#include "app/Platform.h"

#include <QFile>
#include <QTemporaryDir>

inline Platform testPlatform(Clock *clock, SerialDriver *serial, Dialogs *dialogs, const QString &testName)
{
    Platform p;
    p.clock = clock;
    p.serial = serial;
    p.dialogs = dialogs;
    p.settingsOrganization = QStringLiteral("EchoGaugeTest-") + testName;
    return p;
}

// A file of the test's own in dir holding bytes; its path, or an empty string when it
// cannot be written.
inline QString writeTestFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}
