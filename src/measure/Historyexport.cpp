#include "measure/Historyexport.h"

#include "channel/Flow.h"
#include "core/Csv.h"

#include <QDateTime>

QString IsoTimeWithOffset(qint64 msSinceEpoch, bool withMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msSinceEpoch);
    // Written out by hand: Qt's ISO format gives "Z" for a zero offset, and the
    // offset is meant to be read as one.
    const int offset = local.offsetFromUtc() / 60;
    const int magnitude = offset < 0 ? -offset : offset;
    return local.toString(withMs ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                 : QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
               .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

HistoryRecord HistoryRecordOf(const TGraphEntry &e)
{
    HistoryRecord r;
    r.taken = IsoTimeWithOffset(e.takenMs);
    const bool weir = e.channelType != ctMeasureDistance && e.channelType != ctMeasureDepth;
    // A column of metres could hold distances and depths alike: each row says which.
    r.quantity = e.channelType == ctMeasureDistance ? QStringLiteral("distance")
                 : e.channelType == ctMeasureDepth  ? QStringLiteral("depth")
                                                    : QStringLiteral("flow");
    // An invalid reading is stored as -1 and the window shows no value for it.
    r.valid = e.value >= 0 ? QStringLiteral("yes") : QStringLiteral("no");
    if (e.value >= 0) {
        if (!weir) {
            r.value = FormatFixed(e.value * 0.001, 3);
            r.unit = QStringLiteral("m");
        } else if (e.flow >= 0.1f) {
            r.value = FormatFixed(e.flow, 3);
            r.unit = QStringLiteral("m\u00B3/s");
        } else {
            r.value = FormatFixed(double(e.flow) * 1000.0, 1);
            r.unit = QStringLiteral("l/s");
        }
        if (weir)
            r.flow = QString::number(double(e.flow), 'f', 6);
    }
    r.validSamples = QString::number(e.validSamples);
    r.samples = QString::number(e.samples);
    r.gain = QString::number(e.gain);
    return r;
}

QStringList HistoryHeader()
{
    return {QStringLiteral("Time"),    QStringLiteral("Quantity"), QStringLiteral("Value"),
            QStringLiteral("Unit"),    QStringLiteral("Valid"),    QStringLiteral("Valid samples"),
            QStringLiteral("Samples"), QStringLiteral("Gain"),     QStringLiteral("Flow (m\u00B3/s)")};
}

QStringList HistoryFields(const HistoryRecord &r)
{
    return {r.taken, r.quantity, r.value, r.unit, r.valid, r.validSamples, r.samples, r.gain, r.flow};
}

QByteArray HistoryCsv(const THistory &history)
{
    QByteArray out = CsvFirstRecord(HistoryHeader());
    for (qint64 i = 0; i < history.size(); ++i)
        out += CsvRecord(HistoryFields(HistoryRecordOf(history.at(i))));
    return out;
}
