// Received bytes through the terminal's line assembly and log display, and typed text
// through the line-end substitution: whatever arrives, a log line stays one line of
// bounded length, and the substitution adds at most one carriage return.
#include "app/Manualentry.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    QByteArray pending;
    QByteArray finished;
    for (char c : bytes) {
        if (assembleManualLine(pending, c, &finished)) {
            if (finished.size() > manualLineLimit || finished.contains('\r'))
                std::abort();
            const QString shown = manualLogText(finished);
            if (shown.contains(QLatin1Char('\n')) || shown.contains(QLatin1Char('\r')))
                std::abort();
        }
        if (pending.size() >= manualLineLimit)
            std::abort();
    }

    const QString typed = QString::fromLatin1(bytes);
    const QByteArray sent = manualCommandText(typed);
    if (sent.count('\r') > typed.count(QLatin1Char('\r')) + 1)
        std::abort();
    return 0;
}
