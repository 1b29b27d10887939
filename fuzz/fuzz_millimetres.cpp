// Any text typed into a dimension edit: the result is a whole number of millimetres
// inside the 32-bit range, within a millimetre of what the text says where the text
// is a plain number, and what the edit shows for a dimension reads back unchanged.
#include "channel/Flow.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

[[noreturn]] void fail(const char *what, const QString &text, qint32 got)
{
    std::fprintf(stderr, "millimetres: %s: \"%s\" gave %d\n", what, qUtf8Printable(text), got);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // Every dimension the sensor can hold shows as metres and reads back the same.
    const qint32 mm = in.ConsumeIntegralInRange<qint32>(0, 65535);
    const QString shown = MetresText(mm);
    if (MillimetresFromText(shown) != mm)
        fail("shown dimension does not read back", shown, MillimetresFromText(shown));

    const std::string raw = in.ConsumeRemainingBytesAsString();
    for (const QString &text : {QString::fromUtf8(raw.data(), qsizetype(raw.size())),
                                QString::fromLatin1(raw.data(), qsizetype(raw.size()))}) {
        const qint32 got = MillimetresFromText(text);
        if (got == std::numeric_limits<qint32>::min())
            fail("out of the symmetric range", text, got);
        bool ok = false;
        const double metres = QLocale::c().toDouble(text.trimmed(), &ok);
        // Half a millimetre added, then truncated toward zero, within the range where
        // single precision still resolves a millimetre.
        const double off = got - metres * 1000.0;
        if (ok && std::isfinite(metres) && std::fabs(metres) < 1000.0 && (off < -0.6 || off > 1.6))
            fail("more than the rounding off", text, got);
        if ((!ok || !std::isfinite(metres)) && got != MillimetresFromText(QStringLiteral("-1")))
            fail("not a number but not the -1 m reading", text, got);
    }
    return 0;
}
