#include "app/Platform.h"

#include <QCoreApplication>

Platform Platform::system()
{
    Platform p;
    const QByteArray dir = qgetenv("ECHOGAUGE_DATA_DIR");
    p.dataDir = dir.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(dir);
    return p;
}
