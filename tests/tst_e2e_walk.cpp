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
#include "app/Platform.h"
#include "channel/Flowtable.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

// The log's bytes in each direction, counted from a mark set before a step.
class WireWatch
{
public:
    explicit WireWatch(QString path) : path(std::move(path)) {}
    void mark()
    {
        const QList<WireRun> runs = readWireLog(path);
        sentMark = wireBytes(runs, '>').size();
        receivedMark = wireBytes(runs, '<').size();
        refusedMark = wireBytes(runs, '!').size();
    }
    QByteArray sent() const { return wireBytes(readWireLog(path), '>').mid(sentMark); }
    QByteArray received() const { return wireBytes(readWireLog(path), '<').mid(receivedMark); }
    QByteArray refused() const { return wireBytes(readWireLog(path), '!').mid(refusedMark); }

private:
    QString path;
    qsizetype sentMark = 0, receivedMark = 0, refusedMark = 0;
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
        auto frame = [passthrough](const QByteArray &request) { return framedRequest(request, passthrough); };

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
        const QString settingsFile = dir.filePath(QStringLiteral("Brookmere/EchoGauge Setup.conf"));
        const QString registersFile = dir.filePath(QStringLiteral("registers.txt"));
        const QString wireFile = dir.filePath(QStringLiteral("wire.log"));

        // The sensor hangs 3.2 m above the channel bottom over 1.234 m of water; it
        // comes with a depth set-up for 2.75 m.
        QStringList args{"--port",     "COM1",       "--mount",         "3200",       "--level",
                         "1234",       "--register", "23=2750",         "--register", "19=4711",
                         "--wire-log", wireFile,     "--registers-out", registersFile};
        if (passthrough)
            args << "--logger" << QString::number(loggerBaud);
        Simulator sim(args);
        QVERIFY2(sim.waitReady(), sim.output.constData());
        WireWatch wire(wireFile);
        auto registers = [&] { return readSimRegisters(registersFile); };
        const QMap<int, int> factory = registers();

        RecordingDialogs dialogs;
        Platform platform = Platform::system();
        platform.dialogs = &dialogs;
        platform.dataDir = dir.filePath(QStringLiteral("data")); // no guide, no firmware update
        auto form = std::make_unique<TformMain>(platform);
        auto status = std::make_unique<StatusRecorder>(form->statusBar);
        const QString received = QStringLiteral(" Sensor data received from EchoGauge");

        // ------------------------------------------------ start-up search and configuration read
        form->show();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), received, 60000);
        QCOMPARE(form->portState, qint8(psIdle));
        int retries = 0;
        QStringList texts = status->take();
        QVERIFY2(texts.size() >= 4, qPrintable(texts.join('|')));
        QCOMPARE(texts.first(), QStringLiteral(" Searching for EchoGauge - COM1"));
        const QString probe =
            passthrough ? QStringLiteral(" Searching for EchoGauge - COM1 - Passthrough mode, 19200,  ...")
                        : QStringLiteral(" Searching for EchoGauge - COM1 ...");
        QCOMPARE(texts.mid(texts.size() - 3),
                 (QStringList{probe, QStringLiteral(" Requesting sensor data ..."), received}));
        // Before the logger answers at 19200, COM1 and the machine's own ports are
        // tried as the search orders them; nothing else is said.
        for (const QString &t : texts.mid(0, texts.size() - 3))
            QVERIFY2(t.startsWith(QLatin1String(" Searching for EchoGauge - COM")), qPrintable(t));
        QCOMPARE(form->sensorPort, qint16(1));
        QCOMPARE(form->sensorBaud, baud);
        QCOMPARE(form->sensorPassthrough, passthrough);
        QCOMPARE(form->textSerial->text(), QStringLiteral("S/N 04711, V1.13"));
        QVERIFY(form->textSerial->isVisible());
        QCOMPARE(form->textSensorHeight->text(), QStringLiteral("2.750m"));
        QCOMPARE(form->cbChanType->currentIndex(), int(ctMeasureDepth));
        QCOMPARE(form->cbLostEcho->currentIndex(), 0);
        QVERIFY(!captionRed(form->btnSetHeight));
        QVERIFY(form->btnMeasure->isEnabled());
        // The identification probe and the dump request, once each at the speed that
        // answered; with a logger the bare probes at 9600 went unheard.
        QVERIFY(requestsSent(wire.sent(), {frame("...PDAC"), frame("...PDAh")}) >= 2);
        QVERIFY(wire.received().startsWith("EchoGauge 18F2620 Version 01.13\r\n"));
        QVERIFY(wire.received().contains("Temperature    : "));
        QCOMPARE(wire.refused().isEmpty(), !passthrough);
        if (passthrough)
            QCOMPARE(wire.refused(), QByteArray("...PDAC").repeated(3));
        QCOMPARE(registers(), factory);

        // ------------------------------------------------ Options: faster characters, more headroom
        wire.mark();
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
        QCOMPARE(form->timerSlowTx->interval(), 10);
        QCOMPARE(form->maxHeightPercent, 25);

        // ------------------------------------------------ a new height and a fixed lost-echo value
        form->trackSensorHeight->setValue(form->trackSensorHeight->maximum() - 3200);
        form->cbLostEcho->setCurrentIndex(1);
        form->editLostEchoValue->setText(QStringLiteral("2500"));
        QVERIFY(captionRed(form->btnSetHeight));
        QCOMPARE(form->btnSetHeight->text(), QStringLiteral("&Set Sensor Height (3.200m)"));
        form->btnSetHeight->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" Sensor data successfully written"),
                                  30000);
        QCOMPARE(withoutRetries(status->take(), retries),
                 (QStringList{QStringLiteral(" Writing sensor data ..."),
                              QStringLiteral(" Sensor data successfully written")}));
        QVERIFY(!captionRed(form->btnSetHeight));
        QVERIFY(dialogs.messages.isEmpty());
        // Window High is the height and the 25 % headroom set in Options.
        const qsizetype writes =
            requestsSent(wire.sent(), {frame("...ATR1=4000\r"), frame("...ATR23=3200\r"),
                                       frame("...ATR24=2500\r"), frame("...ATR128=1\r")});
        QVERIFY(writes >= 4);
        QCOMPARE(wire.received(), QByteArray("OK\r").repeated(writes));
        {
            QMap<int, int> expected = factory;
            expected[1] = 4000;
            expected[23] = 3200;
            expected[24] = 2500;
            expected[128] = 1;
            QCOMPARE(registers(), expected);
        }

        // ------------------------------------------------ a V-notch weir of 60 degrees, uploaded
        form->pageControl->setCurrentWidget(form->tabChannel);
        pickChannelType(*form, ctVNotchWeir);
        QTRY_COMPARE(form->tbNotchData->maximum(), 150); // laid out for the angle when painted
        form->tbNotchData->setValue(60);
        QCOMPARE(form->notchAngle, 60);
        QVERIFY(captionRed(form->btnSendChannelData));
        wire.mark();
        form->btnSendChannelData->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" Channel data successfully written"),
                                  240000);
        {
            QStringList expected;
            for (int step = 0; step < uploadSteps; ++step)
                expected << QStringLiteral(" Writing channel data %1 of 71 ...").arg(step);
            expected << QStringLiteral(" Channel data successfully written");
            QCOMPARE(withoutRetries(status->take(), retries), expected);
        }
        QVERIFY(!captionRed(form->btnSendChannelData));
        const ChannelDimensions vnotch{60, 1000, 1000, 500};
        const FlowTable table = BuildFlowTable(ctVNotchWeir, vnotch);
        QCOMPARE(form->flowExponent, table.exponent);
        QTRY_COMPARE(form->textTarvelCal->text(), QStringLiteral("1.0 (l/s)")); // a count of the exponent 2
        QCOMPARE(table.exponent, 2);
        {
            // Every register once, in the upload's order, each acknowledged.
            QMap<int, int> expected = factory;
            expected[1] = 4000;
            expected[23] = 3200 | 0x8000; // the sensor now reports flow
            expected[24] = 2500;
            expected[128] = ctVNotchWeir;
            expected[129] = 60;
            expected[130] = 1000;
            expected[131] = 1000;
            expected[132] = table.exponent;
            QByteArray writes;
            for (int k = 0; k < 64; ++k) {
                expected[64 + k] = table.words[size_t(k)];
                writes += frame("...ATR" + QByteArray::number(64 + k) + "=" +
                                QByteArray::number(table.words[size_t(k)]) + "\r");
            }
            for (int r : {1, 23, 24, 128, 129, 130, 131, 132})
                writes +=
                    frame("...ATR" + QByteArray::number(r) + "=" + QByteArray::number(expected[r]) + "\r");
            QCOMPARE(wire.sent(), writes);
            QCOMPARE(wire.received(), QByteArray("OK\r").repeated(uploadSteps));
            QCOMPARE(registers(), expected);
        }

        // ------------------------------------------------ ten readings, one after the other
        form->pageControl->setCurrentWidget(form->tabSensor);
        QCOMPARE(form->historyEntries->size(), 0); // the upload cleared the graph
        wire.mark();
        form->cb_Continuous->setChecked(true);
        form->btnMeasure->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->historyEntries->size() >= 10, 60000);
        form->cb_Continuous->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(form->portState, qint8(psIdle), 10000);
        QVERIFY(!form->timerSonar->isActive());
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
        QCOMPARE(form->labelLast->text(), QStringLiteral("Flow = "));
        QCOMPARE(form->textResultSamples->text(), QStringLiteral("5 / 5"));
        QCOMPARE(form->textResultGain->text(), QStringLiteral("3"));
        const qint32 count = form->historyEntries->at(0).value;
        QVERIFY(count > 0);
        {
            QStringList expected;
            for (qsizetype i = 0; i < readings; ++i) {
                QCOMPARE(form->historyEntries->at(i).value, count);
                QCOMPARE(form->historyEntries->at(i).validSamples, qint8(5));
                expected << QStringLiteral(" Requesting measurement ...")
                         << QStringLiteral(" Flow = ") + shown;
            }
            QCOMPARE(withoutRetries(status->take(), retries), expected);
        }
        // Every request answered by the same reading; a retried one was answered twice.
        const qsizetype requests = wire.sent().size() / frame("...PDAs").size();
        QVERIFY(requests >= readings);
        QCOMPARE(wire.sent(), frame("...PDAs").repeated(requests));
        QCOMPARE(wire.received(),
                 (QByteArray::number(count).rightJustified(5, '0') + ",1,5,5,3,\r\n").repeated(requests));
        form->cbFlow->setChecked(true); // flow bars beside the heads, kept in the options

        // ------------------------------------------------ the description saved, changed and loaded
        wire.mark();
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
        QCOMPARE(form->cbChanType->currentIndex(), int(ctVNotchWeir));
        QCOMPARE(form->notchAngle, 60);
        QCOMPARE(form->channelWidth, 1000);
        QCOMPARE(form->editChanWidth->text(), QStringLiteral("1.000"));
        QCOMPARE(form->crestHeight, 1000);
        QCOMPARE(form->notchWidth, 500);
        QTRY_COMPARE(form->tbNotchData->value(), 60);
        QVERIFY(captionRed(form->btnSendChannelData)); // the sensor is not told by a file
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(wire.sent().isEmpty());

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
        QCOMPARE(wire.sent(), frame("...PDAC") + frame("...ATR25=45\r"));
        QCOMPARE(wire.received(), QByteArray("EchoGauge 18F2620 Version 01.13\r\nOK\r"));
        QCOMPARE(registers().value(25), 45);
        QCOMPARE(form->statusText(), QStringLiteral(" Flow = ") + shown); // the terminal says nothing there

        // ------------------------------------------------ closed, and shown again with its settings
        form->resize(600, 560);
        const QPoint at = form->pos();
        QVERIFY(form->cbHead->isChecked());
        form->close(); // closes the terminal too
        QVERIFY(!formManual);
        status.reset();
        form.reset();
        {
            QSettings stored(settingsFile, QSettings::IniFormat);
            QCOMPARE(stored.value("Port").toInt(), 1);
            QCOMPARE(stored.value("Baud").toInt(), baud);
            QCOMPARE(stored.value("Passthrough").toInt(), int(passthrough));
            QCOMPARE(stored.value("Tx Delay").toInt(), 10);
            QCOMPARE(stored.value("Max Height Percent").toInt(), 25);
            QCOMPARE(stored.value("Options").toInt(), 7 | 0x10 | 0x40 | 0x80);
            QCOMPARE(stored.value("Width").toInt(), 600);
            QCOMPARE(stored.value("Right").toInt(), 560);
            QCOMPARE(stored.value("Channel Type").toInt(), int(ctVNotchWeir));
            QCOMPARE(stored.value("Notch Angle").toInt(), 60);
            QCOMPARE(stored.value("Sensor Height").toInt(), 10000 - 3200);
            QCOMPARE(stored.value("MME/TX_TEXT_1").toString(), QStringLiteral("...ATR25=45^m"));
            QCOMPARE(stored.value("MME/TX_CHECK_1").toInt(), int(passthrough));
        }

        wire.mark();
        form = std::make_unique<TformMain>(platform);
        status = std::make_unique<StatusRecorder>(form->statusBar);
        form->show();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), received, 60000);
        // The stored connection is tried first and answers at once.
        QCOMPARE(
            status->take(),
            (QStringList{passthrough ? QStringLiteral(" Searching for EchoGauge - COM1 - Passthrough mode")
                                     : QStringLiteral(" Searching for EchoGauge - COM1"),
                         probe, QStringLiteral(" Requesting sensor data ..."), received}));
        QVERIFY(requestsSent(wire.sent(), {frame("...PDAC"), frame("...PDAh")}) >= 2);
        QVERIFY(wire.refused().isEmpty());
        QCOMPARE(form->timerSlowTx->interval(), 10);
        QCOMPARE(form->maxHeightPercent, 25);
        QCOMPARE(form->options, quint32(7 | 0x10 | 0x40 | 0x80));
        QVERIFY(form->windowTitle().endsWith(QLatin1String(" (Engineering Mode)")));
        QVERIFY(form->menuManualEntry->isVisible());
        QCOMPARE(form->size(), QSize(600, 560));
        QCOMPARE(form->pos(), at);
        // What the sensor holds comes back with the configuration read.
        QCOMPARE(form->textSensorHeight->text(), QStringLiteral("3.200m"));
        QCOMPARE(form->cbChanType->currentIndex(), int(ctVNotchWeir));
        QCOMPARE(form->notchAngle, 60);
        QCOMPARE(form->flowExponent, table.exponent);
        QCOMPARE(form->cbLostEcho->currentIndex(), 1);
        QCOMPARE(form->editLostEchoValue->text(), QStringLiteral("2500"));
        QVERIFY(!captionRed(form->btnSetHeight));
        form->close();
        form.reset();

        sim.stop();
        const QMap<int, int> atEnd = registers();
        QString listing;
        for (auto it = atEnd.cbegin(); it != atEnd.cend(); ++it)
            listing += QStringLiteral(" R%1=%2").arg(it.key()).arg(it.value());
        qInfo("simulator's registers at the end:%s", qPrintable(listing));
        qInfo("requests sent again after a late reply: %d", retries);
        QCOMPARE(atEnd.value(1), 4000);
        QCOMPARE(atEnd.value(23), 3200 | 0x8000);
        QCOMPARE(atEnd.value(24), 2500);
        QCOMPARE(atEnd.value(25), 45);
        QCOMPARE(atEnd.value(128), int(ctVNotchWeir));
        QCOMPARE(atEnd.value(129), 60);
        QCOMPARE(atEnd.value(132), table.exponent);
    }
};

QTEST_MAIN(TestE2eWalk)
#include "tst_e2e_walk.moc"
