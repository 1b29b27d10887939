#pragma once

// The seams of a main window under test: the given clock, serial driver and dialog
// recorder, and a settings scope of the test's own so that no test touches a real
// user's settings.

#include "app/Platform.h"

inline Platform testPlatform(Clock *clock, SerialDriver *serial, Dialogs *dialogs, const QString &testName)
{
    Platform p;
    p.clock = clock;
    p.serial = serial;
    p.dialogs = dialogs;
    p.settingsOrganization = QStringLiteral("EchoGaugeTest-") + testName;
    return p;
}
