// Continuous measurement against echogauge-sim on a real pseudo-terminal, in real
// time: ten readings follow each other and stand in the history graph.
#include "CsvReader.h"
#include "SimHarness.h"

#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QTemporaryDir>

class TestE2eMeasure : public QObject
{
    Q_OBJECT

    QTemporaryDir ports;
    RecordingDialogs dialogs;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<TformMain> form;

    // The sensor on COM<port> with the given level, and a window connected to it
    // measuring depth.
    bool connectTo(int port, const QString &level, const QString &testName)
    {
        sim = std::make_unique<Simulator>(port, QStringList{"--level", level});
        if (!sim->waitPublished())
            return false;
        form = realTimeWindow(&dialogs,
                              QStringLiteral("%1-%2").arg(testName).arg(QCoreApplication::applicationPid()));
        if (!OpenPort(&form->commPort, quint8(port), 9600))
            return false;
        form->cbChanType->setCurrentIndex(1);
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ports.isValid());
        qputenv("ECHOGAUGE_PORTS_DIR", QFile::encodeName(ports.path()));
    }

    void cleanup()
    {
        if (form)
            ClosePort(&form->commPort);
        form.reset();
        if (sim)
            QVERIFY(sim->stop(5000));
        sim.reset();
        dialogs.messages.clear();
        dialogs.saveAnswers.clear();
    }

    void tenContinuousMeasurements()
    {
        QVERIFY(connectTo(46, "1234", "e2e-measure"));
        form->cb_Continuous->setChecked(true);
        QElapsedTimer took;
        took.start();
        form->menuMeasureClick();
        QTRY_VERIFY_WITH_TIMEOUT(form->historyEntries->size() >= 10, 30000);
        const qint64 ms = took.elapsed();
        form->cb_Continuous->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(form->portState == psIdle, 5000);

        // The sensor hangs 3 m above the bottom and reports the depth of 1.234 m.
        for (qint64 i = 0; i < 10; ++i) {
            QCOMPARE(form->historyEntries->at(i).value, 1234);
            QCOMPARE(form->historyEntries->at(i).samples, qint8(5));
        }
        QCOMPARE(form->textResultHeight->text(), QStringLiteral("1.234m"));
        QCOMPARE(form->statusText(), QStringLiteral(" Depth = 1.234m"));
        QVERIFY(!form->timerSonar->isActive());
        qInfo("ten readings in %lld ms", static_cast<long long>(ms));
    }

    // Five single readings exported and read back:
    // five rows in the order taken, each with the value the window showed for it.
    void historyExportAfterFiveMeasurements()
    {
        QVERIFY(connectTo(47, "800", "e2e-export"));
        QVERIFY(!form->menuExportHistory->isEnabled());
        QStringList shown;
        for (int i = 0; i < 5; ++i) {
            form->menuMeasureClick();
            QTRY_VERIFY_WITH_TIMEOUT(form->historyEntries->size() == i + 1, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(form->portState == psIdle, 5000);
            shown << form->textResultHeight->text();
        }
        QVERIFY(form->menuExportHistory->isEnabled());

        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("history.csv"));
        dialogs.saveAnswers << path;
        form->menuExportHistory->trigger();
        QVERIFY(dialogs.messages.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        bool wellFormed = false;
        const QList<QStringList> rows = ReadCsv(file.readAll(), &wellFormed);
        QVERIFY(wellFormed);
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows.first().first(), QStringLiteral("Time"));
        QDateTime previous;
        for (int i = 1; i <= 5; ++i) {
            const QStringList &r = rows.at(i);
            QCOMPARE(r.size(), 9);
            const QDateTime taken = QDateTime::fromString(r.at(0), Qt::ISODateWithMs);
            QVERIFY2(taken.isValid(), qPrintable(r.at(0)));
            if (previous.isValid())
                QVERIFY(taken > previous);
            previous = taken;
            QCOMPARE(r.at(1), QStringLiteral("depth"));
            QCOMPARE(r.at(2) + r.at(3), shown.at(i - 1)); // "0.800" + "m" as shown "0.800m"
            QCOMPARE(r.at(4), QStringLiteral("yes"));
            QCOMPARE(r.at(6), QStringLiteral("5"));
        }
    }
};

QTEST_MAIN(TestE2eMeasure)
#include "tst_e2e_measure.moc"
