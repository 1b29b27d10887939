// The site record: the flow-table view and its CSV against what the upload puts into
// the in-process sensor, the history CSV, the commissioning report's text, and
// writes that fail without harming an earlier file.
#include "CsvReader.h"
#include "ExchangeRig.h"

#include "app/Sitereport.h"
#include "channel/Flowtable.h"
#include "channel/Flowtableview.h"
#include "core/Csv.h"
#include "measure/Historyexport.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <unistd.h>

namespace {

using Facts = QMap<QString, QString>; // caption to what the text says

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
    uploadedPairs(rig, sensor);
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
        QString summary;
        rig.dialogs.onDialog = [&](QDialog *d) {
            if (auto *label = d->findChild<QLabel *>(QStringLiteral("flowTableGridSummary")))
                summary = label->text();
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
            // The value of one count in the unit of the flows, not in another.
            QCOMPARE(row.at(5),
                     QString::number(perCount, 'f', 9).remove(QRegularExpression("0+$")) + ' ' + flowUnit);
        }
        const QString otherUnit =
            flowUnit == QLatin1String("l/s") ? QStringLiteral("m\u00B3/s") : QStringLiteral("l/s");
        QVERIFY2(summary.contains(flowUnit) && !summary.contains(otherUnit), qPrintable(summary));
    }

    // Every CSV file starts with the UTF-8 byte-order mark, once, so that the
    // spreadsheet reads "m³/s" as it is; the records follow as before.
    void csvFilesStartWithTheByteOrderMark_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("firstField");
        QTest::newRow("flow table") << FlowTableCsv(
                                           ListFlowTable(BuildFlowTable(ctVNotchWeir, ChannelDimensions{})))
                                    << QStringLiteral("Point");
        THistory history;
        history.append(TGraphEntry{1234, 0.0f, -1.0f, 5, 5, 3, qint8(ctMeasureDepth), 1772366400250});
        QTest::newRow("measurement history") << HistoryCsv(history) << QStringLiteral("Time");
    }

    void csvFilesStartWithTheByteOrderMark()
    {
        QFETCH(QByteArray, csv);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(csv.count("\xEF\xBB\xBF"), 1);
        bool wellFormed = false;
        const QList<QStringList> records = ReadCsv(csv, &wellFormed);
        QVERIFY(wellFormed);
        QTEST(records.first().first(), "firstField");
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
        // quantity, value, unit, valid, valid samples, samples, gain, flow
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("depth") << int(ctMeasureDepth) << 1234 << 0.0f
                               << QStringList{"depth", "1.234", "m", "yes", "4", "5", "3", ""};
        QTest::newRow("distance") << int(ctMeasureDistance) << 2500 << 0.0f
                                  << QStringList{"distance", "2.500", "m", "yes", "4", "5", "3", ""};
        QTest::newRow("flow in m3/s")
            << int(ctVNotchWeir) << 1234 << 12.34f
            << QStringList{"flow", "12.340", "m\u00B3/s", "yes", "4", "5", "3", "12.340000"};
        QTest::newRow("flow in l/s") << int(ctRectangularWeir) << 55 << 0.055f
                                     << QStringList{"flow", "55.0", "l/s", "yes", "4", "5", "3", "0.055000"};
        QTest::newRow("invalid") << int(ctMeasureDistance) << -1 << 0.0f
                                 << QStringList{"distance", "", "", "no", "4", "5", "3", ""};
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
    // has nothing to give; writing where nothing may be written gives a clear message
    // and leaves the earlier file as it was.
    void recordActions_data()
    {
        QTest::addColumn<QList<int>>("own"); // of: show and export flow table, history, report
        // With a depth described, after a measurement, a weir described, the history cleared.
        QTest::addColumn<QList<bool>>("offered");
        QTest::newRow("flow table") << QList<int>{0, 1} << QList<bool>{false, false, true, true};
        QTest::newRow("history") << QList<int>{2} << QList<bool>{false, true, true, false};
        QTest::newRow("report") << QList<int>{3} << QList<bool>{true, true, true, true};
    }

    void recordActions()
    {
        QFETCH(QList<int>, own);
        QFETCH(QList<bool>, offered);
        ExchangeRig rig(QStringLiteral("siterecord"));
        TformMain &w = *rig.form;
        const QList<QAction *> all{w.menuShowFlowTable, w.menuExportFlowTable, w.menuExportHistory,
                                   w.menuSaveReport};
        QCOMPARE(w.btnShowFlowTable->accessibleName(), QStringLiteral("Show Flow Table ..."));
        QVERIFY(w.menuFile->actions().contains(w.menuSaveReport));
        for (int i : own) {
            QVERIFY(!all[i]->shortcut().isEmpty());
            for (QAction *other : all)
                QVERIFY(other == all[i] || other->shortcut() != all[i]->shortcut());
        }
        const auto isOffered = [&](bool expected) {
            bool same = own.first() != 0 || w.btnShowFlowTable->isEnabled() == expected;
            for (int i : own)
                same = same && all[i]->isEnabled() == expected;
            return same;
        };

        describeChannel(w, ctMeasureDepth, ChannelDimensions{});
        QVERIFY(isOffered(offered[0]));
        rig.connectSensor();
        w.menuMeasureClick();
        QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 10000));
        QVERIFY(isOffered(offered[1]));
        describeChannel(w, ctConstrictedWeir, ChannelDimensions{});
        QVERIFY(isOffered(offered[2]));

        QTemporaryDir dir;
        const QByteArray earlier("an earlier export\r\n");
        const QString path = writeTestFile(dir, QStringLiteral("earlier.out"), earlier);
        QVERIFY(!path.isEmpty());
        {
            LockedFolder locked(dir.path());
            if (!locked.locked)
                QSKIP("the folder cannot be made unwritable here (chattr or chmod refused)");
            rig.dialogs.saveAnswers << path;
            all[own.last()]->trigger();
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QVERIFY(rig.dialogs.messages.first().text.startsWith(QStringLiteral("Unable to write to ") +
                                                                 path + "\n"));
            QVERIFY(rig.dialogs.messages.first().text.size() > path.size() + 20); // says why
            QCOMPARE(rig.dialogs.messages.first().icon, Dialogs::Icon::Error);
            QCOMPARE(readAll(path), earlier);
        }
        w.btnClearGraph->click();
        QVERIFY(isOffered(offered[3]));
    }

    // The report names what it knows and says what it does not: a V-notch site
    // commissioned lists the 32 points the sensor holds, as its text comes out of the
    // PDF; before any sensor is found no numbers are made up, even where the window
    // still holds some.
    void report_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<Facts>("facts");        // what each must match
        QTest::addColumn<QStringList>("pdfHas"); // none: the PDF is not read back
        QTest::addColumn<QStringList>("pdfHasNot");
        const QString none = QStringLiteral("^not known \u2014 no sensor found");
        const QString notRead = QStringLiteral("not read from a sensor");
        const QString notKnown = QStringLiteral("^not known \u2014 not read or");
        QTest::newRow("V-notch commissioned")
            << "commissioned"
            << Facts{{"Sensor holds the set-up", "^yes"},
                     {"Sensor holds the description", "^yes: as last sent"}}
            << QStringList{"01234", "V1.13", "V-Notch Weir", "The 32 points sent with"}
            << QStringList{"not known", "would send"};
        // The table printed is then the one the description shown would send.
        QTest::newRow("V-notch commissioned, then the angle changed")
            << "changed" << Facts{{"Sensor holds the description", "^no: changed in the window"}}
            << QStringList{"The 32 points the description shown would send"}
            << QStringList{"points sent with"};
        QTest::newRow("sensor found, configuration read failed")
            << "read failed"
            << Facts{{"Sensor holds the set-up", notKnown},
                     {"Sensor holds the description", notKnown},
                     {"Last verification", "^none since the sensor was found"}}
            << QStringList{} << QStringList{};
        QTest::newRow("no sensor found") << "none"
                                         << Facts{{"Sensor serial number", none},
                                                  {"Firmware version", none},
                                                  {"Port", none},
                                                  {"Connection mode", none},
                                                  {"Sensor holds the description", none},
                                                  {"Installed height", notRead}}
                                         << QStringList{} << QStringList{};
        QTest::newRow("sensor found, configuration not read")
            << "found"
            << Facts{{"Sensor serial number", "^not known \u2014 configuration not read"},
                     {"Installed height", notRead}}
            << QStringList{} << QStringList{};
        // The set-up write puts depth's type into the sensor: V-notch is no longer held.
        QTest::newRow("V-notch commissioned, depth written, V-notch picked again")
            << "type written" << Facts{{"Sensor holds the description", "^no: changed in the window"}}
            << QStringList{} << QStringList{};
        // The window shows 0 and 10 m, which the sensor does not hold.
        QTest::newRow("type and crest height clamped on reading")
            << "clamped" << Facts{{"Sensor holds the description", notKnown}} << QStringList{}
            << QStringList{};
        QTest::newRow("height changed, then uploaded")
            << "uploaded" << Facts{{"Sensor holds the set-up", "^yes"}} << QStringList{} << QStringList{};
    }

    void report()
    {
        QFETCH(QString, site);
        QFETCH(QStringList, pdfHas);
        ExchangeRig rig(QStringLiteral("siterecord"));
        TformMain &w = *rig.form;
        const bool commissioned = site == QLatin1String("commissioned") || site == QLatin1String("changed") ||
                                  site == QLatin1String("type written");
        SimSensor *sensor = commissioned                    ? commissionVNotch(rig)
                            : site != QLatin1String("none") ? rig.connectSensor()
                                                            : nullptr;
        if (site == QLatin1String("changed"))
            w.btnChanIncClick(); // 91 degrees, not sent
        const auto ended = [&] { return w.portState == psIdle; };
        if (site == QLatin1String("type written")) {
            w.cbChanType->setCurrentIndex(ctMeasureDepth);
            w.StartWriteConfig();
            QVERIFY(rig.clock.advanceUntil(ended, 20000));
            QCOMPARE(sensor->reg(128), ctMeasureDepth);
            w.cbChanType->setCurrentIndex(ctVNotchWeir);
        }
        if (site == QLatin1String("clamped") || site == QLatin1String("uploaded")) {
            if (site == QLatin1String("clamped")) {
                sensor->setRegister(128, 9);
                sensor->setRegister(130, 12000);
            }
            w.StartReadConfig();
            QVERIFY(rig.clock.advanceUntil(ended, 15000));
            QCOMPARE(w.statusText(), QStringLiteral(" Sensor data received from EchoGauge"));
        }
        if (site == QLatin1String("uploaded")) {
            w.trackSensorHeight->setValue(w.trackSensorHeight->value() - 100);
            w.btnSendChannelDataClick();
            QVERIFY(rig.clock.advanceUntil(ended, 60000));
            QCOMPARE(w.statusText(), QStringLiteral(" Channel data successfully written"));
        }
        if (site == QLatin1String("read failed")) {
            sensor->faults.silent = true;
            w.StartReadConfig();
            QVERIFY(rig.clock.advanceUntil([&] { return w.portState == psIdle; }, 40000));
            QCOMPARE(w.statusText(), QStringLiteral(" Sensor data not received!"));
        }
        if (!sensor) { // left from an earlier sensor: not to be reported
            w.sensorSerial = 1234;
            w.firmwareVersion = 113;
        }
        Facts said;
        for (const auto &f : SiteReportFacts(w.siteReport()))
            said.insert(f.first, f.second);
        QFETCH(Facts, facts);
        for (auto it = facts.cbegin(); it != facts.cend(); ++it)
            QVERIFY2(said.value(it.key()).contains(QRegularExpression(it.value())),
                     qPrintable(it.key() + QStringLiteral(": ") + said.value(it.key())));
        if (pdfHas.isEmpty())
            return;

        QCOMPARE(w.historyEntries->size(), qint64(5));
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed: the report's text cannot be read back");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        rig.dialogs.saveAnswers << path;
        w.menuSaveReport->trigger();
        QVERIFY(rig.dialogs.messages.isEmpty());
        QProcess text;
        text.start(pdftotext, {QStringLiteral("-layout"), path, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(20000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        for (const QString &has : pdfHas)
            QVERIFY2(out.contains(has), qPrintable(has + QStringLiteral(" missing in:\n") + out));
        QFETCH(QStringList, pdfHasNot);
        for (const QString &hasNot : pdfHasNot)
            QVERIFY2(!out.contains(hasNot), qPrintable(hasNot));
        const QRegularExpression row(
            QStringLiteral("^\\s*(\\d+)\\s+(\\d+\\.\\d{3})\\s+(\\d+\\.\\d+)\\s+(\\d+)\\s*$"),
            QRegularExpression::MultilineOption);
        // The sensor's table, or the one the changed description would send.
        const FlowTable shown = BuildFlowTable(
            w.channelType(), ChannelDimensions{w.notchAngle, w.crestHeight, w.channelWidth, w.notchWidth});
        const auto word = [&](int k) {
            return site == QLatin1String("changed") ? int(shown.words[size_t(k)]) : int(sensor->reg(64 + k));
        };
        if (site == QLatin1String("changed"))
            QVERIFY(shown.words[63] != sensor->reg(127));
        int rows = 0;
        for (auto it = row.globalMatch(out); it.hasNext(); ++rows) {
            const QRegularExpressionMatch m = it.next();
            const int k = m.captured(1).toInt() - 1;
            QVERIFY(k >= 0 && k < flowTablePoints);
            QCOMPARE(qRound(m.captured(2).toDouble() * 1000), word(2 * k));
            QCOMPARE(m.captured(4).toInt(), word(2 * k + 1));
        }
        QCOMPARE(rows, flowTablePoints);
        if (!qEnvironmentVariableIsEmpty("EG_KEEP_REPORT"))
            QFile::copy(path, qEnvironmentVariable("EG_KEEP_REPORT"));
    }
};

QTEST_MAIN(TestSiteRecord)
#include "tst_siterecord.moc"
