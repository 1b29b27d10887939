#pragma once

#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Process.h"
#include "serial/SerialDriver.h"

#include <QString>

// The seams through which the main window reaches the world. The program passes the
// system's own; a test passes a virtual clock, the in-process device, a dialog
// recorder and a settings scope of its own.
struct Platform
{
    Clock *clock = Clock::system();
    SerialDriver *serial = SerialDriver::system();
    Dialogs *dialogs = Dialogs::system();
    Processes *processes = Processes::system(); // the firmware loader

    // QSettings scope of the application's settings.
    QString settingsOrganization = QStringLiteral("Brookmere");
    QString settingsApplication = QStringLiteral("EchoGauge Setup");

    // Where the quick-start guide, the loader and the update files lie: the
    // application's own directory, or $ECHOGAUGE_DATA_DIR when that is set. Never
    // the current directory, where a file could be planted.
    QString dataDir;

    static Platform system();
};

// The data directory from $ECHOGAUGE_DATA_DIR: the program's directory when it is
// empty, a relative one made absolute against the program's directory.
QString DataDirectory(const QString &setting, const QString &programDir);
