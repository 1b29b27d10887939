#include "app/Platform.h"

#include "app/Mainform.h"
#include "exchange/Upgrade.h"

#include <QCoreApplication>
#include <QDir>

namespace {

// Where an installed copy keeps the guide, the loader and the update files: a
// folder only an administrator writes to.
QString systemDataDirectory()
{
#ifdef EG_SYSTEM_DATA_DIR
    return QStringLiteral(EG_SYSTEM_DATA_DIR);
#else
    return QString();
#endif
}

bool holdsData(const QString &directory)
{
    return !FindGuide(directory).isEmpty() || LoaderPresent(directory) ||
           !FindUpdateFile(directory).path.isEmpty();
}

} // namespace

QString DataDirectory(const QString &setting, const QString &programDir, const QString &systemDir)
{
    if (!setting.isEmpty()) {
        // A relative folder is taken from the program's directory, never from
        // wherever the program happens to be started.
        return QDir::cleanPath(QDir(programDir).absoluteFilePath(setting));
    }
    // An installed program's own directory holds nothing of these; a copy unpacked
    // somewhere keeps them beside itself.
    if (!systemDir.isEmpty() && !holdsData(programDir) && holdsData(systemDir))
        return systemDir;
    return programDir;
}

Platform Platform::system()
{
    Platform p;
    p.dataDir = DataDirectory(QString::fromLocal8Bit(qgetenv("ECHOGAUGE_DATA_DIR")),
                              QCoreApplication::applicationDirPath(), systemDataDirectory());
    return p;
}
