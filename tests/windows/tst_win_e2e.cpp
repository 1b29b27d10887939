// The application's main window on the Windows comm API in real time, against
// echogauge-sim (on Linux) behind a Wine COM port: the start-up search over the
// device map finds the sensor, the configuration is read, a set-up is written and a
// depth measured, and the simulator's registers show what arrived. The script that
// starts the simulator names it: EG_TEST_SIM_PORT (the COM number),
// EG_TEST_SIM_LOGGER (0, or the logger's speed) and EG_TEST_SIM_REGISTERS (the
// simulator's registers file); without them the test skips itself.
#include "SimRegisters.h"
#include "app/Mainform.h"
#include "core/Dialogs.h"
#include "core/Timer.h"
#include "exchange/Autodetect.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTest>

class TestWinE2e : public QObject
{
    Q_OBJECT

private slots:
    void searchReadWriteAndMeasure()
    {
        const int port = qEnvironmentVariableIntValue("EG_TEST_SIM_PORT");
        const int logger = qEnvironmentVariableIntValue("EG_TEST_SIM_LOGGER");
        const QString registers = qEnvironmentVariable("EG_TEST_SIM_REGISTERS");
        if (port < 1 || registers.isEmpty())
            QSKIP("no simulator named (see scripts/test-windows.sh)");

        RecordingDialogs dialogs;
        Platform p;
        p.dialogs = &dialogs;
        p.settingsOrganization = QStringLiteral("EchoGaugeTest-wine2e");
        p.dataDir = QString(); // no loader, no update files
        QSettings(p.settingsOrganization, p.settingsApplication).remove(QString());
        TformMain form(p);
        QStringList statuses;
        connect(form.statusBar, &QStatusBar::messageChanged, &form, [&](const QString &text) {
            // Progress dots left off: the record reads as the sequence of messages.
            QString t = text;
            while (t.endsWith(QLatin1String("....")))
                t.chop(1);
            if (!t.isEmpty() && (statuses.isEmpty() || statuses.constLast() != t))
                statuses << t;
        });

        // The start-up search with the default options: every port of the device map,
        // directly and through a logger at 9600 and 19200.
        form.StartSearch(_TAutoDetectArrayEntry{-1, QString(), 0, false});
        const QString received = QStringLiteral(" Sensor data received from EchoGauge");
        QTRY_COMPARE_WITH_TIMEOUT(form.statusText(), received, 120000);
        QCOMPARE(int(form.sensorPort), port);
        QCOMPARE(form.sensorBaud, logger ? logger : 9600);
        QCOMPARE(form.sensorPassthrough, logger != 0);
        QCOMPARE(form.textSerial->text(), QStringLiteral("S/N 04711, V1.13"));
        QCOMPARE(form.textSensorHeight->text(), QStringLiteral("2.750m"));
        QCOMPARE(form.cbChanType->currentIndex(), 1); // depth

        // A new height, with 10 % headroom for the largest distance.
        form.cbSetMaxHeight->setChecked(true);
        form.trackSensorHeight->setValue(form.trackSensorHeight->maximum() - 3210);
        form.btnSetHeight->click();
        QTRY_COMPARE_WITH_TIMEOUT(form.statusText(), QStringLiteral(" Sensor data successfully written"),
                                  60000);

        // The simulator's water stands 1.234 m deep under a sensor mounted at 3 m.
        form.menuMeasureClick();
        QTRY_COMPARE_WITH_TIMEOUT(form.statusText(), QStringLiteral(" Depth = 1.234m"), 30000);
        QCOMPARE(form.textResultHeight->text(), QStringLiteral("1.234m"));
        QTRY_VERIFY_WITH_TIMEOUT(form.portState == psIdle, 5000);
        ClosePort(&form.commPort);

        const QMap<int, int> held = readSimRegisters(registers);
        qInfo("status texts: %s", qPrintable(statuses.join(QLatin1String(" | "))));
        qInfo("simulator registers: R1=%d R19=%d R23=%d R24=%d R128=%d", held.value(1), held.value(19),
              held.value(23), held.value(24), held.value(128));
        QCOMPARE(held.value(23), 3210);
        QCOMPARE(held.value(1), 3531);
        QCOMPARE(held.value(128), 1);
        QVERIFY(statuses.contains(received));
        QVERIFY(dialogs.messages.isEmpty());
        QSettings(p.settingsOrganization, p.settingsApplication).remove(QString());
    }
};

QTEST_MAIN(TestWinE2e)
#include "tst_win_e2e.moc"
