#pragma once

#include "measure/Tgraphentry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One history entry as the exports and the site report list it.
struct HistoryRecord
{
    QString taken;    // ISO 8601 local time with its offset from UTC, to the millisecond
    QString quantity; // what the value is: "distance", "depth" or "flow"
    QString value;    // as the Last Measurement group showed it: metres, or the flow; empty when invalid
    QString unit;     // "m", "m³/s" or "l/s"; empty when invalid
    QString valid;    // "yes" or "no"
    QString validSamples;
    QString samples;
    QString gain;
    QString flow; // m³/s for the weirs; empty for distance and depth, which give no flow
};

// A moment as ISO 8601 in the machine's local time with its offset: the engineer's
// clock, and still one instant wherever the file is read.
QString IsoTimeWithOffset(qint64 msSinceEpoch, bool withMs = true);

HistoryRecord HistoryRecordOf(const TGraphEntry &entry);
QStringList HistoryHeader();
QStringList HistoryFields(const HistoryRecord &record);

// The whole history, oldest first, as CSV with a header row.
QByteArray HistoryCsv(const THistory &history);
