// Random sequences of the receive buffer's operations on a small buffer, checked
// after every step against a plain model kept in a deque. Counts and offsets are
// drawn from the whole 32-bit range, so that sums near the largest integer are
// tried as often as the small values callers pass. Destinations are heap blocks of
// exactly the size the model expects, so that a copy of one byte too many is an
// AddressSanitizer report.
#include "serial/Tringbuffer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace {

struct Model
{
    qint32 capacity;
    bool overwrite;
    std::deque<char> bytes;

    qint32 count() const { return qint32(bytes.size()); }
    qint32 put(const char *data, qint32 length)
    {
        if (length < 1 || capacity == 0)
            return 0;
        if (!overwrite)
            length = std::min(length, capacity - count());
        bytes.insert(bytes.end(), data, data + length);
        while (count() > capacity)
            bytes.pop_front();
        return length;
    }
    qint32 find(char value, qint32 start) const
    {
        for (qint64 i = std::max<qint64>(start, 0); start >= 0 && i < count(); ++i)
            if (bytes[size_t(i)] == value)
                return qint32(i);
        return -1;
    }
    qint32 match(const std::vector<char> &pattern, char wildcard, bool *complete) const
    {
        *complete = false;
        if (pattern.empty())
            return -1;
        for (qint32 i = 0; i <= count(); ++i) {
            if (pattern[0] != wildcard && (i == count() || bytes[size_t(i)] != pattern[0]))
                continue;
            const qint32 n = std::min<qint32>(count() - i, qint32(pattern.size()));
            bool all = true;
            for (qint32 k = 0; k < n && all; ++k)
                all = pattern[size_t(k)] == wildcard || pattern[size_t(k)] == bytes[size_t(i + k)];
            if (all) {
                *complete = n == qint32(pattern.size());
                return i;
            }
        }
        return -1;
    }
    qint32 peekLength(qint32 offset, qint32 n) const
    {
        if (n <= 0 || offset < 0 || offset > count())
            return 0;
        return std::min(n, count() - offset);
    }
    // The count Read, ReadString and Skip work with: a negative one runs up to and
    // including the first zero byte.
    qint32 resolved(qint32 n) const { return n < 0 ? find('\0', 0) + 1 : n; }
    void drop(qint32 n) { bytes.erase(bytes.begin(), bytes.begin() + std::min(n, count())); }
};

[[noreturn]] void mismatch(const char *what, long long got, long long expected)
{
    std::fprintf(stderr, "ring buffer differs from its model: %s gave %lld, expected %lld\n", what, got,
                 expected);
    std::abort();
}

void check(const char *what, long long got, long long expected)
{
    if (got != expected)
        mismatch(what, got, expected);
}

// Small values and the edges of the integer range are where the faults are; the
// rest of the range is drawn evenly.
qint32 anyCount(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return in.ConsumeIntegralInRange<qint32>(-2, 40);
    case 1:
        return INT_MAX - in.ConsumeIntegralInRange<qint32>(0, 40);
    case 2:
        return INT_MIN + in.ConsumeIntegralInRange<qint32>(0, 40);
    default:
        return in.ConsumeIntegral<qint32>();
    }
}

void compareContents(const TRingBuffer &buffer, const Model &model)
{
    check("Count", buffer.Count(), model.count());
    check("FreeSpace", buffer.FreeSpace(), model.capacity - model.count());
    std::unique_ptr<char[]> all(new char[size_t(model.count()) + 1]);
    check("Peek of everything", buffer.Peek(all.get(), 0, model.count()), model.count());
    for (qint32 i = 0; i < model.count(); ++i)
        check("held byte", quint8(all[size_t(i)]), quint8(model.bytes[size_t(i)]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const qint32 capacity = in.ConsumeIntegralInRange<qint32>(0, 24);
    const bool overwrite = in.ConsumeBool();
    TRingBuffer buffer(capacity, overwrite);
    Model model{capacity, overwrite, {}};

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 0: {
            const std::string bytes = in.ConsumeRandomLengthString(3 * size_t(capacity) + 4);
            // Now and then a length below 1, which takes nothing.
            const qint32 length =
                in.ConsumeBool() ? qint32(bytes.size()) : -in.ConsumeIntegralInRange<qint32>(0, 2);
            check("Put", buffer.Put(bytes.data(), length), model.put(bytes.data(), length));
            break;
        }
        case 1: {
            const char value = in.ConsumeIntegral<char>();
            const qint32 start = anyCount(in);
            check("Find", buffer.Find(quint8(value), start), model.find(value, start));
            break;
        }
        case 2: {
            const std::string text = in.ConsumeRandomLengthString(8);
            const std::vector<char> pattern(text.begin(), text.end());
            const char wildcard = in.ConsumeBool() ? '?' : '\0';
            bool complete = true, expectedComplete = true;
            const qint32 at = pattern.empty()
                                  ? buffer.Match(nullptr, 0, wildcard, &complete)
                                  : buffer.Match(pattern.data(), qint32(pattern.size()), wildcard, &complete);
            check("Match", at, model.match(pattern, wildcard, &expectedComplete));
            check("Match complete", complete, expectedComplete);
            break;
        }
        case 3: {
            const qint32 offset = anyCount(in);
            const qint32 n = anyCount(in);
            const qint32 expected = model.peekLength(offset, n);
            std::unique_ptr<char[]> out(new char[size_t(expected) + 1]);
            check("Peek", buffer.Peek(out.get(), offset, n), expected);
            for (qint32 i = 0; i < expected; ++i)
                check("peeked byte", quint8(out[size_t(i)]), quint8(model.bytes[size_t(offset + i)]));
            break;
        }
        case 4: {
            const qint32 n = anyCount(in);
            const qint32 expected = model.peekLength(0, model.resolved(n));
            std::unique_ptr<char[]> out(new char[size_t(expected) + 1]);
            check("Read", buffer.Read(out.get(), n), expected);
            for (qint32 i = 0; i < expected; ++i)
                check("read byte", quint8(out[size_t(i)]), quint8(model.bytes[size_t(i)]));
            model.drop(expected);
            break;
        }
        case 5: {
            const qint32 n = anyCount(in);
            const qint32 taken = model.peekLength(0, model.resolved(n));
            qint32 textLength = 0;
            while (textLength < taken && model.bytes[size_t(textLength)] != '\0')
                ++textLength;
            const QByteArray text = buffer.ReadString(n);
            check("ReadString length", text.size(), textLength);
            for (qint32 i = 0; i < textLength; ++i)
                check("string byte", quint8(text.at(i)), quint8(model.bytes[size_t(i)]));
            model.drop(taken);
            break;
        }
        case 6: {
            const qint32 n = anyCount(in);
            const qint32 resolved = model.resolved(n);
            const qint32 expected = resolved <= 0 ? resolved : std::min(resolved, model.count());
            check("Skip", buffer.Skip(n), expected);
            if (expected > 0)
                model.drop(expected);
            break;
        }
        case 7:
            buffer.Clear();
            model.bytes.clear();
            break;
        default:
            // Callers empty the buffer by setting head and tail themselves.
            buffer.head = buffer.tail = 0;
            model.bytes.clear();
            break;
        }
        compareContents(buffer, model);
    }
    return 0;
}
