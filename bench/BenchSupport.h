#pragma once

// What the benchmark programs share: a window platform whose dialogs never block,
// and the process's CPU time.

#include "app/Platform.h"
#include "core/Dialogs.h"

#include <QString>

#include <sys/resource.h>

// Dialogs that answer at once, so that no modal loop stops a measured run.
class QuietDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &, Icon, const QString &) override {}
    QString openFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    bool openDocument(const QString &, bool *) override { return false; }
};

// The benchmarks keep their settings apart from a real user's.
inline const QString benchSettingsOrganization = QStringLiteral("EchoGaugeBench");

inline Platform benchPlatform(Clock *clock, SerialDriver *serial, Dialogs *dialogs)
{
    Platform p;
    p.clock = clock;
    p.serial = serial;
    p.dialogs = dialogs;
    p.settingsOrganization = benchSettingsOrganization;
    return p;
}

// User and system CPU time of this process, in seconds.
inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
