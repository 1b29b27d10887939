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
    // application's own directory or, for an installed copy, the system's data
    // directory; $ECHOGAUGE_DATA_DIR when that is set. Never the current directory,
    // nor any other folder a user could plant a file in unless they choose it.
    QString dataDir;

    static Platform system();
};

// The data directory from $ECHOGAUGE_DATA_DIR, a relative one made absolute against
// the program's directory. When it is empty: the program's directory, or systemDir
// when that holds the guide, the loader or an update file and the program's
// directory holds none of them.
QString DataDirectory(const QString &setting, const QString &programDir,
                      const QString &systemDir = QString());
