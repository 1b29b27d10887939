// The firmware version carried by the identification reply, and what to do about it.
#include "exchange/Firmware.h"

namespace {

const QString outOfDate = QStringLiteral(" EchoGauge firmware is out of date");

// Two characters read as a decimal number, the way the sensor's digits are meant.
bool twoCharacterNumber(const QByteArray &text, qint32 *value)
{
    bool ok = false;
    const int n = text.toInt(&ok, 10);
    if (ok)
        *value = n;
    return ok;
}

} // namespace

FirmwareDigits ParseFirmwareDigits(const QByteArray &majorText, const QByteArray &minorText)
{
    FirmwareDigits d{-1, 0};
    twoCharacterNumber(majorText, &d.major);
    twoCharacterNumber(minorText, &d.minor);
    return d;
}

qint16 FirmwareVersionNumber(const FirmwareDigits &digits)
{
    return qint16(digits.major * 100 + digits.minor);
}

qint32 FirmwareCheckValue(const FirmwareDigits &digits)
{
    // C++ takes the remainder with the sign of the dividend, as wanted: major -1
    // gives minor - 100, which is always out of date.
    return (digits.major % 10) * 100 + digits.minor;
}

QString FirmwareVersionText(qint32 version)
{
    const qint32 magnitude = version < 0 ? -version : version;
    return QStringLiteral("V%1%2.%3")
        .arg(version < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 100)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

FirmwareDecision DecideFirmware(qint32 checkValue, qint16 version, qint16 newest, bool relayed,
                                bool loaderPresent)
{
    const QString v = FirmwareVersionText(version);
    const QString u = FirmwareVersionText(newest);
    const qint32 e = checkValue;
    using I = Dialogs::Icon;

    if (relayed) {
        if (e >= minimumFirmware)
            return {1, {}, {}, I::Information, FirmwareDecision::Accept};
        return {2, outOfDate,
                QStringLiteral("The EchoGauge firmware installed (") + v +
                    QStringLiteral(") is out of date and cannot be used with this software.\n"
                                   "You must have a direct connection from your PC to the EchoGauge "
                                   "to upgrade the firmware."),
                I::Information, FirmwareDecision::Refuse};
    }

    if (e < minimumFirmware) {
        if (!loaderPresent)
            return {3, outOfDate,
                    QStringLiteral("The EchoGauge firmware installed (") + v +
                        QStringLiteral(") is out of date and the upgrade software has not been found.\n"
                                       "You cannot use this software until the EchoGauge has been updated."),
                    I::Error, FirmwareDecision::Refuse};
        // Firmware whose major digits were not a number has a check value below 0:
        // it compares below every version, even below "no file at all", and only an
        // update to a usable version helps it. Without one it is refused, whatever
        // older file there is, never waved through as old but usable.
        if (e >= newest || newest < 0 || (e < 0 && newest < minimumFirmware))
            return {4, outOfDate,
                    QStringLiteral("The EchoGauge firmware installed (") + v +
                        QStringLiteral(") is out of date and no suitable update file has been found.\n"
                                       "You cannot use this software until the EchoGauge has been updated."),
                    I::Error, FirmwareDecision::Refuse};
        if (newest >= minimumFirmware)
            return {5, outOfDate,
                    QStringLiteral("The EchoGauge firmware installed (") + v +
                        QStringLiteral(") is out of date and will not work with this software.\n"
                                       "An update file for firmware ") +
                        u + QStringLiteral(" has been found and will be installed now."),
                    I::Information, FirmwareDecision::Upgrade};
        // An update that is still below the minimum would not help; the old
        // firmware is taken as it is.
        return {6, {}, {}, I::Information, FirmwareDecision::Accept};
    }

    if (e < newest)
        return {7, QStringLiteral(" Firmware update file found."),
                QStringLiteral("EchoGauge firmware ") + v +
                    QStringLiteral(" is currently installed, but an update file for firmware ") + u +
                    QStringLiteral(" has been found.\n\nThis new firmware will be installed now."),
                I::Information, FirmwareDecision::Upgrade};
    if (newest < e && newest >= minimumFirmware)
        return {8, QStringLiteral(" Upgrade the EchoGauge firmware now?"),
                QStringLiteral("The EchoGauge firmware installed (") + v +
                    QStringLiteral(") suggests that this software application may be out of date.\n"
                                   "Please check the Brookmere website to see if a newer version is "
                                   "available."),
                I::Information, FirmwareDecision::Accept};
    return {9, {}, {}, I::Information, FirmwareDecision::Accept};
}

LoaderOutcome DescribeLoaderResult(TLoaderResult result)
{
    using I = Dialogs::Icon;
    switch (result) {
    case lrSuccess:
        return {QStringLiteral(" Firmware upgrade successful."),
                QStringLiteral("Firmware upgrade successful."), I::Information, true};
    case lrNotStarted:
        return {QStringLiteral(" Upgrade software could not be found."),
                QStringLiteral("Upgrade software could not be found.\nFirmware upgrade has been aborted."),
                I::Error, false};
    case lrFailed:
        return {QStringLiteral(" The firmware upgrade has failed."),
                QStringLiteral("The firmware upgrade has failed."), I::Error, false};
    case lrNoExitCode:
        break;
    }
    return {QStringLiteral(" An unknown error has occurred during the firmware upgrade!"),
            QStringLiteral("An unknown error has occurred during the firmware upgrade!"), I::Error, false};
}
