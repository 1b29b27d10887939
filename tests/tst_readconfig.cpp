// Reading the sensor's register dump: the parser, the checks, and the exchange with
// the in-process sensor on the virtual clock.
#include "ExchangeRig.h"

#include "channel/Flow.h"
#include "exchange/Readconfig.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

using Registers = QMap<int, int>;

// What the window shows of the set-up and the description, to see that a read
// changed it, or did not.
QStringList windowState(const TformMain &w)
{
    return {QString::number(w.sensorType),
            QString::number(w.lostEchoValue),
            QString::number(w.crestHeight),
            QString::number(w.channelWidth),
            QString::number(w.notchWidth),
            QString::number(w.notchAngle),
            QString::number(w.flowExponent),
            QString::number(w.cbChanType->currentIndex()),
            w.editCrestHeight->text(),
            w.editChanWidth->text(),
            w.editNotchWidth->text(),
            QString::number(w.trackSensorHeight->maximum()),
            QString::number(w.trackSensorHeight->value()),
            w.editLostEchoValue->text()};
}

// A description unlike anything the sensor holds.
void setUnusualDescription(TformMain &w)
{
    w.sensorType = 7;
    w.lostEchoValue = 123;
    w.cbChanType->setCurrentIndex(ctConstrictedWeir);
    w.notchAngle = 33;
    w.setChannelEditText(w.editCrestHeight, QStringLiteral("1.111"));
    w.setChannelEditText(w.editChanWidth, QStringLiteral("2.222"));
    w.setChannelEditText(w.editNotchWidth, QStringLiteral("0.333"));
    w.flowExponent = 3;
    w.trackSensorHeight->setMaximum(5000);
    w.trackSensorHeight->setValue(1234);
    w.ShowLostEcho();
}

// The sensor on COM3 holding the given registers, and the window connected to it
// with a description unlike anything the sensor holds.
SimSensor *connectSensorHolding(ExchangeRig &rig, const Registers &registers, bool signedValues,
                                int missing = -1, int firmware = 113)
{
    SimFaults faults;
    faults.signedRegisters = signedValues;
    faults.missingRegister = missing;
    SimSensor *sensor = rig.connectSensor(0, faults, qint16(firmware));
    for (auto it = registers.cbegin(); it != registers.cend(); ++it)
        sensor->setRegister(it.key(), quint16(it.value()));
    setUnusualDescription(*rig.form);
    return sensor;
}

QByteArray dumpWith(const QMap<int, quint16> &changes, bool signedValues = false)
{
    SimSensor s;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        s.setRegister(it.key(), it.value());
    s.faults.signedRegisters = signedValues;
    return s.dump();
}

} // namespace

class TestReadConfig : public QObject
{
    Q_OBJECT

private slots:
    void parseRegister_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("next");

        QTest::newRow("plain") << QByteArray("Range          (R9): 10000\r\nX") << 0 << true << 10000 << 27;
        QTest::newRow("blanks before") << QByteArray("(R9):   42\r\n") << 0 << true << 42 << 12;
        QTest::newRow("plus sign") << QByteArray("(R9): +17\r\n...") << 0 << true << 17 << 12;
        QTest::newRow("negative") << QByteArray("(R9): -30018\r\n") << 0 << true << -30018 << 12;
        QTest::newRow("not a number reads 0") << QByteArray("(R9): abc\r\n...") << 0 << true << 0 << 12;
        QTest::newRow("only six characters") << QByteArray("(R9): 12345678") << 0 << true << 123456 << 12;
        QTest::newRow("value ends the reply") << QByteArray("(R9): 100\r") << 0 << true << 100 << 10;
        QTest::newRow("cut off inside the value") << QByteArray("(R9): 100") << 0 << false << 0 << 0;
        QTest::newRow("cut off after the marker") << QByteArray("(R9): ") << 0 << false << 0 << 0;
        QTest::newRow("marker without its blank") << QByteArray("(R9):10000\r\n") << 0 << false << 0 << 0;
        QTest::newRow("other register only") << QByteArray("(R19): 1234\r\n") << 0 << false << 0 << 0;
        QTest::newRow("marker behind the position")
            << QByteArray("(R9): 5000\r\n(R8): 1\r\n") << 12 << false << 0 << 12;
        QTest::newRow("found after the position")
            << QByteArray("(R9): 5000\r\n(R9): 10000\r\n") << 5 << true << 10000 << 24;
    }

    void parseRegister()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, from);
        QFETCH(bool, found);
        QFETCH(int, value);
        QFETCH(int, next);

        qint32 pos = from;
        qint32 got = -777;
        QCOMPARE(ParseRegister(reply, pos, 9, got), found);
        QCOMPARE(got, found ? value : -777); // untouched when not found
        QCOMPARE(pos, found ? next : from);
    }

    void parseDump_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QList<int>>("values");

        const QByteArray full = dumpWith({});
        const QList<int> factory{0, 10000, 1234, 3000, 65535, 1, 500, 1000, 1000, 2};
        QTest::newRow("the sensor's dump") << full << int(DumpParse::Complete) << factory;
        QTest::newRow("behind other bytes")
            << QByteArray("\x00\xff noise") + full << int(DumpParse::Complete) << factory;
        QTest::newRow("no temperature line")
            << QByteArray(full).replace("Temperature", "Temp") << int(DumpParse::NoDump) << QList<int>{};
        QTest::newRow("stops part-way")
            << full.left(full.indexOf("(R129): ") + 9) << int(DumpParse::Incomplete) << QList<int>{};
        QTest::newRow("a register missing")
            << QByteArray(full).replace("(R131): ", "(R999): ") << int(DumpParse::Incomplete) << QList<int>{};
        QByteArray swapped = full;
        swapped.replace("(R128): ", "(RXXX): ")
            .replace("(R129): ", "(R128): ")
            .replace("(RXXX): ", "(R129): ");
        QTest::newRow("two registers swapped") << swapped << int(DumpParse::Incomplete) << QList<int>{};
        QTest::newRow("signed values")
            << dumpWith({{23, 2750 + 32768}, {128, 4}, {129, 60}}, true) << int(DumpParse::Complete)
            << QList<int>{0, 10000, 1234, 2750 - 32768, -1, 4, 60, 1000, 1000, 2};
    }

    void parseDump()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, outcome);
        QFETCH(QList<int>, values);

        RegisterDump d;
        d.range = -5; // a result that is not Complete leaves the dump as it was
        QCOMPARE(int(ParseRegisterDump(reply, &d)), outcome);
        if (outcome != int(DumpParse::Complete)) {
            QCOMPARE(d.range, -5);
            return;
        }
        QCOMPARE((QList<int>{d.sensorType, d.range, d.serial, d.height, d.lostEcho, d.channelType,
                             d.notchWidth, d.crestHeight, d.channelWidth, d.flowExponent}),
                 values);
    }

    void validity_data()
    {
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("serial");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("firmware");
        QTest::addColumn<bool>("valid");
        QTest::newRow("10 m sensor") << 10000 << 1234 << 2750 << 113 << true;
        QTest::newRow("5 m sensor, no serial") << 5000 << 0 << 0 << 113 << true;
        QTest::newRow("other range") << 7500 << 1234 << 2750 << 113 << false;
        QTest::newRow("range 0") << 0 << 1234 << 2750 << 113 << false;
        QTest::newRow("negative serial") << 10000 << -1 << 2750 << 113 << false;
        QTest::newRow("negative height, 1.13") << 10000 << 1234 << 2750 - 32768 << 113 << false;
        QTest::newRow("negative height, 1.14") << 10000 << 1234 << -1 << 114 << false;
        QTest::newRow("negative height, 1.12") << 10000 << 1234 << 2750 - 32768 << 112 << true;
    }

    void validity()
    {
        QFETCH(int, range);
        QFETCH(int, serial);
        QFETCH(int, height);
        QFETCH(int, firmware);
        RegisterDump d;
        d.range = range;
        d.serial = serial;
        d.height = height;
        QTEST(ValidRegisterDump(d, qint16(firmware)), "valid");
    }

    void adjustments_data()
    {
        QTest::addColumn<QList<int>>("in"); // type, notch, crest, width, exponent[, lost echo]
        QTest::addColumn<QList<int>>("out");
        QTest::newRow("as they are") << QList<int>{4, 60, 1000, 1000, 10}
                                     << QList<int>{4, 60, 1000, 1000, 10};
        QTest::newRow("dimensions at most 10 m")
            << QList<int>{2, 10001, 20000, 65535, 0} << QList<int>{2, 10000, 10000, 10000, 0};
        QTest::newRow("exponent above 10") << QList<int>{2, 0, 0, 0, 11} << QList<int>{2, 0, 0, 0, 0};
        QTest::newRow("type above 4") << QList<int>{5, 1, 1, 1, 1} << QList<int>{0, 1, 1, 1, 1};
        QTest::newRow("signed lost echo")
            << QList<int>{2, 1, 1, 1, 1, -1} << QList<int>{2, 1, 1, 1, 1, 65535};
        QTest::newRow("signed fixed lost echo")
            << QList<int>{2, 1, 1, 1, 1, -2} << QList<int>{2, 1, 1, 1, 1, 65534};
        QTest::newRow("negative type") << QList<int>{-1, 1, 1, 1, 1} << QList<int>{0, 1, 1, 1, 1};
    }

    void adjustments()
    {
        QFETCH(QList<int>, in);
        QFETCH(QList<int>, out);
        RegisterDump d;
        d.channelType = in[0];
        d.notchWidth = in[1];
        d.crestHeight = in[2];
        d.channelWidth = in[3];
        d.flowExponent = in[4];
        d.lostEcho = in.value(5, 65535);
        d.range = 10000;
        const RegisterDump a = AdjustedRegisterDump(d);
        QCOMPARE((QList<int>{a.channelType, a.notchWidth, a.crestHeight, a.channelWidth, a.flowExponent}),
                 out.mid(0, 5));
        QCOMPARE(a.lostEcho, out.value(5, 65535));
        QCOMPARE(a.range, 10000);
    }

    void serialLabel_data()
    {
        QTest::addColumn<int>("serial");
        QTest::addColumn<int>("firmware");
        QTest::addColumn<QString>("text");
        QTest::newRow("serial and version") << 1234 << 113 << QStringLiteral("S/N 01234, V1.13");
        QTest::newRow("no serial") << 0 << 108 << QStringLiteral("V1.08");
        QTest::newRow("six digits") << 123456 << 113 << QStringLiteral("S/N 123456, V1.13");
        QTest::newRow("version 2.05") << 7 << 205 << QStringLiteral("S/N 00007, V2.05");
        // Written as the firmware boxes write it.
        QTest::newRow("major digits not a number") << 7 << -87 << QStringLiteral("S/N 00007, V-0.87");
    }

    void serialLabel()
    {
        QFETCH(int, serial);
        QFETCH(int, firmware);
        QTEST(SerialLabelText(serial, qint16(firmware)), "text");
    }

    // A reply taken into the window: the slider, the caption, the description, the label.
    void replyIsApplied_data()
    {
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<bool>("signedValues");
        QTest::addColumn<int>("firmware");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("heightText");
        QTest::addColumn<QStringList>("edits"); // crest, width, notch
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<QString>("serialText");

        const QStringList metre{"1.000", "1.000", "0.500"};
        QTest::newRow("10 m sensor at 2.75 m") << Registers{{9, 10000}, {23, 2750}} << false << 113 << 1
                                               << 7250 << "2.750m" << metre << 45 << 2 << "S/N 01234, V1.13";
        QTest::newRow("flow bit, firmware 1.13")
            << Registers{{9, 10000}, {23, 2750 + 32768}, {128, 2}} << false << 113 << 2 << 7250 << "2.750m"
            << metre << 45 << 2 << "S/N 01234, V1.13";
        QTest::newRow("signed height, firmware 1.12")
            << Registers{{9, 10000}, {23, 2750 + 32768}, {128, 2}} << true << 112 << 2 << 7250 << "2.750m"
            << metre << 45 << 2 << "S/N 01234, V1.12";
        QTest::newRow("5 m sensor") << Registers{{9, 5000}, {23, 1200}} << false << 113 << 1 << 3800
                                    << "1.200m" << metre << 45 << 2 << "S/N 01234, V1.13";
        QTest::newRow("V-notch 60 degrees")
            << Registers{{128, 4}, {129, 60}} << false << 113 << 4 << 7000 << "3.000m"
            << QStringList{"1.000", "1.000", "0.060"} << 60 << 2 << "S/N 01234, V1.13";
        QTest::newRow("exponent 11, crest 20 m")
            << Registers{{128, 2}, {130, 20000}, {132, 11}} << false << 113 << 2 << 7000 << "3.000m"
            << QStringList{"10.000", "1.000", "0.500"} << 45 << 0 << "S/N 01234, V1.13";
        QTest::newRow("type 9, no serial") << Registers{{128, 9}, {19, 0}} << false << 113 << 0 << 7000
                                           << "3.000m" << metre << 45 << 2 << "V1.13";
    }

    void replyIsApplied()
    {
        QFETCH(Registers, registers);
        QFETCH(bool, signedValues);
        QFETCH(int, firmware);
        QFETCH(QString, heightText);

        ExchangeRig rig(QStringLiteral("readconfig"));
        SimSensor *sensor = connectSensorHolding(rig, registers, signedValues, -1, firmware);
        rig.form->menuReadHeight->trigger();
        QVERIFY(rig.form->textSerial->isHidden());
        QVERIFY(!rig.form->btnSetHeight->isEnabled());
        rig.clock.advance(8000);

        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(rig.form->btnSetHeight->isEnabled());
        QTEST(rig.form->cbChanType->currentIndex(), "type");
        QCOMPARE(rig.form->trackSensorHeight->maximum(), registers.value(9, 10000));
        QTEST(rig.form->trackSensorHeight->value(), "position");
        QCOMPARE(rig.form->textSensorHeight->text(), heightText);
        QCOMPARE(rig.form->btnSetHeight->text(), "&Set Sensor Height (" + heightText + ")");
        QTEST((QStringList{rig.form->editCrestHeight->text(), rig.form->editChanWidth->text(),
                           rig.form->editNotchWidth->text()}),
              "edits");
        QTEST(rig.form->notchAngle, "angle");
        QTEST(rig.form->flowExponent, "exponent");
        QCOMPARE(rig.form->sensorType, 0);
        QCOMPARE(rig.form->lostEchoValue, 65535);
        QCOMPARE(rig.form->cbLostEcho->currentIndex(), 0);
        QTEST(rig.form->textSerial->text(), "serialText");
        QVERIFY(!rig.form->textSerial->isHidden());
        QVERIFY(!rig.form->setupChanged);
        QCOMPARE(rig.form->btnSetHeight->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
        QCOMPARE(sensor->requests, QList<QByteArray>{"PDAh"});
    }

    // A reply the application refuses, or one that stops part-way, leaves every field
    // and edit as it was; the request is made three times and the read fails.
    void rejectedReplyChangesNothing_data()
    {
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<bool>("signedValues");
        QTest::addColumn<int>("missing");
        QTest::newRow("negative height, firmware 1.13")
            << Registers{{23, 2750 + 32768}, {24, 500}, {128, 4}, {130, 300}} << true << -1;
        QTest::newRow("range neither 5 nor 10 m") << Registers{{9, 7500}, {24, 500}, {132, 1}} << false << -1;
        QTest::newRow("negative serial") << Registers{{19, 40000}, {8, 1}, {131, 400}} << true << -1;
        QTest::newRow("channel width missing") << Registers{{8, 1}, {24, 500}, {130, 300}} << false << 131;
        QTest::newRow("exponent missing") << Registers{{128, 2}, {129, 10}} << false << 132;
    }

    void rejectedReplyChangesNothing()
    {
        QFETCH(Registers, registers);
        QFETCH(bool, signedValues);
        QFETCH(int, missing);

        ExchangeRig rig(QStringLiteral("readconfig"));
        SimSensor *sensor = connectSensorHolding(rig, registers, signedValues, missing);
        rig.form->setupChanged = false;
        const QStringList before = windowState(*rig.form);
        rig.form->StartReadConfig();
        rig.clock.advance(40000);

        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data not received!"));
        QCOMPARE(windowState(*rig.form), before);
        QCOMPARE(sensor->requests.size(), 3);
        QVERIFY(rig.form->textSerial->isHidden());
        QVERIFY(rig.form->btnSetHeight->isEnabled());
        QVERIFY(!rig.form->setupChanged);
    }

    // The dump comes in two pieces with 400 ms between: the quiet ticks of the pause
    // see only part of it and take nothing; the first tick after the second piece
    // that finds no new byte takes it.
    void replyInPiecesIsTakenAtTheFirstQuietTick()
    {
        ExchangeRig rig(QStringLiteral("readconfig"));
        SimFaults faults;
        faults.splitPauseMs = 400;
        rig.connectSensor(0, faults);
        struct Seen
        {
            qint64 atMs;
            qint32 count;
            qint8 state;
        };
        QList<Seen> seen;
        QObject::connect(rig.form->timerPortService, &Timer::timeout, rig.form.get(), [&] {
            seen.append({rig.clock.nowMs(), rig.form->rxBuffer->Count(), rig.form->portState});
        });
        rig.form->StartReadConfig();
        rig.clock.advance(10000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));

        int applied = -1;
        for (int i = 0; i < seen.size(); ++i) {
            if (seen[i].state == psIdle) {
                applied = i;
                break;
            }
        }
        QVERIFY(applied >= 2);
        QCOMPARE(seen[applied].count, seen[applied - 1].count);
        QVERIFY(seen[applied - 1].count != seen[applied - 2].count);
        QCOMPARE(seen[applied].atMs - seen[applied - 1].atMs, qint64(100));
        // During the pause the line was quiet with half a dump held, and nothing was taken.
        int quietDuringPause = 0;
        for (int i = 1; i < applied; ++i) {
            if (seen[i].count > 0 && seen[i].count == seen[i - 1].count) {
                QCOMPARE(seen[i].state, qint8(psReadConfig));
                ++quietDuringPause;
            }
        }
        QVERIFY(quietDuringPause >= 2);
    }

    // A dump that ends in the last register's value, with no line end after it: once
    // the line has been quiet for a tick, that value is whole, to the read and to a
    // verification alike. Cut off after the marker, there is no value and the dump is
    // not taken.
    void dumpEndingInItsLastValue_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<bool>("verify"); // then verified with the same dump
        QTest::newRow("one digit") << QByteArray("3") << true << 3 << false;
        QTest::newRow("five digits") << QByteArray("00007") << true << 7 << false;
        QTest::newRow("no value") << QByteArray() << false << 0 << false;
        QTest::newRow("verified") << QByteArray("3") << true << 3 << true;
    }
    void dumpEndingInItsLastValue()
    {
        QFETCH(QByteArray, tail);
        QFETCH(bool, verify);
        ExchangeRig rig(QStringLiteral("readconfig"));
        SimFaults silent;
        silent.silent = true;
        rig.connectSensor(0, silent);
        const QByteArray full = dumpWith({});
        const QByteArray dump = full.left(full.indexOf("(R132): ") + 8) + tail;
        rig.form->StartReadConfig();
        QVERIFY(rig.clock.advanceUntil([&] { return rig.serial.written(3).endsWith("PDAh"); }, 1000));
        rig.serial.inject(3, dump);
        rig.clock.advance(1000);
        QTEST(rig.form->statusText() == QLatin1String(" Sensor data received from EchoGauge"), "taken");
        QTEST(rig.form->flowExponent, "exponent");
        if (!verify)
            return;
        rig.form->menuVerifySensorClick();
        QVERIFY(rig.clock.advanceUntil([&] { return rig.serial.written(3).count("PDAh") == 2; }, 1000));
        rig.serial.inject(3, dump);
        rig.clock.advance(1000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" The sensor holds what the window shows."));
    }

    // A silent sensor: three requests 10.2 s apart (the 10 s wait counted from the
    // first tick after the 7 characters have left), then the failure.
    void silentSensor_data()
    {
        QTest::addColumn<bool>("passthrough");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("period");
        QTest::newRow("direct") << false << QByteArray("...PDAh") << 10200;
        // 15 framed characters: the sender is done after 420 ms, counted from 500 ms.
        QTest::newRow("through a logger") << true << QByteArray("...EGCNFG(PDAh)") << 20400;
    }

    void silentSensor()
    {
        QFETCH(bool, passthrough);
        QFETCH(QByteArray, request);
        QFETCH(int, period);

        ExchangeRig rig(QStringLiteral("readconfig"));
        rig.serial.addSilentPort(3);
        OpenPort(&rig.form->commPort, 3, 9600);
        rig.form->sensorPassthrough = passthrough;
        rig.form->textSerial->show();
        rig.form->StartReadConfig();
        rig.clock.advance(3 * period + 1000);

        const QString text = QStringLiteral(" Requesting sensor data");
        QCOMPARE(rig.statusSteps(), (QStringList{text + " ...", text + " (Attempt 2) ...",
                                                 text + " (Attempt 3) ...", " Sensor data not received!"}));
        QCOMPARE(rig.firstMessageTime(text + " ..."), qint64(32));
        QCOMPARE(rig.firstMessageTime(text + " (Attempt 2) ..."), qint64(32 + period));
        QCOMPARE(rig.firstMessageTime(text + " (Attempt 3) ..."), qint64(32 + 2 * period));
        QCOMPARE(rig.firstMessageTime(" Sensor data not received!"), qint64(32 + 3 * period));
        QCOMPARE(rig.serial.written(3), request + request + request);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(rig.form->textSerial->isHidden());
        QVERIFY(rig.form->menuReadHeight->isEnabled());
        QVERIFY(rig.form->commPort.isOpen());
    }
};

QTEST_MAIN(TestReadConfig)
#include "tst_readconfig.moc"
