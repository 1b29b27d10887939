#include "channel/Flowtableview.h"

#include "core/Csv.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {
const QString cubicMetres = QStringLiteral("m\u00B3/s");
const QString litres = QStringLiteral("l/s");
} // namespace

FlowTableListing ListFlowTable(const FlowTable &table)
{
    FlowTableListing out;
    out.exponent = table.exponent;
    // One count is 10^-(e+1) m³/s: that many decimals show every count exactly. The
    // whole table, the value of one count with it, reads in the unit the history
    // graph would choose for its top flow.
    const double perCount = 0.1 / std::pow(10.0, table.exponent);
    const quint16 topCount = table.words[size_t(2 * flowTablePoints - 1)];
    const bool cubic = topCount == flowTableNoFlowCount || topCount * perCount >= 0.1;
    out.flowUnit = cubic ? cubicMetres : litres;
    const int decimals = std::clamp(cubic ? table.exponent + 1 : table.exponent - 2, 0, 9);
    const double unitsPerCount = cubic ? perCount : perCount * 1000.0;
    out.resolution = QString::number(unitsPerCount, 'f', decimals) + QLatin1Char(' ') + out.flowUnit;

    for (int k = 0; k < flowTablePoints; ++k) {
        FlowTableRow row;
        row.point = k + 1;
        row.headMm = table.words[size_t(2 * k)];
        row.count = table.words[size_t(2 * k + 1)];
        row.head = FormatFixed(row.headMm * 0.001, 3);
        row.flow = row.count == flowTableNoFlowCount
                       ? QStringLiteral("no flow")
                       : QString::number(row.count * unitsPerCount, 'f', decimals);
        out.rows.append(row);
    }
    return out;
}

QByteArray FlowTableCsv(const FlowTableListing &listing)
{
    QByteArray out =
        CsvFirstRecord({QStringLiteral("Point"), QStringLiteral("Head (m)"),
                        QStringLiteral("Flow (%1)").arg(listing.flowUnit), QStringLiteral("Count"),
                        QStringLiteral("Flow-scale exponent"), QStringLiteral("Resolution")});
    for (const FlowTableRow &r : listing.rows)
        out += CsvRecord({QString::number(r.point), r.head, r.flow, QString::number(r.count),
                          QString::number(listing.exponent), listing.resolution});
    return out;
}

QStringList ChannelTypeNames()
{
    return {QStringLiteral("None - Measure Distance"), QStringLiteral("None - Measure Depth"),
            QStringLiteral("Rectangular Weir"), QStringLiteral("Constricted Rectangular Weir"),
            QStringLiteral("V-Notch Weir")};
}

QString ChannelTypeName(qint32 type)
{
    const QStringList names = ChannelTypeNames();
    if (type >= 0 && type < names.size())
        return names.at(type);
    return QStringLiteral("unknown type %1").arg(type);
}
