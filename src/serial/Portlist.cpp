// The port list arithmetic, shared by the Linux and the Windows enumeration so
// that both give the same names in the same order.
#include "serial/Enumcomports.h"

#include <QFileInfo>
#include <QSet>

#include <utility>

namespace {

// "COM" then a decimal number, in any case; -1 for anything else.
int comNumber(const QString &text)
{
    if (text.size() < 4 || !text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return -1;
    const QString rest = text.mid(3);
    for (const QChar c : rest)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    bool ok = false;
    const int n = rest.toInt(&ok);
    return ok ? n : -1;
}

// Ports are opened by an 8-bit number; a larger one would open the wrong port.
bool usableNumber(int n)
{
    return n >= 1 && n <= 255;
}

// The exchange sort of the device map walk. Equal numbers give equal entries, so
// its instability shows nowhere.
PortList sortedList(QList<int> numbers)
{
    for (int i = 0; i + 1 < numbers.size(); ++i)
        for (int j = i + 1; j < numbers.size(); ++j)
            if (numbers[j] < numbers[i])
                std::swap(numbers[i], numbers[j]);
    PortList list;
    for (int n : std::as_const(numbers))
        if (n != -1)
            list.append({QStringLiteral("COM%1").arg(n), n});
    return list;
}

struct DeviceClass
{
    const char *prefix;
    int firstPort;
    quint32 exclusion;
};

// Bluetooth modems (mask bit 2) have no device class of their own on Linux: they
// appear as rfcomm ports and are excluded with those.
const DeviceClass deviceClasses[] = {
    {"ttyS", 1, excludeBuiltIn},
    {"ttyUSB", 33, excludeUsbVirtual},
    {"ttyACM", 65, excludeUsbVirtual},
    {"rfcomm", 97, excludeBluetoothPort},
};

// Each class owns 32 numbers, rfcomm the rest up to 255, so no two devices share one.
int lastPort(const DeviceClass &c)
{
    return c.firstPort == 97 ? 255 : c.firstPort + 31;
}

} // namespace

int PortNumberForDevice(const QString &path, quint32 *exclusionClass)
{
    if (exclusionClass)
        *exclusionClass = 0;
    const QString name = QFileInfo(path).fileName();
    for (const DeviceClass &c : deviceClasses) {
        const QLatin1String prefix(c.prefix);
        if (!name.startsWith(prefix))
            continue;
        if (exclusionClass)
            *exclusionClass = c.exclusion;
        const QString digits = name.mid(prefix.size());
        if (digits.isEmpty())
            return -1;
        for (const QChar d : digits)
            if (d < QLatin1Char('0') || d > QLatin1Char('9'))
                return -1;
        // Digits past the int range are no number at all, not port 0 of the class.
        bool ok = false;
        const int k = digits.toInt(&ok);
        if (!ok || k > lastPort(c) - c.firstPort)
            return -1;
        return c.firstPort + k;
    }
    return -1;
}

PortList PortListFromDevices(const QStringList &devices, const QList<PortLink> &links, quint32 excludeMask)
{
    QList<int> numbers;
    QSet<int> linked;
    for (const PortLink &link : links) {
        const int n = comNumber(link.name);
        if (!usableNumber(n) || !link.targetExists)
            continue;
        linked.insert(n);
        quint32 cls = 0;
        PortNumberForDevice(link.target, &cls);
        if (!(cls & excludeMask))
            numbers.append(n);
    }
    QSet<QString> seen; // a device may be reported twice under the same node
    for (const QString &device : devices) {
        if (seen.contains(device))
            continue;
        seen.insert(device);
        quint32 cls = 0;
        const int n = PortNumberForDevice(device, &cls);
        if (n == -1 || linked.contains(n) || (cls & excludeMask))
            continue;
        numbers.append(n);
    }
    return sortedList(numbers);
}

PortList PortListFromDeviceMap(const QList<DeviceMapValue> &values, quint32 excludeMask)
{
    static const struct
    {
        quint32 bit;
        const char *prefix;
    } prefixes[] = {
        {excludeBuiltIn, "\\Device\\Serial"},
        {excludeBluetoothPort, "\\Device\\BtPort"},
        {excludeBluetoothModem, "\\Device\\BthModem"},
        {excludeUsbVirtual, "\\Device\\VCP"},
    };
    QList<int> numbers;
    for (const DeviceMapValue &v : values) {
        bool excluded = false;
        for (const auto &p : prefixes)
            if ((excludeMask & p.bit) && v.name.startsWith(QLatin1String(p.prefix), Qt::CaseInsensitive)) {
                excluded = true;
                break;
            }
        if (excluded)
            continue;
        const int n = comNumber(v.data);
        numbers.append(usableNumber(n) ? n : -1);
    }
    return sortedList(numbers);
}
