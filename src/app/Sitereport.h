#pragma once

#include "channel/Flow.h"
#include "measure/Historyexport.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

class QPainter;

// What the commissioning report says about a site: everything the window knows at
// the moment it is made, as plain data, so that its content is tested without a window.
struct SiteReport
{
    QDateTime made;
    QString application;      // title and version
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
    bool descriptionChanged = false;       // the changed mark of the channel description
    bool setupChanged = false;             // the changed mark of the sensor set-up
    QList<HistoryRecord> lastMeasurements; // at most reportMeasurements, oldest first
};

inline constexpr int reportMeasurements = 10;

// The report's facts, caption and text, in the order they are printed. What the
// application does not know is said as such, never left blank.
QList<QPair<QString, QString>> SiteReportFacts(const SiteReport &report);

// The channel picture of a type, with its dimension marks, on a W x H surface: the
// drawing the channel page shows.
void DrawChannelPicture(QPainter &p, int W, int H, qint32 type, const ChannelDimensions &dims);

// Writes the report as an A4 PDF of two pages, atomically: on failure an earlier
// file of that name is left as it was, and error says why.
bool WriteSiteReport(const QString &path, const SiteReport &report, QString *error);
