// The head-to-flow table and its upload into the in-process sensor on the virtual clock.
#include "ExchangeRig.h"

#include "channel/Flowtable.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

using Pairs = QList<QPair<int, int>>;

Pairs pairsOf(const FlowTable &t, int from, int count)
{
    Pairs out;
    for (int k = from; k < from + count; ++k)
        out.append({t.words[size_t(2 * k)], t.words[size_t(2 * k + 1)]});
    return out;
}

// The register writes the sensor understood, "ATR<n>=<v>", as (register, value).
QList<QPair<int, int>> writesOf(const SimSensor *s)
{
    QList<QPair<int, int>> out;
    for (const QByteArray &r : s->requests) {
        if (!r.startsWith("ATR"))
            continue;
        const int eq = int(r.indexOf('='));
        out.append({r.mid(3, eq - 3).toInt(), r.mid(eq + 1).toInt()});
    }
    return out;
}

const QColor red(255, 0, 0);
const QColor black(0, 0, 0);

QColor sendCaption(const TformMain &w)
{
    return w.btnSendChannelData->palette().color(QPalette::ButtonText);
}

} // namespace

class TestFlowTable : public QObject
{
    Q_OBJECT

private slots:
    void headsAreTheSinglePrecisionSum()
    {
        const QList<int> expected{0,    161,  322,  483,  645,  806,  967,  1129, 1290, 1451, 1612,
                                  1774, 1935, 2096, 2258, 2419, 2580, 2741, 2903, 3064, 3225, 3387,
                                  3548, 3709, 3870, 4032, 4193, 4354, 4516, 4677, 4838, 5000};
        // The heads do not depend on the channel, only on the sum.
        for (int type : {ctRectangularWeir, ctVNotchWeir}) {
            const FlowTable t = BuildFlowTable(type, ChannelDimensions{});
            QList<int> heads;
            for (int k = 0; k < flowTablePoints; ++k)
                heads << t.words[size_t(2 * k)];
            QCOMPARE(heads, expected);
        }
    }

    void tableAndScale_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<ChannelDimensions>("dims");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<Pairs>("first");
        QTest::addColumn<Pairs>("last");

        QTest::newRow("V-notch 90 degrees")
            << int(ctVNotchWeir) << ChannelDimensions{90, 1000, 1000, 500} << 1
            << Pairs{{0, 0}, {161, 1}, {322, 8}, {483, 22}} << Pairs{{4838, 7033}, {5000, 7637}};
        // Head 0 gives 0 counts although the equation's 1 mm correction gives a trickle.
        QTest::newRow("rectangular 1000/1000")
            << int(ctRectangularWeir) << ChannelDimensions{90, 1000, 1000, 500} << 2
            << Pairs{{0, 0}, {161, 117}, {322, 338}}
            << Pairs{{5000, int(RectangularWeirFlow(1000, 1000, 1000, 5000) * 1000.0)}};
        QTest::newRow("constricted 1000/500/1000")
            << int(ctConstrictedWeir) << ChannelDimensions{90, 1000, 1000, 500} << 2 << Pairs{{0, 0}}
            << Pairs{{5000, 10704}};
        QTest::newRow("constricted 1000/150/1000")
            << int(ctConstrictedWeir) << ChannelDimensions{90, 1000, 1000, 150} << 3 << Pairs{{0, 0}}
            << Pairs{{5000, 29483}};
        // So much water over a low, wide crest that only tenths of a cubic metre fit.
        QTest::newRow("rectangular 10000 wide, crest 50")
            << int(ctRectangularWeir) << ChannelDimensions{90, 50, 10000, 500} << 0 << Pairs{{0, 0}}
            << Pairs{{5000, int(RectangularWeirFlow(10000, 10000, 50, 5000) * 10.0)}};
    }

    void tableAndScale()
    {
        QFETCH(int, type);
        QFETCH(ChannelDimensions, dims);
        QFETCH(int, exponent);
        QFETCH(Pairs, first);
        QFETCH(Pairs, last);

        const FlowTable t = BuildFlowTable(type, dims);
        QCOMPARE(t.exponent, exponent);
        QCOMPARE(pairsOf(t, 0, int(first.size())), first);
        QCOMPARE(pairsOf(t, flowTablePoints - int(last.size()), int(last.size())), last);
        // The flow at 5 m fits the scale, and one step coarser would have been wasteful.
        const double top = FlowForHead(type, dims, flowTableTopHead);
        QVERIFY(top * std::pow(10.0, exponent + 1) <= 64000.0 * 1.0000001);
        if (exponent < 4)
            QVERIFY(top * std::pow(10.0, exponent + 2) > 64000.0);
        // A rising channel gives rising counts.
        for (int k = 1; k < flowTablePoints; ++k)
            QVERIFY(t.words[size_t(2 * k + 1)] >= t.words[size_t(2 * k - 1)]);
    }

    void channelWithoutFlow_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<ChannelDimensions>("dims");
        QTest::newRow("crest height 0") << int(ctRectangularWeir) << ChannelDimensions{90, 0, 1000, 500};
        QTest::newRow("width 0, constricted")
            << int(ctConstrictedWeir) << ChannelDimensions{90, 1000, 0, 500};
        QTest::newRow("negative width") << int(ctRectangularWeir) << ChannelDimensions{90, 1000, -999, 500};
    }

    void channelWithoutFlow()
    {
        QFETCH(int, type);
        QFETCH(ChannelDimensions, dims);
        const FlowTable t = BuildFlowTable(type, dims);
        QCOMPARE(t.exponent, 4);
        for (int k = 0; k < flowTablePoints; ++k)
            QCOMPARE(int(t.words[size_t(2 * k + 1)]), 65535);
        QCOMPARE(int(t.words[62]), 5000);
    }

    // An angle far outside the track bar's range (from a description file) still
    // gives a table and a scale, without hanging.
    void absurdNotchStillEnds()
    {
        const FlowTable t = BuildFlowTable(ctVNotchWeir, ChannelDimensions{179, 1000, 1000, 500});
        QVERIFY(t.exponent < 1);
        QVERIFY(t.exponent > -60);
    }

    void commandText_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("second head") << 66 << 161 << QByteArray("...ATR66=161\r");
        QTest::newRow("window high") << 1 << 3025 << QByteArray("...ATR1=3025\r");
        QTest::newRow("no-flow count") << 65 << 65535 << QByteArray("...ATR65=65535\r");
        // A negative width goes out as the unsigned decimal of its 16 bits.
        QTest::newRow("negative as unsigned") << 131 << int(quint16(-999)) << QByteArray("...ATR131=64537\r");
        QTest::newRow("zero") << 128 << 0 << QByteArray("...ATR128=0\r");
    }

    void commandText()
    {
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(QByteArray, text);
        QCOMPARE(RegisterWriteCommand(reg, quint16(value)), text);
    }

    void uploadRegisters()
    {
        QList<int> got;
        for (int step = 62; step < 73; ++step)
            got << UploadRegister(step);
        QCOMPARE(got, (QList<int>{126, 127, 1, 23, 24, 128, 129, 130, 131, 132, -1}));
        QCOMPARE(UploadRegister(0), 64);
        QCOMPARE(UploadRegister(-1), -1);
    }

    // A whole upload: the sensor's table registers hold the table, the settings
    // follow, the mark turns black, and a configuration read gives the description back.
    void uploadReachesTheSensor_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<ChannelDimensions>("dims");
        QTest::addColumn<int>("register129");
        QTest::newRow("V-notch carries the angle")
            << int(ctVNotchWeir) << ChannelDimensions{90, 1000, 1000, 500} << 90;
        QTest::newRow("constricted carries the notch width")
            << int(ctConstrictedWeir) << ChannelDimensions{60, 800, 1200, 450} << 450;
        QTest::newRow("rectangular carries the notch width")
            << int(ctRectangularWeir) << ChannelDimensions{60, 0, 1000, 500} << 500;
    }

    void uploadReachesTheSensor()
    {
        QFETCH(int, type);
        QFETCH(ChannelDimensions, dims);
        QFETCH(int, register129);

        ExchangeRig rig(QStringLiteral("flowtable"));
        SimSensor *sensor = rig.connectDescribed(type, dims);
        rig.form->trackSensorHeight->setValue(10000 - 2750);
        rig.form->btnSendChannelDataClick();
        QCOMPARE(rig.form->portState, qint8(psChannelPrepare));
        QVERIFY(!rig.form->btnSendChannelData->isEnabled());
        rig.clock.advance(60000);

        const FlowTable table = BuildFlowTable(type, dims);
        QCOMPARE(rig.form->flowExponent, table.exponent);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Channel data successfully written"));
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(rig.form->btnSendChannelData->isEnabled());
        QCOMPARE(sendCaption(*rig.form), black);

        const QList<QPair<int, int>> writes = writesOf(sensor);
        QCOMPARE(writes.size(), 72); // each step once: every write was acknowledged
        for (int step = 0; step < 64; ++step) {
            QCOMPARE(writes[step].first, 64 + step);
            QCOMPARE(int(sensor->reg(64 + step)), int(table.words[size_t(step)]));
        }
        const QList<QPair<int, int>> settings = writes.mid(64);
        QCOMPARE(settings, (QList<QPair<int, int>>{{1, 3025},
                                                   {23, 2750 + 32768},
                                                   {24, 65535},
                                                   {128, type},
                                                   {129, register129},
                                                   {130, dims.crestHeight},
                                                   {131, dims.channelWidth},
                                                   {132, table.exponent}}));
        QCOMPARE(rig.statusSteps().first(), QStringLiteral(" Writing channel data 0 of 71 ..."));
        QCOMPARE(rig.statusSteps().at(71), QStringLiteral(" Writing channel data 71 of 71 ..."));

        // Reading the configuration back gives the same description.
        describeChannel(*rig.form, ctMeasureDistance, ChannelDimensions{45, 1, 1, 1});
        rig.form->flowExponent = 9;
        rig.form->StartReadConfig();
        rig.clock.advance(15000);
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
        QCOMPARE(rig.form->channelType(), type);
        QCOMPARE(rig.form->crestHeight, dims.crestHeight);
        QCOMPARE(rig.form->channelWidth, dims.channelWidth);
        QCOMPARE(rig.form->notchWidth, register129);
        QCOMPARE(rig.form->flowExponent, table.exponent);
        QCOMPARE(rig.form->notchAngle, type == ctVNotchWeir ? dims.notchAngle : 45);
    }

    // The distance and depth types keep the table and scale they had and write the
    // eight settings only, starting at step 64. Through a logger each step may wait
    // 2 s; an acknowledged step moves on at the next tick all the same.
    void settingsOnlyForTypesWithoutFlow_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("register23");
        QTest::addColumn<int>("loggerBaud");
        QTest::newRow("depth") << int(ctMeasureDepth) << 2750 << 0;
        QTest::newRow("distance") << int(ctMeasureDistance) << 0 << 0;
        QTest::newRow("depth through a logger at 19200") << int(ctMeasureDepth) << 2750 << 19200;
    }

    void settingsOnlyForTypesWithoutFlow()
    {
        QFETCH(int, type);
        QFETCH(int, register23);
        QFETCH(int, loggerBaud);
        ExchangeRig rig(QStringLiteral("flowtable"));
        SimSensor *sensor = rig.connectDescribed(type, ChannelDimensions{70, 900, 1100, 400}, loggerBaud);
        rig.form->trackSensorHeight->setValue(10000 - 2750);
        rig.form->flowExponent = 3;
        rig.form->flowTable.fill(4242);
        rig.form->btnSendChannelDataClick();
        rig.clock.advance(loggerBaud ? 30000 : 20000);

        QCOMPARE(rig.statusSteps().first(), QStringLiteral(" Writing channel data 64 of 71 ..."));
        QCOMPARE(rig.form->statusText(), QStringLiteral(" Channel data successfully written"));
        QCOMPARE(rig.form->flowExponent, 3);
        QVERIFY(std::all_of(rig.form->flowTable.begin(), rig.form->flowTable.end(),
                            [](quint16 w) { return w == 4242; }));
        QCOMPARE(writesOf(sensor), (QList<QPair<int, int>>{{1, type == ctMeasureDepth ? 3025 : 5000},
                                                           {23, register23},
                                                           {24, 65535},
                                                           {128, type},
                                                           {129, 400},
                                                           {130, 900},
                                                           {131, 1100},
                                                           {132, 3}}));
        QCOMPARE(int(sensor->reg(64)), 0); // the table registers untouched
        QVERIFY(rig.serial.written(3).startsWith(loggerBaud ? "...EGCNFG(ATR1=" : "...ATR1="));
        const qint64 s64 = rig.firstMessageTime(" Writing channel data 64 of 71 ...");
        const qint64 s65 = rig.firstMessageTime(" Writing channel data 65 of 71 ...");
        QVERIFY(s64 > 0);
        QVERIFY(s65 - s64 < 1000); // not the whole 2 s wait
    }

    // The eleventh write is never acknowledged: three attempts at step 10, 600 ms
    // apart, then the upload gives up with the first ten steps in the sensor.
    void missingAcknowledgementEndsTheUpload()
    {
        ExchangeRig rig(QStringLiteral("flowtable"));
        const ChannelDimensions dims{90, 1000, 1000, 500};
        SimSensor *sensor = rig.connectDescribed(ctVNotchWeir, dims);
        rig.form->btnSendChannelDataClick();
        while (sensor->requests.size() < 10 && rig.clock.nowMs() < 20000)
            rig.clock.advance(1);
        sensor->faults.silent = true;
        rig.clock.advance(20000);

        const QString step10 = QStringLiteral(" Writing channel data 10 of 71");
        const QStringList steps = rig.statusSteps();
        QCOMPARE(steps.mid(9), (QStringList{" Writing channel data 9 of 71 ...", step10 + " ...",
                                            step10 + " (Attempt 2) ...", step10 + " (Attempt 3) ...",
                                            " Channel Data Not Written!"}));
        // "...ATR74=806\r" is 13 characters: the sender is done 100 + 14 x 20 ms after
        // the tick that sent it, the first counting tick is 400 ms after that tick,
        // and the 250 ms wait runs out on the third.
        QCOMPARE(rig.serial.written(3).right(14), QByteArray("\r...ATR74=806\r"));
        const qint64 first = rig.firstMessageTime(step10 + " ...");
        QCOMPARE(rig.firstMessageTime(step10 + " (Attempt 2) ..."), first + 600);
        QCOMPARE(rig.firstMessageTime(step10 + " (Attempt 3) ..."), first + 1200);
        QCOMPARE(rig.firstMessageTime(" Channel Data Not Written!"), first + 1800);

        const FlowTable table = BuildFlowTable(ctVNotchWeir, dims);
        for (int step = 0; step < 10; ++step)
            QCOMPARE(int(sensor->reg(64 + step)), int(table.words[size_t(step)]));
        QCOMPARE(int(sensor->reg(74)), 0);
        QCOMPARE(rig.form->portState, qint8(psIdle));
        QVERIFY(!rig.form->timerPortService->isActive());
        QVERIFY(rig.form->btnSendChannelData->isEnabled());
        QCOMPARE(sendCaption(*rig.form), red);
        QVERIFY(rig.form->commPort.isOpen());
    }
};

QTEST_MAIN(TestFlowTable)
#include "tst_flowtable.moc"
