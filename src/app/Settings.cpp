// The settings kept between runs: read once at the first showing of the main window,
// written once when it closes.
#include "app/Mainform.h"

#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSettings>
#include <QSlider>

#include <optional>

namespace {

// A value stored as an integer; anything else (missing, text that is no number)
// counts as absent.
std::optional<qint32> readInteger(const QSettings &store, const QString &name)
{
    if (!store.contains(name))
        return std::nullopt;
    const QVariant v = store.value(name);
    bool ok = false;
    const qint32 n = v.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return n;
}

} // namespace

void TformMain::LoadSettings()
{
    QSettings store(platform.settingsOrganization, platform.settingsApplication);
    // One error scope: the first value missing or of the wrong type ends loading, and
    // what was read before it stays applied.
    const auto left = readInteger(store, QStringLiteral("Left"));
    if (!left)
        return;
    move(*left, y());
    const auto top = readInteger(store, QStringLiteral("Top"));
    if (!top)
        return;
    move(x(), *top);
    const auto width = readInteger(store, QStringLiteral("Width"));
    if (!width)
        return;
    resize(*width, height());
    const auto heightValue = readInteger(store, QStringLiteral("Right"));
    if (!heightValue)
        return;
    resize(this->width(), *heightValue);
    const auto optionBits = readInteger(store, QStringLiteral("Options"));
    if (!optionBits)
        return;
    options = quint32(*optionBits);
    const auto port = readInteger(store, QStringLiteral("Port"));
    if (!port)
        return;
    sensorPort = qint16(*port);
    const auto baud = readInteger(store, QStringLiteral("Baud"));
    if (!baud)
        return;
    sensorBaud = *baud;
    const auto passthrough = readInteger(store, QStringLiteral("Passthrough"));
    if (!passthrough)
        return;
    sensorPassthrough = *passthrough != 0;
    const auto txDelay = readInteger(store, QStringLiteral("Tx Delay"));
    if (!txDelay)
        return;
    timerSlowTx->setInterval(*txDelay);
    const auto headroom = readInteger(store, QStringLiteral("Max Height Percent"));
    if (!headroom)
        return;
    maxHeightPercent = *headroom;
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
    } else {
        store.setValue(QStringLiteral("Port"), qint32(sensorPort));
        store.setValue(QStringLiteral("Baud"), sensorBaud);
        store.setValue(QStringLiteral("Passthrough"), sensorPassthrough ? 1 : 0);
    }
    store.sync();
    if (store.status() != QSettings::NoError)
        setStatusText(QStringLiteral(" Unable to read options"));
}
