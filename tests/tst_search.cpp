#include "ExchangeRig.h"

#include "exchange/Autodetect.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {
_TAutoDetectArrayEntry connection(int port, qint32 baud, bool passthrough)
{
    return {qint16(port), QStringLiteral("COM%1").arg(port), baud, passthrough};
}

QString describe(const _TAutoDetectArrayEntry &c)
{
    return QStringLiteral("%1/%2/%3")
        .arg(c.portName)
        .arg(c.baud)
        .arg(c.passthrough ? QStringLiteral("pt") : QStringLiteral("direct"));
}

PortList portsOf(const QList<int> &numbers)
{
    PortList list;
    for (int n : numbers)
        list.append({QStringLiteral("COM%1").arg(n), n});
    return list;
}

const QString searching = QStringLiteral(" Searching for EchoGauge - ");

// Records, with each message, the search's state at the moment it was shown.
class MomentDialogs : public RecordingDialogs
{
public:
    explicit MomentDialogs(TformMain *form) : form(form) {}
    void message(QWidget *parent, const QString &text, Icon icon, const QString &title) override
    {
        RecordingDialogs::message(parent, text, icon, title);
        moments.append({form->portState, form->statusText(), form->timerPortService->isActive()});
    }
    struct Moment
    {
        qint8 state;
        QString status;
        bool timerOn;
    };
    TformMain *form;
    QList<Moment> moments;
};
} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void candidateList_data()
    {
        QTest::addColumn<QList<int>>("ports");
        QTest::addColumn<quint32>("options");
        QTest::addColumn<int>("lastPort");
        QTest::addColumn<int>("lastBaud");
        QTest::addColumn<bool>("lastPassthrough");
        QTest::addColumn<QStringList>("expected");

        const QList<int> two{1, 3};
        const QStringList enumeration{"COM1/9600/direct", "COM3/9600/direct", "COM1/9600/pt",
                                      "COM3/9600/pt",     "COM1/19200/pt",    "COM3/19200/pt"};
        const QStringList com3At9600First{"COM3/9600/direct", "COM3/9600/pt",  "COM1/9600/direct",
                                          "COM1/9600/pt",     "COM1/19200/pt", "COM3/19200/pt"};

        QTest::newRow("default options, no earlier sensor") << two << 7u << -1 << 0 << false << enumeration;
        QTest::newRow("last COM3 9600 passthrough") << two << 7u << 3 << 9600 << true << com3At9600First;
        QTest::newRow("last COM3 9600 direct") << two << 7u << 3 << 9600 << false << com3At9600First;
        QTest::newRow("last COM3 19200 direct moves nothing")
            << two << 7u << 3 << 19200 << false << enumeration;
        QTest::newRow("last COM3 19200 passthrough")
            << two << 7u << 3 << 19200 << true
            << QStringList{"COM3/19200/pt", "COM1/9600/direct", "COM3/9600/direct",
                           "COM1/9600/pt",  "COM3/9600/pt",     "COM1/19200/pt"};
        QTest::newRow("last port no longer present") << two << 7u << 5 << 9600 << false << enumeration;
        QTest::newRow("all four speeds, last at 115200")
            << QList<int>{2} << 15u << 2 << 115200 << true
            << QStringList{"COM2/115200/pt", "COM2/9600/direct", "COM2/9600/pt", "COM2/19200/pt"};
        QTest::newRow("only 9600 passthrough, single entry goes to the front")
            << QList<int>{4} << 2u << 4 << 9600 << true << QStringList{"COM4/9600/pt"};
        QTest::newRow("only 9600 passthrough, moves to the second place")
            << QList<int>{1, 4} << 2u << 4 << 9600 << true << QStringList{"COM1/9600/pt", "COM4/9600/pt"};
        QTest::newRow("no search bits") << two << 0xF0u << 3 << 9600 << false << QStringList{};
        QTest::newRow("higher bits do not add candidates")
            << QList<int>{3} << 0x17u << -1 << 0 << false
            << QStringList{"COM3/9600/direct", "COM3/9600/pt", "COM3/19200/pt"};
        QTest::newRow("no ports") << QList<int>{} << 15u << 3 << 9600 << false << QStringList{};
    }

    void candidateList()
    {
        QFETCH(QList<int>, ports);
        QFETCH(quint32, options);
        QFETCH(int, lastPort);
        QFETCH(int, lastBaud);
        QFETCH(bool, lastPassthrough);
        QFETCH(QStringList, expected);

        QStringList got;
        for (const auto &c :
             SearchCandidates(portsOf(ports), options, connection(lastPort, lastBaud, lastPassthrough)))
            got << describe(c);
        QCOMPARE(got, expected);
    }

    void statusTextsOfEachStep_data()
    {
        QTest::addColumn<quint32>("options");
        QTest::addColumn<QStringList>("expected");

        const QString direct = searching + "COM3";
        const QString pt = searching + "COM3 - Passthrough mode";
        const QString ptProbe = searching + "COM3 - Passthrough mode, 19200, ";
        QTest::newRow("direct") << 1u
                                << QStringList{direct, direct + " ...", direct + " (Attempt 2) ...",
                                               direct + " (Attempt 3) ...", " EchoGauge not found!"};
        QTest::newRow("passthrough, two blanks before the attempt")
            << 4u
            << QStringList{pt, ptProbe + " ...", ptProbe + " (Attempt 2) ...", ptProbe + " (Attempt 3) ...",
                           " EchoGauge not found!"};
    }

    void statusTextsOfEachStep()
    {
        QFETCH(quint32, options);
        QFETCH(QStringList, expected);

        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addSilentPort(3);
        rig.form->options = options;
        rig.form->menuSearchClick();
        rig.clock.advance(8000);
        QCOMPARE(rig.statusSteps(), expected);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(!rig.form->commPort.isOpen());
        // After a fruitless search only the search itself is usable.
        QVERIFY(!rig.form->menuMeasure->isEnabled());
        QVERIFY(!rig.form->btnSetHeight->isEnabled());
        QVERIFY(rig.form->menuSearch->isEnabled());
    }

    void firstProbeFollowsTheOpenBy850ms()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addSilentPort(3);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(2000);

        QVERIFY(!rig.serial.opens.isEmpty());
        const qint64 opened = rig.serial.opens.first().timeMs;
        QCOMPARE(opened, qint64(16)); // the first tick opens the first candidate
        QCOMPARE(rig.firstMessageTime(searching + "COM3 ..."), opened + 850);
        // The probe leaves after the quiet-line pass and one character delay.
        const QList<qint64> times = rig.serial.writeTimes(3);
        QVERIFY(!times.isEmpty());
        QCOMPARE(times.first(), opened + 850 + 100 + 20);
        QCOMPARE(rig.serial.written(3).left(7), QByteArray("...PDAC"));
    }

    // A port that stays silent at 9600 holds nothing at 9600 in either mode; a port
    // that sends anything at all may still have a logger, so it keeps its twin.
    void silentCandidateDropsItsTwin_data()
    {
        QTest::addColumn<bool>("garbled");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QByteArray>("probes");

        const QByteArray direct = "...PDAC";
        const QByteArray framed = "...EGCNFG(PDAC)";
        QTest::newRow("silent") << false << QStringList{"COM3/9600/direct", "COM3/19200/pt"}
                                << direct + direct + direct + framed + framed + framed;
        QTest::newRow("answers, but garbled")
            << true << QStringList{"COM3/9600/direct", "COM3/9600/pt", "COM3/19200/pt"}
            << direct + direct + direct + framed + framed + framed + framed + framed + framed;
    }

    void silentCandidateDropsItsTwin()
    {
        QFETCH(bool, garbled);
        QFETCH(QStringList, remaining);
        QFETCH(QByteArray, probes);

        ExchangeRig rig(QStringLiteral("search"));
        if (garbled) {
            SimOptions o;
            o.faults.garbled = true;
            rig.serial.addSensor(3, o);
        } else {
            rig.serial.addSilentPort(3);
        }
        rig.form->menuSearchClick();
        rig.clock.advance(20000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" EchoGauge not found!"));
        QCOMPARE(rig.candidates(), remaining);
        QCOMPARE(rig.serial.written(3), probes);
    }

    void portThatDoesNotOpenIsSkippedEntirely()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addBrokenPort(1);
        rig.serial.addSilentPort(3);
        rig.form->menuSearchClick();
        rig.clock.advance(17);

        // The next port is opened in the same tick, each name shown as it is tried.
        QCOMPARE(rig.openedPorts(), QList<int>{3});
        QCOMPARE(rig.serial.opens.first().timeMs, qint64(16));
        QCOMPARE(rig.statusSteps(), (QStringList{searching + "COM1", searching + "COM3"}));
        QCOMPARE(rig.candidates(),
                 (QStringList{"COM1/9600/direct", "COM3/9600/direct", "COM3/9600/pt", "COM3/19200/pt"}));

        rig.clock.advance(20000);
        QCOMPARE(rig.openedPorts(), (QList<int>{3, 3}));
        QVERIFY(!rig.statusSteps().contains(searching + "COM1 - Passthrough mode"));
    }

    void noPortOpensEndsAtOnce()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addBrokenPort(1);
        rig.serial.addBrokenPort(2);
        rig.form->menuSearchClick();
        rig.clock.advance(16);
        QCOMPARE(rig.statusSteps(),
                 (QStringList{searching + "COM1", searching + "COM2", " EchoGauge not found!"}));
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
    }

    void emptyCandidateListIsNotFound()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.form->menuSearchClick();
        rig.clock.advance(16);
        QCOMPARE(rig.statusSteps(), QStringList{" EchoGauge not found!"});
        QCOMPARE(rig.form->portState, qint8(psIdle));
    }

    void identificationReply_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("splitPauseMs");
        QTest::addColumn<int>("dropReplies");
        QTest::addColumn<int>("probes");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("usable");

        QTest::newRow("whole reply") << "01.13" << 0 << 0 << 1 << true << true;
        // Found, but the firmware check cannot read a version from it and refuses it.
        QTest::newRow("any version characters") << "xy.zw" << 0 << 0 << 1 << true << false;
        QTest::newRow("in two pieces, complete within the wait") << "01.13" << 200 << 0 << 1 << true << true;
        QTest::newRow("rest arrives only after the wait") << "01.13" << 700 << 0 << 3 << false << false;
        QTest::newRow("first reply lost") << "01.13" << 0 << 1 << 2 << true << true;
        QTest::newRow("two replies lost") << "01.13" << 0 << 2 << 3 << true << true;
        QTest::newRow("three replies lost") << "01.13" << 0 << 3 << 3 << false << false;
    }

    void identificationReply()
    {
        QFETCH(QString, firmware);
        QFETCH(int, splitPauseMs);
        QFETCH(int, dropReplies);
        QFETCH(int, probes);
        QFETCH(bool, found);
        QFETCH(bool, usable);

        ExchangeRig rig(QStringLiteral("search"));
        SimOptions o;
        o.firmware = firmware;
        o.faults.splitPauseMs = splitPauseMs;
        o.faults.dropReplies = dropReplies;
        rig.serial.addSensor(3, o);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(6000);

        QCOMPARE(rig.serial.written(3).count("PDAC"), probes);
        if (found) {
            QCOMPARE(rig.form->sensorPort, qint16(3));
            QCOMPARE(rig.form->sensorPortName, QStringLiteral("COM3"));
            QCOMPARE(rig.form->sensorBaud, 9600);
            QCOMPARE(rig.form->sensorPassthrough, false);
            QCOMPARE(rig.form->commPort.isOpen(), usable);
        } else {
            QCOMPARE(rig.form->statusText(), QStringLiteral(" EchoGauge not found!"));
            QCOMPARE(rig.form->sensorPort, qint16(-1));
        }
    }

    // A found sensor's configuration is read at once: the connection is kept, the
    // controls usable, the scheduler idle, the port open.
    void foundSensorIsHandedOver_data()
    {
        QTest::addColumn<int>("loggerBaud");
        QTest::addColumn<quint32>("options");
        QTest::addColumn<bool>("passthrough");
        QTest::addColumn<QString>("status");

        const QString read = QStringLiteral(" Sensor data received from EchoGauge");
        QTest::newRow("direct") << 0 << 7u << false << read;
        // The logger refuses the bare probe at 9600; having answered, the port keeps
        // its 9600 passthrough twin, which finds the sensor.
        QTest::newRow("through a logger at 9600") << 9600 << 7u << true << read;
        QTest::newRow("through a logger at 19200") << 19200 << 7u << true << read;
        QTest::newRow("through a logger at 115200") << 115200 << 15u << true << read;
    }

    void foundSensorIsHandedOver()
    {
        QFETCH(int, loggerBaud);
        QFETCH(quint32, options);
        QFETCH(bool, passthrough);
        QFETCH(QString, status);

        ExchangeRig rig(QStringLiteral("search"));
        SimOptions o;
        o.loggerBaud = loggerBaud;
        rig.serial.addSensor(3, o);
        rig.form->options = options;
        rig.form->menuSearchClick();
        rig.clock.advance(20000);

        QCOMPARE(rig.form->sensorBaud, loggerBaud ? loggerBaud : 9600);
        QCOMPARE(rig.form->sensorPassthrough, passthrough);
        QCOMPARE(rig.form->statusText(), status);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(rig.form->menuMeasure->isEnabled());
        QVERIFY(rig.form->btnSetHeight->isEnabled());
        QVERIFY(rig.form->commPort.isOpen());
    }

    // The default options hold the 9600 logger candidates, so a logger at 9600 is
    // found both on a first search and as the connection stored from the last run.
    void loggerAt9600WithTheDefaultOptions_data()
    {
        QTest::addColumn<int>("lastPort");
        QTest::addColumn<bool>("lastPassthrough");
        QTest::addColumn<QList<int>>("opened");
        QTest::addColumn<QStringList>("candidates");

        QTest::newRow("fresh search") << -1 << false << QList<int>{1, 3, 3}
                                      << QStringList{"COM1/9600/direct", "COM3/9600/direct", "COM3/9600/pt",
                                                     "COM1/19200/pt", "COM3/19200/pt"};
        QTest::newRow("stored last connection")
            << 3 << true << QList<int>{3, 3}
            << QStringList{"COM3/9600/direct", "COM3/9600/pt",  "COM1/9600/direct",
                           "COM1/9600/pt",     "COM1/19200/pt", "COM3/19200/pt"};
    }
    void loggerAt9600WithTheDefaultOptions()
    {
        QFETCH(int, lastPort);
        QFETCH(bool, lastPassthrough);
        QFETCH(QList<int>, opened);
        QFETCH(QStringList, candidates);

        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addSilentPort(1);
        SimOptions o;
        o.loggerBaud = 9600;
        SimSensor *sensor = rig.serial.addSensor(3, o);
        QCOMPARE(rig.form->options, 7u);
        rig.form->sensorPort = qint16(lastPort);
        rig.form->sensorBaud = lastPort == -1 ? 0 : 9600;
        rig.form->sensorPassthrough = lastPassthrough;
        rig.form->menuSearchClick();
        rig.clock.advance(20000);

        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
        QCOMPARE(rig.form->sensorPort, qint16(3));
        QCOMPARE(rig.form->sensorBaud, 9600);
        QVERIFY(rig.form->sensorPassthrough);
        QCOMPARE(rig.openedPorts(), opened);
        QCOMPARE(rig.candidates(), candidates);
        // Three bare probes answered by the logger itself, then one frame relayed, and
        // the configuration read through the logger.
        QCOMPARE(rig.serial.written(3), QByteArray("...PDAC...PDAC...PDAC...EGCNFG(PDAC)...EGCNFG(PDAh)"));
        QCOMPARE(sensor->requests, (QList<QByteArray>{"PDAC", "PDAh"}));
        QCOMPARE(rig.form->sensorPort, qint16(3));
        QCOMPARE(rig.form->sensorBaud, 9600);
        QVERIFY(rig.form->sensorPassthrough);
    }

    void lastConnectionIsTriedFirst()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addSilentPort(1);
        rig.serial.addSensor(3);
        rig.form->sensorPort = 3;
        rig.form->sensorBaud = 9600;
        rig.form->menuSearchClick();
        rig.clock.advance(8000);
        QCOMPARE(rig.openedPorts(), QList<int>{3});
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
    }

    // "Search for EchoGauge" takes over whatever runs, here a search in the middle of
    // sending its probe: the port is closed, the rest of the probe dropped, the list
    // rebuilt and the new search opens its first candidate 16 ms later.
    void searchTakesOverARunningExchange()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addSilentPort(3);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(16 + 850 + 100 + 50); // two characters of the probe are out
        QVERIFY(rig.form->timerSlowTx->isActive());
        QCOMPARE(rig.serial.written(3), QByteArray(".."));

        const qint64 restart = rig.clock.nowMs();
        rig.form->menuSearchClick();
        QCOMPARE(rig.serial.closes.size(), 1);
        QVERIFY(!rig.form->commPort.isOpen());
        QVERIFY(!rig.form->timerSlowTx->isActive());
        QVERIFY(rig.form->txPending.isEmpty());
        QCOMPARE(rig.form->portState, qint8(psSearch));
        QCOMPARE(rig.candidates(), QStringList{"COM3/9600/direct"});

        rig.clock.advance(16);
        QCOMPARE(rig.serial.opens.size(), 2);
        QCOMPARE(rig.serial.opens.last().timeMs, restart + 16);
        rig.clock.advance(2000);
        QVERIFY(rig.serial.written(3).startsWith(".....PDAC"));
    }

    // Ports the user may not open or another program holds look like missing ports
    // to the search; once it has found nothing, one message names them.
    void refusedPortsAreNamedOnceTheSearchHasFailed_data()
    {
        QTest::addColumn<bool>("sensorOnCom5");
        QTest::addColumn<bool>("refusals");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("no sensor") << false << true
                                   << QStringList{"COM2 (/sim/COM2): no permission\n", // no group to name
                                                  "COM3 (/sim/COM3): in use by another program",
                                                  "Ask your system administrator for access to /sim/COM2."};
        QTest::newRow("sensor found on another port") << true << true << QStringList{};
        QTest::newRow("only ports that are broken or missing") << false << false << QStringList{};
    }
    void refusedPortsAreNamedOnceTheSearchHasFailed()
    {
        QFETCH(bool, sensorOnCom5);
        QFETCH(bool, refusals);
        QFETCH(QStringList, named);

        ExchangeRig rig(QStringLiteral("search"));
        MomentDialogs dialogs(rig.form.get());
        rig.form->platform.dialogs = &dialogs;
        if (refusals) {
            rig.serial.addBrokenPort(2, EACCES);
            rig.serial.addSilentPort(3);
            QVERIFY(rig.serial.open(InProcessSerial::devicePath(3)) != INVALID_PORT_HANDLE); // held
            rig.serial.opens.clear();
        }
        rig.serial.addBrokenPort(4);
        if (sensorOnCom5)
            rig.serial.addSensor(5);
        else
            rig.serial.addSilentPort(5);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(20000);

        // The search's own texts and order are untouched.
        QStringList expected;
        if (refusals)
            expected << searching + "COM2" << searching + "COM3";
        expected << searching + "COM4" << searching + "COM5" << searching + "COM5 ...";
        QCOMPARE(rig.statusSteps().mid(0, expected.size()), expected);
        QCOMPARE(rig.openedPorts(), QList<int>{5});

        if (named.isEmpty()) {
            QVERIFY2(dialogs.messages.isEmpty(), qPrintable(dialogs.messages.value(0).text));
            QCOMPARE(rig.form->sensorFound, sensorOnCom5);
            return;
        }
        QCOMPARE(rig.statusSteps().constLast(), QStringLiteral(" EchoGauge not found!"));
        QCOMPARE(dialogs.messages.size(), 1);
        for (const QString &text : named)
            QVERIFY2(dialogs.messages.first().text.contains(text), qPrintable(dialogs.messages.first().text));
        QVERIFY(!dialogs.messages.first().text.contains(QLatin1String("COM4")));
        QVERIFY(!dialogs.messages.first().text.contains(QLatin1String("COM5")));
        QCOMPARE(dialogs.messages.first().icon, Dialogs::Icon::Warning);
        // Shown once the search has ended, not while it runs.
        QCOMPARE(dialogs.moments.first().state, qint8(psIdle));
        QCOMPARE(dialogs.moments.first().status, QStringLiteral(" EchoGauge not found!"));
        QVERIFY(!dialogs.moments.first().timerOn);
    }

    // What one search could not open is not told again after the next one.
    void refusalsAreForgottenByTheNextSearch()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addBrokenPort(2, EACCES);
        rig.form->options = searchDirect9600;
        rig.form->menuSearchClick();
        rig.clock.advance(100);
        QCOMPARE(rig.dialogs.messages.size(), 1);

        rig.serial.addSilentPort(2); // the user has been given the device
        rig.form->menuSearchClick();
        rig.clock.advance(5000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" EchoGauge not found!"));
        QCOMPARE(rig.dialogs.messages.size(), 1);
    }

    void searchAbandonsAMeasurement()
    {
        ExchangeRig rig(QStringLiteral("search"));
        rig.serial.addSensor(3);
        rig.form->menuSearchClick();
        rig.clock.advance(8000);
        QCOMPARE(rig.form->portState, qint8(psIdle));

        rig.form->StartMeasurement(false);
        rig.clock.advance(20); // preparation done, the measurement's first tick is due
        QCOMPARE(rig.form->portState, qint8(psMeasure));
        rig.messages.clear();
        rig.form->menuSearchClick();
        QVERIFY(!rig.form->menuMeasure->isEnabled());
        rig.clock.advance(8000);
        for (const auto &m : rig.messages)
            QVERIFY2(!m.second.contains(QLatin1String("easurement")), qPrintable(m.second));
        QVERIFY(!rig.serial.written(3).contains("PDAs"));
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
        QCOMPARE(rig.serial.opens.size(), 2);
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
