#pragma once

#include <QRect>
#include <QString>
#include <QtGlobal>

#include <deque>

// One completed measurement in the history graph, kept as plain data: the graph
// draws the entries in view itself, so a long continuous run costs memory for the
// readings only, never a control per bar or label.
struct TGraphEntry
{
    qint32 value;       // mm for distance and depth, flow count for the weirs; -1 when invalid
    float flow;         // m³/s from the count
    float headFlow;     // m³/s from the channel equation with the value as head; -1 without a weir
    qint8 validSamples; // as the sensor reported them
    qint8 samples;
    qint8 gain;
    qint8 channelType; // the channel type when the reading was taken: it decides the bar's hint
    qint64 takenMs;    // when the reading was taken, ms since the epoch
};

// The history: entries oldest first, with the largest value and flow so far, so that
// neither an added entry nor a layout has to look at every entry.
//
// Unbounded in practice: an entry takes a few dozen bytes, so a day of continuous
// measurement is a few megabytes. The one ceiling is the graph's scroll range, a
// 32-bit pixel count at 32 pixels an entry; beyond historyCapacity entries (years of
// readings) the oldest one gives way to the newest.
class THistory
{
public:
    static constexpr qint64 historyCapacity = 0x7FFFFFFF / 32 - 1;

    void append(const TGraphEntry &entry);
    void clear();
    qint64 size() const { return qint64(entries.size()); }
    bool isEmpty() const { return entries.empty(); }
    const TGraphEntry &at(qint64 index) const { return entries[size_t(index)]; }
    qint32 largestValue() const { return maxValue; } // at least 0
    float largestFlow() const { return maxFlow; }    // at least 0

private:
    // A deque never moves the entries it holds, so an append costs the same at any length.
    std::deque<TGraphEntry> entries;
    qint32 maxValue = 0;
    float maxFlow = 0;
};

// Entries stand 32 pixels apart; a bar alone is one pixel wider, so that neighbouring
// bars share their outline; two bars side by side are 17 wide, the second 16 to the right.
inline constexpr int historySlotWidth = 32;
inline constexpr int historyRowHeight = 14; // a label row in Arial 8 pt

// The scales and rows of the graph as the last layout left them, in graph-area pixels.
struct HistoryScales
{
    float headScale = 0; // pixels per value unit
    float flowScale = 0; // pixels per m³/s
    qint32 barBaseline = 0;
    qint32 gainRowTop = 0;
    qint32 samplesRowTop = 0;
    bool showHead = true;
    bool showFlow = false;
};

// Where one entry's bars and labels stand in the graph area, scrolled by scrollX.
// A bar of height 0 (an invalid reading, or a negative flow) is not drawn.
struct HistoryPlacement
{
    QRect headBar;
    QRect flowBar;
    QRect gainLabel;
    QRect samplesLabel;
};
HistoryPlacement PlaceHistoryEntry(const TGraphEntry &entry, qint64 index, qint64 scrollX,
                                   const HistoryScales &scales);

// "0.#": one decimal, left out when it is 0 ("1.2", "1").
QString OneOptionalDecimal(double value);

// The title of the value axis for a channel type: "D i s t", "D e p t h", "F l o w".
QString HeadAxisTitle(qint32 channelType);

// A caption of the value axis for a value of units (mm, or flow counts for the
// weirs). The axis maximum decides for the weirs whether the whole axis reads in
// m³/s or in l/s: pass decideUnit true for it, and its choice for the ticks.
QString HeadAxisCaption(qint32 units, qint32 channelType, qint32 flowExponent, bool decideUnit,
                        bool *useCubicMetres);
// Captions of the flow axis: the maximum with one decimal, the ticks whole.
QString FlowAxisCaption(float flow, bool useCubicMetres);
QString FlowTickCaption(float flow, bool useCubicMetres);

// The hints shown while the pointer rests on a bar.
QString HeadBarHint(const TGraphEntry &entry);
QString FlowBarHint(const TGraphEntry &entry);

// The two label rows under the bars.
inline QString SamplesText(qint8 validSamples, qint8 samples)
{
    return QStringLiteral("%1 / %2").arg(validSamples).arg(samples);
}
