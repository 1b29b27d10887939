// The register-dump parser on any bytes: it must not crash, and a reply it accepts
// must hold the ten register markers in order, each value read from its field.
#include "exchange/Readconfig.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(const QByteArray &reply, bool ended)
{
    RegisterDump dump;
    qint32 end = -1;
    if (ParseRegisterDump(reply, &dump, &end, ended) != DumpParse::Complete)
        return;

    if (!reply.contains(dumpMarker))
        abort();
    const qint32 values[] = {dump.sensorType,   dump.range,       dump.serial,     dump.height,
                             dump.lostEcho,     dump.channelType, dump.notchWidth, dump.crestHeight,
                             dump.channelWidth, dump.flowExponent};
    static const int registers[] = {8, 9, 19, 23, 24, 128, 129, 130, 131, 132};
    qsizetype pos = 0;
    for (int i = 0; i < 10; ++i) {
        const QByteArray marker = "(R" + QByteArray::number(registers[i]) + "): ";
        const qsizetype at = reply.indexOf(marker, pos);
        if (at < 0)
            abort();
        pos = at + marker.size();
        // A six-character field holds at most six digits.
        if (values[i] < -99999 || values[i] > 999999)
            abort();
        const QByteArray field = reply.mid(pos, dumpValueField).trimmed();
        if (values[i] != 0 && !field.contains(QByteArray::number(qAbs(values[i]))))
            abort();
        pos += dumpValueField;
    }
    if (end != qint32(qMin<qsizetype>(pos, reply.size())))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    // As a reply that may still be growing, and as one after which the line fell quiet.
    for (const bool ended : {false, true})
        check(reply, ended);
    return 0;
}
