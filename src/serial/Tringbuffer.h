#pragma once

#include <QByteArray>
#include <QtGlobal>

// The receive ring buffer: everything the sensor sends is collected here and every
// reply is located by its own leading text, never parsed as lines. Offsets count
// from the oldest byte held.
class TRingBuffer
{
public:
    TRingBuffer(qint32 size, bool overwrite);
    ~TRingBuffer();
    TRingBuffer(const TRingBuffer &) = delete;
    TRingBuffer &operator=(const TRingBuffer &) = delete;

    qint32 Put(const char *bytes, qint32 length);
    qint32 Count() const;
    qint32 FreeSpace() const;
    void Clear() { head = tail = 0; }
    qint32 Find(quint8 value, qint32 start) const;
    qint32 Match(const char *pattern, qint32 length, char wildcard, bool *complete) const;
    qint32 Peek(char *destination, qint32 offset, qint32 count) const;
    qint32 Read(char *destination, qint32 count);
    QByteArray ReadString(qint32 count);
    qint32 Skip(qint32 count);

    // Convenience for literals: Match(pattern, pattern.size(), wildcard, complete).
    qint32 Match(const QByteArray &pattern, char wildcard, bool *complete) const
    {
        return Match(pattern.constData(), qint32(pattern.size()), wildcard, complete);
    }

    // Fields in the order the record keeps them; callers empty the buffer by
    // setting head and tail to 0.
    qint32 size;
    quint8 *storage;
    qint32 head = 0;
    qint32 tail = 0;
    bool overwrite;
};
