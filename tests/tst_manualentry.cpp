// The engineering terminal on the virtual clock with the in-process sensor: what
// reaches the wire, how received lines reach the log, the listening period, and the
// window's own settings.
#include "ExchangeRig.h"

#include "app/Manualentry.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int sensorPort = 7;

struct Arrival
{
    int atMs; // after the window opened
    QByteArray bytes;
};
struct Look
{
    int atMs;
    QStringList log;
};
using Arrivals = QList<Arrival>;
using Looks = QList<Look>;

// A main window with the sensor on COM7 opened directly, and the terminal open.
struct TerminalRig : ExchangeRig
{
    explicit TerminalRig(const QString &scope, const SimOptions &sim = SimOptions()) : ExchangeRig(scope)
    {
        QSettings(form->platform.settingsOrganization, form->platform.settingsApplication).clear();
        serial.addSensor(sensorPort, sim);
        clock.advance(1000);
        if (!OpenPort(&form->commPort, sensorPort, sim.loggerBaud ? sim.loggerBaud : 9600))
            qFatal("the simulated port did not open");
    }

    TformManual *open()
    {
        form->menuManualEntryClick();
        return formManual;
    }

    QSettings store() const
    {
        return QSettings(form->platform.settingsOrganization, form->platform.settingsApplication);
    }

    QByteArray wire() const { return serial.written(sensorPort); }
};

QStringList logLines(const TformManual *m)
{
    const QString text = m->memoRx->toPlainText();
    if (m->memoRx->document()->blockCount() == 1 && text.isEmpty())
        return {};
    return text.split(QLatin1Char('\n'));
}

void feed(TformManual *m, const QByteArray &bytes)
{
    for (char c : bytes)
        m->EchoReceived(c);
}

// Types into a row's edit and presses Enter there, as the user does.
void typeAndEnter(TformManual *m, int row, const QString &text)
{
    QLineEdit *edit = m->txRows[size_t(row - 1)].edit;
    edit->setText(text);
    QApplication::setActiveWindow(m);
    edit->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

Q_DECLARE_METATYPE(Arrivals)
Q_DECLARE_METATYPE(Looks)

class TestManualEntry : public QObject
{
    Q_OBJECT

    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    void cleanup() { QVERIFY(!formManual); }

    void commandText_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("measurement with its line end") << "...PDAs^m" << QByteArray("...PDAs\r");
        QTest::newRow("^m is preferred to an earlier ^M") << "A^MB^m" << QByteArray("A^MB\r");
        QTest::newRow("only the first ^M") << "^M^M" << QByteArray("\r^M");
        QTest::newRow("only the first ^m") << "x^m^my" << QByteArray("x\r^my");
        QTest::newRow("no line end asked for") << "...PDAC" << QByteArray("...PDAC");
        QTest::newRow("a caret alone") << "a^b^" << QByteArray("a^b^");
        QTest::newRow("degree sign as one byte") << QString::fromUtf8("90\u00B0^m") << QByteArray("90\xB0\r");
    }
    void commandText()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, sent);
        QCOMPARE(manualCommandText(typed), sent);
    }

    // What goes out when Enter is pressed in a row's edit.
    void bytesOnTheWire_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("rowPassthrough");
        QTest::addColumn<bool>("sensorPassthrough");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("log");

        QTest::newRow("row 1 measurement: seven characters and one CR")
            << 1 << "...PDAs^m" << false << false << QByteArray("...PDAs\r") << QStringList{"01000,1,5,5,3,"};
        QTest::newRow("row 2 ^m preferred, one replaced")
            << 2 << "A^MB^m" << false << false << QByteArray("A^MB\r") << QStringList{};
        QTest::newRow("row 3 ZK Pass-through on a direct connection")
            << 3 << "...PDAs" << true << false << QByteArray("...EGCNFG(PDAs)") << QStringList{};
        QTest::newRow("row 4 ZK text without full stops goes unchanged")
            << 4 << "PDAC^m" << true << false << QByteArray("PDAC\r") << QStringList{};
        QTest::newRow("row 5 register write acknowledged")
            << 5 << "...ATR24=500^m" << false << false << QByteArray("...ATR24=500\r") << QStringList{"OK"};
        QTest::newRow("row 1 direct although the sensor connection is passthrough")
            << 1 << "...PDAC" << false << true << QByteArray("...PDAC")
            << QStringList{"EchoGauge 18F2620 Version 01.13"};
    }
    void bytesOnTheWire()
    {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(bool, rowPassthrough);
        QFETCH(bool, sensorPassthrough);
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, log);

        TerminalRig rig(QStringLiteral("manual-wire"));
        rig.form->sensorPassthrough = sensorPassthrough;
        TformManual *m = rig.open();
        QVERIFY(m);
        m->txRows[size_t(row - 1)].passthrough->setChecked(rowPassthrough);
        typeAndEnter(m, row, typed);
        // Entering the edit made its own Tx the one Enter presses, and no other.
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(m->txRows[size_t(n - 1)].button->isDefault(), n == row);
        QCOMPARE(rig.form->portState, qint8(psManualReply));
        rig.clock.advance(2500);
        QCOMPARE(rig.wire(), wire);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        rig.clock.advance(1000); // whatever came without its CR is out now
        QCOMPARE(logLines(m), log);
        if (typed.startsWith(QLatin1String("...ATR24=")))
            QCOMPARE(rig.serial.sensor(sensorPort)->reg(24), quint16(500));
        m->close();
    }

    // The port is read every 100 ms for two seconds once the line has left.
    void listeningPeriod()
    {
        TerminalRig rig(QStringLiteral("manual-listen"));
        TformManual *m = rig.open();
        m->editTx2->setText(QStringLiteral("...PDAC"));
        m->btnTx2->click();
        rig.clock.advance(3000);
        const QList<qint64> writes = rig.serial.writeTimes(sensorPort);
        QCOMPARE(writes.size(), 7);
        const qint64 senderDone = writes.last() + rig.form->timerSlowTx->interval();

        QList<ExchangeRig::Tick> listening;
        for (const auto &t : rig.ticks)
            if (t.atMs >= senderDone)
                listening << t;
        QCOMPARE(listening.size(), 20);
        for (int i = 0; i < listening.size(); ++i) {
            QCOMPARE(listening[i].timeLeft, 2000 - 100 * (i + 1));
            QCOMPARE(listening[i].atMs, listening[0].atMs + 100 * i);
            const bool last = i == listening.size() - 1;
            QCOMPARE(listening[i].state, last ? int(psIdle) : int(psManualReply));
            QCOMPARE(listening[i].timerOn, !last);
        }
        // Nothing is looked for and nothing is reported.
        QVERIFY(rig.messages.isEmpty());
        QCOMPARE(logLines(m), QStringList{"EchoGauge 18F2620 Version 01.13"});
        m->close();
    }

    // What has arrived by the end of the two seconds reaches the log, and a reply still
    // coming in then is listened to until a tick brings nothing, at most ten seconds.
    // "...PDAC" leaves its last character 140 ms after Tx, and the two seconds are
    // counted from the 200 ms tick: they end 1960 ms after it. The identification with
    // its line end and the request's last character take 39.0 ms at 9600.
    void listeningFollowsTheReply_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<int>("endTimeLeft"); // ms left when the listening ended
        const QString id = QStringLiteral("EchoGauge 18F2620 Version 01.13");
        QTest::newRow("in by the end of the two seconds") << "...PDAC" << 1921 << id << -100;
        QTest::newRow("half in by then") << "...PDAC" << 1940 << id << -200;
        QTest::newRow("begins after them") << "...PDAC" << 1958 << QString() << 0;
        // 2298 characters, the last 2664 ms after the request's: in by the 2760 ms tick.
        QTest::newRow("the whole register dump") << "...PDAh" << 30 << "End" << -900;
    }
    void listeningFollowsTheReply()
    {
        QFETCH(QString, typed);
        QFETCH(int, latencyMs);
        SimOptions o;
        o.latencyMs = latencyMs;
        TerminalRig rig(QStringLiteral("manual-long"), o);
        TformManual *m = rig.open();
        m->editTx1->setText(typed);
        m->btnTx1->click();
        rig.clock.advance(12000);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QTEST(rig.form->timeLeft, "endTimeLeft");
        QTEST(logLines(m).value(logLines(m).size() - 1).trimmed(), "lastLine");
        m->close();
    }

    // A device that never stops talking is listened to for ten seconds in all.
    void endlessReplyIsListenedToForTenSeconds()
    {
        TerminalRig rig(QStringLiteral("manual-endless"));
        TformManual *m = rig.open();
        m->editTx1->setText(QStringLiteral("...PDAs"));
        m->btnTx1->click();
        for (int i = 0; i < 300 && rig.form->portState == psManualReply; ++i) {
            rig.serial.inject(sensorPort, "12345,1,5,5,3,\r\n");
            rig.clock.advance(50);
        }
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QCOMPARE(rig.form->timeLeft, 2000 - 10000);
        m->close();
    }

    void txDoesNothingWhileAnExchangeRuns_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("search") << int(psSearch);
        QTest::newRow("configuration read") << int(psReadConfig);
        QTest::newRow("configuration write") << int(psWriteConfig);
        QTest::newRow("measurement being prepared") << int(psMeasurePrepare);
        QTest::newRow("measurement") << int(psMeasure);
        QTest::newRow("channel upload") << int(psChannelWrite);
        QTest::newRow("an earlier typed line") << int(psManualReply);
    }
    void txDoesNothingWhileAnExchangeRuns()
    {
        QFETCH(int, state);
        TerminalRig rig(QStringLiteral("manual-busy"));
        TformManual *m = rig.open();
        rig.form->portState = qint8(state);
        rig.form->timeLeft = 1234;
        typeAndEnter(m, 1, QStringLiteral("...PDAC^m"));
        QCOMPARE(rig.form->portState, qint8(state));
        QCOMPARE(rig.form->timeLeft, 1234);
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(!rig.form->timerSlowTx->isActive());
        rig.clock.advance(500);
        QVERIFY(rig.wire().isEmpty());
        m->close();
    }

    void txDuringAMeasurementStartedByTheUser()
    {
        TerminalRig rig(QStringLiteral("manual-measuring"));
        TformManual *m = rig.open();
        rig.form->StartMeasurement(false);
        m->editTx1->setText(QStringLiteral("...PDAC^m"));
        m->btnTx1->click();
        QVERIFY(rig.form->portState != psManualReply);
        rig.clock.advance(3000);
        QVERIFY(!rig.wire().contains("PDAC"));
        m->close();
    }

    // The listening period runs out and leaves the scheduler idle even when the line
    // could not be sent.
    void refusedLineStillListens()
    {
        TerminalRig rig(QStringLiteral("manual-refused"));
        ClosePort(&rig.form->commPort);
        TformManual *m = rig.open();
        m->editTx1->setText(QStringLiteral("...PDAC"));
        m->btnTx1->click();
        QCOMPARE(rig.form->portState, qint8(psManualReply));
        rig.clock.advance(1999);
        QCOMPARE(rig.form->portState, qint8(psManualReply));
        rig.clock.advance(1);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        m->close();
    }

    // Received bytes become log lines at a carriage return, or a second after the
    // last one when no carriage return follows.
    void lineAssembly_data()
    {
        QTest::addColumn<Arrivals>("arrivals");
        QTest::addColumn<Looks>("looks");

        QTest::newRow("OK with its CR is shown at once") << Arrivals{{0, "OK\r"}} << Looks{{0, {"OK"}}};
        QTest::newRow("123 within a second of a CR: shown when that second is up")
            << Arrivals{{0, "OK\r"}, {300, "123"}}
            << Looks{{300, {"OK"}}, {999, {"OK"}}, {1000, {"OK", "123"}}, {5000, {"OK", "123"}}};
        QTest::newRow("123 more than a second after a CR waits for the next CR")
            << Arrivals{{0, "OK\r"}, {1500, "123"}, {6000, "\r"}}
            << Looks{{1500, {"OK"}}, {5999, {"OK"}}, {6000, {"OK", "123"}}};
        QTest::newRow("each CR restarts the second")
            << Arrivals{{0, "A\r"}, {800, "B\r"}, {900, "C"}}
            << Looks{{1000, {"A", "B"}}, {1799, {"A", "B"}}, {1800, {"A", "B", "C"}}};
        QTest::newRow("the first second counts from the window's opening")
            << Arrivals{{400, "123"}} << Looks{{999, {}}, {1000, {"123"}}};
        QTest::newRow("an empty line is a line") << Arrivals{{0, "OK\r\r"}} << Looks{{0, {"OK", ""}}};
        QTest::newRow("the LF of CR LF is shown as nothing")
            << Arrivals{{0, "EchoGauge 18F2620 Version 01.13\r\nOK\r"}}
            << Looks{{0, {"EchoGauge 18F2620 Version 01.13", "OK"}}};
        QTest::newRow("other control characters are named")
            << Arrivals{{0, "A\nB\x1b\x7f\t\r"}} << Looks{{0, {"A<LF>B<ESC><DEL><HT>"}}};
        QTest::newRow("the LF after a CR is not a line of its own")
            << Arrivals{{0, "OK\r\n"}, {3000, "X\r"}}
            << Looks{{1000, {"OK"}}, {2999, {"OK"}}, {3000, {"OK", "X"}}};
    }
    void lineAssembly()
    {
        QFETCH(Arrivals, arrivals);
        QFETCH(Looks, looks);
        TerminalRig rig(QStringLiteral("manual-lines"));
        TformManual *m = rig.open();
        const qint64 opened = rig.clock.nowMs();

        // Everything that happens at a moment happens before it is looked at.
        QList<int> moments;
        for (const Arrival &a : arrivals)
            moments << a.atMs;
        for (const Look &l : looks)
            moments << l.atMs;
        std::sort(moments.begin(), moments.end());
        moments.erase(std::unique(moments.begin(), moments.end()), moments.end());
        for (int at : moments) {
            rig.clock.advance(opened + at - rig.clock.nowMs());
            for (const Arrival &a : arrivals)
                if (a.atMs == at)
                    feed(m, a.bytes);
            for (const Look &l : looks)
                if (l.atMs == at)
                    QVERIFY2(logLines(m) == l.log,
                             qPrintable(QStringLiteral("at %1 ms: %2").arg(at).arg(logLines(m).join('|'))));
        }
        m->btnClearClick();
        QCOMPARE(logLines(m), QStringList{});
        m->close();
    }

    void logText_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QByteArray("00123,1,5,5,3,") << "00123,1,5,5,3,";
        QTest::newRow("NUL and BEL") << QByteArray("a\0b\x07", 4) << "a<NUL>b<BEL>";
        QTest::newRow("LF inside a line") << QByteArray("a\nb") << "a<LF>b";
        QTest::newRow("cubic metres and degrees")
            << QByteArray("m\xB3/s 90\xB0") << QString::fromUtf8("m\u00B3/s 90\u00B0");
        QTest::newRow("euro sign of the 1252 page") << QByteArray("\x80") << QString::fromUtf8("\u20AC");
        QTest::newRow("a code the page leaves undefined") << QByteArray("\x81\x9d") << "<81><9D>";
    }
    void logText()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        QCOMPARE(manualLogText(line), shown);
        // Whatever arrives, a log line stays one line.
        QVERIFY(!manualLogText(line).contains(QLatin1Char('\n')));
        QVERIFY(!manualLogText(line).contains(QLatin1Char('\r')));
    }

    void endlessLineIsCut()
    {
        QByteArray pending;
        QByteArray finished;
        int lines = 0;
        for (int i = 0; i < 3 * manualLineLimit; ++i)
            if (assembleManualLine(pending, 'x', &finished)) {
                ++lines;
                QCOMPARE(finished.size(), manualLineLimit);
            }
        QCOMPARE(lines, 3);
        QVERIFY(pending.isEmpty());
    }

    // While the window is open it sees the bytes of every exchange, not only its own.
    void bytesOfASearchReachTheLog()
    {
        TerminalRig rig(QStringLiteral("manual-search"));
        ClosePort(&rig.form->commPort);
        TformManual *m = rig.open();
        rig.form->StartSearch({qint16(sensorPort), QStringLiteral("COM7"), 9600, false});
        QVERIFY(rig.clock.advanceUntil([&] { return rig.form->portState == psReadConfigPrepare; }, 20000));
        rig.clock.advance(1000);
        QVERIFY2(logLines(m).contains(QStringLiteral("EchoGauge 18F2620 Version 01.13")),
                 qPrintable(logLines(m).join('|')));
        m->close();
    }

    // A screen reader meets the terminal as a window of its own, by its caption.
    void exposedAsAWindow()
    {
        TerminalRig rig(QStringLiteral("manual-window"));
        TformManual *m = rig.open();
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(m);
        QVERIFY(window);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral(" Manual Command Entry"));
        QVERIFY(window->childCount() > 0);
        m->close();
    }

    void settingsSurviveCloseAndReopen()
    {
        TerminalRig rig(QStringLiteral("manual-keep"));
        TformManual *m = rig.open();
        m->move(40, 50);
        m->resize(700, 380);
        const QStringList texts{"...PDAC", "", "...ATR23=2750^m", "A^MB^m", "...PDAs"};
        const QList<bool> checks{false, true, true, false, true};
        for (int n = 0; n < 5; ++n) {
            m->txRows[size_t(n)].edit->setText(texts[n]);
            m->txRows[size_t(n)].passthrough->setChecked(checks[n]);
        }
        const QRect placed(m->pos(), m->size());
        m->close();
        QVERIFY(!formManual);
        QVERIFY(!rig.form->menuManualEntry->isChecked());

        TformManual *again = rig.open();
        QVERIFY(again);
        QCOMPARE(QRect(again->pos(), again->size()), placed);
        for (int n = 0; n < 5; ++n) {
            QCOMPARE(again->txRows[size_t(n)].edit->text(), texts[n]);
            QCOMPARE(again->txRows[size_t(n)].passthrough->isChecked(), checks[n]);
        }
        // Stored as the names and types the settings store has always held.
        QSettings s = rig.store();
        s.beginGroup(QStringLiteral("MME"));
        QCOMPARE(s.value("Right").toInt(), placed.height());
        QCOMPARE(s.value("Width").toInt(), placed.width());
        QCOMPARE(s.value("TX_CHECK_1").toInt(), 1);
        QCOMPARE(s.value("TX_TEXT_2").toString(), texts[2]);
        again->close();
    }

    // Reading stops at the first value missing or unreadable; what came before stays.
    void settingsReadStopsAtTheFirstMissingValue_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QRect>("place"); // -1: the centred default
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<bool>>("checks");

        QVariantMap full{{"Top", 60},           {"Right", 360},        {"Left", 30},
                         {"Width", 640},        {"TX_TEXT_0", "one"},  {"TX_CHECK_0", 1},
                         {"TX_TEXT_1", "two"},  {"TX_CHECK_1", 0},     {"TX_TEXT_2", "three"},
                         {"TX_CHECK_2", 1},     {"TX_TEXT_3", "four"}, {"TX_CHECK_3", 1},
                         {"TX_TEXT_4", "five"}, {"TX_CHECK_4", 1}};
        const QList<bool> noChecks{false, false, false, false, false};
        QTest::newRow("no key at all")
            << QVariantMap() << QRect(-1, -1, 630, 340) << QStringList(5, QString()) << noChecks;
        QTest::newRow("everything") << full << QRect(30, 60, 640, 360)
                                    << QStringList{"one", "two", "three", "four", "five"}
                                    << QList<bool>{true, false, true, true, true};
        QVariantMap noLeft = full;
        noLeft.remove("Left");
        QTest::newRow("no Left: top and height only")
            << noLeft << QRect(-1, 60, 630, 360) << QStringList(5, QString()) << noChecks;
        QVariantMap badWidth = full;
        badWidth["Width"] = "wide";
        QTest::newRow("unreadable Width")
            << badWidth << QRect(30, 60, 630, 360) << QStringList(5, QString()) << noChecks;
        QVariantMap noCheck1 = full;
        noCheck1.remove("TX_CHECK_1");
        QTest::newRow("no TX_CHECK_1: row 2's text read, its box and the rest not")
            << noCheck1 << QRect(30, 60, 640, 360) << QStringList{"one", "two", "", "", ""}
            << QList<bool>{true, false, false, false, false};
        QVariantMap noText0 = full;
        noText0.remove("TX_TEXT_0");
        QTest::newRow("a missing text reads as empty and reading goes on")
            << noText0 << QRect(30, 60, 640, 360) << QStringList{"", "two", "three", "four", "five"}
            << QList<bool>{true, false, true, true, true};
    }
    void settingsReadStopsAtTheFirstMissingValue()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QRect, place);
        QFETCH(QStringList, texts);
        QFETCH(QList<bool>, checks);

        TerminalRig rig(QStringLiteral("manual-partial"));
        {
            QSettings s = rig.store();
            s.beginGroup(QStringLiteral("MME"));
            for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                s.setValue(it.key(), it.value());
        }
        TformManual *m = rig.open();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const int centredLeft = screen.width() / 2 - place.width() / 2;
        const int centredTop = screen.height() / 2 - place.height() / 2;
        QCOMPARE(m->x(), place.x() == -1 ? centredLeft : place.x());
        QCOMPARE(m->y(), place.y() == -1 ? centredTop : place.y());
        QCOMPARE(m->size(), place.size());
        for (int n = 0; n < 5; ++n) {
            QCOMPARE(m->txRows[size_t(n)].edit->text(), texts[n]);
            QCOMPARE(m->txRows[size_t(n)].passthrough->isChecked(), checks[n]);
        }
        m->close();
    }

    void placeOffEveryScreenIsNotRestored()
    {
        TerminalRig rig(QStringLiteral("manual-offscreen"));
        {
            QSettings s = rig.store();
            s.beginGroup(QStringLiteral("MME"));
            s.setValue("Top", -5000);
            s.setValue("Right", 100000);
            s.setValue("Left", 30000);
            s.setValue("Width", 640);
        }
        TformManual *m = rig.open();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(screen.contains(m->geometry().center()));
        QVERIFY(m->height() <= screen.height());
        QCOMPARE(m->width(), 640);
        m->close();
    }

    // "Always show this screen" is the engineering-mode bit that the next start reads.
    void alwaysShowGivesEngineeringModeAtTheNextStart_data()
    {
        QTest::addColumn<quint32>("optionsBefore");
        QTest::addColumn<bool>("check");
        QTest::newRow("checked") << 7u << true;
        QTest::newRow("unchecked again") << 0x17u << false;
        QTest::newRow("other bits kept") << 0x1A5u << true;
    }
    void alwaysShowGivesEngineeringModeAtTheNextStart()
    {
        QFETCH(quint32, optionsBefore);
        QFETCH(bool, check);
        const QString scope = QStringLiteral("manual-always");
        {
            TerminalRig rig(scope);
            rig.form->options = optionsBefore;
            TformManual *m = rig.open();
            QCOMPARE(m->checkAlwaysShow->isChecked(), bool(optionsBefore & 0x10));
            m->checkAlwaysShow->setChecked(check);
            // Closing the main window closes the terminal first, then stores both.
            rig.form->FormClose();
            QVERIFY(!formManual);
            QCOMPARE(rig.form->options & ~0xF0u, optionsBefore & ~0xF0u);
            QCOMPARE(bool(rig.form->options & 0x10), check);
            QSettings s = rig.store();
            QVERIFY(s.contains(QStringLiteral("MME/TX_CHECK_4")));
            QCOMPARE(bool(s.value(QStringLiteral("Options")).toInt() & 0x10), check);
        }
        VirtualClock clock;
        InProcessSerial serial{&clock};
        RecordingDialogs dialogs;
        TformMain next(testPlatform(&clock, &serial, &dialogs, scope));
        next.FormShow();
        QCOMPARE(next.menuManualEntry->isVisible(), check);
        QCOMPARE(next.windowTitle().endsWith(QLatin1String(" (Engineering Mode)")), check);
        QVERIFY(!formManual); // the window itself is not opened
    }

    // One window at most; the menu item's mark says whether it is open.
    void reopeningBringsTheOpenWindowToTheFront()
    {
        TerminalRig rig(QStringLiteral("manual-front"));
        rig.form->menuManualEntry->setVisible(true);
        rig.form->menuManualEntry->trigger();
        TformManual *m = formManual;
        QVERIFY(m);
        QVERIFY(rig.form->menuManualEntry->isChecked());
        QVERIFY(QTest::qWaitForWindowExposed(m));

        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        m->showMinimized();

        rig.form->menuManualEntry->trigger(); // a click on the checked item
        QCOMPARE(formManual, m);
        QCOMPARE(rig.form->findChildren<TformManual *>().size(), 1);
        QVERIFY(rig.form->menuManualEntry->isChecked());
        QVERIFY(!m->isMinimized());
        QVERIFY(QTest::qWaitForWindowActive(m));

        m->close();
        QVERIFY(!rig.form->menuManualEntry->isChecked());
        rig.form->menuManualEntry->trigger();
        QVERIFY(formManual && rig.form->menuManualEntry->isChecked());
        formManual->close();
    }

    // Closing the window while it listens ends the listening period; a new exchange
    // starts afterwards either way.
    void closingWhileListeningReturnsToIdle_data()
    {
        QTest::addColumn<QString>("next");
        QTest::newRow("a line from a new window") << "terminal";
        QTest::newRow("a measurement") << "measurement";
        QTest::newRow("a configuration read") << "read";
    }
    void closingWhileListeningReturnsToIdle()
    {
        QFETCH(QString, next);
        TerminalRig rig(QStringLiteral("manual-close"));
        TformManual *m = rig.open();
        m->editTx1->setText(QStringLiteral("...PDAC"));
        m->btnTx1->click();
        rig.clock.advance(700);
        QCOMPARE(rig.form->portState, qint8(psManualReply));
        m->close();
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        rig.clock.advance(3000);
        QCOMPARE(rig.form->portState, qint8(psIdle));

        if (next == QLatin1String("terminal")) {
            TformManual *again = rig.open();
            const QByteArray before = rig.wire();
            again->editTx1->setText(QStringLiteral("...PDAs"));
            again->btnTx1->click();
            QCOMPARE(rig.form->portState, qint8(psManualReply));
            rig.clock.advance(2500);
            QCOMPARE(rig.wire().mid(before.size()), QByteArray("...PDAs"));
            again->close();
        } else {
            if (next == QLatin1String("measurement"))
                rig.form->StartMeasurement(false);
            else
                rig.form->StartReadConfig();
            const qint8 first = rig.form->portState;
            QVERIFY(first == psMeasurePrepare || first == psReadConfigPrepare);
            rig.clock.advance(16);
            QCOMPARE(rig.form->portState, qint8(first + 1));
        }
    }

    void form()
    {
        TerminalRig rig(QStringLiteral("manual-form"));
        TformManual *m = rig.open();
        QVERIFY(m->memoRx->isReadOnly());
        QVERIFY(QFontInfo(m->memoRx->font()).fixedPitch());
        // The log and its buttons follow the window's edges.
        m->resize(800, 500);
        QCOMPARE(m->memoRx->geometry().right(), 800 - 8 - 1);
        QCOMPARE(m->checkAlwaysShow->geometry().right(), 800 - 8 - 1);
        QCOMPARE(m->btnClear->geometry().bottom(), 500 - 7 - 1);
        QVERIFY(m->memoRx->geometry().bottom() < m->btnClear->geometry().top());
        m->close();
    }
};

QTEST_MAIN(TestManualEntry)
#include "tst_manualentry.moc"
