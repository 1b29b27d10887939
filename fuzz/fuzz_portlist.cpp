// The port-list rules on any device names, link names and link targets, against a
// plain model: a device's number comes from its class and its digits read as an
// unbounded number; a link named "COM" and digits in any case takes its number and
// replaces the device of that number; the list is the usable numbers in ascending
// order, each named "COM" and the number.
#include "serial/Enumcomports.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &name)
{
    std::fprintf(stderr, "port list: %s (%s)\n", what, qUtf8Printable(name));
    std::abort();
}

// Decimal ASCII digits as an unbounded number, capped at a value past every port;
// -1 for an empty text or any other character.
qint64 digitsValue(const QString &digits)
{
    if (digits.isEmpty())
        return -1;
    qint64 v = 0;
    for (const QChar c : digits) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return -1;
        v = std::min<qint64>(v * 10 + (c.unicode() - '0'), 100000);
    }
    return v;
}

struct Class
{
    const char *prefix;
    int first;
    int last;
    quint32 exclusion;
};
const Class classes[] = {
    {"ttyS", 1, 32, excludeBuiltIn},
    {"ttyUSB", 33, 64, excludeUsbVirtual},
    {"ttyACM", 65, 96, excludeUsbVirtual},
    {"rfcomm", 97, 255, excludeBluetoothPort},
};

int modelDeviceNumber(const QString &path, quint32 *cls)
{
    *cls = 0;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    for (const Class &c : classes) {
        if (!name.startsWith(QLatin1String(c.prefix)))
            continue;
        *cls = c.exclusion;
        const qint64 v = digitsValue(name.mid(int(strlen(c.prefix))));
        return v >= 0 && c.first + v <= c.last ? int(c.first + v) : -1;
    }
    return -1;
}

int modelLinkNumber(const QString &name)
{
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return -1;
    const qint64 v = digitsValue(name.mid(3));
    return v >= 1 && v <= 255 ? int(v) : -1;
}

// Names drawn mostly from the shapes the rules know, so that the fuzzer reaches
// the interesting ones quickly, with any text now and then.
QString anyName(FuzzedDataProvider &in)
{
    static const char *const stems[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/rfcomm",
                                        "COM",       "com",         "/dev/",       ""};
    const char *stem = stems[in.ConsumeIntegralInRange<size_t>(0, std::size(stems) - 1)];
    const std::string tail = in.ConsumeRandomLengthString(12);
    return QString::fromLatin1(stem) + QString::fromUtf8(tail.data(), qsizetype(tail.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const quint32 mask = in.ConsumeIntegral<quint32>();
    QStringList devices;
    QList<PortLink> links;
    const int deviceCount = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < deviceCount; ++i)
        devices.append(anyName(in));
    const int linkCount = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < linkCount; ++i) {
        PortLink link;
        link.name = anyName(in);
        link.target = anyName(in);
        link.targetExists = in.ConsumeBool();
        links.append(link);
    }

    for (const QString &device : std::as_const(devices)) {
        quint32 cls = 0, expectedCls = 0;
        const int n = PortNumberForDevice(device, &cls);
        if (n != modelDeviceNumber(device, &expectedCls) || cls != expectedCls)
            fail("device number or class differs", device);
        if (PortNumberForDevice(device, nullptr) != n)
            fail("number depends on asking for the class", device);
    }

    QList<int> expected;
    QSet<int> linked;
    for (const PortLink &link : std::as_const(links)) {
        const int n = modelLinkNumber(link.name);
        if (n == -1 || !link.targetExists)
            continue;
        linked.insert(n);
        quint32 cls = 0;
        modelDeviceNumber(link.target, &cls);
        if (!(cls & mask))
            expected.append(n);
    }
    QSet<QString> seen;
    for (const QString &device : std::as_const(devices)) {
        quint32 cls = 0;
        const int n = modelDeviceNumber(device, &cls);
        if (seen.contains(device) || n == -1 || linked.contains(n) || (cls & mask)) {
            seen.insert(device);
            continue;
        }
        seen.insert(device);
        expected.append(n);
    }
    std::sort(expected.begin(), expected.end());

    const PortList list = PortListFromDevices(devices, links, mask);
    if (list.size() != expected.size())
        fail("list length differs", QString::number(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).number != expected.at(i))
            fail("port number differs", list.at(i).name);
        if (list.at(i).name != QStringLiteral("COM%1").arg(expected.at(i)))
            fail("port name differs", list.at(i).name);
    }

    // The device map's rules: excluded classes by value name, the number from the
    // data, unusable numbers left out.
    QList<DeviceMapValue> values;
    for (const PortLink &link : std::as_const(links))
        values.append({link.target, link.name});
    for (const QString &device : std::as_const(devices))
        values.append({device, device.mid(device.lastIndexOf(QLatin1Char('/')) + 1)});
    const PortList mapped = PortListFromDeviceMap(values, mask);
    for (int i = 0; i < mapped.size(); ++i) {
        const int n = mapped.at(i).number;
        if (n < 1 || n > 255 || mapped.at(i).name != QStringLiteral("COM%1").arg(n) ||
            (i > 0 && mapped.at(i - 1).number > n))
            fail("device map entry out of rule", mapped.at(i).name);
    }
    return 0;
}
