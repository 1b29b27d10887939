#pragma once

#include "channel/Flow.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>

// The head-to-flow table the sensor interpolates in to report flow by itself:
// 32 points from no head to 5 m, interleaved head (mm) and flow (counts), with the
// decimal scale chosen so that the flow at 5 m fits the sensor's 16-bit counts.
struct FlowTable
{
    std::array<quint16, 64> words{};
    qint32 exponent = 4; // one count is 10^-(exponent + 1) m³/s
};

inline constexpr int flowTablePoints = 32;
inline constexpr qint32 flowTableTopHead = 5000; // mm

// Only the weirs have a flow table; the distance and depth types keep the old one.
bool HasFlowTable(qint32 type);

// The table and scale for a channel description. A description without flow (a
// width or crest height of 0 or less) gives the exponent 4 and every count 65535.
FlowTable BuildFlowTable(qint32 type, const ChannelDimensions &dims);

// The text of one register write: "...ATR<register>=<value>" and a carriage return,
// the value as the unsigned decimal of its 16 bits.
QByteArray RegisterWriteCommand(int reg, quint16 value);

// The 16-bit register word of a channel dimension (mm) or notch angle. A value with
// no meaning (a negative width from text that is not a number) goes out as its low
// 16 bits, 32768..65535, which the sensor takes for no dimension at all. A value
// beyond 16 bits would wrap to a small one it could not tell from a real dimension
// (70 m to 4.464 m), so it is held at the edge of that range instead.
quint16 DimensionWord(qint32 value);

// The word of one of the channel-description registers 128..132 (type, notch width
// or the V-notch angle, crest height, channel width, flow-scale exponent).
quint16 DescriptionRegisterWord(int reg, qint32 type, const ChannelDimensions &dims, qint32 flowExponent);

// The upload walks steps 0..71: the table into registers 64..127, then Window High,
// the sensor height, the lost-echo value and the channel description (registers 1,
// 23, 24 and 128..132). The register a step writes:
int UploadRegister(int step);
inline constexpr int uploadFirstSettingsStep = 64;
inline constexpr int uploadSteps = 72;
