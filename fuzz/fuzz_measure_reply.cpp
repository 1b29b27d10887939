// The measurement reply as the sensor's bytes reach it: found by its template in the
// receive buffer, decoded, and turned into the texts shown.
#include "measure/Measure.h"
#include "serial/Tringbuffer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TRingBuffer buffer(64, true);
    buffer.Put(reinterpret_cast<const char *>(data), qint32(size > 100000 ? 100000 : size));
    for (;;) {
        bool complete = false;
        const qint32 at = buffer.Match(QByteArray(measurementTemplate), '?', &complete);
        if (at < 0 || !complete)
            break;
        buffer.Skip(at);
        const MeasurementReply r = DecodeMeasurementReply(buffer.ReadString(measurementReplyLength));
        if (!r.hasNegativeField()) {
            for (qint32 exponent = -2; exponent <= 6; exponent += 4)
                (void)FlowResultText(MeasuredFlow(r.value, exponent));
        }
    }
    // The decoder alone, on whatever the input holds.
    (void)DecodeMeasurementReply(
        QByteArray(reinterpret_cast<const char *>(data), int(size > 64 ? 64 : size)));
    return 0;
}
