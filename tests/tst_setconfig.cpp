// Writing the sensor set-up: the register values, the bytes on the wire, the pacing
// of the four writes and the changed mark, with the in-process sensor on the virtual clock.
#include "ExchangeRig.h"

#include "channel/Flow.h"
#include "exchange/Setconfig.h"
#include "exchange/Setupcontrols.h"
#include "serial/Transmit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

void setHeight(TformMain &w, int type, int heightMm)
{
    w.cbChanType->setCurrentIndex(type);
    w.trackSensorHeight->setMaximum(10000);
    w.trackSensorHeight->setValue(10000 - heightMm);
}

// Chooses "Use Fixed Value (mm)" with a typed text, or "Repeat Last Value" for a null text.
void setLostEcho(TformMain &w, const QString &text)
{
    if (text.isNull()) {
        w.cbLostEcho->setCurrentIndex(0);
        return;
    }
    w.cbLostEcho->setCurrentIndex(1);
    w.editLostEchoValue->setText(text);
}

// The four register writes as they leave the PC: Window High, the sensor height,
// the lost echo value and the channel type.
QByteArray writes(int windowHigh, int height, int lostEcho, int type)
{
    return QStringLiteral("...ATR1=%1\r...ATR23=%2\r...ATR24=%3\r...ATR128=%4\r")
        .arg(windowHigh)
        .arg(height)
        .arg(lostEcho)
        .arg(type)
        .toLatin1();
}

const QColor red(255, 0, 0);
const QColor black(0, 0, 0);
const QString adjusted = QString::fromLatin1(lostEchoAdjustedText);
const QString invalid = QString::fromLatin1(lostEchoInvalidText);

} // namespace

class TestSetConfig : public QObject
{
    Q_OBJECT

private slots:
    void sensorHeightValue_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("word");
        QTest::newRow("distance: no height") << 0 << 2750 << 0;
        QTest::newRow("depth") << 1 << 2750 << 2750;
        QTest::newRow("rectangular: flow bit") << 2 << 2750 << 2750 + 32768;
        QTest::newRow("constricted") << 3 << 10000 << 10000 + 32768;
        QTest::newRow("V-notch, no height") << 4 << 0 << 32768;
    }

    void sensorHeightValue()
    {
        QFETCH(int, type);
        QFETCH(int, height);
        QTEST(int(SensorHeightValue(type, height)), "word");
    }

    void windowHighValue_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("setMax");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("heightWord");
        QTest::addColumn<int>("sensorType");
        QTest::addColumn<int>("window");
        QTest::newRow("depth, 10 %") << 1 << true << 10 << 2750 << 0 << 3025;
        QTest::newRow("rounded half up") << 1 << true << 10 << 1005 << 0 << 1106;
        QTest::newRow("flow bit left out") << 2 << true << 10 << 2750 + 32768 << 0 << 3025;
        QTest::newRow("100 %") << 4 << true << 100 << 10000 + 32768 << 0 << 20000;
        QTest::newRow("1 %") << 1 << true << 1 << 333 << 0 << 336;
        QTest::newRow("distance ignores the box") << 0 << true << 10 << 0 << 0 << 5000;
        QTest::newRow("distance, small sensor") << 0 << true << 10 << 0 << 1 << 2500;
        QTest::newRow("box unchecked") << 2 << false << 10 << 2750 + 32768 << 0 << 5000;
        QTest::newRow("box unchecked, small sensor") << 1 << false << 10 << 2750 << 1 << 2500;
        // A headroom from hand-edited settings must not wrap round to a small window.
        QTest::newRow("huge headroom") << 1 << true << 1000 << 10000 << 0 << 65535;
        QTest::newRow("negative headroom") << 1 << true << -300 << 10000 << 0 << 0;
    }

    void windowHighValue()
    {
        QFETCH(int, type);
        QFETCH(bool, setMax);
        QFETCH(int, percent);
        QFETCH(int, heightWord);
        QFETCH(int, sensorType);
        QTEST(int(WindowHighValue(type, setMax, percent, quint16(heightWord), sensorType)), "window");
    }

    void lostEchoText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("message");
        QTest::newRow("whole number") << "1500" << 1500 << int(LostEchoEntry::None);
        QTest::newRow("with blanks and sign") << " +7 " << 7 << int(LostEchoEntry::None);
        QTest::newRow("-1 is the repeat code") << "-1" << -2 << int(LostEchoEntry::Adjusted);
        QTest::newRow("-2 stays") << "-2" << -2 << int(LostEchoEntry::None);
        QTest::newRow("too large") << "40000" << 32767 << int(LostEchoEntry::Adjusted);
        QTest::newRow("too small") << "-40000" << -32768 << int(LostEchoEntry::Adjusted);
        QTest::newRow("lowest") << "-32768" << -32768 << int(LostEchoEntry::None);
        QTest::newRow("letters") << "abc" << 4321 << int(LostEchoEntry::Invalid);
        QTest::newRow("empty") << "" << 4321 << int(LostEchoEntry::Invalid);
        QTest::newRow("decimal") << "12.5" << 4321 << int(LostEchoEntry::Invalid);
        QTest::newRow("beyond 32 bits") << "99999999999" << 4321 << int(LostEchoEntry::Invalid);
    }

    void lostEchoText()
    {
        QFETCH(QString, text);
        const LostEchoEntry e = LostEchoFromText(text, 4321);
        QTEST(int(e.value), "value");
        QTEST(int(e.message), "message");
    }

    // The four writes as they leave the PC, and what the engineer is told on the way.
    void bytesOnTheWire_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sensorType");
        QTest::addColumn<bool>("setMax");
        QTest::addColumn<QString>("lostEcho");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("editAfter");
        QTest::addColumn<int>("listAfter");

        const QStringList none;
        QTest::newRow("distance") << 0 << 0 << true << QString() << writes(5000, 0, 65535, 0) << none << ""
                                  << 0;
        QTest::newRow("distance, small sensor")
            << 0 << 1 << true << QString() << writes(2500, 0, 65535, 0) << none << "" << 0;
        QTest::newRow("depth, 10 %") << 1 << 0 << true << QString() << writes(3025, 2750, 65535, 1) << none
                                     << "" << 0;
        QTest::newRow("rectangular weir")
            << 2 << 0 << true << QString() << writes(3025, 35518, 65535, 2) << none << "" << 0;
        QTest::newRow("V-notch, window not set")
            << 4 << 0 << false << QString() << writes(5000, 35518, 65535, 4) << none << "" << 0;
        QTest::newRow("fixed 800") << 1 << 0 << true << "800" << writes(3025, 2750, 800, 1) << none << "800"
                                   << 1;
        QTest::newRow("fixed -1") << 1 << 0 << true << "-1" << writes(3025, 2750, 65534, 1)
                                  << QStringList{adjusted} << "-2" << 1;
        QTest::newRow("fixed 40000") << 1 << 0 << true << "40000" << writes(3025, 2750, 32767, 1)
                                     << QStringList{adjusted} << "32767" << 1;
        QTest::newRow("fixed -32768")
            << 1 << 0 << true << "-32768" << writes(3025, 2750, 32768, 1) << none << "-32768" << 1;
        // The old value was "repeat": it is written and the list goes back to it.
        QTest::newRow("fixed abc") << 1 << 0 << true << "abc" << writes(3025, 2750, 65535, 1)
                                   << QStringList{invalid} << "-1" << 0;
        QTest::newRow("fixed, empty")
            << 1 << 0 << true << "" << writes(3025, 2750, 65535, 1) << QStringList{invalid} << "-1" << 0;
    }

    void bytesOnTheWire()
    {
        QFETCH(int, type);
        QFETCH(int, sensorType);
        QFETCH(bool, setMax);
        QFETCH(QString, lostEcho);

        ExchangeRig rig(QStringLiteral("setconfig"));
        SimSensor *sensor = rig.connectSensor();
        setHeight(*rig.form, type, 2750);
        rig.form->sensorType = sensorType;
        rig.form->cbSetMaxHeight->setChecked(setMax);
        setLostEcho(*rig.form, lostEcho);
        rig.form->btnSetHeight->click();
        QVERIFY(rig.form->textSensorHeight->isHidden());
        rig.clock.advance(10000);

        QTEST(rig.serial.written(3), "wire");
        QStringList shown;
        for (const auto &m : rig.dialogs.messages)
            shown << m.text;
        QTEST(shown, "messages");
        QTEST(rig.form->editLostEchoValue->text(), "editAfter");
        QTEST(rig.form->cbLostEcho->currentIndex(), "listAfter");
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data successfully written"));
        QCOMPARE(int(sensor->reg(23)), int(SensorHeightValue(type, 2750)));
        QVERIFY(!rig.form->textSensorHeight->isHidden());
    }

    // A sensor that acknowledges at once still gets the next register only when the
    // current wait has run down: the wait is counted from the first tick after the
    // request has left, whatever the acknowledgement does.
    void oneFullWaitBetweenRegisters_data()
    {
        QTest::addColumn<int>("loggerBaud");
        QTest::addColumn<int>("wait");
        QTest::newRow("direct") << 0 << 250;
        QTest::newRow("through a logger") << 19200 << 1500;
    }

    void oneFullWaitBetweenRegisters()
    {
        QFETCH(int, loggerBaud);
        QFETCH(int, wait);

        ExchangeRig rig(QStringLiteral("setconfig"));
        rig.connectSensor(loggerBaud);
        setHeight(*rig.form, 1, 2750);
        rig.form->StartWriteConfig();
        rig.clock.advance(20000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data successfully written"));

        // The request of each step is sent from the tick that shows " Writing sensor data ...".
        QList<qint64> sends;
        for (const auto &m : rig.messages)
            if (m.second == QLatin1String(" Writing sensor data ..."))
                sends << m.first;
        QCOMPARE(sends.size(), 4);
        const QList<QByteArray> commands{"...ATR1=3025\r", "...ATR23=2750\r", "...ATR24=65535\r",
                                         "...ATR128=1\r"};
        for (int i = 0; i < 3; ++i) {
            const qint64 framed = FrameCommand(commands[i], loggerBaud != 0).size();
            // The quiet-line pass, then the sender: one 20 ms tick a character and one
            // more. A poll tick due at the very moment the sender stops still finds it
            // running, so the first tick that counts is the one after.
            const qint64 senderDone = 100 + 20 * (framed + 1);
            const qint64 firstCount = 100 * (senderDone / 100 + 1);
            // That tick counts off the first 100 ms; the tick that finds the wait gone sends.
            const qint64 expected = firstCount + 100 * ((wait + 99) / 100 - 1);
            QCOMPARE(sends[i + 1] - sends[i], expected);
        }
    }

    void captionFollowsTheOutcome_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QColor>("caption");
        QTest::newRow("written") << false << " Sensor data successfully written" << black;
        QTest::newRow("not written") << true << " Sensor data not written!" << red;
    }

    void captionFollowsTheOutcome()
    {
        QFETCH(bool, silent);
        QFETCH(QString, status);

        ExchangeRig rig(QStringLiteral("setconfig"));
        SimSensor *sensor = rig.connectSensor();
        sensor->faults.silent = silent;
        setHeight(*rig.form, 1, 2750);
        rig.form->btnHeightUpClick(); // the engineer moves the height: the mark turns red
        QCOMPARE(captionColour(rig.form->btnSetHeight), red);
        rig.form->menuSetHeight->trigger();
        rig.clock.advance(20000);

        QCOMPARE(rig.form->statusText(), status);
        QTEST(captionColour(rig.form->btnSetHeight), "caption");
        QCOMPARE(rig.form->setupChanged, silent);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(rig.form->btnSetHeight->isEnabled());
        if (silent) {
            // Three attempts at Window High, nothing further.
            QCOMPARE(rig.serial.written(3), QByteArray("...ATR1=3026\r...ATR1=3026\r...ATR1=3026\r"));
            const QStringList steps = rig.statusSteps();
            QCOMPARE(steps, (QStringList{" Writing sensor data ...", " Writing sensor data (Attempt 2) ...",
                                         " Writing sensor data (Attempt 3) ...", status}));
        }
    }

    // A correction is reported once; a retry of the same register sends the
    // corrected value without a second message.
    void correctionIsReportedOnce()
    {
        ExchangeRig rig(QStringLiteral("setconfig"));
        SimSensor *sensor = rig.connectSensor();
        setHeight(*rig.form, 1, 2750);
        setLostEcho(*rig.form, QStringLiteral("-1"));
        rig.form->StartWriteConfig();
        while (sensor->requests.size() < 2 && rig.clock.nowMs() < 10000)
            rig.clock.advance(1);
        sensor->faults.dropReplies = 1; // the first "OK" for register 24 is lost
        rig.clock.advance(10000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data successfully written"));
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.serial.written(3).count("...ATR24=65534\r"), 2);
        QCOMPARE(int(sensor->reg(24)), 65534);
    }
};

QTEST_MAIN(TestSetConfig)
#include "tst_setconfig.moc"
