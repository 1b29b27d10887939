#pragma once

#include "channel/Flowtable.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The flow table as an engineer reads it: the 32 points exactly as the upload sends
// them, the head in metres and each count turned back into the flow the sensor will
// report for it, in the unit the measurement history shows for such flows.
struct FlowTableRow
{
    int point;     // 1..32
    qint32 headMm; // as sent
    quint16 count; // as sent
    QString head;  // metres, three decimals
    QString flow;  // in flowUnit, as many decimals as one count has; "no flow" for 65535
};

struct FlowTableListing
{
    qint32 exponent = 4;
    QString flowUnit;   // "m³/s" or "l/s"
    QString resolution; // the value of one count, in flowUnit ("0.001 m³/s")
    QList<FlowTableRow> rows;
};

// The count the sensor reads as "no flow" (also a flow above the scale).
inline constexpr quint16 flowTableNoFlowCount = 65535;

FlowTableListing ListFlowTable(const FlowTable &table);

// The listing as CSV: a header row and one row per point.
QByteArray FlowTableCsv(const FlowTableListing &listing);

// The channel types as the type list offers them, in the order of their numbers;
// ChannelTypeName gives one of them for texts outside the window.
QStringList ChannelTypeNames();
QString ChannelTypeName(qint32 type);
