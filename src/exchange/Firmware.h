#pragma once

#include "core/Dialogs.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The lowest firmware this application can work with, as a check value (1.13).
inline constexpr qint32 minimumFirmware = 113;

// The version digits that follow the identification text: two characters of major
// number, a separator, two characters of minor number.
struct FirmwareDigits
{
    qint32 major; // -1 when the two characters are not a number
    qint32 minor; // 0 when the two characters are not a number
};
FirmwareDigits ParseFirmwareDigits(const QByteArray &majorText, const QByteArray &minorText);

// The version as the application keeps and shows it: major x 100 + minor.
qint16 FirmwareVersionNumber(const FirmwareDigits &digits);

// The value every firmware decision compares. Only the last digit of the major
// number counts, so 11.13 is the same firmware family as 1.13.
qint32 FirmwareCheckValue(const FirmwareDigits &digits);

// "V1.13" for 113; a negative version (digits that were not numbers) keeps its sign
// in front, "V-0.87", rather than showing "V0.-87".
QString FirmwareVersionText(qint32 version);

// What the check does with an identified sensor.
struct FirmwareDecision
{
    enum Next
    {
        Accept,  // the sensor may be used
        Refuse,  // it may not; the search closes the port
        Upgrade, // run the loader on the newest update file
    };

    int row;        // 1..9, the case that matched, for tests and traces
    QString status; // empty: the status line is left as it is
    QString box;    // empty: no message box
    Dialogs::Icon icon = Dialogs::Icon::Information;
    Next next = Accept;
};

// checkValue: the sensor's check value; version: its firmwareVersion, as shown;
// newest: the version of the newest valid update file, -1 when there is none.
// relayed: the sensor is reached through a logger or over a port adopted from a
// calling program, neither of which the loader can use. loaderPresent matters only
// for firmware below the minimum: a newer file for usable firmware goes straight to
// the loader, whose absence then shows as a loader that did not start.
FirmwareDecision DecideFirmware(qint32 checkValue, qint16 version, qint16 newest, bool relayed,
                                bool loaderPresent);

// The four outcomes of a loader run.
enum TLoaderResult
{
    lrSuccess = 0,    // it ran and its exit code was 0
    lrNotStarted = 1, // it did not start
    lrFailed = 2,     // its exit code was not 0
    lrNoExitCode = 3, // it ran but its exit code was not available
};

// A real flash of the sensor's program memory at 9600 baud takes one to two
// minutes; a loader still running after this long has hung, and is ended.
inline constexpr qint32 loaderTimeoutDefaultMs = 10 * 60 * 1000;

struct LoaderOutcome
{
    QString status;
    QString box;
    Dialogs::Icon icon;
    bool accepted; // the sensor may be used afterwards
};
LoaderOutcome DescribeLoaderResult(TLoaderResult result);
