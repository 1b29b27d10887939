#pragma once

#include "channel/Flow.h"
#include "exchange/Verify.h"
#include "measure/Historyexport.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

class QPainter;

// What the commissioning report says about a site: everything the window knows at
// the moment it is made, as plain data, so that its content is tested without a window.
struct SiteReport
{
    QDateTime made;
    QString application;      // title and version
    QString siteName;         // named by whoever made the report; empty: not named
    bool sensorFound = false; // identified by the last search
    bool configRead = false;  // its configuration read since
    qint32 serial = 0;
    qint16 firmwareVersion = 0;
    QString portName;
    qint32 baud = 0;
    bool passthrough = false;
    qint32 installedHeightMm = 0;
    quint16 windowHighMm = 0;
    bool lostEchoRepeats = true; // else the fixed value below
    QString lostEchoValue;
    qint32 channelType = ctMeasureDistance;
    ChannelDimensions dims;
    // Since the sensor was found: the register words it is known to hold, read from it
    // or written to it, against those the window would write. Where a word is not
    // known, whether the sensor holds what the window shows is not known either.
    RegisterWords held;
    RegisterWords window;
    bool descriptionSent = false; // the description held came by an upload, table and all
    std::optional<VerificationRecord> lastVerification;
    QList<HistoryRecord> lastMeasurements; // at most reportMeasurements, oldest first
};

inline constexpr int reportMeasurements = 10;

// The report's facts, caption and text, in the order they are printed. What the
// application does not know is said as such, never left blank.
QList<QPair<QString, QString>> SiteReportFacts(const SiteReport &report);

// Whether the description shown is the one last sent to the sensor, so that the
// table printed is the one the sensor holds rather than the one it would be sent.
bool ReportTableWasSent(const SiteReport &report);

// The channel picture of a type, with its dimension marks, on a W x H surface: the
// drawing the channel page shows.
void DrawChannelPicture(QPainter &p, int W, int H, qint32 type, const ChannelDimensions &dims);

// Writes the report as an A4 PDF of two pages, atomically: on failure an earlier
// file of that name is left as it was, and error says why.
bool WriteSiteReport(const QString &path, const SiteReport &report, QString *error);
