#pragma once

// A main window on the virtual clock with the in-process simulated devices, never
// shown (showing it would start the start-up search), recording every status text
// and the state after every tick of the port-service timer.

#include "model/InProcessSerial.h"

#include "TestPlatform.h"
#include "app/Mainform.h"
#include "channel/Flow.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QComboBox>
#include <QStatusBar>

#include <memory>

struct ExchangeRig
{
    struct Tick
    {
        qint64 atMs;
        int state;
        qint32 timeLeft;
        bool timerOn;
    };

    VirtualClock clock;
    InProcessSerial serial{&clock};
    RecordingDialogs dialogs;
    std::unique_ptr<TformMain> form;
    QList<QPair<qint64, QString>> messages;
    QList<Tick> ticks;

    explicit ExchangeRig(const QString &testName)
    {
        form = std::make_unique<TformMain>(testPlatform(&clock, &serial, &dialogs, testName));
        QObject::connect(form->statusBar, &QStatusBar::messageChanged, form.get(),
                         [this](const QString &text) {
                             messages.append({clock.nowMs(), text});
                         });
        // Connected after the window's own handler, so this sees what a tick left.
        QObject::connect(form->timerPortService, &Timer::timeout, form.get(), [this] {
            ticks.append(
                {clock.nowMs(), form->portState, form->timeLeft, form->timerPortService->isActive()});
        });
    }

    // The status texts in order, without the progress dots.
    QStringList statusSteps() const
    {
        QStringList out;
        for (const auto &m : messages) {
            if (m.second.isEmpty())
                continue;
            if (!out.isEmpty() && m.second.startsWith(out.last())) {
                const QString more = m.second.mid(out.last().size());
                if (!more.isEmpty() && more == QString(more.size(), QLatin1Char('.')))
                    continue;
            }
            out << m.second;
        }
        return out;
    }

    qint64 firstMessageTime(const QString &text) const
    {
        for (const auto &m : messages)
            if (m.second == text)
                return m.first;
        return -1;
    }

    // The sensor on COM3, direct or behind a logger at loggerBaud, and the window
    // connected to it as a search would have left it.
    SimSensor *connectSensor(qint32 loggerBaud = 0, const SimFaults &faults = SimFaults(),
                             qint16 firmware = 113)
    {
        SimOptions o;
        o.loggerBaud = loggerBaud;
        o.faults = faults;
        SimSensor *sensor = serial.addSensor(3, o);
        const qint32 baud = loggerBaud ? loggerBaud : 9600;
        OpenPort(&form->commPort, 3, baud);
        form->sensorPort = 3;
        form->sensorBaud = baud;
        form->sensorPassthrough = loggerBaud != 0;
        form->firmwareVersion = firmware;
        form->sensorFound = true;
        return sensor;
    }

    // The sensor connected as above, with a channel described but not yet sent.
    SimSensor *connectDescribed(int type, ChannelDimensions d, qint32 loggerBaud = 0);

    QList<int> openedPorts() const
    {
        QList<int> out;
        for (const auto &e : serial.opens)
            out << e.port;
        return out;
    }

    QStringList candidates() const
    {
        QStringList out;
        for (const _TAutoDetectArrayEntry *c : *form->searchList)
            out << QStringLiteral("%1/%2/%3")
                       .arg(c->portName)
                       .arg(c->baud)
                       .arg(c->passthrough ? QStringLiteral("pt") : QStringLiteral("direct"));
        return out;
    }
};

// A channel described as a user would leave it: the type chosen, the dimensions set,
// the description marked as not yet sent.
inline void describeChannel(TformMain &w, int type, ChannelDimensions d)
{
    w.cbChanType->setCurrentIndex(type);
    w.notchAngle = d.notchAngle;
    w.crestHeight = d.crestHeight;
    w.channelWidth = d.channelWidth;
    w.notchWidth = d.notchWidth;
    w.markChannelChanged(true);
}

inline SimSensor *ExchangeRig::connectDescribed(int type, ChannelDimensions d, qint32 loggerBaud)
{
    SimSensor *sensor = connectSensor(loggerBaud);
    describeChannel(*form, type, d);
    return sensor;
}
