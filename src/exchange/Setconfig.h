#pragma once

#include <QString>
#include <QtGlobal>

inline constexpr qint32 writeTimeoutDirect = 250;
inline constexpr qint32 writeTimeoutPassthrough = 1500;
inline constexpr quint16 repeatLastValue = 0xFFFF; // the lost-echo code for "the last value again"

// Register 23: 0 when measuring distance (the sensor then ignores its height), the
// height for depth, and the height with bit 15 set for the weirs, which tells the
// sensor to report flow.
quint16 SensorHeightValue(qint32 channelType, qint32 heightMm);

// Register 1, Window High: the largest distance taken as an echo. With "Set Maximum
// Height" it is the height plus the headroom, rounded as the sensor always had it;
// otherwise the whole range of the sensor type.
quint16 WindowHighValue(qint32 channelType, bool setMaxHeight, qint32 headroomPercent, quint16 heightWord,
                        qint32 sensorType);

// A fixed lost-echo value typed by the engineer.
struct LostEchoEntry
{
    enum Message
    {
        None,
        Invalid,  // not a whole number: the old value stays
        Adjusted, // brought into the signed 16-bit range, or -1 moved off the repeat code
    };
    qint32 value;
    Message message;
};
LostEchoEntry LostEchoFromText(const QString &text, qint32 oldValue);

inline constexpr char lostEchoInvalidText[] =
    "The entered lost echo value is invalid, so the old value will be used.";
inline constexpr char lostEchoAdjustedText[] =
    "The entered lost echo value has been adjusted to be in range.";
