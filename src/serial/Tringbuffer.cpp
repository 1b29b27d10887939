#include "serial/Tringbuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

TRingBuffer::TRingBuffer(qint32 size, bool overwrite)
    : size(size), storage(size > 0 ? new (std::nothrow) quint8[size_t(size) + 1] : nullptr),
      overwrite(overwrite)
{
    // Without storage every write is cut to nothing and every search finds nothing.
    if (!storage)
        this->size = 0;
}

TRingBuffer::~TRingBuffer()
{
    delete[] storage;
}

qint32 TRingBuffer::Count() const
{
    return head >= tail ? head - tail : size + head - tail + 1;
}

qint32 TRingBuffer::FreeSpace() const
{
    return head >= tail ? size + tail - head : tail - head - 1;
}

qint32 TRingBuffer::Put(const char *bytes, qint32 length)
{
    if (length < 1 || size == 0)
        return 0;
    bool overflow = false;
    if (length > FreeSpace()) {
        if (overwrite)
            overflow = true;
        else
            length = FreeSpace();
    }
    // Only the newest size bytes can survive an overflow; writing the older ones
    // first would only be overwritten again.
    const qint32 skip = overflow ? std::max(0, length - size) : 0;
    head = qint32((qint64(head) + skip) % (size + 1));
    const char *from = bytes + skip;
    qint32 remaining = length - skip;
    while (remaining > 0) {
        const qint32 run = std::min(remaining, size - head + 1);
        std::memcpy(storage + head, from, size_t(run));
        from += run;
        remaining -= run;
        head += run;
        if (head > size)
            head = 0;
    }
    if (overflow) {
        tail = head + 1;
        if (tail > size)
            tail = 0;
    }
    return length;
}

qint32 TRingBuffer::Find(quint8 value, qint32 start) const
{
    const qint32 count = Count();
    if (start < 0 || start >= count)
        return -1;
    qint32 offset = start;
    while (offset < count) {
        const qint32 index = (tail + offset) % (size + 1);
        const qint32 run = std::min(count - offset, size + 1 - index);
        const void *hit = std::memchr(storage + index, value, size_t(run));
        if (hit)
            return offset + qint32(static_cast<const quint8 *>(hit) - (storage + index));
        offset += run;
    }
    return -1;
}

qint32 TRingBuffer::Match(const char *pattern, qint32 length, char wildcard, bool *complete) const
{
    if (complete)
        *complete = false;
    if (length < 1)
        return -1;
    const qint32 count = Count();
    qint32 from = 0;
    for (;;) {
        qint32 i;
        if (pattern[0] == wildcard) {
            // A wildcard start fits at every offset up to and including Count.
            if (from > count)
                return -1;
            i = from;
        } else {
            i = Find(quint8(pattern[0]), from);
            if (i == -1)
                return -1;
        }
        const qint32 n = std::min(count - i, length);
        qint32 k = 0;
        while (k < n) {
            const char c = char(storage[(tail + i + k) % (size + 1)]);
            if (pattern[k] != wildcard && pattern[k] != c)
                break;
            ++k;
        }
        if (k == n) {
            if (complete)
                *complete = (n == length);
            return i;
        }
        from = i + 1;
    }
}

qint32 TRingBuffer::Peek(char *destination, qint32 offset, qint32 count) const
{
    if (count <= 0 || offset < 0)
        return 0;
    const qint32 held = Count();
    if (held < offset)
        return 0;
    // Compared as held - offset, which cannot overflow, rather than offset + count.
    if (count > held - offset)
        count = held - offset;
    qint32 copied = 0;
    while (copied < count) {
        const qint32 index = (tail + offset + copied) % (size + 1);
        const qint32 run = std::min(count - copied, size + 1 - index);
        std::memcpy(destination + copied, storage + index, size_t(run));
        copied += run;
    }
    return count;
}

qint32 TRingBuffer::Skip(qint32 count)
{
    if (count < 0)
        count = Find(0, 0) + 1;
    if (count <= 0)
        return count;
    const qint32 held = Count();
    if (held < count) {
        tail = head;
        return held;
    }
    tail = (tail + count) % (size + 1);
    return count;
}

qint32 TRingBuffer::Read(char *destination, qint32 count)
{
    if (count < 0)
        count = Find(0, 0) + 1;
    const qint32 copied = Peek(destination, 0, count);
    Skip(copied);
    return copied;
}

QByteArray TRingBuffer::ReadString(qint32 count)
{
    if (count < 0)
        count = Find(0, 0) + 1;
    if (count <= 0)
        return QByteArray();
    // Room for what is held, not for what was asked: the largest count would
    // otherwise overflow and the next largest ask for two gigabytes.
    count = std::min(count, Count());
    QByteArray temp(count + 1, '\0');
    Read(temp.data(), count);
    // The text ends at the first zero byte, as a C string would.
    return QByteArray(temp.constData());
}
