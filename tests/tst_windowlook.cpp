// The windows as a user sees them: captions as the window system shows them, the
// Arial 13 px font, no caption cut off, and the main window's designed client area.
#include "FakeSerial.h"
#include "app/Mainform.h"
#include "app/Optionsform.h"
#include "app/Windowsize.h"
#include "core/Clock.h"
#include "core/Dialogs.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

class TestWindowLook : public QObject
{
    Q_OBJECT

    struct Rig
    {
        VirtualClock clock;
        FakeSerial serial{&clock};
        RecordingDialogs dialogs;
        std::unique_ptr<TformMain> form;
        Rig()
        {
            Platform p;
            p.clock = &clock;
            p.serial = &serial;
            p.dialogs = &dialogs;
            p.settingsOrganization = QStringLiteral("EchoGaugeTest-windowlook");
            form = std::make_unique<TformMain>(p);
        }
    };

    // Where a caption does not fit its control: "" when every one fits.
    static QString cutCaptions(QWidget *window)
    {
        QStringList cut;
        for (QWidget *w : window->findChildren<QWidget *>()) {
            QString text;
            int needed = 0;
            if (auto *label = qobject_cast<QLabel *>(w)) {
                text = label->text();
                needed = label->sizeHint().width();
            } else if (auto *box = qobject_cast<QCheckBox *>(w)) {
                text = box->text();
                needed = box->sizeHint().width();
            } else if (auto *button = qobject_cast<QPushButton *>(w)) {
                text = button->text().remove(QLatin1Char('&'));
                needed = button->fontMetrics().horizontalAdvance(text) + 4;
            } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
                // The widest item against the field beside the arrow.
                for (int i = 0; i < combo->count(); ++i) {
                    if (combo->fontMetrics().horizontalAdvance(combo->itemText(i)) >
                        combo->fontMetrics().horizontalAdvance(text))
                        text = combo->itemText(i);
                }
                QStyleOptionComboBox option;
                option.initFrom(combo);
                const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                                   QStyle::SC_ComboBoxEditField, combo);
                needed = combo->fontMetrics().horizontalAdvance(text) + combo->width() - field.width();
            } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
                text = group->title();
                needed = group->fontMetrics().horizontalAdvance(text) + 16;
            }
            if (!text.isEmpty() && needed > w->width())
                cut << QStringLiteral("\"%1\" needs %2, has %3").arg(text).arg(needed).arg(w->width());
        }
        return cut.join(QStringLiteral("; "));
    }

private slots:
    void windowsUseArial13()
    {
        Rig rig;
        TformMain &w = *rig.form;
        TformOptions options(&w);
        for (QWidget *window : {static_cast<QWidget *>(&w), static_cast<QWidget *>(&options)}) {
            QCOMPARE(window->font().family(), QStringLiteral("Arial"));
            QCOMPARE(window->font().pixelSize(), 13);
        }
        // Every caption inherits it; the pictures and the status bar keep their own.
        QCOMPARE(w.labelChanType->font().pixelSize(), 13);
        QCOMPARE(w.btnSendChannelData->font().pixelSize(), 13);
        QCOMPARE(options.Label1->font().pixelSize(), 13);
        QCOMPARE(w.statusBar->font().pixelSize(), 11);
    }

    // Every family the windows ask for resolves to a proportional font: on a fresh
    // machine with only the Liberation fonts, "Tahoma" and "sans-serif" came out in
    // Liberation Mono.
    void fontsAreProportional_data()
    {
        QTest::addColumn<QString>("family");
        QTest::newRow("Arial") << "Arial";
        QTest::newRow("Tahoma") << "Tahoma";
        QTest::newRow("sans-serif") << "sans-serif";
    }
    void fontsAreProportional()
    {
        QFETCH(QString, family);
        QFont font(family);
        font.setPixelSize(13);
        const QFontInfo info(font);
        QVERIFY2(!info.fixedPitch(), qPrintable(info.family()));
        const QFontMetrics fm(font);
        QVERIFY2(fm.horizontalAdvance(QStringLiteral("iiii")) < fm.horizontalAdvance(QStringLiteral("WWWW")),
                 qPrintable(info.family()));
    }

    void noCaptionIsCut_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("distance") << 0;
        QTest::newRow("depth") << 1;
        QTest::newRow("rectangular weir") << 2;
        QTest::newRow("constricted weir") << 3;
        QTest::newRow("v-notch weir") << 4;
    }
    void noCaptionIsCut()
    {
        QFETCH(int, type);
        Rig rig;
        TformMain &w = *rig.form;
        w.cbChanType->setCurrentIndex(type);
        w.cbChanTypeClick();
        w.pbChannel->render(); // the type's drawing sets its captions
        const QString cut = cutCaptions(&w);
        QVERIFY2(cut.isEmpty(), qPrintable(cut));
        TformOptions options(&w);
        const QString cutOptions = cutCaptions(&options);
        QVERIFY2(cutOptions.isEmpty(), qPrintable(cutOptions));
    }

    // The client area below the menu bar is the designed 542 x 526 wherever the
    // window system's frame makes up the rest of the 550 x 540 outside; without a
    // frame, the window itself is 550 wide.
    void minimumSize_data()
    {
        QTest::addColumn<int>("menuBar");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QSize>("client");
        QTest::newRow("4 px borders and a caption") << 20 << QMargins(4, 23, 4, 4) << QSize(542, 526);
        QTest::newRow("thick borders") << 22 << QMargins(8, 30, 8, 8) << QSize(542, 526);
        QTest::newRow("no frame") << 20 << QMargins() << QSize(550, 526);
        QTest::newRow("thin frame, short menu bar") << 5 << QMargins(1, 1, 1, 1) << QSize(548, 533);
    }
    void minimumSize()
    {
        QFETCH(int, menuBar);
        QFETCH(QMargins, frame);
        const QSize window = MinimumWindowSize(menuBar, frame);
        QTEST(QSize(window.width(), window.height() - menuBar), "client");
        QVERIFY(window.width() + frame.left() + frame.right() >= 550);
        QVERIFY(window.height() + frame.top() + frame.bottom() >= 540);
    }

    void clientAreaAtStart()
    {
        Rig rig;
        TformMain &w = *rig.form;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize client = w.centralWidget()->size();
        QCOMPARE(client.height(), 526);
        QVERIFY(client.width() >= 542);
        QVERIFY(w.frameGeometry().width() >= 550 && w.frameGeometry().height() >= 540);
        QCOMPARE(w.size(), w.minimumSize());
        // The flow graph has its designed size at the designed client area.
        QCOMPARE(w.pbFlowGraph->size(), QSize(248 + client.width() - 542, 382));
        w.resize(w.width() + 30, w.height() + 40);
        QTRY_COMPARE(w.pbFlowGraph->size(), QSize(248 + client.width() - 542 + 30, 382 + 40));
    }

    // "All Files (*.*)" keeps its caption and lists every file, also those without a
    // dot in their name.
    void allFilesListsEveryFile()
    {
        QTemporaryDir dir;
        for (const char *name : {"site.cdf", "notes", "old.txt"}) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFileDialog dialog;
        setFileDialogFilter(dialog, QStringLiteral("Channel Description File (*.cdf);;All Files (*.*)"));
        dialog.setDirectory(dir.path());
        auto *combo = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QVERIFY(combo);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Channel Description File (*.cdf)"));
        QCOMPARE(combo->itemText(1), QStringLiteral("All Files (*.*)"));
        auto *model = dialog.findChild<QFileSystemModel *>();
        QVERIFY(model);
        const QModelIndex root = model->index(dir.path());
        QTRY_COMPARE(model->rowCount(root), 1);
        dialog.selectNameFilter(dialog.nameFilters().at(1));
        QTRY_COMPARE(model->rowCount(root), 3);
    }

    // The title as the window system shows it: the program on a virtual display,
    // read back with xwininfo and xprop.
    void titleAsTheWindowSystemShowsIt()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
        const QString xprop = QStandardPaths::findExecutable(QStringLiteral("xprop"));
        if (xvfb.isEmpty() || xwininfo.isEmpty() || xprop.isEmpty())
            QSKIP("needs Xvfb and x11-utils (scripts/install-deps.sh installs them)");
        // -noreset: each xwininfo that leaves would otherwise reset the server, and a
        // client connecting during a reset loses its connection.
        QProcess server;
        server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                            QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-noreset")});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 10000);
        const QString display = QLatin1Char(':') + QString::fromLatin1(server.readLine()).trimmed();

        struct Output
        {
            int exitCode = -1;
            QString out, err;
        };
        auto run = [&](const QString &program, const QStringList &args) {
            QProcess p;
            p.start(program, QStringList{QStringLiteral("-display"), display} + args);
            Output o;
            if (p.waitForFinished(5000))
                o.exitCode = p.exitCode();
            o.out = QString::fromUtf8(p.readAllStandardOutput());
            o.err = QString::fromUtf8(p.readAllStandardError());
            return o;
        };
        const Output root = run(xwininfo, {QStringLiteral("-root")});
        if (root.exitCode != 0)
            QSKIP(qPrintable(QStringLiteral("the virtual display %1 takes no clients here: %2")
                                 .arg(display, root.err.trimmed())));

        // The program alone on the display: no session bus to wait for, and no
        // software GL, which the title does not need.
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("ports")));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus")));
        env.insert(QStringLiteral("ECHOGAUGE_PORTS_DIR"), dir.filePath(QStringLiteral("ports")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        QProcess app;
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(QStringLiteral(EG_APP_PROGRAM), {});
        QVERIFY(app.waitForStarted());

        // A top-level line of xwininfo: 0x1200008 "the name": ("class" "Class")  ...
        static const QRegularExpression named(
            QStringLiteral("^\\s*(0x[0-9a-f]+) \"(.*)\": \\(\"echogauge-setup\""),
            QRegularExpression::MultilineOption);
        // Polled against the wall clock: a poll costs a process start, which a loaded
        // machine makes slow.
        QDeadlineTimer deadline(30000);
        Output listing;
        QRegularExpressionMatch m;
        while (!m.hasMatch() && app.state() == QProcess::Running && !deadline.hasExpired()) {
            QTest::qWait(100);
            listing = run(xwininfo, {QStringLiteral("-root"), QStringLiteral("-children")});
            m = named.match(listing.out);
        }
        QVERIFY2(m.hasMatch(),
                 qPrintable(QStringLiteral("no window of the program on %1 (%2); xwininfo said:\n%3%4\n"
                                           "the program said:\n%5")
                                .arg(display,
                                     app.state() == QProcess::Running
                                         ? QStringLiteral("still running")
                                         : QStringLiteral("it ended with %1").arg(app.exitCode()),
                                     listing.out, listing.err, QString::fromLocal8Bit(app.readAll()))));
        const QString caption = QStringLiteral("  EchoGauge Setup Application - V1.12");
        QCOMPARE(m.captured(2), caption);
        QCOMPARE(
            run(xprop, {QStringLiteral("-id"), m.captured(1), QStringLiteral("_NET_WM_NAME")}).out.trimmed(),
            QStringLiteral("_NET_WM_NAME(UTF8_STRING) = \"%1\"").arg(caption));

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(5000));
        server.terminate();
        server.waitForFinished(3000);
    }
};

QTEST_MAIN(TestWindowLook)
#include "tst_windowlook.moc"
