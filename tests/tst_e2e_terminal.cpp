// The engineering terminal against the real echogauge-sim on a pseudo-terminal, in
// real time: the sensor identifies itself and acknowledges a register write, directly
// and through a data logger chosen by the row's own pass-through box.
#include "app/Mainform.h"
#include "app/Manualentry.h"
#include "app/Platform.h"
#include "core/Dialogs.h"
#include "serial/Enumcomports.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestE2eTerminal : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(QDir().mkpath(dir.filePath("ports")));
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(dir.filePath("ports")));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }

    void identificationAndRegisterWrite_data()
    {
        QTest::addColumn<QString>("logger");
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("rowPassthrough");
        QTest::newRow("sensor wired directly") << QString() << 9600 << false;
        QTest::newRow("through a logger at 19200") << QStringLiteral("19200") << 19200 << true;
    }
    void identificationAndRegisterWrite()
    {
        QFETCH(QString, logger);
        QFETCH(int, baud);
        QFETCH(bool, rowPassthrough);

        const QString registersOut = dir.filePath(QStringLiteral("registers-%1.txt").arg(baud));
        QProcess sim;
        QStringList args{"--port", "COM7", "--registers-out", registersOut};
        if (!logger.isEmpty())
            args << "--logger" << logger;
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(EG_SIM_PROGRAM), args);
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("ports/COM7")), 5000);

        RecordingDialogs dialogs;
        Platform platform = Platform::system();
        platform.dialogs = &dialogs;
        platform.settingsOrganization = QStringLiteral("EchoGaugeTest-e2e-terminal");
        {
            TformMain form(platform); // never shown: no start-up search
            QVERIFY(OpenPort(&form.commPort, 7, baud));
            form.menuManualEntryClick();
            TformManual *m = formManual;
            QVERIFY(m);
            auto log = [m] { return m->memoRx->toPlainText(); };

            m->checkPassthrough1->setChecked(rowPassthrough);
            m->editTx1->setText(QStringLiteral("...PDAC"));
            m->btnTx1->click();
            QTRY_VERIFY2_WITH_TIMEOUT(log().contains(QLatin1String("EchoGauge 18F2620 Version 01.13")),
                                      qPrintable(log()), 3000);
            QTRY_COMPARE_WITH_TIMEOUT(form.portState, qint8(psIdle), 4000);

            m->checkPassthrough2->setChecked(rowPassthrough);
            m->editTx2->setText(QStringLiteral("...ATR24=500^m"));
            m->btnTx2->click();
            QTRY_VERIFY2_WITH_TIMEOUT(log().split(QLatin1Char('\n')).contains(QStringLiteral("OK")),
                                      qPrintable(log()), 3000);
            QTRY_COMPARE_WITH_TIMEOUT(form.portState, qint8(psIdle), 4000);
            // Nothing else: the LF of each CR LF shows as no line of its own.
            QCOMPARE(log().split(QLatin1Char('\n')), (QStringList{"EchoGauge 18F2620 Version 01.13", "OK"}));
            m->close();
            QVERIFY(!formManual);
        }

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QFile registers(registersOut);
        QVERIFY(registers.open(QIODevice::ReadOnly));
        QVERIFY(registers.readAll().split('\n').contains("R24=500"));
    }
};

QTEST_MAIN(TestE2eTerminal)
#include "tst_e2e_terminal.moc"
