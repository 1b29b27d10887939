#pragma once

#include <QString>
#include <QtGlobal>

// The five channel types, in the order of the channel-type list; the index is what
// the description files, the settings and the sensor's register 128 hold.
enum ChannelType : qint32
{
    ctMeasureDistance = 0,
    ctMeasureDepth = 1,
    ctRectangularWeir = 2,
    ctConstrictedWeir = 3,
    ctVNotchWeir = 4,
};

// The dimensions of a channel description, whole millimetres and degrees.
struct ChannelDimensions
{
    qint32 notchAngle = 90;
    qint32 crestHeight = 1000;
    qint32 channelWidth = 1000;
    qint32 notchWidth = 500;
};

// Rectangular sharp-crested weir (Kindsvater-Carter with fitted coefficients):
// channel width B, crest width b, crest height P and head h in mm; m³/s.
double RectangularWeirFlow(qint32 B, qint32 b, qint32 P, qint32 h);

// V-notch weir (Kindsvater-Shen, worked in feet and converted): angle in whole
// degrees, head in mm; m³/s.
double VNotchWeirFlow(qint32 theta, qint32 h);

// The flow of a channel at a head, or -1.0 when the description gives no flow.
double FlowForHead(qint32 type, const ChannelDimensions &dims, qint32 head);

// The smallest whole number not below value, for a graph axis; 1 when there is
// nothing to scale.
qint32 FlowAxisMaximum(float value, qint32 divisions);

// Metres typed into a dimension edit, as whole millimetres rounded half up; text
// that is not a number counts as -1 m.
qint32 MillimetresFromText(const QString &text);

// What a key typed into a dimension edit does: digits and the full stop are typed;
// a comma is taken as the decimal point, as engineers on many locales type it;
// anything else that would type a character is refused.
enum class DimensionKey
{
    Type,
    DecimalPoint,
    Refuse
};
DimensionKey ClassifyDimensionKey(QChar key);

// Number pictures as the window shows them: "##0.000" and "###0.0" are fixed
// decimals; "0.0#######" keeps one to eight decimals.
QString FormatFixed(double value, int decimals);
QString FormatTrimmed(double value, int minDecimals, int maxDecimals);

// Whole millimetres shown in metres, "##0.000".
QString MetresText(qint32 millimetres);

// A real truncated toward zero into the 32-bit range; NaN gives 0. Drawings use it so
// that a far-out description (a notch of 180 degrees) cannot overflow a coordinate.
qint32 TruncToInt(double value);

// The value of one flow-table count for the calibration label, e.g. "0.01 (l/s)".
QString CalibrationText(qint32 flowExponent);

// The read-out of the flow graph under the pointer: depth and flow on two lines,
// litres per second below 0.1 m³/s.
QString FlowHintText(qint32 head, float flow);
