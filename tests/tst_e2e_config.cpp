// The configuration exchanges in real time against echogauge-sim on a pseudo-terminal,
// directly and through the simulated logger: the search hands over to the
// configuration read, a changed height is written and read back, and a V-notch
// channel is uploaded until the simulator's registers hold the table.
#include "SimHarness.h"
#include "channel/Flowtable.h"
#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

class TestE2eConfig : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(dir.path()));
    }

    void readWriteAndUpload_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("loggerBaud");
        QTest::newRow("sensor wired directly") << 61 << 0;
        QTest::newRow("through a logger at 19200") << 62 << 19200;
    }

    void readWriteAndUpload()
    {
        QFETCH(int, port);
        QFETCH(int, loggerBaud);

        const QString registersFile = dir.filePath(QStringLiteral("registers-%1.txt").arg(port));
        QStringList args{"--register", "23=2750", "--register", "19=4711", "--registers-out", registersFile};
        if (loggerBaud)
            args << "--logger" << QString::number(loggerBaud);
        Simulator sim(port, args);
        QVERIFY(sim.waitPublished());

        RecordingDialogs dialogs;
        auto form =
            realTimeWindow(&dialogs, QStringLiteral("e2econfig-%1").arg(QCoreApplication::applicationPid()));
        form->timerSlowTx->setInterval(10); // the quickest pace the Options dialog offers
        form->firmwareVersion = 113;
        // Only the simulator's candidate is searched, so the machine's own ports play no part.
        form->options = loggerBaud ? 4u : 1u;
        form->StartSearch({qint16(port), QStringLiteral("COM%1").arg(port), loggerBaud ? loggerBaud : 9600,
                           loggerBaud != 0});

        const QString received = QStringLiteral(" Sensor data received from EchoGauge");
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), received, 30000);
        QCOMPARE(form->sensorPassthrough, loggerBaud != 0);
        QCOMPARE(form->trackSensorHeight->maximum(), 10000);
        QCOMPARE(form->textSensorHeight->text(), QStringLiteral("2.750m"));
        QCOMPARE(form->cbChanType->currentIndex(), 1);
        QCOMPARE(form->textSerial->text(), QStringLiteral("S/N 04711, V1.13"));

        // A changed height is written and read back.
        form->trackSensorHeight->setValue(10000 - 3210);
        form->btnSetHeight->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" Sensor data successfully written"),
                                  30000);
        form->trackSensorHeight->setValue(0);
        form->StartReadConfig();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), received, 30000);
        QCOMPARE(form->textSensorHeight->text(), QStringLiteral("3.210m"));

        // A V-notch channel goes into the sensor.
        form->cbChanType->setCurrentIndex(ctVNotchWeir);
        form->notchAngle = 90;
        form->btnSendChannelDataClick();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" Channel data successfully written"),
                                  180000);

        // "Verify Sensor" finds the upload in the simulator's registers, and a register
        // written behind the window's back.
        form->menuVerifySensor->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(),
                                  QStringLiteral(" The sensor holds what the window shows."), 60000);
        QCOMPARE(dialogs.messages.last().text, QStringLiteral("The sensor holds what the window shows."));
        QVERIFY(form->lastVerification && form->lastVerification->tableListed); // the table compared too
        QCOMPARE(form->lastVerification->compared, 72);
        QVERIFY(form->SendCommand(QByteArrayLiteral("...ATR131=777\r"), loggerBaud != 0));
        QTRY_VERIFY_WITH_TIMEOUT(form->txPending.isEmpty(), 10000);
        QTest::qWait(loggerBaud ? 2500 : 1000); // its acknowledgement, thrown away by the next exchange
        form->menuVerifySensor->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->portState == psIdle, 60000);
        QCOMPARE(form->statusText(),
                 QStringLiteral(" The sensor differs from the window in 1 of 72 registers"));
        QCOMPARE(dialogs.dialogsRun, QStringList{QStringLiteral("Verify Sensor")});
        ClosePort(&form->commPort);
        form.reset();
        QVERIFY(sim.stop(5000)); // it writes its registers on the way out

        QVERIFY(QFile::exists(registersFile));
        const QMap<int, int> held = readSimRegisters(registersFile);
        const FlowTable table = BuildFlowTable(ctVNotchWeir, ChannelDimensions{90, 1000, 1000, 500});
        for (int k = 0; k < 64; ++k)
            QCOMPARE(held.value(64 + k), int(table.words[size_t(k)]));
        QCOMPARE(held.value(23), 3210 + 32768);
        QCOMPARE(held.value(128), 4);
        QCOMPARE(held.value(129), 90);
        QCOMPARE(held.value(131), 777);
        QCOMPARE(held.value(132), 1);
    }

    // At the default pace a 14-character register write leaves the sender's last tick
    // due at the very moment of a poll tick. That poll must still find the sender
    // running, as on the virtual clock, or the 250 ms wait runs out before the
    // acknowledgement has been seen twice and every attempt fails. Nothing else here
    // is close to its time limit: the other two writes leave a margin of 25 ms or more.
    void writeAtTheDefaultPace()
    {
        const int port = 63;
        Simulator sim(port);
        QVERIFY(sim.waitPublished());

        RecordingDialogs dialogs;
        auto form =
            realTimeWindow(&dialogs, QStringLiteral("e2epace-%1").arg(QCoreApplication::applicationPid()));
        QCOMPARE(form->timerSlowTx->interval(), 20);
        QStringList statuses;
        connect(form->statusBar, &QStatusBar::messageChanged, form.get(),
                [&](const QString &text) { statuses << text; });
        form->options = 1u;
        form->StartSearch({qint16(port), QStringLiteral("COM%1").arg(port), 9600, false});
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QStringLiteral(" Sensor data received from EchoGauge"),
                                  30000);

        // A depth channel at 9.500 m with 10 % headroom: "...ATR1=10450" and
        // "...ATR23=9500", each with a carriage return, are 14 characters.
        form->cbChanType->setCurrentIndex(ctMeasureDepth);
        form->cbSetMaxHeight->setChecked(true);
        form->maxHeightPercent = 10;
        form->trackSensorHeight->setValue(form->trackSensorHeight->maximum() - 9500);
        form->btnSetHeight->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->portState == psIdle, 20000);
        QCOMPARE(form->statusText(), QStringLiteral(" Sensor data successfully written"));
        QVERIFY(statuses.filter(QStringLiteral(" Writing sensor data (Attempt")).isEmpty());
        ClosePort(&form->commPort);
        form.reset();
        QVERIFY(sim.stop(5000));
    }
};

QTEST_MAIN(TestE2eConfig)
#include "tst_e2e_config.moc"
