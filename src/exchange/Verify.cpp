// "Verify Sensor": the register dump, read as the configuration read reads it, compared
// register by register with what the window would write. Nothing in the window or the
// sensor changes.
#include "exchange/Verify.h"

#include "app/Mainform.h"
#include "channel/Flowtable.h"
#include "core/Dialogs.h"
#include "exchange/Readconfig.h"
#include "exchange/Setconfig.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>

namespace {

constexpr int firstTableRegister = 64;
constexpr int lastTableRegister = 127;

bool isTableRegister(int reg)
{
    return reg >= firstTableRegister && reg <= lastTableRegister;
}

} // namespace

RegisterWords UploadRegisterWords(const WindowSetup &s)
{
    RegisterWords words;
    words[1] = s.windowHigh;
    words[23] = s.sensorHeight;
    words[24] = s.lostEcho;
    qint32 exponent = s.flowExponent;
    if (HasFlowTable(s.channelType)) {
        const FlowTable table = BuildFlowTable(s.channelType, s.dims);
        exponent = table.exponent;
        for (int k = 0; k < int(table.words.size()); ++k)
            words[firstTableRegister + k] = table.words[size_t(k)];
    }
    for (int reg = 128; reg <= 132; ++reg)
        words[reg] = DescriptionRegisterWord(reg, s.channelType, s.dims, exponent);
    return words;
}

QMap<int, qint32> DumpRegisterValues(const QByteArray &reply, const QList<int> &registers, bool replyEnded)
{
    QMap<int, qint32> values;
    for (int reg : registers) {
        qint32 pos = 0;
        qint32 value = 0;
        if (reg >= 0 && reg <= 0x7FFF && ParseRegister(reply, pos, qint16(reg), value, replyEnded))
            values.insert(reg, value);
    }
    return values;
}

SensorComparison CompareWithSensor(const QMap<int, qint32> &sensor, const RegisterWords &window)
{
    SensorComparison out;
    for (auto it = sensor.cbegin(); it != sensor.cend(); ++it)
        out.tableListed = out.tableListed || isTableRegister(it.key());
    for (auto it = window.cbegin(); it != window.cend(); ++it) {
        const int reg = it.key();
        if (isTableRegister(reg) && !out.tableListed)
            continue;
        ++out.compared;
        const QString inWindow = QString::number(it.value());
        const auto found = sensor.constFind(reg);
        if (found == sensor.cend()) {
            out.differences.append({reg, QStringLiteral("not listed"), inWindow});
            continue;
        }
        // Older firmware prints its registers signed: -1 is the register 65535.
        const qint32 v = found.value();
        const bool register16 = v >= -0x8000 && v <= 0xFFFF;
        if (register16 && quint16(v) == it.value())
            continue;
        out.differences.append({reg, QString::number(register16 ? qint32(quint16(v)) : v), inWindow});
    }
    return out;
}

QString RegisterCaption(int reg)
{
    if (isTableRegister(reg)) {
        const int offset = reg - firstTableRegister;
        return QStringLiteral("%1 Table point %2 %3")
            .arg(reg)
            .arg(offset / 2 + 1)
            .arg(offset % 2 ? QStringLiteral("flow count") : QStringLiteral("head"));
    }
    static const QMap<int, const char *> names{
        {1, "Window High"},     {23, "Sensor height"},         {24, "Lost echo"},
        {128, "Channel type"},  {129, "Notch width or angle"}, {130, "Crest height"},
        {131, "Channel width"}, {132, "Flow-scale exponent"},
    };
    const char *name = names.value(reg, nullptr);
    return name ? QStringLiteral("%1 %2").arg(reg).arg(QLatin1String(name)) : QString::number(reg);
}

// ---------------------------------------------------------------- the window's part

bool TformMain::sensorConnected() const
{
    return sensorFound && commPort.isOpen();
}

void TformMain::menuVerifySensorClick()
{
    // The menu item is off without a sensor; this keeps any other caller to the rule.
    if (!sensorConnected())
        return;
    verifyingSensor = true;
    EnableSensorControls(false);
    enterFirstState(psReadConfigPrepare);
}

RegisterWords TformMain::windowRegisterWords() const
{
    WindowSetup s;
    s.channelType = channelType();
    s.dims = dimensionsShown();
    s.flowExponent = flowExponent;
    s.windowHigh = WindowHighWord();
    s.sensorHeight = SensorHeightWord();
    // As LostEchoWord would send it, without its messages or its correction of the edit.
    s.lostEcho = cbLostEcho->currentIndex() == 0
                     ? repeatLastValue
                     : quint16(LostEchoFromText(editLostEchoValue->text(), lostEchoValue).value);
    return UploadRegisterWords(s);
}

void TformMain::finishVerifySensor(const QByteArray &reply, bool replyEnded)
{
    verifyingSensor = false;
    const RegisterWords window = windowRegisterWords();
    QList<int> wanted = window.keys();
    // The dump is asked for the table words whether or not the window has a table, so
    // that the record says whether this sensor lists them.
    for (int reg = firstTableRegister; reg <= lastTableRegister; ++reg)
        if (!window.contains(reg))
            wanted.append(reg);
    lastVerifySensor = DumpRegisterValues(reply, wanted, replyEnded);
    lastVerifyWindow = window;
    const SensorComparison c = CompareWithSensor(lastVerifySensor, window);

    VerificationRecord record;
    record.at = QDateTime::currentDateTime();
    record.compared = c.compared;
    record.differing = int(c.differences.size());
    record.tableListed = c.tableListed;
    record.windowHasTable = HasFlowTable(channelType());
    lastVerification = record;

    if (c.differences.isEmpty()) {
        finishExchange(QLatin1Char(' ') + QLatin1String(sensorHoldsWindowText), true);
        QString text = QLatin1String(sensorHoldsWindowText);
        if (record.windowHasTable && !record.tableListed)
            text += QStringLiteral("\nIts register dump does not list the flow table, so the table was "
                                   "not compared.");
        platform.dialogs->message(this, text, Dialogs::Icon::Information);
        return;
    }
    finishExchange(QStringLiteral(" The sensor differs from the window in %1 of %2 registers")
                       .arg(c.differences.size())
                       .arg(c.compared),
                   true);

    TableDialogContent table;
    table.title = QStringLiteral("Verify Sensor");
    table.summary =
        QStringLiteral("The sensor differs from what the window shows in %1 of the %2 registers compared.")
            .arg(c.differences.size())
            .arg(c.compared);
    table.gridName = QStringLiteral("verifyGrid");
    table.accessibleName = QStringLiteral("Registers that differ");
    table.headers = QStringList{QStringLiteral("Register"), QStringLiteral("In the sensor"),
                                QStringLiteral("In the window")};
    for (const RegisterDifference &d : c.differences)
        table.rows.append({RegisterCaption(d.reg), d.inSensor, d.inWindow});
    table.alignments = {Qt::AlignLeft};
    execTableDialog(platform.dialogs, this, table);
}
