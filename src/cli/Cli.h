#pragma once

// The console program's arithmetic and parsing, apart from any port or window: the
// port argument, the set-up values, the description and set-up files, the JSON it
// writes, the site list of a fleet and the exit codes.

#include "channel/Channelfile.h"
#include "exchange/Verify.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

// The exit codes, the same on every system.
enum ExitCode : int
{
    exitDone = 0,    // done, or the sensor holds what was expected
    exitDiffers = 1, // the sensor was not found, or differs from what was expected
    exitUsage = 2,   // bad usage or a bad input file
    exitFailed = 3,  // an exchange failed (or was interrupted)
    exitNoPort = 4,  // no port could be opened
};

inline constexpr int jsonSchema = 1;

// What --port names. Only this function reads the argument, so that other kinds of
// port can be added in one place.
struct PortArgument
{
    enum Kind
    {
        Number,  // COM<n>
        Device,  // a device path
        Network, // rfc2217://HOST:PORT or tcp://HOST:PORT, in device
    } kind = Number;
    int number = -1;
    QString device;
};
std::optional<PortArgument> ParsePortArgument(const QString &text, QString *error);

// The sub-commands, in the order the help lists them.
struct CommandInfo
{
    const char *name;
    const char *synopsis;
    const char *summary;
};
const QList<CommandInfo> &Commands();
const CommandInfo *FindCommand(const QString &name);
QString UsageText();                       // echogauge --help
QString CommandHelp(const CommandInfo &c); // echogauge help <command>

// The channel type by name ("distance", "depth", "rectangular", "constricted",
// "v-notch") or number 0..4; -1 when it is neither.
qint32 ChannelTypeFromText(const QString &text);
QString ChannelTypeName(qint32 type);

// Metres as the window's set-up takes them: 0.000 to 10.000 m, to the millimetre.
std::optional<qint32> MillimetresFromText(const QString &text, QString *error);
// "repeat" (65535, the sensor repeats its last reading) or a fixed value -32768..32767;
// -1 would go out as the repeat code and is refused.
std::optional<qint32> LostEchoFromArgument(const QString &text, QString *error);

// A set-up as the console program writes and verifies it.
struct SetupValues
{
    qint32 type = 0;
    qint32 heightMm = 0;
    std::optional<qint32> maxHeightMm; // none: the sensor's own window
    qint32 lostEcho = 0xFFFF;          // 65535: repeat the last value
};

// The set-up file (what read --json wrote): an error names the file and line.
std::optional<SetupValues> SetupFromJson(const QByteArray &text, const QString &file, QString *error);

// A channel description file checked line by line, before the window's own reader
// (which takes anything it cannot read as a default) is given it.
std::optional<ChannelFileContent> CheckChannelFile(const QString &path, QString *error);

// The headroom percentage that gives a window of maxMm over a height of heightMm, as
// the window's "Set Max Height" works it out; none when no percentage in 1..100 does.
std::optional<qint32> HeadroomForMaxHeight(qint32 heightMm, qint32 maxMm);

// ---------------------------------------------------------------- JSON
struct SensorFacts
{
    QString port;
    QString device;
    qint32 baud = 0;
    bool passthrough = false;
    qint16 firmwareVersion = 0;
    qint32 serial = 0;
    std::optional<qint16> updateVersion; // a newer update file lies ready
};
QJsonObject SensorJson(const SensorFacts &facts);
// The set-up in the window's units and as register words (1, 23, 24, 128).
QJsonObject SetupJson(const QMap<int, qint32> &registers, qint32 range);
QJsonObject ChannelJson(const ChannelFileContent &content);

// The registers a verification compares: 1, 23, 24 for a set-up file; 128..132 and
// the table words for a description file.
QList<int> VerifiedRegisters(bool setup, bool description);
struct VerifyOutcome
{
    int compared = 0;
    QList<RegisterDifference> differences;
    QJsonObject json; // every compared register
};
VerifyOutcome CompareRegisters(const QMap<int, qint32> &sensor, const RegisterWords &expected,
                               const QList<int> &registers);

// ---------------------------------------------------------------- fleet
struct Site
{
    QString name;
    QString port;
    QString cdf;
    QString setup;
};
// "site,port[,cdf[,setup]]" a row, an optional header row, blank lines and lines
// starting with '#' skipped; relative file names are taken against baseDir.
std::optional<QList<Site>> ParseSites(const QByteArray &text, const QString &file, const QString &baseDir,
                                      QString *error);

// One site's end as the fleet reports it.
enum class SiteEnd
{
    Holds, // or done, for a job that compares nothing
    Differs,
    NotFound,
    Failed, // an exchange failed, no port opened, bad input, or the child itself failed
};
// From the child's exit code and the "result" of its JSON line.
SiteEnd SiteEndOf(int exitCode, const QString &result);
QString SiteEndText(SiteEnd end, bool verifyJob);
// "N hold, N differ, N not found, N failed" (for a verification; "N done, ..." else).
QString FleetSummary(const QList<SiteEnd> &ends, bool verifyJob);
// 3 when any site failed, else 1 when any differs or was not found, else 0.
int FleetExitCode(const QList<SiteEnd> &ends);

} // namespace cli
