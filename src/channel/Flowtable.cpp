#include "channel/Flowtable.h"

#include <cmath>

namespace {
// The sensor's counts are 16 bits; the scale leaves headroom above the flow at 5 m
// for the interpolation between points.
constexpr double countsAtTopHead = 64000.0;
// 5000 mm / 31 intervals, summed in single precision: the heads the sensor has
// always been given (the last one lands on exactly 5000).
constexpr float headStep = 161.29033f;
constexpr quint16 noFlowCount = 65535;

quint16 flowCount(double q, float factor)
{
    // A channel without flow, and any flow the equations cannot give sensibly,
    // is marked by the all-ones count that the sensor reads as "no flow".
    if (!(q >= 0.0))
        return noFlowCount;
    q *= double(factor);
    if (!(q < 65535.0))
        return noFlowCount;
    return quint16(q);
}
} // namespace

bool HasFlowTable(qint32 type)
{
    return type == ctRectangularWeir || type == ctConstrictedWeir || type == ctVNotchWeir;
}

FlowTable BuildFlowTable(qint32 type, const ChannelDimensions &dims)
{
    FlowTable table;
    float factor = 100000.0f;
    table.exponent = 4;
    // The flow at 5 m is computed afresh on every pass. The loop ends: either the
    // flow fits, or (an absurd description) the single-precision factor runs down
    // to 0 within some fifty passes.
    while (FlowForHead(type, dims, flowTableTopHead) * double(factor) > countsAtTopHead) {
        factor = factor * 0.1f;
        --table.exponent;
    }

    float sum = 0.0f;
    for (int k = 0; k < flowTablePoints; ++k) {
        const qint32 head = qint32(sum);
        table.words[size_t(2 * k)] = quint16(head);
        table.words[size_t(2 * k + 1)] = flowCount(FlowForHead(type, dims, head), factor);
        sum = sum + headStep;
    }
    return table;
}

QByteArray RegisterWriteCommand(int reg, quint16 value)
{
    return QByteArrayLiteral("...ATR") + QByteArray::number(reg) + '=' + QByteArray::number(value) + '\r';
}

quint16 DimensionWord(qint32 value)
{
    if (value > 0xFFFF)
        return 0xFFFF;
    if (value < -0x8000)
        return 0x8000;
    return quint16(value);
}

quint16 DescriptionRegisterWord(int reg, qint32 type, const ChannelDimensions &dims, qint32 flowExponent)
{
    switch (reg) {
    case 128:
        return quint16(type);
    case 129:
        return DimensionWord(type == ctVNotchWeir ? dims.notchAngle : dims.notchWidth);
    case 130:
        return DimensionWord(dims.crestHeight);
    case 131:
        return DimensionWord(dims.channelWidth);
    default:
        return quint16(flowExponent);
    }
}

int UploadRegister(int step)
{
    static const int settings[] = {1, 23, 24, 128, 129, 130, 131, 132};
    if (step >= 0 && step < uploadFirstSettingsStep)
        return 64 + step;
    if (step >= uploadFirstSettingsStep && step < uploadSteps)
        return settings[step - uploadFirstSettingsStep];
    return -1;
}
