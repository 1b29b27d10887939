// The settings kept between runs: read once at the first showing of the main window,
// written once when it closes.
#include "app/Settings.h"

#include "app/Mainform.h"

#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSlider>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// A value stored as a 32-bit integer; anything else (missing, text that is no
// number, a number too large for 32 bits) counts as absent.
std::optional<qint32> readInteger(const QSettings &store, const QString &name)
{
    if (!store.contains(name))
        return std::nullopt;
    const QVariant v = store.value(name);
    bool ok = false;
    // Read wide and checked: toInt() would take a 64-bit 4294967299 for port 3.
    const qint64 n = v.toLongLong(&ok);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(n);
}

} // namespace

bool StoredSpanFits(qint64 start, qint64 length, int first, int last)
{
    return length > 0 && start >= first && start + length - 1 <= last;
}

bool StoredSizeFits(qint64 size, int minimum, qint64 start, int first, int last)
{
    return size >= minimum && StoredSpanFits(start, size, first, last);
}

bool StoredPortFits(qint64 port)
{
    return port == -1 || (port >= 1 && port <= 255);
}

bool StoredBaudFits(qint64 baud)
{
    return baud == 9600 || baud == 19200 || baud == 115200;
}

bool StoredBooleanFits(qint64 value)
{
    return value == 0 || value == 1;
}

bool StoredOptionsFit(qint64 options)
{
    return options >= 0 && options <= std::numeric_limits<qint32>::max();
}

bool StoredHeadroomFits(qint64 percent)
{
    return percent >= headroomMinimum && percent <= headroomMaximum;
}

qint32 StoredTxDelay(qint64 ms)
{
    return qint32(qBound(qint64(txDelayMinimum), ms, qint64(txDelayMaximum)));
}

QList<NetworkPortEntry> StoredNetworkPorts(QSettings &store)
{
    QList<NetworkPortEntry> ports;
    const int n = store.beginReadArray(QStringLiteral("Network Ports"));
    for (int i = 0; i < n && ports.size() < maxNetworkPorts; ++i) {
        store.setArrayIndex(i);
        // A URL edited by hand into something else is left out, as is a repeat.
        const auto url = ParseNetworkPortUrl(store.value(QStringLiteral("URL")).toString());
        if (!url)
            continue;
        const QString text = url->text();
        if (std::any_of(ports.cbegin(), ports.cend(),
                        [&](const NetworkPortEntry &e) { return e.url == text; }))
            continue;
        ports.append(
            {text, store.value(QStringLiteral("Name")).toString().simplified().left(maxNetworkPortName)});
    }
    store.endArray();
    return ports;
}

void StoreNetworkPorts(QSettings &store, const QList<NetworkPortEntry> &ports)
{
    store.remove(QStringLiteral("Network Ports"));
    store.beginWriteArray(QStringLiteral("Network Ports"), int(ports.size()));
    for (int i = 0; i < ports.size(); ++i) {
        store.setArrayIndex(i);
        store.setValue(QStringLiteral("URL"), ports.at(i).url);
        store.setValue(QStringLiteral("Name"), ports.at(i).name);
    }
    store.endArray();
}

void TformMain::LoadSettings()
{
    QSettings store(platform.settingsOrganization, platform.settingsApplication);
    loadStoredValues(store);
    // Beside the values above, whichever of them were read: the network ports, and
    // the one the sensor was last found on.
    networkPorts = StoredNetworkPorts(store);
    const QString last = store.value(QStringLiteral("Network Port")).toString();
    for (int i = 0; i < networkPorts.size(); ++i)
        if (!last.isEmpty() && networkPorts.at(i).url == last && sensorPort == -1) {
            sensorPort = qint16(firstNetworkPortNumber + i);
            sensorPortName = last;
        }
}

void TformMain::loadStoredValues(QSettings &store)
{
    // The window must come up where the user can see and reach it, whatever was
    // stored: on a screen that has since gone, or with a size no screen holds.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableVirtualGeometry() : QRect();

    // One error scope: the first value missing or of the wrong type ends loading, and
    // what was read before it stays applied. A value that is there but out of bounds
    // keeps its default, and loading goes on.
    const auto left = readInteger(store, QStringLiteral("Left"));
    if (!left)
        return;
    if (StoredSpanFits(*left, width(), area.left(), area.right()))
        move(int(*left), y());
    const auto top = readInteger(store, QStringLiteral("Top"));
    if (!top)
        return;
    if (StoredSpanFits(*top, height(), area.top(), area.bottom()))
        move(x(), int(*top));
    const auto width = readInteger(store, QStringLiteral("Width"));
    if (!width)
        return;
    if (StoredSizeFits(*width, minimumWidth(), x(), area.left(), area.right()))
        resize(int(*width), height());
    const auto heightValue = readInteger(store, QStringLiteral("Right"));
    if (!heightValue)
        return;
    if (StoredSizeFits(*heightValue, minimumHeight(), y(), area.top(), area.bottom()))
        resize(this->width(), int(*heightValue));
    const auto optionBits = readInteger(store, QStringLiteral("Options"));
    if (!optionBits)
        return;
    if (StoredOptionsFit(*optionBits))
        options = quint32(*optionBits);
    const auto port = readInteger(store, QStringLiteral("Port"));
    if (!port)
        return;
    if (StoredPortFits(*port))
        sensorPort = qint16(*port);
    const auto baud = readInteger(store, QStringLiteral("Baud"));
    if (!baud)
        return;
    if (StoredBaudFits(*baud))
        sensorBaud = qint32(*baud);
    const auto passthrough = readInteger(store, QStringLiteral("Passthrough"));
    if (!passthrough)
        return;
    if (StoredBooleanFits(*passthrough))
        sensorPassthrough = *passthrough != 0;
    const auto txDelay = readInteger(store, QStringLiteral("Tx Delay"));
    if (!txDelay)
        return;
    timerSlowTx->setInterval(StoredTxDelay(*txDelay));
    const auto headroom = readInteger(store, QStringLiteral("Max Height Percent"));
    if (!headroom)
        return;
    if (StoredHeadroomFits(*headroom))
        maxHeightPercent = qint32(*headroom);
}

void TformMain::StoreSettings()
{
    options &= ~quint32(0xE0);
    if (menuImperial->isChecked())
        options |= 0x20;
    if (cbHead->isChecked())
        options |= 0x40;
    if (cbFlow->isChecked())
        options |= 0x80;

    QSettings store(platform.settingsOrganization, platform.settingsApplication);
    if (!store.isWritable()) {
        setStatusText(QStringLiteral(" Unable to read options"));
        return;
    }
    const QPoint at = pos();
    store.setValue(QStringLiteral("Left"), at.x());
    store.setValue(QStringLiteral("Top"), at.y());
    store.setValue(QStringLiteral("Width"), width());
    store.setValue(QStringLiteral("Right"), height());
    store.setValue(QStringLiteral("Options"), qint32(options));
    store.setValue(QStringLiteral("Sensor Height"), trackSensorHeight->value());
    store.setValue(QStringLiteral("Tx Delay"), timerSlowTx->interval());
    store.setValue(QStringLiteral("Max Height Percent"), maxHeightPercent);
    store.setValue(QStringLiteral("Channel Type"), cbChanType->currentIndex());
    store.setValue(QStringLiteral("Notch Angle"), notchAngle);
    store.setValue(QStringLiteral("Crest Height"), crestHeight);
    store.setValue(QStringLiteral("Channel Width"), channelWidth);
    store.setValue(QStringLiteral("Notch Width"), notchWidth);
    if (!commPort.isOpen()) {
        // The old line speed and framing stay: only the port says "none". Where none
        // were ever stored, the current ones are written, or the next load would stop
        // at the missing "Baud" and lose the Tx delay and headroom set in Options.
        store.setValue(QStringLiteral("Port"), -1);
        if (!store.contains(QStringLiteral("Baud")))
            store.setValue(QStringLiteral("Baud"), sensorBaud);
        if (!store.contains(QStringLiteral("Passthrough")))
            store.setValue(QStringLiteral("Passthrough"), sensorPassthrough ? 1 : 0);
        store.remove(QStringLiteral("Network Port"));
    } else if (IsNetworkPortName(sensorPortName)) {
        // A network port has no number another run could open.
        store.setValue(QStringLiteral("Port"), -1);
        store.setValue(QStringLiteral("Network Port"), sensorPortName);
        store.setValue(QStringLiteral("Baud"), sensorBaud);
        store.setValue(QStringLiteral("Passthrough"), sensorPassthrough ? 1 : 0);
    } else {
        store.remove(QStringLiteral("Network Port"));
        store.setValue(QStringLiteral("Port"), qint32(sensorPort));
        store.setValue(QStringLiteral("Baud"), sensorBaud);
        store.setValue(QStringLiteral("Passthrough"), sensorPassthrough ? 1 : 0);
    }
    StoreNetworkPorts(store, networkPorts);
    store.sync();
    if (store.status() != QSettings::NoError)
        setStatusText(QStringLiteral(" Unable to read options"));
}
