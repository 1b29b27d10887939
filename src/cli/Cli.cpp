#include "cli/Cli.h"

#include "serial/NetworkPort.h"

#include "channel/Flow.h"
#include "exchange/Firmware.h"
#include "serial/Enumcomports.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

constexpr qint32 largestMillimetres = 10000; // the longest range of any sensor
constexpr quint16 repeatCode = 0xFFFF;

const char *const typeNames[] = {"distance", "depth", "rectangular", "constricted", "v-notch"};

// The line of a byte offset, counted from 1.
int lineOf(const QByteArray &text, qsizetype offset)
{
    return int(text.left(offset).count('\n')) + 1;
}

// The line on which a key of the set-up object stands, for a message about its value.
int lineOfKey(const QByteArray &text, const QString &key)
{
    const qsizetype at = text.indexOf(QByteArray("\"") + key.toUtf8() + "\"");
    return at < 0 ? 1 : lineOf(text, at);
}

} // namespace

std::optional<PortArgument> ParsePortArgument(const QString &text, QString *error)
{
    const QString t = text.trimmed();
    if (t.contains(QLatin1String("://"))) {
        QString why;
        const std::optional<NetworkPortUrl> url = ParseNetworkPortUrl(t, &why);
        if (!url) {
            *error = QStringLiteral("--port %1: %2").arg(t, why);
            return std::nullopt;
        }
        return PortArgument{PortArgument::Network, 0, url->text()};
    }
    const int number = PortNumberForLinkName(t);
    if (number >= 0) {
        // The search addresses ports by one byte.
        if (number < 1 || number > 255) {
            *error = QStringLiteral("--port %1: port numbers run from COM1 to COM255").arg(t);
            return std::nullopt;
        }
        return PortArgument{PortArgument::Number, number, QString()};
    }
#ifndef _WIN32
    if (t.startsWith(QLatin1Char('/')))
        return PortArgument{PortArgument::Device, -1, QDir::cleanPath(t)};
    *error = QStringLiteral("--port %1: give COM<n>, a device path such as /dev/ttyUSB0, or rfc2217://HOST:PORT or tcp://HOST:PORT").arg(t);
#else
    *error = QStringLiteral("--port %1: give COM<n>, or rfc2217://HOST:PORT or tcp://HOST:PORT").arg(t);
#endif
    return std::nullopt;
}

const QList<CommandInfo> &Commands()
{
    static const QList<CommandInfo> commands = {
        {"ports", "ports [--json]",
         "The ports the search would try, in its order, and whether each can be opened."},
        {"find", "find [--port P] [--json]",
         "Search for the sensor and check its firmware: where it answered, its firmware and "
         "serial number, and whether an update is available."},
        {"read", "read [--port P] [--json] [--cdf FILE]",
         "Read the sensor's set-up and channel description; --cdf saves the description."},
        {"write",
         "write [--port P] (--from FILE.json | --height M [--max-height M] [--lost-echo V] [--type T])",
         "Write the set-up: sensor height and maximum height in metres, the lost-echo value "
         "(\"repeat\" or a number) and the channel type (distance, depth, rectangular, "
         "constricted, v-notch). Values not given keep what the sensor holds."},
        {"upload", "upload [--port P] FILE.cdf",
         "Send a channel description file, with its flow table, to the sensor."},
        {"verify", "verify [--port P] [--cdf FILE] [--setup FILE.json] [--json]",
         "Compare the sensor's registers with a description file (128 to 132 and the table) "
         "and/or a set-up file (1, 23 and 24)."},
        {"measure", "measure [--port P] [--count N] [--interval S] [--csv FILE]",
         "Take N measurements (default 1), S seconds apart (default 0)."},
        {"send", "send [--port P] TEXT",
         "Send one command as the terminal does (^M stands for a carriage return) and print "
         "what comes back within the terminal's listening time."},
        {"report", "report [--port P] --pdf FILE [--site NAME]",
         "Read, verify against what was read and write the site report."},
        {"upgrade", "upgrade [--port P] --yes",
         "Install the newest firmware update file through the loader."},
        {"fleet", "fleet SITES.csv [--do verify|read|measure] [--jobs N] [--json]",
         "The same job for every row of site,port[,cdf[,setup]], N sites at a time."},
    };
    return commands;
}

const CommandInfo *FindCommand(const QString &name)
{
    for (const CommandInfo &c : Commands())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

QString UsageText()
{
    QString text = QStringLiteral("Usage: echogauge <command> [options]\n\n"
                                  "The sensor's exchanges without the window.\n\nCommands:\n");
    for (const CommandInfo &c : Commands())
        text += QStringLiteral("  %1\n").arg(QLatin1String(c.synopsis));
    text += QStringLiteral("\nEvery command takes --quiet (no status texts on standard error).\n"
                           "echogauge help <command> describes one command.\n\n"
                           "Exit codes: 0 done or holds, 1 not found or differs, 2 bad usage or input file,\n"
                           "3 an exchange failed, 4 no port could be opened.\n");
    return text;
}

QString CommandHelp(const CommandInfo &c)
{
    return QStringLiteral("Usage: echogauge %1\n\n%2\n")
        .arg(QLatin1String(c.synopsis), QLatin1String(c.summary));
}

qint32 ChannelTypeFromText(const QString &text)
{
    const QString t = text.trimmed().toLower();
    for (int i = 0; i < 5; ++i)
        if (t == QLatin1String(typeNames[i]))
            return i;
    if (t == QLatin1String("vnotch"))
        return ctVNotchWeir;
    bool ok = false;
    const int n = t.toInt(&ok);
    return ok && n >= ctMeasureDistance && n <= ctVNotchWeir ? n : -1;
}

QString ChannelTypeName(qint32 type)
{
    return type >= 0 && type <= 4 ? QLatin1String(typeNames[type]) : QString::number(type);
}

std::optional<qint32> MillimetresFromText(const QString &text, QString *error)
{
    bool ok = false;
    const double m = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(m)) {
        *error = QStringLiteral("\"%1\" is not a number of metres").arg(text);
        return std::nullopt;
    }
    const double mm = std::round(m * 1000.0);
    if (mm < 0 || mm > largestMillimetres) {
        *error = QStringLiteral("%1 m is outside 0 to 10 m").arg(text);
        return std::nullopt;
    }
    return qint32(mm);
}

std::optional<qint32> LostEchoFromArgument(const QString &text, QString *error)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("repeat"), Qt::CaseInsensitive) == 0)
        return qint32(repeatCode);
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok || v < -32768 || v > 32767 || v == -1) {
        *error = QStringLiteral("lost echo \"%1\": give \"repeat\" or a whole number from -32768 to 32767, "
                                "not -1")
                     .arg(text);
        return std::nullopt;
    }
    return qint32(v);
}

std::optional<SetupValues> SetupFromJson(const QByteArray &text, const QString &file, QString *error)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error =
            QStringLiteral("%1:%2: %3").arg(file).arg(lineOf(text, parse.offset)).arg(parse.errorString());
        return std::nullopt;
    }
    const auto fail = [&](const QString &key, const QString &what) {
        *error = QStringLiteral("%1:%2: %3").arg(file).arg(lineOfKey(text, key)).arg(what);
        return std::nullopt;
    };
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value(QStringLiteral("schema")).toInt(-1) != jsonSchema)
        return fail(QStringLiteral("schema"),
                    QStringLiteral("not a set-up file of schema %1").arg(jsonSchema));
    const QJsonValue setupValue = root.value(QStringLiteral("setup"));
    if (!setupValue.isObject())
        return fail(QStringLiteral("schema"), QStringLiteral("no \"setup\" object"));
    const QJsonObject setup = setupValue.toObject();

    SetupValues v;
    QString why;
    const QJsonValue type = setup.value(QStringLiteral("type"));
    v.type = ChannelTypeFromText(type.isDouble() ? QString::number(type.toDouble()) : type.toString());
    if (v.type < 0)
        return fail(QStringLiteral("type"), QStringLiteral("\"type\" is not a channel type"));
    const QJsonValue height = setup.value(QStringLiteral("height_m"));
    const auto heightMm = height.isDouble() ? MillimetresFromText(QString::number(height.toDouble()), &why)
                                            : std::optional<qint32>();
    if (!heightMm)
        return fail(QStringLiteral("height_m"), QStringLiteral("\"height_m\": ") +
                                                    (why.isEmpty() ? QStringLiteral("not a number") : why));
    v.heightMm = *heightMm;
    const QJsonValue max = setup.value(QStringLiteral("max_height_m"));
    if (max.isDouble()) {
        const auto maxMm = MillimetresFromText(QString::number(max.toDouble()), &why);
        if (!maxMm)
            return fail(QStringLiteral("max_height_m"), QStringLiteral("\"max_height_m\": ") + why);
        v.maxHeightMm = *maxMm;
    } else if (!max.isUndefined() && !max.isNull()) {
        return fail(QStringLiteral("max_height_m"), QStringLiteral("\"max_height_m\" is not a number"));
    }
    const QJsonValue lost = setup.value(QStringLiteral("lost_echo"));
    const auto lostValue =
        LostEchoFromArgument(lost.isDouble() ? QString::number(lost.toDouble()) : lost.toString(), &why);
    if (!lostValue)
        return fail(QStringLiteral("lost_echo"), QStringLiteral("\"lost_echo\": ") + why);
    v.lostEcho = *lostValue;
    return v;
}

std::optional<ChannelFileContent> CheckChannelFile(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read (%2)").arg(path, f.errorString());
        return std::nullopt;
    }
    const QList<QByteArray> lines = f.readAll().split('\n');
    const QStringList keys = {QStringLiteral("Channel Type"), QStringLiteral("Notch Angle"),
                              QStringLiteral("Crest Height"), QStringLiteral("Channel Width"),
                              QStringLiteral("Notch Width")};
    QMap<QString, qint32> values;
    bool inChannels = false;
    bool sawChannels = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromLatin1(lines.at(i)).trimmed();
        const auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(i + 1).arg(what);
            return std::nullopt;
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return fail(QStringLiteral("a section name without its closing \"]\""));
            inChannels = line.mid(1, line.size() - 2)
                             .trimmed()
                             .compare(QLatin1String("Channels"), Qt::CaseInsensitive) == 0;
            sawChannels = sawChannels || inChannels;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(QStringLiteral("\"%1\" is neither a section nor a key=value line").arg(line));
        if (!inChannels)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        qsizetype known = -1;
        for (qsizetype k = 0; k < keys.size(); ++k)
            if (key.compare(keys.at(k), Qt::CaseInsensitive) == 0)
                known = k;
        if (known < 0)
            continue; // kept by the window's reader and writer, never read
        bool ok = false;
        const int n = value.toInt(&ok, 10);
        if (!ok)
            return fail(QStringLiteral("%1 \"%2\" is not a whole number").arg(keys.at(known), value));
        if (known == 0 && (n < ctMeasureDistance || n > ctVNotchWeir))
            return fail(QStringLiteral("Channel Type %1 is not 0 to 4").arg(n));
        if (known == 1 && (n < 1 || n > 179))
            return fail(QStringLiteral("Notch Angle %1 is not 1 to 179 degrees").arg(n));
        if (known > 1 && (n < 1 || n > largestMillimetres))
            return fail(QStringLiteral("%1 %2 is not 1 to 10000 mm").arg(keys.at(known)).arg(n));
        values[keys.at(known)] = n;
    }
    if (!sawChannels || !values.contains(keys.at(0))) {
        *error = QStringLiteral("%1: no [Channels] section with a Channel Type").arg(path);
        return std::nullopt;
    }
    ChannelFileContent c;
    c.type = values.value(keys.at(0));
    c.dims.notchAngle = values.value(keys.at(1), c.dims.notchAngle);
    c.dims.crestHeight = values.value(keys.at(2), c.dims.crestHeight);
    c.dims.channelWidth = values.value(keys.at(3), c.dims.channelWidth);
    c.dims.notchWidth = values.value(keys.at(4), c.dims.notchWidth);
    return c;
}

std::optional<qint32> HeadroomForMaxHeight(qint32 heightMm, qint32 maxMm)
{
    if (heightMm <= 0)
        return std::nullopt;
    const qint32 percent = qint32(std::lround(100.0 * maxMm / heightMm)) - 100;
    if (percent < 1 || percent > 100)
        return std::nullopt;
    return percent;
}

QJsonObject SensorJson(const SensorFacts &f)
{
    QJsonObject o;
    o[QStringLiteral("port")] = f.port;
    if (!f.device.isEmpty())
        o[QStringLiteral("device")] = f.device;
    o[QStringLiteral("baud")] = f.baud;
    o[QStringLiteral("passthrough")] = f.passthrough;
    o[QStringLiteral("firmware")] = FirmwareVersionText(f.firmwareVersion);
    o[QStringLiteral("firmware_version")] = f.firmwareVersion;
    o[QStringLiteral("serial")] = f.serial;
    o[QStringLiteral("update_available")] = bool(f.updateVersion);
    if (f.updateVersion)
        o[QStringLiteral("update")] = FirmwareVersionText(*f.updateVersion);
    return o;
}

QJsonObject SetupJson(const QMap<int, qint32> &r, qint32 range)
{
    QJsonObject o;
    const qint32 type = r.value(128);
    const qint32 heightWord = quint16(r.value(23));
    o[QStringLiteral("type")] = ChannelTypeName(type);
    o[QStringLiteral("height_m")] = (heightWord & 0x7FFF) / 1000.0;
    if (r.contains(1))
        o[QStringLiteral("max_height_m")] = quint16(r.value(1)) / 1000.0;
    const quint16 lost = quint16(r.value(24));
    if (lost == repeatCode)
        o[QStringLiteral("lost_echo")] = QStringLiteral("repeat");
    else
        o[QStringLiteral("lost_echo")] = qint16(lost);
    o[QStringLiteral("range_m")] = range / 1000.0;
    QJsonObject words;
    for (int reg : {1, 23, 24, 128})
        if (r.contains(reg))
            words[QString::number(reg)] = int(quint16(r.value(reg)));
    o[QStringLiteral("registers")] = words;
    return o;
}

QJsonObject ChannelJson(const ChannelFileContent &c)
{
    // The keys of the description file.
    QJsonObject o;
    o[QStringLiteral("Channel Type")] = c.type;
    o[QStringLiteral("Notch Angle")] = c.dims.notchAngle;
    o[QStringLiteral("Crest Height")] = c.dims.crestHeight;
    o[QStringLiteral("Channel Width")] = c.dims.channelWidth;
    o[QStringLiteral("Notch Width")] = c.dims.notchWidth;
    return o;
}

QList<int> VerifiedRegisters(bool setup, bool description)
{
    QList<int> regs;
    if (setup)
        regs << 1 << 23 << 24;
    if (description) {
        for (int reg = 64; reg <= 132; ++reg)
            regs << reg;
    }
    return regs;
}

VerifyOutcome CompareRegisters(const QMap<int, qint32> &sensor, const RegisterWords &expected,
                               const QList<int> &registers)
{
    QMap<int, qint32> s;
    RegisterWords e;
    for (int reg : registers) {
        if (sensor.contains(reg))
            s[reg] = sensor.value(reg);
        if (expected.contains(reg))
            e[reg] = expected.value(reg);
    }
    const SensorComparison c = CompareWithSensor(s, e);
    VerifyOutcome out;
    out.compared = c.compared;
    out.differences = c.differences;
    QJsonArray rows;
    for (auto it = e.cbegin(); it != e.cend(); ++it) {
        const bool table = it.key() >= 64 && it.key() <= 127;
        if (table && !c.tableListed)
            continue;
        QJsonObject row;
        row[QStringLiteral("register")] = it.key();
        row[QStringLiteral("caption")] = RegisterCaption(it.key());
        if (s.contains(it.key()))
            row[QStringLiteral("sensor")] = int(quint16(s.value(it.key())));
        else
            row[QStringLiteral("sensor")] = QJsonValue::Null;
        row[QStringLiteral("expected")] = int(it.value());
        bool same = true;
        for (const RegisterDifference &d : c.differences)
            same = same && d.reg != it.key();
        row[QStringLiteral("same")] = same;
        rows.append(row);
    }
    out.json[QStringLiteral("compared")] = out.compared;
    out.json[QStringLiteral("differing")] = int(out.differences.size());
    out.json[QStringLiteral("table_compared")] = c.tableListed;
    out.json[QStringLiteral("registers")] = rows;
    return out;
}

std::optional<QList<Site>> ParseSites(const QByteArray &text, const QString &file, const QString &baseDir,
                                      QString *error)
{
    QList<Site> sites;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        QStringList f = line.split(QLatin1Char(','));
        for (QString &field : f)
            field = field.trimmed();
        if (sites.isEmpty() && i == 0 && f.value(0).compare(QLatin1String("site"), Qt::CaseInsensitive) == 0)
            continue; // the header row
        const auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(file).arg(i + 1).arg(what);
            return std::nullopt;
        };
        if (f.size() < 2 || f.size() > 4)
            return fail(QStringLiteral("a row is site,port[,cdf[,setup]]"));
        if (f.at(0).isEmpty())
            return fail(QStringLiteral("the site has no name"));
        QString why;
        if (!ParsePortArgument(f.at(1), &why))
            return fail(why);
        for (const Site &s : std::as_const(sites))
            if (s.name == f.at(0))
                return fail(QStringLiteral("site \"%1\" is listed twice").arg(f.at(0)));
        const auto resolved = [&](const QString &name) {
            return name.isEmpty() ? name : QDir(baseDir).absoluteFilePath(name);
        };
        sites.append({f.at(0), f.at(1), resolved(f.value(2)), resolved(f.value(3))});
    }
    if (sites.isEmpty()) {
        *error = QStringLiteral("%1: lists no site").arg(file);
        return std::nullopt;
    }
    return sites;
}

SiteEnd SiteEndOf(int exitCode, const QString &result)
{
    if (exitCode == exitDone)
        return SiteEnd::Holds;
    if (exitCode == exitDiffers)
        return result == QLatin1String("differs") ? SiteEnd::Differs : SiteEnd::NotFound;
    return SiteEnd::Failed;
}

QString SiteEndText(SiteEnd end, bool verifyJob)
{
    switch (end) {
    case SiteEnd::Holds:
        return verifyJob ? QStringLiteral("holds") : QStringLiteral("done");
    case SiteEnd::Differs:
        return QStringLiteral("differs");
    case SiteEnd::NotFound:
        return QStringLiteral("not found");
    case SiteEnd::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QString FleetSummary(const QList<SiteEnd> &ends, bool verifyJob)
{
    const auto count = [&](SiteEnd e) { return int(std::count(ends.begin(), ends.end(), e)); };
    QStringList parts;
    parts << QStringLiteral("%1 %2").arg(count(SiteEnd::Holds)).arg(verifyJob ? "hold" : "done");
    if (verifyJob)
        parts << QStringLiteral("%1 differ").arg(count(SiteEnd::Differs));
    parts << QStringLiteral("%1 not found").arg(count(SiteEnd::NotFound))
          << QStringLiteral("%1 failed").arg(count(SiteEnd::Failed));
    return parts.join(QStringLiteral(", "));
}

int FleetExitCode(const QList<SiteEnd> &ends)
{
    if (ends.contains(SiteEnd::Failed))
        return exitFailed;
    if (ends.contains(SiteEnd::Differs) || ends.contains(SiteEnd::NotFound))
        return exitDiffers;
    return exitDone;
}

} // namespace cli
