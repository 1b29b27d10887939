// Every exchange against a sensor that misbehaves, and the window fed text and
// files that make no sense: each ends in its own failure text or default, never in
// a success it did not have, and leaves the rest of the window as it was.

#include "ExchangeRig.h"

#include "channel/Flow.h"
#include "channel/Flowtable.h"
#include "exchange/Setconfig.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString readOk = QStringLiteral(" Sensor data received from EchoGauge");
const QString readFailed = QStringLiteral(" Sensor data not received!");
const QString writeOk = QStringLiteral(" Sensor data successfully written");
const QString writeFailed = QStringLiteral(" Sensor data not written!");
const QString measureOk = QStringLiteral(" Distance = 1.000m"); // the sensor reports 1 m of water as a depth
const QString measureFailed = QStringLiteral("  Measurement results not received");
const QString measureInvalid = QStringLiteral(" Measurement Invalid");
const QString uploadOk = QStringLiteral(" Channel data successfully written");
const QString uploadFailed = QStringLiteral(" Channel Data Not Written!");

// Line noise that holds no reply the window waits for: no comma, no "OK", no line end.
QByteArray noise(int size)
{
    QByteArray out(size, '\0');
    quint32 x = 12345;
    for (char &c : out) {
        x = x * 1103515245u + 12345u;
        c = "abcdefghijkmnpqrstuvwxyz#*~+-"[(x >> 16) % 29];
    }
    return out;
}

QColor captionColour(const QPushButton *b)
{
    return b->palette().color(QPalette::ButtonText);
}

// What a failed exchange must leave alone.
struct Snapshot
{
    int type, angle, crest, width, notch, heightPos, heightMax;
    qint32 lostEcho;
    bool operator==(const Snapshot &o) const
    {
        return std::tie(type, angle, crest, width, notch, heightPos, heightMax, lostEcho) ==
               std::tie(o.type, o.angle, o.crest, o.width, o.notch, o.heightPos, o.heightMax, o.lostEcho);
    }
};
Snapshot snapshot(const TformMain &w)
{
    return {w.cbChanType->currentIndex(),
            w.notchAngle,
            w.crestHeight,
            w.channelWidth,
            w.notchWidth,
            w.trackSensorHeight->value(),
            w.trackSensorHeight->maximum(),
            w.lostEchoValue};
}

void startExchange(TformMain &w, const QString &exchange)
{
    if (exchange == QLatin1String("read")) {
        w.StartReadConfig();
    } else if (exchange == QLatin1String("write")) {
        w.btnHeightUpClick(); // a changed set-up, as the engineer leaves it
        w.StartWriteConfig();
    } else if (exchange == QLatin1String("measure")) {
        w.StartMeasurement(true);
    } else {
        w.cbChanType->setCurrentIndex(ctMeasureDepth);
        w.markChannelChanged(true);
        w.btnSendChannelDataClick();
    }
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    // Each exchange against each fault of the sensor or its line, on the virtual clock.
    void exchangeUnderFault_data()
    {
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("outcome");

        struct Row
        {
            const char *fault;
            QString read, write, measure, upload;
        };
        // Faults that leave every exchange failed.
        QList<Row> rows;
        for (const char *f : {"silent", "garbled", "wrong speed", "unplugged", "flood, sensor silent"})
            rows.append({f, readFailed, writeFailed, measureFailed, uploadFailed});
        rows += QList<Row>{
            // The "K\r" comes well inside the wait a register write is given.
            {"split by 50 ms", readOk, writeOk, measureOk, uploadOk},
            {"split by 150 ms", readOk, writeOk, measureOk, uploadOk},
            {"no acknowledgement", readOk, writeFailed, measureOk, uploadFailed},
            {"register 23 missing", readFailed, writeOk, measureOk, uploadOk},
            {"register 9 missing", readFailed, writeOk, measureOk, uploadOk},
            {"invalid readings", readOk, writeOk, measureInvalid, uploadOk},
            {"flood", readOk, writeOk, measureOk, uploadOk},
        };
        for (const Row &r : rows) {
            QTest::addRow("read, %s", r.fault) << "read" << r.fault << r.read;
            QTest::addRow("write, %s", r.fault) << "write" << r.fault << r.write;
            QTest::addRow("measure, %s", r.fault) << "measure" << r.fault << r.measure;
            QTest::addRow("upload, %s", r.fault) << "upload" << r.fault << r.upload;
        }
    }

    void exchangeUnderFault()
    {
        QFETCH(QString, exchange);
        QFETCH(QString, fault);
        QFETCH(QString, outcome);
        ExchangeRig rig(QStringLiteral("faults"));
        TformMain &w = *rig.form;
        SimFaults f;
        f.silent = fault == QLatin1String("silent") || fault.endsWith(QLatin1String("silent"));
        f.garbled = fault == QLatin1String("garbled");
        f.splitPauseMs =
            fault.startsWith(QLatin1String("split")) ? fault.section(QLatin1Char(' '), 2, 2).toInt() : 0;
        f.noAcknowledge = fault == QLatin1String("no acknowledgement");
        f.missingRegister =
            fault.startsWith(QLatin1String("register")) ? fault.mid(9, 2).trimmed().toInt() : -1;
        f.invalidReadings = fault == QLatin1String("invalid readings");
        SimSensor *sensor = rig.connectSensor(0, f);
        sensor->setRegister(131, 2345); // a channel width the window does not hold
        if (fault == QLatin1String("wrong speed"))
            QVERIFY(OpenPort(&w.commPort, 3, 19200));
        const Snapshot before = snapshot(w);

        startExchange(w, exchange);
        if (fault == QLatin1String("unplugged") || fault.startsWith(QLatin1String("flood"))) {
            // The first request has gone out in full; its reply is on the way.
            const QByteArray end = exchange == QLatin1String("read")      ? QByteArray("PDAh")
                                   : exchange == QLatin1String("measure") ? QByteArray("PDAs")
                                                                          : QByteArray("\r");
            while (!rig.serial.written(3).endsWith(end) && rig.clock.nowMs() < 5000)
                rig.clock.advance(1);
            QVERIFY(rig.clock.nowMs() < 5000);
            if (fault == QLatin1String("unplugged"))
                rig.serial.unplug(3);
            else
                rig.serial.inject(3, noise(3 * 32768 / 2)); // half as much again as the ring holds
        }
        rig.clock.advance(60000);

        QCOMPARE(w.statusText(), outcome);
        QCOMPARE(w.portState, qint8(psIdle));
        QVERIFY(!w.timerPortService->isActive());
        QVERIFY(w.btnSetHeight->isEnabled());
        QVERIFY(w.btnSendChannelData->isEnabled());
        const bool ok =
            outcome == readOk || outcome == writeOk || outcome == measureOk || outcome == uploadOk;
        if (!ok) {
            // No success shown on the way, and no trace of one left behind.
            for (const QString &step : rig.statusSteps())
                for (const QString &success : {readOk, writeOk, uploadOk, QStringLiteral(" Distance")})
                    QVERIFY2(!step.startsWith(success), qPrintable(step));
            if (exchange == QLatin1String("read"))
                QVERIFY(snapshot(w) == before);
            if (exchange == QLatin1String("write"))
                QVERIFY(w.setupChanged);
            if (exchange == QLatin1String("upload"))
                QCOMPARE(captionColour(w.btnSendChannelData), QColor(255, 0, 0));
            if (exchange == QLatin1String("measure"))
                QCOMPARE(w.textResultHeight->text(),
                         outcome == measureInvalid ? QStringLiteral("<Invalid>") : QStringLiteral("<Error>"));
        } else if (exchange == QLatin1String("read")) {
            QCOMPARE(w.channelWidth, 2345);
        }
    }

    // The device goes away in the middle of an exchange and comes back: the exchange
    // fails in its own time, and the next search finds the sensor again.
    void goneAndBackIsFoundByTheNextSearch_data()
    {
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QString>("failed");
        QTest::newRow("read") << "read" << readFailed;
        QTest::newRow("measure") << "measure" << measureFailed;
        QTest::newRow("upload") << "upload" << uploadFailed;
    }
    void goneAndBackIsFoundByTheNextSearch()
    {
        QFETCH(QString, exchange);
        ExchangeRig rig(QStringLiteral("faults"));
        TformMain &w = *rig.form;
        rig.connectSensor();
        startExchange(w, exchange);
        rig.clock.advance(300);
        rig.serial.unplug(3);
        rig.clock.advance(60000);
        QTEST(w.statusText(), "failed");
        QCOMPARE(w.portState, qint8(psIdle));

        rig.serial.replug(3);
        w.menuSearchClick();
        rig.clock.advance(30000);
        QCOMPARE(w.statusText(), readOk);
        QCOMPARE(w.sensorPort, qint16(3));
        QCOMPARE(w.portState, qint8(psIdle));
        QVERIFY(rig.serial.isOpen(3));
    }
    // Text typed (or pasted past the key filter) into the set-up and channel edits,
    // followed all the way to the register the sensor is sent.
    void typedTextReachesTheSensor_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("message");
        const QString invalid = QString::fromLatin1(lostEchoInvalidText);
        const QString adjusted = QString::fromLatin1(lostEchoAdjustedText);
        struct Row
        {
            const char *name, *edit, *text;
            int reg, value;
            QString message;
        };
        const Row rows[] = {
            {"lost echo, empty", "lost echo", "", 24, 65535, invalid},
            {"lost echo, letters", "lost echo", "abc", 24, 65535, invalid},
            {"lost echo, negative", "lost echo", "-7", 24, 65529, ""},
            {"lost echo, beyond 16 bits", "lost echo", "40000", 24, 32767, adjusted},
            {"lost echo, beyond 32 bits", "lost echo", "99999999999", 24, 65535, invalid},
            {"lost echo, fractional", "lost echo", "12.5", 24, 65535, invalid},
            {"width, empty", "width", "", 131, 64537, ""},
            {"width, letters", "width", "abc", 131, 64537, ""},
            {"width, negative", "width", "-2", 131, 63537, ""},
            {"width, fraction of a mm", "width", "0.0004", 131, 0, ""},
            {"width, 70 m", "width", "70", 131, 65535, ""},
            {"width, huge", "width", "1e30", 131, 65535, ""},
            {"crest, rounded", "crest", "1.2345", 130, 1235, ""},
            {"crest, 65.536 m", "crest", "65.536", 130, 65535, ""},
            {"notch, letters", "notch", "x", 129, 64537, ""},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << QString(r.edit) << QString(r.text) << r.reg << r.value << r.message;
    }
    void typedTextReachesTheSensor()
    {
        QFETCH(QString, edit);
        QFETCH(QString, text);
        QFETCH(int, reg);
        QFETCH(QString, message);
        ExchangeRig rig(QStringLiteral("faults"));
        TformMain &w = *rig.form;
        SimSensor *sensor = rig.connectSensor();
        w.cbChanType->setCurrentIndex(ctMeasureDepth);
        if (edit == QLatin1String("lost echo")) {
            w.cbLostEcho->setCurrentIndex(1);
            w.editLostEchoValue->setText(text);
            w.btnSetHeight->click();
            rig.clock.advance(10000);
            QCOMPARE(w.statusText(), writeOk);
        } else {
            QLineEdit *e = edit == QLatin1String("width")   ? w.editChanWidth
                           : edit == QLatin1String("crest") ? w.editCrestHeight
                                                            : w.editNotchWidth;
            e->setText(text);
            w.btnSendChannelData->click();
            rig.clock.advance(10000);
            QCOMPARE(w.statusText(), uploadOk);
        }
        QTEST(int(sensor->reg(reg)), "value");
        QCOMPARE(rig.dialogs.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QCOMPARE(rig.dialogs.messages.at(0).text, message);
        if (reg == 24 && sensor->reg(24) == 0xFFFF) // the old value is "repeat the last"
            QCOMPARE(w.cbLostEcho->currentIndex(), 0);
    }

    // Channel description files that are cut short, binary or hold absurd numbers:
    // loaded with their defaults and no message, then drawn and uploaded as they stand,
    // and the sensor set-up beside them untouched.
    void oddFileLeavesTheWindowWorking_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("crest");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("notch");
        QByteArray binary; // no ASCII at all, so no section line or key hides in it
        for (int i = 0; i < 1024; ++i)
            binary.append(char(i % 3 ? 0x80 | (i * 7) : 0));
        const QByteArray head("[Channels]\r\n");
        QTest::newRow("cut in the section line") << QByteArray("[Chan") << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("cut in a key") << head + "Channel Type=4\r\nNotch An" << 4 << 90 << 1 << 2 << 1;
        QTest::newRow("cut in a value")
            << head + "Channel Type=2\r\nCrest Height=12" << 2 << 90 << 12 << 2 << 1;
        QTest::newRow("binary") << binary << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("binary around good lines")
            << QByteArray("\0\xff\r\n", 4) + head + "Channel Type=3\r\n" + binary +
                   "\r\nNotch Width=300\r\nChannel Width=900\r\n"
            << 3 << 90 << 1 << 900 << 300;
        QTest::newRow("type 2.5") << head + "Channel Type=2.5\r\n" << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("type beyond 32 bits") << head + "Channel Type=4294967298\r\n"
                                             << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("angle 179") << head + "Channel Type=4\r\nNotch Angle=179\r\n"
                                   << 4 << 179 << 1 << 2 << 1;
        QTest::newRow("angle 0") << head + "Channel Type=4\r\nNotch Angle=0\r\n" << 4 << 0 << 1 << 2 << 1;
        QTest::newRow("angle -2^31") << head + "Channel Type=4\r\nNotch Angle=-2147483648\r\n"
                                     << 4 << int(-2147483647 - 1) << 1 << 2 << 1;
        QTest::newRow("crest 2^31-1, width 100 km")
            << head + "Channel Type=2\r\nCrest Height=2147483647\r\nChannel Width=100000000\r\n"
            << 2 << 90 << 2147483647 << 100000000 << 1;
        QTest::newRow("crest beyond 32 bits") << head + "Channel Type=2\r\nCrest Height=99999999999\r\n"
                                              << 2 << 90 << 1 << 2 << 1;
        QTest::newRow("negative width, wide notch")
            << head + "Channel Type=3\r\nCrest Height=500\r\nChannel Width=-1\r\nNotch Width=90000\r\n"
            << 3 << 90 << 500 << 0 << 90000; // -1 mm shown as -0.001 m reads back as 0
    }
    void oddFileLeavesTheWindowWorking()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir, QStringLiteral("odd.cdf"), bytes);
        QVERIFY(!path.isEmpty());
        ExchangeRig rig(QStringLiteral("faults"));
        TformMain &w = *rig.form;
        SimSensor *sensor = rig.connectSensor();
        w.btnHeightUpClick();
        const int height = w.trackSensorHeight->value();

        rig.dialogs.openAnswers << path;
        w.menuLoadChannelClick();
        QVERIFY(rig.dialogs.messages.isEmpty());
        QTEST(w.channelType(), "type");
        QTEST(w.notchAngle, "angle");
        QTEST(w.crestHeight, "crest");
        QTEST(w.channelWidth, "width");
        QTEST(w.notchWidth, "notch");
        QVERIFY(w.channelChanged);
        QVERIFY(!w.pbChannel->grab().isNull());
        QVERIFY(!w.pbFlowGraph->grab().isNull());
        w.pbFlowGraphMouseMove(60, 60);

        w.btnSendChannelData->click();
        rig.clock.advance(60000);
        QCOMPARE(w.statusText(), uploadOk);
        QCOMPARE(int(sensor->reg(128)), w.channelType());
        QCOMPARE(w.trackSensorHeight->value(), height);
        QVERIFY(w.setupChanged);
        QCOMPARE(w.lostEchoValue, 0xFFFF);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
