// The whole job of a field engineer, in real time against echogauge-sim on a
// pseudo-terminal, wired directly and through a data logger at 19200: the window is
// shown as the program shows it (its start-up search and configuration read), the
// Options are changed, a new sensor height and lost-echo value are written, a V-notch
// channel is described and uploaded, ten readings are taken one after the other, the
// description is saved and loaded, a line goes through the engineering terminal, and
// the window is closed and shown again with its settings. Each step is checked by its
// status texts, the bytes that crossed the line and the simulator's registers.
#include "SimHarness.h"

#include "app/Mainform.h"
#include "app/Manualentry.h"
#include "app/Optionsform.h"
#include "channel/Flowtable.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>

#include <optional>

namespace {

// The user's pick in the channel-type list (a choice from code runs no handler).
void pickChannelType(TformMain &w, int type)
{
    w.cbChanType->setCurrentIndex(type);
    emit w.cbChanType->activated(type);
}

bool captionRed(const QWidget *button)
{
    return button->palette().color(QPalette::ButtonText) == QColor(255, 0, 0);
}

// A reply that comes late on a busy machine makes the window ask again, as it must:
// the same status text with " (Attempt n)" and the same request once more on the
// line. The walk counts such retries, reports them, and checks all else exactly.
QStringList withoutRetries(const QStringList &texts, int &retries)
{
    static const QRegularExpression attempt(QStringLiteral(" \\(Attempt [23]\\)"));
    QStringList out;
    for (QString t : texts) {
        if (t.contains(attempt)) {
            ++retries;
            t.remove(attempt);
        }
        if (out.isEmpty() || out.constLast() != t)
            out << t;
    }
    return out;
}

// The number of requests on the line when it holds the expected ones in order, each
// perhaps repeated at once by a retry; -1 when it holds anything else.
qsizetype requestsSent(const QByteArray &sent, const QList<QByteArray> &expected)
{
    qsizetype at = 0, count = 0;
    for (const QByteArray &r : expected) {
        if (sent.mid(at, r.size()) != r)
            return -1;
        do {
            at += r.size();
            ++count;
        } while (sent.mid(at, r.size()) == r);
    }
    return at == sent.size() ? count : -1;
}

// The status text that ends a step and the texts shown on the way (a retry's
// " (Attempt n)" left out when mayRetry); empty texts are not looked at.
struct Status
{
    QString until;
    int timeoutMs;
    QStringList texts;
    bool mayRetry = true;
};

// The requests a step puts on the line, in order and as the sensor reads them, each
// perhaps sent again at once after a late reply when mayRepeat; and the answer to
// each, when all are answered alike.
struct Wire
{
    QList<QByteArray> requests;
    bool mayRepeat = true;
    QByteArray reply;
};

// A check that fails inside a helper returns from the helper only: the walk stops too.
// clang-format off
#define WALK(call) do { call; if (QTest::currentTestFailed()) return; } while (false)
// clang-format on

// The window, the simulator's wire log and registers, and what each step of the walk
// must leave behind.
struct Walk
{
    QMap<int, int> registers() const { return readSimRegisters(registersFile); }
    // A step's bytes in each direction are counted from here.
    void mark()
    {
        const QList<WireRun> runs = readWireLog(wireLog);
        for (char direction : {'>', '<', '!'})
            marks[direction] = wireBytes(runs, direction).size();
    }
    QByteArray since(char direction) const
    {
        return wireBytes(readWireLog(wireLog), direction).mid(marks.value(direction));
    }
    // The step's end, its status texts, its requests and the registers it changed (all
    // others as they were); a wire not given is not looked at.
    void ends(const Status &status, const std::optional<Wire> &wire = std::nullopt,
              const std::optional<QMap<int, int>> &written = std::nullopt)
    {
        if (!status.until.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), status.until, status.timeoutMs);
        if (!status.texts.isEmpty()) {
            const QStringList texts = statuses->take();
            QCOMPARE(status.mayRetry ? withoutRetries(texts, retries) : texts, status.texts);
        }
        if (wire) {
            QList<QByteArray> framed;
            for (const QByteArray &r : wire->requests)
                framed << framedRequest(r, passthrough);
            const QByteArray sent = since('>');
            requests = requestsSent(sent, framed);
            QVERIFY2(wire->mayRepeat ? requests >= 0 : requests == framed.size(), sent.constData());
            if (!wire->reply.isEmpty())
                QCOMPARE(since('<'), wire->reply.repeated(requests));
        }
        if (!written)
            return;
        for (auto it = written->cbegin(); it != written->cend(); ++it)
            expected[it.key()] = it.value();
        QCOMPARE(registers(), expected);
    }
    QString wireLog, registersFile;
    bool passthrough;
    std::unique_ptr<TformMain> form;
    std::unique_ptr<StatusRecorder> statuses;
    QMap<int, int> expected = registers(); // as they came from the factory, then as each step leaves them
    QMap<char, qsizetype> marks;
    qsizetype requests = 0; // on the line in the last step, retries among them
    int retries = 0;
};

} // namespace

class TestE2eWalk : public QObject
{
    Q_OBJECT

private slots:
    void fieldEngineersJob_data()
    {
        QTest::addColumn<int>("loggerBaud");
        QTest::newRow("sensor wired directly") << 0;
        QTest::newRow("through a logger at 19200") << 19200;
    }

    void fieldEngineersJob()
    {
        QFETCH(int, loggerBaud);
        const bool passthrough = loggerBaud != 0;
        const int baud = passthrough ? loggerBaud : 9600;

        // Settings, ports and data of this run alone. The simulator is published as
        // COM1, in place of whatever the machine's first serial port is, so that it is
        // the first candidate the search opens.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("ports")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("data")));
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(dir.filePath(QStringLiteral("ports"))));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        const QString scope = QStringLiteral("e2ewalk");
        const QString dataDir = dir.filePath(QStringLiteral("data")); // no guide, no firmware update
        const QString registersFile = dir.filePath(QStringLiteral("registers.txt"));
        const QString wireFile = dir.filePath(QStringLiteral("wire.log"));

        // The sensor hangs 3.2 m above the channel bottom over 1.234 m of water; it
        // comes with a depth set-up for 2.75 m.
        QStringList args{"--mount",    "3200",    "--level",    "1234",   "--register",      "23=2750",
                         "--register", "19=4711", "--wire-log", wireFile, "--registers-out", registersFile};
        if (passthrough)
            args << "--logger" << QString::number(loggerBaud);
        Simulator sim(1, args);
        QVERIFY2(sim.waitPublished(), sim.output.constData());
        RecordingDialogs dialogs;
        Walk walk{wireFile, registersFile, passthrough, realTimeWindow(&dialogs, scope, dataDir)};
        auto &form = walk.form;
        walk.statuses = std::make_unique<StatusRecorder>(form->statusBar);
        const QString requesting = QStringLiteral(" Requesting sensor data ...");
        const QString received = QStringLiteral(" Sensor data received from EchoGauge");
        const QString probe =
            passthrough ? QStringLiteral(" Searching for EchoGauge - COM1 - Passthrough mode, 19200,  ...")
                        : QStringLiteral(" Searching for EchoGauge - COM1 ...");

        // ------------------------------------------------ start-up search and configuration read
        form->show();
        // The identification probe and the dump request, once each at the speed that
        // answered; with a logger the bare probes at 9600 went unheard.
        WALK(walk.ends({received, 60000}, Wire{{"...PDAC", "...PDAh"}}, QMap<int, int>()));
        const QStringList texts = walk.statuses->take();
        QVERIFY2(texts.size() >= 4, qPrintable(texts.join('|')));
        QCOMPARE(texts.first(), QStringLiteral(" Searching for EchoGauge - COM1"));
        QCOMPARE(texts.mid(texts.size() - 3), (QStringList{probe, requesting, received}));
        // Before the logger answers at 19200, COM1 and the machine's own ports are
        // tried as the search orders them; nothing else is said.
        for (const QString &t : texts.mid(0, texts.size() - 3))
            QVERIFY2(t.startsWith(QLatin1String(" Searching for EchoGauge - COM")), qPrintable(t));
        QCOMPARE(std::tuple(form->portState, form->sensorPort, form->sensorBaud, form->sensorPassthrough),
                 std::tuple(qint8(psIdle), qint16(1), baud, passthrough));
        QCOMPARE(std::tuple(form->textSerial->text(), form->textSerial->isVisible(),
                            form->textSensorHeight->text()),
                 std::tuple(QStringLiteral("S/N 04711, V1.13"), true, QStringLiteral("2.750m")));
        QCOMPARE(std::tuple(form->cbChanType->currentIndex(), form->cbLostEcho->currentIndex(),
                            captionRed(form->btnSetHeight), form->btnMeasure->isEnabled()),
                 std::tuple(int(ctMeasureDepth), 0, false, true));
        QVERIFY(walk.since('<').startsWith("EchoGauge 18F2620 Version 01.13\r\n"));
        QVERIFY(walk.since('<').contains("Temperature    : "));
        QCOMPARE(walk.since('!'), passthrough ? QByteArray("...PDAC").repeated(3) : QByteArray());

        // ------------------------------------------------ Options: faster characters, more headroom
        walk.mark();
        dialogs.onDialog = [](QDialog *d) {
            auto *options = qobject_cast<TformOptions *>(d);
            if (!options)
                return int(QDialog::Rejected);
            options->setDelay(10);
            options->setHeadroom(25);
            return int(QDialog::Accepted);
        };
        form->menuOptions->trigger();
        QCOMPARE(dialogs.dialogsRun, QStringList{QStringLiteral(" Options")});
        QCOMPARE(std::tuple(form->timerSlowTx->interval(), form->maxHeightPercent), std::tuple(10, 25));

        // ------------------------------------------------ a new height and a fixed lost-echo value
        form->trackSensorHeight->setValue(form->trackSensorHeight->maximum() - 3200);
        form->cbLostEcho->setCurrentIndex(1);
        form->editLostEchoValue->setText(QStringLiteral("2500"));
        QVERIFY(captionRed(form->btnSetHeight));
        QCOMPARE(form->btnSetHeight->text(), QStringLiteral("&Set Sensor Height (3.200m)"));
        form->btnSetHeight->click();
        // Window High is the height and the 25 % headroom set in Options.
        const QString written = QStringLiteral(" Sensor data successfully written");
        WALK(walk.ends(
            {written, 30000, {QStringLiteral(" Writing sensor data ..."), written}},
            Wire{{"...ATR1=4000\r", "...ATR23=3200\r", "...ATR24=2500\r", "...ATR128=1\r"}, true, "OK\r"},
            QMap<int, int>{{1, 4000}, {23, 3200}, {24, 2500}, {128, 1}}));
        QVERIFY(!captionRed(form->btnSetHeight));
        QVERIFY(dialogs.messages.isEmpty());

        // ------------------------------------------------ a V-notch weir of 60 degrees, uploaded
        form->pageControl->setCurrentWidget(form->tabChannel);
        pickChannelType(*form, ctVNotchWeir);
        QTRY_COMPARE(form->tbNotchData->maximum(), 150); // laid out for the angle when painted
        form->tbNotchData->setValue(60);
        QCOMPARE(std::tuple(form->notchAngle, captionRed(form->btnSendChannelData)), std::tuple(60, true));
        walk.mark();
        form->btnSendChannelData->click();
        // Every register once, in the upload's order (the table's words, then the
        // settings), each acknowledged.
        const ChannelDimensions vnotch{60, 1000, 1000, 500};
        const FlowTable table = BuildFlowTable(ctVNotchWeir, vnotch);
        QMap<int, int> upload{{1, 4000},   {23, 3200 | 0x8000}, // the sensor now reports flow
                              {24, 2500},  {128, ctVNotchWeir}, {129, 60},
                              {130, 1000}, {131, 1000},         {132, table.exponent}};
        QList<QByteArray> writes;
        for (int k = 0; k < 64; ++k)
            upload[64 + k] = table.words[size_t(k)];
        for (int r : upload.keys())
            writes.insert(r >= 64 && r < 128 ? r - 64 : writes.size(),
                          "...ATR" + QByteArray::number(r) + "=" + QByteArray::number(upload[r]) + "\r");
        QStringList uploadTexts;
        for (int step = 0; step < uploadSteps; ++step)
            uploadTexts << QStringLiteral(" Writing channel data %1 of 71 ...").arg(step);
        uploadTexts << QStringLiteral(" Channel data successfully written");
        WALK(walk.ends({uploadTexts.constLast(), 240000, uploadTexts}, Wire{writes, false, "OK\r"}, upload));
        QCOMPARE(std::tuple(captionRed(form->btnSendChannelData), form->flowExponent),
                 std::tuple(false, table.exponent));
        QTRY_COMPARE(form->textTarvelCal->text(), QStringLiteral("1.0 (l/s)")); // a count of the exponent 2
        QCOMPARE(table.exponent, 2);

        // ------------------------------------------------ ten readings, one after the other
        form->pageControl->setCurrentWidget(form->tabSensor);
        QCOMPARE(form->historyEntries->size(), 0); // the upload cleared the graph
        walk.mark();
        form->cb_Continuous->setChecked(true);
        form->btnMeasure->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->historyEntries->size() >= 10, 60000);
        form->cb_Continuous->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(form->portState, qint8(psIdle), 10000);
        const qsizetype readings = form->historyEntries->size();
        // The sensor looks the head up in the table it was given; the window turns the
        // count back into a flow with the exponent it chose. Both must agree with the
        // weir's equation at the real head of 1.234 m to within the table's spacing.
        const QString shown = form->textResultHeight->text();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^(\\d+\\.\\d{3}) m\u00B3/s$")).match(shown);
        QVERIFY2(m.hasMatch(), qPrintable(shown));
        const double trueFlow = FlowForHead(ctVNotchWeir, vnotch, 1234);
        QVERIFY2(qAbs(m.captured(1).toDouble() - trueFlow) < trueFlow * 0.01,
                 qPrintable(QStringLiteral("%1 against %2").arg(shown).arg(trueFlow)));
        QCOMPARE(std::tuple(form->timerSonar->isActive(), form->labelLast->text(),
                            form->textResultSamples->text(), form->textResultGain->text()),
                 std::tuple(false, QStringLiteral("Flow = "), QStringLiteral("5 / 5"), QStringLiteral("3")));
        const qint32 count = form->historyEntries->at(0).value;
        QVERIFY(count > 0);
        QStringList readingTexts;
        for (qsizetype i = 0; i < readings; ++i) {
            QCOMPARE(form->historyEntries->at(i).value, count);
            QCOMPARE(form->historyEntries->at(i).validSamples, qint8(5));
            readingTexts << QStringLiteral(" Requesting measurement ...")
                         << QStringLiteral(" Flow = ") + shown;
        }
        // Every request answered by the same reading; a retried one was answered twice.
        const QByteArray reading = QByteArray::number(count).rightJustified(5, '0') + ",1,5,5,3,\r\n";
        WALK(walk.ends({QString(), 0, readingTexts}, Wire{{"...PDAs"}, true, reading}));
        QVERIFY(walk.requests >= readings);
        form->cbFlow->setChecked(true); // flow bars beside the heads, kept in the options

        // ------------------------------------------------ the description saved, changed and loaded
        walk.mark();
        const QString cdf = dir.filePath(QStringLiteral("weir.cdf"));
        dialogs.saveAnswers << cdf;
        form->menuSaveChannel->trigger();
        QFile saved(cdf);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("[Channels]\r\nChannel Type=4\r\nNotch Angle=60\r\nCrest "
                                             "Height=1000\r\nChannel Width=1000\r\nNotch Width=500\r\n"));
        QVERIFY(!captionRed(form->btnSendChannelData)); // saving changes nothing
        form->pageControl->setCurrentWidget(form->tabChannel);
        pickChannelType(*form, ctRectangularWeir);
        form->editChanWidth->setText(QStringLiteral("2.500"));
        QCOMPARE(form->channelWidth, 2500);
        dialogs.openAnswers << cdf;
        form->menuLoadChannel->trigger();
        QCOMPARE(std::tuple(form->cbChanType->currentIndex(), form->notchAngle, form->channelWidth,
                            form->editChanWidth->text(), form->crestHeight, form->notchWidth),
                 std::tuple(int(ctVNotchWeir), 60, 1000, QStringLiteral("1.000"), 1000, 500));
        QTRY_COMPARE(form->tbNotchData->value(), 60);
        QVERIFY(captionRed(form->btnSendChannelData)); // the sensor is not told by a file
        QVERIFY(dialogs.messages.isEmpty());
        WALK(walk.ends({}, Wire{})); // nothing on the line; the terminal's requests count from the same mark

        // ------------------------------------------------ the engineering terminal
        form->pageControl->setCurrentWidget(form->tabSensor);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(form->pbSensor, &enter);
        QWidget *keys = QApplication::focusWidget() ? QApplication::focusWidget() : form.get();
        QTest::keyClicks(keys, QStringLiteral("qxv47215"));
        QVERIFY(form->windowTitle().endsWith(QLatin1String(" (Engineering Mode)")));
        QVERIFY(form->menuManualEntry->isVisible());
        form->menuManualEntry->trigger();
        TformManual *terminal = formManual;
        QVERIFY(terminal);
        terminal->checkAlwaysShow->setChecked(true);
        terminal->checkPassthrough1->setChecked(passthrough);
        terminal->editTx1->setText(QStringLiteral("...PDAC"));
        terminal->checkPassthrough2->setChecked(passthrough);
        terminal->editTx2->setText(QStringLiteral("...ATR25=45^m"));
        terminal->btnTx1->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->portState, qint8(psIdle), 10000);
        terminal->btnTx2->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->portState, qint8(psIdle), 10000);
        QCOMPARE(terminal->memoRx->toPlainText().split(QLatin1Char('\n')),
                 (QStringList{"EchoGauge 18F2620 Version 01.13", "OK"}));
        WALK(walk.ends({}, Wire{{"...PDAC", "...ATR25=45\r"}, false}, QMap<int, int>{{25, 45}}));
        QCOMPARE(walk.since('<'), QByteArray("EchoGauge 18F2620 Version 01.13\r\nOK\r"));
        QCOMPARE(form->statusText(), QStringLiteral(" Flow = ") + shown); // the terminal says nothing there

        // ------------------------------------------------ closed, and shown again with its settings
        form->resize(600, 560);
        const QPoint at = form->pos();
        QVERIFY(form->cbHead->isChecked());
        form->close(); // closes the terminal too
        QVERIFY(!formManual);
        walk.statuses.reset();
        form.reset();
        QSettings stored(dir.filePath(QStringLiteral("EchoGaugeTest-%1/EchoGauge Setup.conf").arg(scope)),
                         QSettings::IniFormat);
        QList<int> values;
        for (const char *key :
             {"Port", "Baud", "Passthrough", "Tx Delay", "Max Height Percent", "Options", "Width", "Right",
              "Channel Type", "Notch Angle", "Sensor Height", "MME/TX_CHECK_1"})
            values << stored.value(key).toInt();
        QCOMPARE(values, (QList<int>{1, baud, int(passthrough), 10, 25, 7 | 0x10 | 0x40 | 0x80, 600, 560,
                                     int(ctVNotchWeir), 60, 10000 - 3200, int(passthrough)}));
        QCOMPARE(stored.value("MME/TX_TEXT_1").toString(), QStringLiteral("...ATR25=45^m"));

        walk.mark();
        form = realTimeWindow(&dialogs, scope, dataDir);
        walk.statuses = std::make_unique<StatusRecorder>(form->statusBar);
        form->show();
        // The stored connection is tried first and answers at once.
        const QString search = QStringLiteral(" Searching for EchoGauge - COM1");
        WALK(walk.ends({received,
                        60000,
                        {passthrough ? search + " - Passthrough mode" : search, probe, requesting, received},
                        false},
                       Wire{{"...PDAC", "...PDAh"}}));
        QVERIFY(walk.since('!').isEmpty());
        QCOMPARE(std::tuple(form->timerSlowTx->interval(), form->maxHeightPercent, form->options),
                 std::tuple(10, 25, quint32(7 | 0x10 | 0x40 | 0x80)));
        QVERIFY(form->windowTitle().endsWith(QLatin1String(" (Engineering Mode)")));
        QVERIFY(form->menuManualEntry->isVisible());
        QCOMPARE(std::tuple(form->size(), form->pos()), std::tuple(QSize(600, 560), at));
        // What the sensor holds comes back with the configuration read.
        QCOMPARE(std::tuple(form->textSensorHeight->text(), form->cbChanType->currentIndex(),
                            form->notchAngle, form->flowExponent),
                 std::tuple(QStringLiteral("3.200m"), int(ctVNotchWeir), 60, table.exponent));
        QCOMPARE(std::tuple(form->cbLostEcho->currentIndex(), form->editLostEchoValue->text(),
                            captionRed(form->btnSetHeight)),
                 std::tuple(1, QStringLiteral("2500"), false));
        form->close();
        form.reset();

        sim.stop();
        const QMap<int, int> atEnd = walk.registers();
        QString listing;
        for (auto it = atEnd.cbegin(); it != atEnd.cend(); ++it)
            listing += QStringLiteral(" R%1=%2").arg(it.key()).arg(it.value());
        qInfo("simulator's registers at the end:%s", qPrintable(listing));
        qInfo("requests sent again after a late reply: %d", walk.retries);
        for (int r : {1, 23, 24, 25, 128, 129, 132})
            QCOMPARE(atEnd.value(r), walk.expected.value(r));
    }
};

QTEST_MAIN(TestE2eWalk)
#include "tst_e2e_walk.moc"
