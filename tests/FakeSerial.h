#pragma once

// A serial driver on the virtual clock whose far end a test scripts by hand: bytes
// that arrive at given times, and a record of every byte written and when.

#include "core/Clock.h"
#include "serial/SerialDriver.h"

#include <QList>
#include <QPair>

#include <cstring>

class FakeSerial : public SerialDriver
{
public:
    explicit FakeSerial(VirtualClock *clock) : clock(clock)
    {
        std::memset(&attributes, 0, sizeof attributes);
    }

    // Bytes that arrive from the device at the given time.
    void arriveAt(qint64 timeMs, const QByteArray &bytes) { incoming.append({timeMs, bytes}); }
    // One byte every periodMs from..until (inclusive).
    void chatter(qint64 fromMs, qint64 untilMs, int periodMs)
    {
        for (qint64 t = fromMs; t <= untilMs; t += periodMs)
            arriveAt(t, "~");
    }

    QStringList serialDevices() override { return {}; }
    QList<PortLink> portLinks() override
    {
        return {{QStringLiteral("COM5"), QStringLiteral("/fake/COM5"), true}};
    }
    QString portsDirectory() override { return QStringLiteral("/fake"); }
    PortHandle open(const QByteArray &path) override
    {
        if (path != "/fake/COM5" || isOpen)
            return INVALID_PORT_HANDLE;
        isOpen = true;
        return 7;
    }
    bool getAttributes(PortHandle, termios *t) override
    {
        *t = attributes;
        return true;
    }
    bool setAttributes(PortHandle, const termios &t) override
    {
        attributes = t;
        return true;
    }
    bool raiseModemLines(PortHandle) override { return false; }
    int bytesQueued(PortHandle) override { return gone ? -1 : int(due().size()); }
    int read(PortHandle, char *buffer, int count) override
    {
        if (gone)
            return -1;
        QByteArray bytes = due().left(count);
        std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
        consumed += bytes.size();
        return int(bytes.size());
    }
    int write(PortHandle, const char *data, int count) override
    {
        if (gone)
            return -1;
        for (int i = 0; i < count; ++i)
            writes.append({clock->nowMs(), data[i]});
        return count;
    }
    void close(PortHandle) override { isOpen = false; }

    QByteArray written() const
    {
        QByteArray out;
        for (const auto &w : writes)
            out += w.second;
        return out;
    }

    VirtualClock *clock;
    termios attributes;
    bool isOpen = false;
    bool gone = false;
    QList<QPair<qint64, QByteArray>> incoming;
    QList<QPair<qint64, char>> writes;

private:
    QByteArray due() const
    {
        QByteArray all;
        for (const auto &in : incoming) {
            if (in.first <= clock->nowMs())
                all += in.second;
        }
        return all.mid(consumed);
    }
    int consumed = 0;
};
