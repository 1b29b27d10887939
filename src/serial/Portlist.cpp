// The port list arithmetic, shared by the Linux and the Windows enumeration so
// that both give the same names in the same order.
#include "serial/Enumcomports.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
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
    int lastPort;
    quint32 exclusion;
};

// Each family owns a fixed block of numbers, so no two devices share one. Bluetooth
// modems (mask bit 2) have no device family of their own on Linux: they appear as
// rfcomm ports and are excluded with those. rfcomm devices beyond the first 32 do
// not occur, so the rest of the numbers go to the serial devices of other families.
const DeviceClass deviceClasses[] = {
    {"ttyS", 1, 32, excludeBuiltIn},
    {"ttyUSB", 33, 64, excludeUsbVirtual},
    {"ttyACM", 65, 96, excludeUsbVirtual},
    {"rfcomm", 97, 128, excludeBluetoothPort},
};

// A device node's name split into its family (everything before the trailing
// digits) and the number those digits give, kept as the digits without leading
// zeros so that a run of any length compares as the number it is.
struct NodeName
{
    QString family;
    QString index;
};

bool asciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

NodeName nodeName(const QString &path)
{
    int digits = int(path.size());
    while (digits > 0 && asciiDigit(path.at(digits - 1)))
        --digits;
    int significant = digits;
    while (significant < path.size() && path.at(significant) == QLatin1Char('0'))
        ++significant;
    return {path.left(digits), path.mid(significant)};
}

bool indexBefore(const QString &a, const QString &b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

QString cleanDevicePath(const QString &path)
{
    return QDir::cleanPath(path);
}

} // namespace

QString DeviceForPortNumber(int number)
{
    for (const DeviceClass &c : deviceClasses)
        if (number >= c.firstPort && number <= c.lastPort)
            return QStringLiteral("/dev/%1%2").arg(QLatin1String(c.prefix)).arg(number - c.firstPort);
    return QString();
}

int PortNumberForLinkName(const QString &name)
{
    return comNumber(name);
}

int PortNumberForDevice(const QString &path, quint32 *exclusionClass)
{
    if (exclusionClass)
        *exclusionClass = 0;
    const QString device = cleanDevicePath(path);
    const QString name = QFileInfo(device).fileName();
    for (const DeviceClass &c : deviceClasses) {
        const QLatin1String prefix(c.prefix);
        if (!name.startsWith(prefix))
            continue;
        if (exclusionClass)
            *exclusionClass = c.exclusion;
        const QString digits = name.mid(prefix.size());
        if (digits.isEmpty() || digits.size() > 3)
            return -1;
        for (const QChar d : digits)
            if (!asciiDigit(d))
                return -1;
        const int k = digits.toInt();
        if (k > c.lastPort - c.firstPort)
            return -1;
        // The number opens /dev/<family><k>; any other node of that name
        // (/dev/ttyS01, /tmp/ttyS1) would be listed as a port that opens another
        // device, so it is numbered with the other families.
        const int n = c.firstPort + k;
        return DeviceForPortNumber(n) == device ? n : -1;
    }
    return -1;
}

QList<NumberedDevice> NumberedDevices(const QStringList &devices)
{
    QList<NumberedDevice> numbered;
    QList<NumberedDevice> others;
    QSet<QString> seen; // a device may be reported twice under the same node
    for (const QString &reported : devices) {
        const QString device = cleanDevicePath(reported);
        if (device.isEmpty() || seen.contains(device))
            continue;
        seen.insert(device);
        quint32 cls = 0;
        const int n = PortNumberForDevice(device, &cls);
        if (n == -1)
            others.append({device, -1, cls});
        else
            numbered.append({device, n, cls});
    }
    // The other devices are numbered in order of name, whatever order the system
    // reports them in, so that the same devices always get the same numbers:
    // ttyAMA2 before ttyAMA10, both before ttyXRUSB0.
    std::sort(others.begin(), others.end(), [](const NumberedDevice &a, const NumberedDevice &b) {
        const NodeName na = nodeName(a.path);
        const NodeName nb = nodeName(b.path);
        if (na.family != nb.family)
            return na.family < nb.family;
        if (na.index != nb.index)
            return indexBefore(na.index, nb.index);
        return a.path < b.path;
    });
    int next = firstOtherPort;
    for (NumberedDevice &d : others) {
        if (next > lastOtherPort)
            break; // out of numbers: the rest cannot be addressed
        d.number = next++;
        numbered.append(d);
    }
    return numbered;
}

PortList PortListFromDevices(const QStringList &devices, const QList<PortLink> &links, quint32 excludeMask)
{
    QList<int> numbers;
    QSet<int> linked;
    QSet<QString> linkTargets;
    for (const PortLink &link : links) {
        const int n = comNumber(link.name);
        if (!usableNumber(n) || !link.targetExists)
            continue;
        linked.insert(n);
        linkTargets.insert(cleanDevicePath(link.target));
        quint32 cls = 0;
        PortNumberForDevice(link.target, &cls);
        if (!(cls & excludeMask))
            numbers.append(n);
    }
    // A device a link names is listed once, under the link's number; a numbered device
    // gives way to a link of its number.
    for (const NumberedDevice &d : NumberedDevices(devices)) {
        if (linked.contains(d.number) || linkTargets.contains(d.path) || (d.exclusionClass & excludeMask))
            continue;
        numbers.append(d.number);
    }
    return sortedList(numbers);
}

QString PortPathForNumber(int number, const QList<PortLink> &links, const QString &portsDirectory,
                          const QStringList &devices)
{
    if (!usableNumber(number))
        return QString();
    // A link of that number, however its number is spelt (COM7, com07), names the
    // device; the first one listed wins, as in the port list.
    for (const PortLink &link : links)
        if (link.targetExists && comNumber(link.name) == number)
            return QDir(portsDirectory).filePath(link.name);
    if (number < firstOtherPort)
        return DeviceForPortNumber(number);
    for (const NumberedDevice &d : NumberedDevices(devices))
        if (d.number == number)
            return d.path;
    return QString();
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
