// Sending requests to the sensor, the receive side of the port, and the lamps.
#include "serial/Transmit.h"

#include "app/Mainform.h"
#include "app/Manualentry.h"
#include "core/Timer.h"

#include <memory>
#include <new>

QByteArray FrameCommand(const QByteArray &text, bool passthrough)
{
    if (passthrough && text.startsWith("..."))
        return QByteArrayLiteral("...EGCNFG(") + text.mid(3) + ')';
    return text;
}

bool TformMain::SendCommand(const QByteArray &text, bool passthrough)
{
    if (timerSlowTx->isActive() || !commPort.isOpen())
        return false;

    // The sensor cannot listen while it talks: wait for a whole quiet pass.
    // Whatever arrives meanwhile belongs to no request and is thrown away.
    int passes = 0;
    do {
        if (passes == quietLinePassLimit) {
            rxBuffer->Clear();
            return false;
        }
        rxBuffer->Clear();
        platform.clock->sleepMs(quietLinePassMs);
        ReadPort();
        ++passes;
    } while (rxBuffer->Count() > 0);

    txPending = FrameCommand(text, passthrough);
    txPortGeneration = commPort.generation;
    timerSlowTx->start();

    ledTx->setBrushColor(winColor(255));
    timerTxLed->start();
    return true;
}

void TformMain::timerSlowTxTimer()
{
    if (txPending.isEmpty()) {
        timerSlowTx->stop();
        txDoneDueUs = timerSlowTx->dueUs();
        return;
    }
    // The port was closed (or replaced) under the sender: the rest of the request
    // can reach nobody, and the scheduler waits for the sender to finish.
    if (!commPort.isOpen() || commPort.generation != txPortGeneration) {
        txPending.clear();
        timerSlowTx->stop();
        txDoneDueUs = timerSlowTx->dueUs();
        return;
    }
    // A lost character shows up as a missing reply, and the exchange retries.
    WritePortByte(&commPort, txPending.at(0));
    txPending.remove(0, 1);
}

// Timers are set in whole milliseconds, so two ticks due less than half a millisecond
// apart were due at the same moment; only the order in which they were armed tells
// them apart. The scheduler resumes only at a tick after the sender has stopped.
bool TformMain::senderBusyAt(qint64 dueUs) const
{
    constexpr qint64 sameMomentUs = 500;
    return timerSlowTx->isActive() || txDoneDueUs > dueUs - sameMomentUs;
}

void TformMain::timerTxLedTimer()
{
    ledTx->setBrushColor(winColor(81));
    timerTxLed->stop();
}

void TformMain::timerRxLedTimer()
{
    ledRx->setBrushColor(winColor(16384));
    timerRxLed->stop();
}

void TformMain::ReadPort()
{
    const qint32 queued = ClearCommError(&commPort) ? commPort.comStat.cbInQue : 0;
    if (queued <= 0)
        return;
    // Whatever cannot be taken now stays in the driver queue for the next call.
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[size_t(queued)]);
    if (!bytes)
        return;
    const qint32 got = ReadPortData(&commPort, bytes.get(), queued);
    if (got <= 0)
        return;
    rxBuffer->Put(bytes.get(), got);
    rxBytesRead += quint64(got);

    ledRx->setBrushColor(winColor(65280));
    timerRxLed->start();

    echoToManualWindow(bytes.get(), got);
}

bool TformMain::PurgeReceive()
{
    if (!commPort.isOpen())
        return false;
    // A device server drops what it still holds from the device.
    if (commPort.driver)
        commPort.driver->purgeReceive(commPort.handle);
    bool readSomething = false;
    qint32 queued = ClearCommError(&commPort) ? commPort.comStat.cbInQue : 0;
    while (queued > 0) {
        std::unique_ptr<char[]> bytes(new (std::nothrow) char[size_t(queued)]);
        if (!bytes)
            break;
        const qint32 got = ReadPortData(&commPort, bytes.get(), queued);
        // A device that reports bytes it then cannot deliver would keep us here forever.
        if (got <= 0)
            break;
        rxBuffer->Put(bytes.get(), got);
        readSomething = true;
        queued = ClearCommError(&commPort) ? commPort.comStat.cbInQue : 0;
    }
    return readSomething;
}

void TformMain::echoToManualWindow(const char *bytes, qint32 count)
{
    // The manual command window, while open, takes every received byte in order.
    for (qint32 i = 0; i < count && formManual; ++i)
        formManual->EchoReceived(bytes[i]);
}
