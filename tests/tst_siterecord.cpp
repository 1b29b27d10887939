// The site record: the flow-table view and its CSV against what the upload puts into
// the in-process sensor, the history CSV, the commissioning report's text, and
// writes that fail without harming an earlier file.
#include "CsvReader.h"
#include "ExchangeRig.h"

#include "app/Sitereport.h"
#include "channel/Flowtableview.h"
#include "core/Csv.h"
#include "measure/Historyexport.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <unistd.h>

namespace {

// Uploads the description shown and returns what the sensor's table registers hold.
QList<QPair<int, int>> uploadedPairs(ExchangeRig &rig, SimSensor *sensor)
{
    rig.form->btnSendChannelDataClick();
    rig.clock.advance(60000);
    QList<QPair<int, int>> out;
    for (int k = 0; k < flowTablePoints; ++k)
        out.append({sensor->reg(64 + 2 * k), sensor->reg(65 + 2 * k)});
    return out;
}

// A folder that not even root may write into: immutable for root, read-only otherwise.
struct LockedFolder
{
    QString path;
    bool locked = false;
    explicit LockedFolder(const QString &p) : path(p)
    {
        if (geteuid() == 0)
            locked = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
        else
            locked = QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    ~LockedFolder()
    {
        if (geteuid() == 0)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
        else
            QFile::setPermissions(path,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A V-notch site: the table uploaded, the configuration read back, five readings.
SimSensor *commissionVNotch(ExchangeRig &rig)
{
    SimSensor *sensor = rig.connectDescribed(ctVNotchWeir, ChannelDimensions{90, 1000, 1000, 500});
    sensor->levelMm = 1000;
    rig.form->trackSensorHeight->setValue(10000 - 3000);
    rig.form->btnSendChannelDataClick();
    rig.clock.advance(60000);
    rig.form->StartReadConfig();
    rig.clock.advance(15000);
    for (int i = 0; i < 5; ++i) {
        rig.form->menuMeasureClick();
        rig.clock.advanceUntil([&] { return rig.form->portState == psIdle; }, 10000);
        rig.clock.advance(1000);
    }
    return sensor;
}

} // namespace

class TestSiteRecord : public QObject
{
    Q_OBJECT

private slots:
    // The dialog and the CSV list exactly the points the upload writes, and their
    // flows turn back into exactly the counts sent.
    void tableViewAndCsvEqualTheUpload_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<ChannelDimensions>("dims");
        QTest::addColumn<QString>("flowUnit");
        QTest::newRow("V-notch 90 degrees")
            << int(ctVNotchWeir) << ChannelDimensions{90, 1000, 1000, 500} << QStringLiteral("m\u00B3/s");
        QTest::newRow("rectangular 1000/1000")
            << int(ctRectangularWeir) << ChannelDimensions{90, 1000, 1000, 500}
            << QStringLiteral("m\u00B3/s");
        // A small notch with little flow reads in litres per second, as the history does.
        QTest::newRow("rectangular 2 mm wide, l/s")
            << int(ctRectangularWeir) << ChannelDimensions{90, 1000, 2, 500} << QStringLiteral("l/s");
    }

    void tableViewAndCsvEqualTheUpload()
    {
        QFETCH(int, type);
        QFETCH(ChannelDimensions, dims);
        QFETCH(QString, flowUnit);

        ExchangeRig rig(QStringLiteral("siterecord"));
        SimSensor *sensor = rig.connectDescribed(type, dims);
        QVERIFY(rig.form->menuShowFlowTable->isEnabled());

        QList<QStringList> shown;
        rig.dialogs.onDialog = [&](QDialog *d) {
            auto *grid = d->findChild<QTableWidget *>();
            for (int r = 0; grid && r < grid->rowCount(); ++r) {
                QStringList cells;
                for (int c = 0; c < grid->columnCount(); ++c)
                    cells << grid->item(r, c)->text();
                shown << cells;
            }
            return int(QDialog::Accepted);
        };
        rig.form->btnShowFlowTable->click();
        QCOMPARE(rig.dialogs.dialogsRun, QStringList{QStringLiteral("Flow Table")});

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("table.csv"));
        rig.dialogs.saveAnswers << path;
        rig.form->menuExportFlowTable->trigger();
        bool wellFormed = false;
        const QList<QStringList> csv = ReadCsv(readAll(path), &wellFormed);
        QVERIFY(wellFormed);
        QCOMPARE(csv.size(), 1 + flowTablePoints);
        QCOMPARE(csv.first().at(2), QStringLiteral("Flow (%1)").arg(flowUnit));

        const QList<QPair<int, int>> sent = uploadedPairs(rig, sensor);
        const int exponent = sensor->reg(132);
        const double perCount =
            0.1 / std::pow(10.0, exponent) * (flowUnit == QLatin1String("l/s") ? 1000 : 1);
        QCOMPARE(shown.size(), flowTablePoints);
        for (int k = 0; k < flowTablePoints; ++k) {
            const QStringList row = csv.at(k + 1);
            QCOMPARE(row.mid(0, 4), shown.at(k));
            QCOMPARE(row.at(0).toInt(), k + 1);
            QCOMPARE(qRound(row.at(1).toDouble() * 1000), sent[k].first);
            QCOMPARE(row.at(3).toInt(), sent[k].second);
            QCOMPARE(qRound64(row.at(2).toDouble() / perCount), qint64(sent[k].second));
            QCOMPARE(row.at(4).toInt(), exponent);
        }
    }

    // Fields that need quoting get it, and the reader gives back what was written.
    void csvFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << "1.234"
                               << "1.234";
        QTest::newRow("comma") << "a,b"
                               << "\"a,b\"";
        QTest::newRow("quote") << "say \"hi\""
                               << "\"say \"\"hi\"\"\"";
        QTest::newRow("line break") << "two\r\nlines"
                                    << "\"two\r\nlines\"";
        QTest::newRow("leading blank") << " x"
                                       << "\" x\"";
        QTest::newRow("unit") << QStringLiteral("m\u00B3/s") << QStringLiteral("m\u00B3/s");
        QTest::newRow("empty") << ""
                               << "";
    }

    void csvFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, written);
        QCOMPARE(CsvField(field), written);
        const QByteArray record = CsvRecord({field, QStringLiteral("next")});
        QVERIFY(record.endsWith("\r\n"));
        bool wellFormed = false;
        QCOMPARE(ReadCsv(record, &wellFormed), (QList<QStringList>{{field, QStringLiteral("next")}}));
        QVERIFY(wellFormed);
    }

    // One history entry as the export writes it.
    void historyRecord_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("value");
        QTest::addColumn<float>("flow");
        QTest::addColumn<QStringList>("fields"); // value, unit, valid, valid samples, samples, gain, flow
        QTest::newRow("depth") << int(ctMeasureDepth) << 1234 << 0.0f
                               << QStringList{"1.234", "m", "yes", "4", "5", "3", ""};
        QTest::newRow("flow in m3/s")
            << int(ctVNotchWeir) << 1234 << 12.34f
            << QStringList{"12.340", "m\u00B3/s", "yes", "4", "5", "3", "12.340000"};
        QTest::newRow("flow in l/s") << int(ctRectangularWeir) << 55 << 0.055f
                                     << QStringList{"55.0", "l/s", "yes", "4", "5", "3", "0.055000"};
        QTest::newRow("invalid") << int(ctMeasureDistance) << -1 << 0.0f
                                 << QStringList{"", "", "no", "4", "5", "3", ""};
    }

    void historyRecord()
    {
        QFETCH(int, type);
        QFETCH(int, value);
        QFETCH(float, flow);
        QFETCH(QStringList, fields);
        // 2026-03-01 12:00:00.250 UTC
        const TGraphEntry e{value, flow, -1.0f, 4, 5, 3, qint8(type), 1772366400250};
        const QStringList got = HistoryFields(HistoryRecordOf(e));
        QCOMPARE(got.mid(1), fields);
        const QDateTime taken = QDateTime::fromString(got.first(), Qt::ISODateWithMs);
        QVERIFY(QRegularExpression(QStringLiteral("[+-]\\d\\d:\\d\\d$")).match(got.first()).hasMatch());
        QCOMPARE(taken.toMSecsSinceEpoch(), e.takenMs);
    }

    // Each action has a caption of its own, a shortcut of its own, and is off while it
    // has nothing to give.
    void actionsOfferOnlyWhatTheyHave()
    {
        ExchangeRig rig(QStringLiteral("siterecord"));
        TformMain &w = *rig.form;
        const QList<QAction *> actions{w.menuShowFlowTable, w.menuExportFlowTable, w.menuExportHistory,
                                       w.menuSaveReport};
        QSet<QString> keys;
        for (QAction *a : actions)
            keys.insert(a->shortcut().toString());
        QCOMPARE(keys.size(), 4);
        QVERIFY(!keys.contains(QString()));
        QCOMPARE(w.btnShowFlowTable->accessibleName(), QStringLiteral("Show Flow Table ..."));
        QVERIFY(w.menuFile->actions().contains(w.menuSaveReport));

        describeChannel(w, ctMeasureDepth, ChannelDimensions{});
        QVERIFY(!w.menuShowFlowTable->isEnabled());
        QVERIFY(!w.btnShowFlowTable->isEnabled());
        QVERIFY(!w.menuExportFlowTable->isEnabled());
        QVERIFY(!w.menuExportHistory->isEnabled());
        QVERIFY(w.menuSaveReport->isEnabled());

        rig.connectSensor();
        w.menuMeasureClick();
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 10000));
        QVERIFY(w.menuExportHistory->isEnabled());
        describeChannel(w, ctConstrictedWeir, ChannelDimensions{});
        QVERIFY(w.menuShowFlowTable->isEnabled());
        QVERIFY(w.menuExportFlowTable->isEnabled());
        w.btnClearGraph->click();
        QVERIFY(!w.menuExportHistory->isEnabled());
    }

    // A V-notch site commissioned: the report names the sensor and lists the 32
    // points the sensor holds, as its text comes out of the PDF.
    void reportText()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed: the report's text cannot be read back");
        ExchangeRig rig(QStringLiteral("siterecord"));
        SimSensor *sensor = commissionVNotch(rig);
        QCOMPARE(rig.form->historyEntries->size(), qint64(5));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        rig.dialogs.saveAnswers << path;
        rig.form->menuSaveReport->trigger();
        QVERIFY(rig.dialogs.messages.isEmpty());
        QProcess text;
        text.start(pdftotext, {QStringLiteral("-layout"), path, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(20000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());

        QVERIFY2(out.contains(QStringLiteral("01234")), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("V1.13")));
        QVERIFY(out.contains(QStringLiteral("V-Notch Weir")));
        QVERIFY(!out.contains(QStringLiteral("not known")));
        const QRegularExpression row(
            QStringLiteral("^\\s*(\\d+)\\s+(\\d+\\.\\d{3})\\s+(\\d+\\.\\d+)\\s+(\\d+)\\s*$"),
            QRegularExpression::MultilineOption);
        int rows = 0;
        for (auto it = row.globalMatch(out); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const int k = m.captured(1).toInt() - 1;
            QVERIFY(k >= 0 && k < flowTablePoints);
            QCOMPARE(qRound(m.captured(2).toDouble() * 1000), int(sensor->reg(64 + 2 * k)));
            QCOMPARE(m.captured(4).toInt(), int(sensor->reg(65 + 2 * k)));
            ++rows;
        }
        QCOMPARE(rows, flowTablePoints);
        if (!qEnvironmentVariableIsEmpty("EG_KEEP_REPORT"))
            QFile::copy(path, qEnvironmentVariable("EG_KEEP_REPORT"));
    }

    // Before any sensor is found the report says so instead of making numbers up.
    void reportWithoutSensor()
    {
        SiteReport r;
        r.made = QDateTime::currentDateTime();
        r.application = QStringLiteral("App V1");
        r.serial = 1234;
        r.firmwareVersion = 113;
        QMap<QString, QString> facts;
        for (const auto &f : SiteReportFacts(r))
            facts.insert(f.first, f.second);
        for (const char *key : {"Sensor serial number", "Firmware version", "Port", "Connection mode",
                                "Sensor holds the description"})
            QVERIFY2(facts.value(QLatin1String(key))
                         .startsWith(QStringLiteral("not known \u2014 no sensor found")),
                     key);
        QVERIFY(facts.value(QStringLiteral("Installed height"))
                    .contains(QStringLiteral("not read from a sensor")));
        r.sensorFound = true;
        QVERIFY(SiteReportFacts(r).at(2).second.contains(QStringLiteral("configuration not read")));
    }

    // Writing where nothing may be written: a clear message, and the earlier file as it was.
    void unwritablePlaceKeepsTheEarlierFile_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("flow table") << QStringLiteral("table");
        QTest::newRow("history") << QStringLiteral("history");
        QTest::newRow("report") << QStringLiteral("report");
    }

    void unwritablePlaceKeepsTheEarlierFile()
    {
        QFETCH(QString, action);
        ExchangeRig rig(QStringLiteral("siterecord"));
        commissionVNotch(rig);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("earlier.out"));
        const QByteArray earlier("an earlier export\r\n");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(earlier);
        }
        LockedFolder locked(dir.path());
        if (!locked.locked)
            QSKIP("the folder cannot be made unwritable here (chattr or chmod refused)");
        rig.dialogs.saveAnswers << path;
        QAction *a = action == QLatin1String("table")     ? rig.form->menuExportFlowTable
                     : action == QLatin1String("history") ? rig.form->menuExportHistory
                                                          : rig.form->menuSaveReport;
        a->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY(rig.dialogs.messages.first().text.startsWith(QStringLiteral("Unable to write to ") + path +
                                                             "\n"));
        QVERIFY(rig.dialogs.messages.first().text.size() > path.size() + 20); // says why
        QCOMPARE(rig.dialogs.messages.first().icon, Dialogs::Icon::Error);
        QCOMPARE(readAll(path), earlier);
    }
};

QTEST_MAIN(TestSiteRecord)
#include "tst_siterecord.moc"
