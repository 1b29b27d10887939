// The README's scripts where they meet the machine: who may install packages, and
// what happens without a display. The system commands they call (dpkg-query, id,
// sudo, apt-get, cmake) are stand-ins that record their calls.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestScripts : public QObject
{
    Q_OBJECT

    struct Stubs
    {
        QTemporaryDir dir;
        QString bin() const { return dir.filePath(QStringLiteral("bin")); }
        QString calls(const QString &command) const
        {
            QFile f(dir.filePath(QStringLiteral("calls-") + command));
            return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
        }
        void add(const QString &name, const QByteArray &body)
        {
            QDir().mkpath(bin());
            QFile f(QDir(bin()).filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/bash\necho \"$*\" >> \"$STUB_CALLS/calls-" + name.toLocal8Bit() + "\"\n" + body);
            f.close();
            QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
        }
        QProcessEnvironment environment() const
        {
            QProcessEnvironment env;
            env.insert(QStringLiteral("PATH"), bin() + QStringLiteral(":/usr/bin:/bin"));
            env.insert(QStringLiteral("HOME"), dir.path());
            env.insert(QStringLiteral("STUB_CALLS"), dir.path());
            return env;
        }
    };

    static QString script(const char *name)
    {
        return QFINDTESTDATA(QStringLiteral("../scripts/") + QLatin1String(name));
    }

private slots:
    void installingPackages_data()
    {
        QTest::addColumn<int>("uid");
        QTest::addColumn<QString>("groups");
        QTest::addColumn<int>("sudoWithoutPassword");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("installedBy"); // "sudo", "root" or "" (nobody)
        QTest::newRow("root") << 0 << "root" << 1 << 0 << "root";
        QTest::newRow("member of sudo") << 1000 << "eng users sudo" << 1 << 0 << "sudo";
        QTest::newRow("sudo rule without password") << 1000 << "eng users" << 0 << 0 << "sudo";
        QTest::newRow("no sudo rights") << 1000 << "plain users" << 1 << 1 << "";
        QTest::newRow("group name only alike") << 1000 << "plain sudoers-x" << 1 << 1 << "";
    }
    void installingPackages()
    {
        QFETCH(int, uid);
        QFETCH(QString, groups);
        QFETCH(int, sudoWithoutPassword);
        QFETCH(QString, installedBy);
        Stubs stubs;
        stubs.add(QStringLiteral("dpkg-query"), "exit 1\n"); // nothing installed
        stubs.add(QStringLiteral("id"), "case \"$1\" in -u) echo \"$STUB_UID\";; -un) echo eng;; "
                                        "-nG) echo \"$STUB_GROUPS\";; esac\n");
        // Like Debian's sudo (env_reset): the command runs without the caller's environment.
        stubs.add(QStringLiteral("sudo"), "[ \"$1\" = -n ] && exit \"$STUB_SUDO_N\"\n"
                                          "exec env -i PATH=\"$PATH\" STUB_CALLS=\"$STUB_CALLS\" \"$@\"\n");
        stubs.add(QStringLiteral("apt-get"), "echo \"frontend=$DEBIAN_FRONTEND\" >> \"$STUB_CALLS/calls-apt-get\"\n");
        QProcessEnvironment env = stubs.environment();
        env.insert(QStringLiteral("STUB_UID"), QString::number(uid));
        env.insert(QStringLiteral("STUB_GROUPS"), groups);
        env.insert(QStringLiteral("STUB_SUDO_N"), QString::number(sudoWithoutPassword));
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("bash"), {script("install-deps.sh")});
        QVERIFY(run.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QTEST(run.exitCode(), "exitCode");
        const QString sudoCalls = stubs.calls(QStringLiteral("sudo"));
        const QString aptCalls = stubs.calls(QStringLiteral("apt-get"));
        if (installedBy.isEmpty()) {
            // Told what to ask an administrator for, every package named, and sudo
            // never asked to install anything.
            QVERIFY(aptCalls.isEmpty());
            QVERIFY2(!sudoCalls.contains(QLatin1String("apt-get")), qPrintable(sudoCalls));
            QVERIFY2(err.contains(QLatin1String("neither root nor sudo rights")), qPrintable(err));
            for (const char *package : {"qt6-base-dev", "fonts-liberation", "fonts-dejavu-core", "xvfb"})
                QVERIFY2(err.contains(QLatin1String(package)), package);
            QVERIFY(err.contains(QLatin1String("apt-get install --no-install-recommends build-essential")));
        } else {
            QVERIFY2(aptCalls.contains(QLatin1String("fonts-dejavu-core")), qPrintable(aptCalls));
            QVERIFY(aptCalls.contains(QLatin1String("install -y -qq --no-install-recommends")));
            // debconf is told not to ask, also where sudo dropped the environment.
            QVERIFY2(aptCalls.section(QLatin1String("install -y"), 1).contains(QLatin1String("frontend=noninteractive")),
                     qPrintable(aptCalls));
            QCOMPARE(sudoCalls.contains(QLatin1String("apt-get install")),
                     installedBy == QLatin1String("sudo"));
        }
    }

    void nothingMissingInstallsNothing()
    {
        Stubs stubs;
        stubs.add(QStringLiteral("dpkg-query"), "echo -n 'install ok installed'\n");
        stubs.add(QStringLiteral("apt-get"), "exit 0\n");
        stubs.add(QStringLiteral("sudo"), "exit 1\n");
        QProcess run;
        run.setProcessEnvironment(stubs.environment());
        run.start(QStringLiteral("bash"), {script("install-deps.sh")});
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(stubs.calls(QStringLiteral("apt-get")).isEmpty());
        QVERIFY(stubs.calls(QStringLiteral("dpkg-query")).contains(QLatin1String("fonts-dejavu-core")));
    }

    // clang-format is needed by scripts/format.sh alone: its first run installs that
    // package, and only that, then formats with it.
    void formatInstallsItsFormatter()
    {
        Stubs stubs;
        // The system's tools the scripts use, and no clang-format among them.
        const QString tools = stubs.dir.filePath(QStringLiteral("tools"));
        QVERIFY(QDir().mkpath(tools));
        for (const char *tool : {"bash", "dirname", "xargs", "grep", "tr", "cat", "chmod", "env"}) {
            const QString found = QStandardPaths::findExecutable(QLatin1String(tool));
            QVERIFY2(!found.isEmpty(), tool);
            QVERIFY(QFile::link(found, QDir(tools).filePath(QLatin1String(tool))));
        }
        stubs.add(QStringLiteral("git"), "printf 'src/a.cpp\\n'\n");
        stubs.add(QStringLiteral("dpkg-query"), "exit 1\n");
        stubs.add(QStringLiteral("id"), "echo 0\n");
        // Installing puts a clang-format of its own where the scripts find it.
        stubs.add(QStringLiteral("apt-get"),
                  "if [ \"$1\" = install ]; then\n"
                  "  printf '#!/bin/bash\\necho \"$*\" >> \"$STUB_CALLS/calls-clang-format\"\\n' > "
                  "\"$STUB_BIN/clang-format\"\n"
                  "  chmod +x \"$STUB_BIN/clang-format\"\n"
                  "fi\n");
        QProcessEnvironment env = stubs.environment();
        env.insert(QStringLiteral("PATH"), stubs.bin() + QLatin1Char(':') + tools);
        env.insert(QStringLiteral("STUB_BIN"), stubs.bin());
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("/bin/bash"), {script("format.sh")});
        QVERIFY(run.waitForFinished(30000));
        QVERIFY2(run.exitCode() == 0, run.readAllStandardError().constData());
        const QString installed = stubs.calls(QStringLiteral("apt-get"));
        QVERIFY2(installed.contains(QLatin1String("--no-install-recommends clang-format\n")),
                 qPrintable(installed));
        QVERIFY(!installed.contains(QLatin1String("qt6-base-dev")));
        QCOMPARE(stubs.calls(QStringLiteral("clang-format")), QStringLiteral("-i src/a.cpp\n"));
    }

    // Packages named on the command line are installed instead of the project's
    // own: the Windows scripts ask for theirs, and the Linux ones never ask for Wine.
    void installingNamedPackages()
    {
        Stubs stubs;
        stubs.add(QStringLiteral("dpkg-query"), "exit 1\n");
        stubs.add(QStringLiteral("id"), "echo 0\n");
        stubs.add(QStringLiteral("apt-get"), "exit 0\n");
        QProcess run;
        run.setProcessEnvironment(stubs.environment());
        run.start(QStringLiteral("bash"),
                  {script("install-deps.sh"), QStringLiteral("wine"), QStringLiteral("nsis")});
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 0);
        const QString apt = stubs.calls(QStringLiteral("apt-get"));
        QVERIFY2(apt.contains(QLatin1String("--no-install-recommends wine nsis\n")), qPrintable(apt));
        QVERIFY2(!apt.contains(QLatin1String("qt6-base-dev")), qPrintable(apt));
    }

    // The Windows build takes the Qt it is given, or unpacks the one from a tarball,
    // and says what is wrong before anything is configured.
    void windowsBuildFindsItsQt_data()
    {
        QTest::addColumn<QString>("given"); // "prefix", "no prefix", "tarball" or "no tarball"
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("a folder without Qt") << "no prefix" << 1 << "holds no Qt for Windows";
        QTest::newRow("a missing tarball") << "no tarball" << 1 << "is missing; set QT_MINGW_PREFIX";
        QTest::newRow("a tarball, unpacked") << "tarball" << 0 << "";
        QTest::newRow("an unpacked Qt") << "prefix" << 0 << "";
    }
    void windowsBuildFindsItsQt()
    {
        QFETCH(QString, given);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        Stubs stubs;
        stubs.add(QStringLiteral("dpkg-query"), "echo -n 'install ok installed'\n");
        // The configure step is the one checked; the build stops right after it.
        stubs.add(QStringLiteral("cmake"), "[ \"$1\" = --build ] && exit 7\nexit 0\n");
        const QString build = stubs.dir.filePath(QStringLiteral("build win"));
        const QString qt = stubs.dir.filePath(QStringLiteral("qt6-test"));
        QVERIFY(QDir().mkpath(qt + QStringLiteral("/bin")));
        QFile dll(qt + QStringLiteral("/bin/Qt6Core.dll"));
        QVERIFY(dll.open(QIODevice::WriteOnly));
        dll.close();
        const QString tarball = stubs.dir.filePath(QStringLiteral("qt.tar.xz"));
        QCOMPARE(QProcess::execute(QStringLiteral("tar"),
                                   {QStringLiteral("-C"), stubs.dir.path(), QStringLiteral("-cJf"), tarball,
                                    QStringLiteral("qt6-test")}),
                 0);
        QProcessEnvironment env = stubs.environment();
        env.insert(QStringLiteral("BUILD_DIR"), build);
        if (given == QLatin1String("prefix"))
            env.insert(QStringLiteral("QT_MINGW_PREFIX"), qt);
        else if (given == QLatin1String("no prefix"))
            env.insert(QStringLiteral("QT_MINGW_PREFIX"), stubs.dir.path());
        else
            env.insert(QStringLiteral("QT_MINGW_TARBALL"),
                       given == QLatin1String("tarball") ? tarball : stubs.dir.filePath("none.tar.xz"));
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("bash"), {script("build-windows.sh")});
        QVERIFY(run.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        const QString cmake = stubs.calls(QStringLiteral("cmake"));
        if (exitCode != 0) {
            QCOMPARE(run.exitCode(), exitCode);
            QVERIFY2(err.contains(message), qPrintable(err));
            QVERIFY(cmake.isEmpty());
            return;
        }
        QCOMPARE(run.exitCode(), 7); // the stand-in build's failure ends the script
        const QString used = given == QLatin1String("prefix") ? qt : build + QStringLiteral("/qt6-test");
        QVERIFY2(cmake.contains(QStringLiteral("-DQT_MINGW_PREFIX=%1 ").arg(used)), qPrintable(cmake));
        QVERIFY(cmake.contains(QLatin1String("cmake/mingw-w64-toolchain.cmake")));
        QCOMPARE(QFile::exists(build + QStringLiteral("/qt6-test/bin/Qt6Core.dll")),
                 given == QLatin1String("tarball"));
    }

    // Without a display the window cannot open: the script says what to do instead
    // and builds nothing first.
    void runAppWithoutADisplay()
    {
        Stubs stubs;
        stubs.add(QStringLiteral("dpkg-query"), "echo -n 'install ok installed'\n");
        stubs.add(QStringLiteral("cmake"), "exit 0\n");
        QProcessEnvironment env = stubs.environment();
        env.insert(QStringLiteral("BUILD_DIR"), stubs.dir.filePath(QStringLiteral("build")));
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("bash"), {script("run-app.sh")});
        QVERIFY(run.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(err.contains(QLatin1String("DISPLAY")), qPrintable(err));
        QVERIFY2(err.contains(QLatin1String("xvfb-run -a scripts/run-app.sh")), qPrintable(err));
        QVERIFY(stubs.calls(QStringLiteral("cmake")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_scripts.moc"
