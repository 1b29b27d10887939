#include "app/Platform.h"

#include <QCoreApplication>
#include <QDir>

QString DataDirectory(const QString &setting, const QString &programDir)
{
    if (setting.isEmpty())
        return programDir;
    // A relative folder is taken from the program's directory, never from wherever
    // the program happens to be started.
    return QDir::cleanPath(QDir(programDir).absoluteFilePath(setting));
}

Platform Platform::system()
{
    Platform p;
    p.dataDir = DataDirectory(QString::fromLocal8Bit(qgetenv("ECHOGAUGE_DATA_DIR")),
                              QCoreApplication::applicationDirPath());
    return p;
}
