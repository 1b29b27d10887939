// Linked into every test program: each runs with a settings folder of its own,
// emptied at start, so that no test reads or writes the user's settings or port
// links, whether CTest runs it or someone starts it by hand. Programs the tests
// start (the application, the simulator) inherit the same folder.
#include <QDir>
#include <QFile>
#include <QtGlobal>

namespace {

void useOwnSettingsFolder()
{
    const QString folder = QStringLiteral(EG_TEST_CONFIG_HOME);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder));
    // A ports directory left in the shell (for a simulator run by hand) would show
    // its links to every test; the tests that want one set their own.
    qunsetenv("ECHOGAUGE_PORTS_DIR");
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(useOwnSettingsFolder)
