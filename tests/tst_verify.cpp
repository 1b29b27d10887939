// "Verify Sensor": the register dump compared with what the window would write, as
// plain functions and against the in-process sensor after a real upload; it changes
// nothing in the window or the sensor, and is offered only with a sensor to read.
#include "ExchangeRig.h"

#include "app/Sitereport.h"
#include "channel/Flowtable.h"
#include "exchange/Verify.h"

#include <QAction>
#include <QComboBox>
#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

namespace {

using Values = QMap<int, qint32>;
using Rows = QList<QStringList>; // register, in the sensor, in the window

// A dump as the sensor prints it, with the lines the application does not read.
QByteArray dumpOf(const Values &values)
{
    QByteArray out = "EchoGauge 18F2620 Version 01.13\r\nTemperature    : 18.5 C\r\n";
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        out += "Register       (R" + QByteArray::number(it.key()) + "): " + QByteArray::number(it.value()) +
               "\r\n";
    return out + "End\r\n";
}

// What the window of a V-notch site of 90 degrees at 2.750 m would write.
RegisterWords vNotchWords()
{
    WindowSetup s;
    s.channelType = ctVNotchWeir;
    s.windowHigh = 3025;
    s.sensorHeight = 2750 | 0x8000;
    s.lostEcho = 0xFFFF;
    return UploadRegisterWords(s);
}

// Everything a verification must leave as it was.
QString windowState(TformMain &w)
{
    QString text;
    QDebug(&text) << w.channelType() << w.notchAngle << w.crestHeight << w.channelWidth << w.notchWidth
                  << w.flowExponent << w.editCrestHeight->text() << w.editChanWidth->text()
                  << w.editNotchWidth->text() << w.trackSensorHeight->value()
                  << w.trackSensorHeight->maximum() << w.cbLostEcho->currentIndex()
                  << w.editLostEchoValue->text() << w.lostEchoValue << w.setupChanged << w.channelChanged
                  << w.textSerial->text() << w.historyEntries->size();
    return text;
}

} // namespace

class TestVerify : public QObject
{
    Q_OBJECT

private slots:
    void comparison_data()
    {
        QTest::addColumn<Values>("sensor");
        QTest::addColumn<int>("compared");
        QTest::addColumn<bool>("tableListed");
        QTest::addColumn<Rows>("differences");

        Values same;
        const RegisterWords words = vNotchWords();
        for (auto it = words.cbegin(); it != words.cend(); ++it)
            same.insert(it.key(), it.value());
        const auto with = [&](const Values &changes, const QList<int> &left = {}) {
            Values v = same;
            for (auto it = changes.cbegin(); it != changes.cend(); ++it)
                v[it.key()] = it.value();
            for (int r : left)
                v.remove(r);
            return v;
        };
        QList<int> table;
        for (int r = 64; r <= 127; ++r)
            table << r;
        QTest::newRow("the same, table and all") << same << 72 << true << Rows{};
        QTest::newRow("a dimension and a table word changed")
            << with({{131, 777}, {70, 1}}) << 72 << true
            << Rows{{"70 Table point 4 head", "1", "483"}, {"131 Channel width", "777", "1000"}};
        QTest::newRow("a dump without the table compares the rest")
            << with({}, table) << 8 << false << Rows{};
        QTest::newRow("a table word and a set-up register left out")
            << with({}, {1, 127}) << 72 << true
            << Rows{{"1 Window High", "not listed", "3025"},
                    {"127 Table point 32 flow count", "not listed", "7637"}};
        // Older firmware prints its registers signed.
        QTest::newRow("signed values are the same registers")
            << with({{23, qint16(2750 | 0x8000)}, {24, -1}}) << 72 << true << Rows{};
        // Its low 16 bits would pass for 1000.
        QTest::newRow("a value beyond 16 bits is not folded")
            << with({{130, 65536 + 1000}}) << 72 << true << Rows{{"130 Crest height", "66536", "1000"}};
    }

    void comparison()
    {
        QFETCH(Values, sensor);
        const RegisterWords window = vNotchWords();
        // Read back out of a printed dump, with other registers around them.
        Values printed = sensor;
        printed.insert(8, 0);
        printed.insert(25, 30);
        const QByteArray dump = dumpOf(printed);
        const Values read = DumpRegisterValues(dump, window.keys());
        QCOMPARE(read, sensor);
        // A dump that ends in its last value, once the line has fallen quiet, reads the same.
        const QByteArray cut = dump.left(dump.lastIndexOf("\r\nEnd"));
        QCOMPARE(DumpRegisterValues(cut, window.keys(), true), sensor);

        const SensorComparison c = CompareWithSensor(read, window);
        QTEST(c.compared, "compared");
        QTEST(c.tableListed, "tableListed");
        Rows got;
        for (const RegisterDifference &d : c.differences)
            got << QStringList{RegisterCaption(d.reg), d.inSensor, d.inWindow};
        QTEST(got, "differences");
    }

    // A constricted weir sent to the sensor is found there register by register;
    // registers changed behind the window's back, and a lost-echo value typed since,
    // are listed, and nothing in the window or the sensor changes on the way.
    void verifiesARealUpload()
    {
        ExchangeRig rig(QStringLiteral("verify"));
        TformMain &w = *rig.form;
        SimSensor *sensor = rig.connectDescribed(ctConstrictedWeir, ChannelDimensions{90, 800, 1200, 400});
        w.trackSensorHeight->setValue(10000 - 2750);
        w.btnSendChannelDataClick();
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 60000));
        QCOMPARE(w.statusText(), QStringLiteral(" Channel data successfully written"));
        QVERIFY(w.menuVerifySensor->isEnabled());

        const QString before = windowState(w);
        const QMap<int, quint16> registers = sensor->registers;
        const qsizetype requests = sensor->requests.size();
        w.menuVerifySensor->trigger();
        QVERIFY(!w.menuVerifySensor->isEnabled()); // like the other starters, while it runs
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 15000));
        QCOMPARE(w.statusText(), QStringLiteral(" The sensor holds what the window shows."));
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.first().text,
                 QStringLiteral("The sensor holds what the window shows."));
        QCOMPARE(windowState(w), before);
        QCOMPARE(sensor->registers, registers);
        QCOMPARE(sensor->requests.mid(requests), QList<QByteArray>{"PDAh"});
        QVERIFY(w.lastVerification && w.lastVerification->differing == 0);
        QCOMPARE(w.lastVerification->compared, 72);

        const auto verified = SiteReportFacts(w.siteReport()).last();
        QCOMPARE(verified.first, QStringLiteral("Last verification"));
        QVERIFY2(verified.second.endsWith("held what the window showed (72 registers)"),
                 qPrintable(verified.second));

        // Behind the window's back, and in the window since.
        sensor->setRegister(131, 1500);
        sensor->setRegister(66, 150);
        w.cbLostEcho->setCurrentIndex(1);
        w.editLostEchoValue->setText(QStringLiteral("40000"));
        const QString edited = windowState(w);
        Rows shown;
        rig.dialogs.onDialog = [&](QDialog *d) {
            auto *grid = d->findChild<QTableWidget *>(QStringLiteral("verifyGrid"));
            for (int r = 0; grid && r < grid->rowCount(); ++r)
                shown << QStringList{grid->item(r, 0)->text(), grid->item(r, 1)->text(),
                                     grid->item(r, 2)->text()};
            return int(QDialog::Rejected);
        };
        w.menuVerifySensor->trigger();
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 15000));
        QCOMPARE(rig.dialogs.dialogsRun, QStringList{QStringLiteral("Verify Sensor")});
        const FlowTable table = BuildFlowTable(ctConstrictedWeir, ChannelDimensions{90, 800, 1200, 400});
        QCOMPARE(shown, (Rows{{"24 Lost echo", "65535", "32767"},
                              {"66 Table point 2 head", "150", QString::number(table.words[2])},
                              {"131 Channel width", "1500", "1200"}}));
        QCOMPARE(w.statusText(), QStringLiteral(" The sensor differs from the window in 3 of 72 registers"));
        QCOMPARE(rig.dialogs.messages.size(), 1); // the typed value is not corrected with a message
        QCOMPARE(windowState(w), edited);
        QCOMPARE(w.lastVerification->differing, 3);
    }

    // Offered only with a sensor found and connected, and not while an exchange runs.
    void offeredWithASensorOnly()
    {
        ExchangeRig rig(QStringLiteral("verify"));
        TformMain &w = *rig.form;
        QVERIFY(!w.menuVerifySensor->isEnabled());
        w.EnableSensorControls(true); // as after a failed read with no sensor there
        QVERIFY(!w.menuVerifySensor->isEnabled());
        w.menuVerifySensorClick(); // nor started any other way
        QCOMPARE(w.portState, qint8(psIdle));

        rig.connectSensor();
        w.StartReadConfig();
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 15000));
        QVERIFY(w.menuVerifySensor->isEnabled());
        QCOMPARE(w.menuEchoGauge->actions().indexOf(w.menuVerifySensor),
                 w.menuEchoGauge->actions().indexOf(w.menuReadHeight) + 1);
        w.menuMeasureClick();
        QVERIFY(!w.menuVerifySensor->isEnabled());
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 15000));
        QVERIFY(w.menuVerifySensor->isEnabled());
    }
};

QTEST_MAIN(TestVerify)
#include "tst_verify.moc"
