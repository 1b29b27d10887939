// The site record: the flow table as the sensor will hold it, the CSV exports and
// the commissioning report, wired into the window. What they hold is worked out by
// plain functions (Flowtableview, Historyexport, Sitereport); this only gathers the
// window's state for them and shows what came of it.
#include "app/Mainform.h"

#include "app/Sitereport.h"
#include "channel/Flowtableview.h"
#include "core/Csv.h"
#include "exchange/Readconfig.h"
#include "exchange/Setconfig.h"
#include "measure/Historyexport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <functional>

namespace {

QAction *siteAction(QWidget *owner, const QString &caption, const QKeySequence &keys)
{
    auto *a = new QAction(caption, owner);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    owner->addAction(a);
    return a;
}

QString withoutMnemonic(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

// The table the upload would send for the description shown.
FlowTableListing flowTableShown(const TformMain &w)
{
    return ListFlowTable(BuildFlowTable(w.channelType(), w.dimensionsShown()));
}

} // namespace

void TformMain::buildSiteRecord()
{
    // Window-wide shortcuts: the menus have no mnemonics of their own, and none of
    // the window's controls uses Ctrl+Shift.
    menuShowFlowTable = siteAction(this, QStringLiteral("Show F&low Table ..."),
                                   QKeySequence(QStringLiteral("Ctrl+Shift+L")));
    menuExportFlowTable = siteAction(this, QStringLiteral("Export &Flow Table ..."),
                                     QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    menuExportHistory = siteAction(this, QStringLiteral("Export Measurement &History ..."),
                                   QKeySequence(QStringLiteral("Ctrl+Shift+H")));
    menuSaveReport = siteAction(this, QStringLiteral("Save Site &Report ..."),
                                QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    menuFile->insertActions(menuOptions, {menuExportFlowTable, menuExportHistory, menuSaveReport});
    menuFile->insertSeparator(menuOptions);

    // Under the upload button, where the page has room to spare.
    btnShowFlowTable = new QPushButton(menuShowFlowTable->text(), tabChannel);
    btnShowFlowTable->setGeometry(8, 398, 209, 25);
    btnShowFlowTable->setAccessibleName(withoutMnemonic(menuShowFlowTable->text()));
    btnShowFlowTable->setToolTip(
        QStringLiteral("The 32 points \"Send Channel Data to EchoGauge\" would send (%1)")
            .arg(menuShowFlowTable->shortcut().toString(QKeySequence::NativeText)));

    connect(menuShowFlowTable, &QAction::triggered, this, &TformMain::menuShowFlowTableClick);
    connect(btnShowFlowTable, &QPushButton::clicked, menuShowFlowTable, &QAction::trigger);
    connect(menuExportFlowTable, &QAction::triggered, this, &TformMain::menuExportFlowTableClick);
    connect(menuExportHistory, &QAction::triggered, this, &TformMain::menuExportHistoryClick);
    connect(menuSaveReport, &QAction::triggered, this, &TformMain::menuSaveReportClick);
    connect(menuFile, &QMenu::aboutToShow, this, &TformMain::updateSiteRecordActions);
    updateSiteRecordActions();
}

void TformMain::updateSiteRecordActions()
{
    if (!menuShowFlowTable)
        return; // still being built
    const bool table = HasFlowTable(channelType());
    menuShowFlowTable->setEnabled(table);
    btnShowFlowTable->setEnabled(table);
    menuExportFlowTable->setEnabled(table);
    menuExportHistory->setEnabled(historyEntries && !historyEntries->isEmpty());
}

void TformMain::menuShowFlowTableClick()
{
    if (!HasFlowTable(channelType()))
        return;
    const FlowTableListing t = flowTableShown(*this);
    TableDialogContent c;
    c.title = QStringLiteral("Flow Table");
    c.summary = QStringLiteral("%1: the 32 points \"Send Channel Data to EchoGauge\" sends.\n"
                               "Flow-scale exponent: %2     Resolution: %3 per count")
                    .arg(ChannelTypeName(channelType()))
                    .arg(t.exponent)
                    .arg(t.resolution);
    c.gridName = QStringLiteral("flowTableGrid");
    c.accessibleName = QStringLiteral("Flow table");
    c.headers = QStringList{QStringLiteral("Point"), QStringLiteral("Head (m)"),
                            QStringLiteral("Flow (%1)").arg(t.flowUnit), QStringLiteral("Count")};
    for (const FlowTableRow &row : t.rows)
        c.rows.append({QString::number(row.point), row.head, row.flow, QString::number(row.count)});
    c.minimumHeight = 420;
    execTableDialog(platform.dialogs, this, c);
}

namespace {

// Saves what write() gives under a name the user picks; a failure says where and
// why, and leaves any earlier file as it was.
void exportTo(TformMain *w, const QString &title, const QString &filter, const QString &suffix,
              const std::function<bool(const QString &, QString *)> &write)
{
    const QString path = w->platform.dialogs->saveFileName(w, title, filter, suffix);
    if (path.isEmpty())
        return;
    QString why;
    if (!write(path, &why))
        w->platform.dialogs->message(w, QStringLiteral("Unable to write to %1\n%2").arg(path, why),
                                     Dialogs::Icon::Error);
}

void exportCsv(TformMain *w, const QString &title, const QByteArray &csv)
{
    exportTo(w, title, QStringLiteral("CSV Files (*.csv);;All Files (*.*)"), QStringLiteral("csv"),
             [&](const QString &path, QString *why) { return WriteFileAtomically(path, csv, why); });
}

} // namespace

void TformMain::menuExportFlowTableClick()
{
    if (!HasFlowTable(channelType()))
        return;
    exportCsv(this, QStringLiteral("Export Flow Table"), FlowTableCsv(flowTableShown(*this)));
}

void TformMain::menuExportHistoryClick()
{
    if (historyEntries->isEmpty())
        return;
    exportCsv(this, QStringLiteral("Export Measurement History"), HistoryCsv(*historyEntries));
}

void TformMain::menuSaveReportClick()
{
    const SiteReport report = siteReport();
    exportTo(this, QStringLiteral("Save Site Report"), QStringLiteral("PDF Files (*.pdf);;All Files (*.*)"),
             QStringLiteral("pdf"),
             [&](const QString &path, QString *why) { return WriteSiteReport(path, report, why); });
}

void TformMain::recordReadRegisters(const RegisterDump &dump, const QMap<int, qint32> &others)
{
    const RegisterDump shown = AdjustedRegisterDump(dump);
    QMap<int, std::pair<qint32, qint32>> read{{23, {dump.height, shown.height}},
                                              {24, {dump.lostEcho, shown.lostEcho}},
                                              {128, {dump.channelType, shown.channelType}},
                                              {129, {dump.notchWidth, shown.notchWidth}},
                                              {130, {dump.crestHeight, shown.crestHeight}},
                                              {131, {dump.channelWidth, shown.channelWidth}},
                                              {132, {dump.flowExponent, shown.flowExponent}}};
    read.insert(1, {others.value(1, -1), others.value(1, -1)});
    // Older firmware prints its registers signed: -1 is the register 65535.
    const auto register16 = [](qint32 v) { return v >= -0x8000 && v <= 0xFFFF; };
    bool descriptionAsHeld = true;
    for (int reg = 128; reg <= 131; ++reg)
        descriptionAsHeld = descriptionAsHeld && heldRegisters.contains(reg) &&
                            heldRegisters.value(reg) == quint16(read.value(reg).first);
    for (auto it = read.cbegin(); it != read.cend(); ++it) {
        const auto [inSensor, inWindow] = it.value();
        // A value the read had to clamp is not the one the window shows: the sensor
        // holds something else, and what is not known is not claimed.
        if (register16(inSensor) && register16(inWindow) && quint16(inSensor) == quint16(inWindow))
            heldRegisters.insert(it.key(), quint16(inSensor));
        else
            heldRegisters.remove(it.key());
    }
    // Reading back what was sent leaves it sent: the sensor holds its table too.
    heldDescriptionSent = heldDescriptionSent && descriptionAsHeld;
}

void TformMain::recordWrittenRegister(int reg, quint16 word)
{
    // Another channel type makes the dimensions and table held another channel's.
    if (reg == 128 && heldRegisters.value(reg, quint16(~word)) != word) {
        for (int r = 64; r <= 132; ++r) // the table, 64..127, and the rest of the description
            heldRegisters.remove(r);
        heldDescriptionSent = false;
    }
    heldRegisters.insert(reg, word);
}

SiteReport TformMain::siteReport() const
{
    SiteReport r;
    r.made = QDateTime::currentDateTime();
    r.application =
        QStringLiteral("%1 %2").arg(QLatin1String(applicationTitle), QLatin1String(applicationVersion));
    r.sensorFound = sensorFound;
    r.configRead = configRead;
    r.serial = sensorSerial;
    r.firmwareVersion = firmwareVersion;
    // A port adopted from the command line or set up by hand has a number only.
    r.portName = sensorPortName.isEmpty() && sensorPort >= 0 ? QStringLiteral("COM%1").arg(sensorPort)
                                                             : sensorPortName;
    r.baud = sensorBaud;
    r.passthrough = sensorPassthrough;
    r.installedHeightMm = trackSensorHeight->maximum() - trackSensorHeight->value();
    r.windowHighMm = WindowHighValue(channelType(), cbSetMaxHeight->isChecked(), maxHeightPercent,
                                     SensorHeightValue(channelType(), r.installedHeightMm), sensorType);
    r.lostEchoRepeats = cbLostEcho->currentIndex() == 0;
    r.lostEchoValue = editLostEchoValue->text().trimmed();
    r.channelType = channelType();
    r.dims = dimensionsShown();
    r.held = heldRegisters;
    r.window = windowRegisterWords();
    r.descriptionSent = heldDescriptionSent;
    r.lastVerification = lastVerification;
    const qint64 n = historyEntries->size();
    for (qint64 i = std::max<qint64>(0, n - reportMeasurements); i < n; ++i)
        r.lastMeasurements.append(HistoryRecordOf(historyEntries->at(i)));
    return r;
}
