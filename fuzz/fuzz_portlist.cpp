// The port-list rules on any device names, link names and link targets, against a
// plain model written out here on its own:
//   - device paths are cleaned, each counted once, an empty one is none;
//   - /dev/ttyS<k> is COM<1+k>, /dev/ttyUSB<k> COM<33+k>, /dev/ttyACM<k> COM<65+k>,
//     /dev/rfcomm<k> COM<97+k> for k 0..31, written as the node that number opens
//     (no leading zero, nothing but /dev/ before the name);
//   - every other device takes COM129..COM255 in order of the path before its
//     trailing digits, the number those digits give (of any length), the path;
//     the rest get none;
//   - a device's class is that of the family its name starts with;
//   - an existing link named "COM" and digits (any case) of a number 1..255 is
//     listed under that number unless its target's class is excluded; a device
//     of that number, or the device its target names, is not listed;
//   - the list is in ascending number order, each named "COM" and the number, and
//     each number opens the link or the device it was listed for.
#include "serial/Enumcomports.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what, const QString &name)
{
    std::fprintf(stderr, "port list: %s (%s)\n", what, qUtf8Printable(name));
    std::abort();
}

struct Family
{
    const char *prefix;
    int first;
    quint32 exclusion;
};
const Family families[] = {
    {"ttyS", 1, excludeBuiltIn},
    {"ttyUSB", 33, excludeUsbVirtual},
    {"ttyACM", 65, excludeUsbVirtual},
    {"rfcomm", 97, excludeBluetoothPort},
};

QString cleaned(const QString &path)
{
    return QDir::cleanPath(path);
}

quint32 modelClass(const QString &path)
{
    const QString c = cleaned(path);
    const QString name = c.mid(c.lastIndexOf(QLatin1Char('/')) + 1);
    for (const Family &f : families)
        if (name.startsWith(QLatin1String(f.prefix)))
            return f.exclusion;
    return 0;
}

// The fixed number of a device node: the nodes the four families own, written out.
int modelFixedNumber(const QString &path)
{
    static const QHash<QString, int> nodes = [] {
        QHash<QString, int> h;
        for (const Family &f : families)
            for (int k = 0; k < 32; ++k)
                h.insert(QStringLiteral("/dev/%1%2").arg(QLatin1String(f.prefix)).arg(k), f.first + k);
        return h;
    }();
    return nodes.value(cleaned(path), -1);
}

bool asciiDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// "COM" (ASCII letters in any case) and ASCII digits giving 1..255; -1 otherwise.
int modelLinkNumber(const QString &name)
{
    if (name.size() < 4)
        return -1;
    const char com[] = "com";
    for (int i = 0; i < 3; ++i)
        if (name.at(i).unicode() != ushort(com[i]) && name.at(i).unicode() != ushort(com[i] - 32))
            return -1;
    int v = 0;
    for (int i = 3; i < name.size(); ++i) {
        if (!asciiDigit(name.at(i)))
            return -1;
        v = std::min(v * 10 + (name.at(i).unicode() - '0'), 1000);
    }
    return v >= 1 && v <= 255 ? v : -1;
}

// Sort key of a device outside the fixed numbers: the path before its trailing
// digits, those digits without leading zeros (a longer run is the larger number).
struct OtherKey
{
    QString head;
    QString digits;
    QString path;
};
OtherKey otherKey(const QString &path)
{
    int start = int(path.size());
    while (start > 0 && asciiDigit(path.at(start - 1)))
        --start;
    int significant = start;
    while (significant < path.size() && path.at(significant) == QLatin1Char('0'))
        ++significant;
    return {path.left(start), path.mid(significant), path};
}
bool otherBefore(const OtherKey &a, const OtherKey &b)
{
    if (a.head != b.head)
        return a.head < b.head;
    if (a.digits.size() != b.digits.size())
        return a.digits.size() < b.digits.size();
    if (a.digits != b.digits)
        return a.digits < b.digits;
    return a.path < b.path;
}

struct Entry
{
    int number;
    QString path; // what the number opens
};

const QString portsDirectory = QStringLiteral("/run/ports");

// Names drawn mostly from the shapes the rules know, so that the fuzzer reaches
// the interesting ones quickly, with any text now and then.
QString anyName(FuzzedDataProvider &in)
{
    static const char *const stems[] = {"/dev/ttyS",   "/dev/ttyUSB", "/dev/ttyACM",   "/dev/rfcomm",
                                        "/dev/ttyAMA", "/dev//ttyS",  "/dev/./ttyUSB", "/tmp/rfcomm",
                                        "COM",         "com",         "/dev/",         ""};
    const QString stem = QLatin1String(stems[in.ConsumeIntegralInRange<size_t>(0, std::size(stems) - 1)]);
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return stem + QString::number(in.ConsumeIntegralInRange(0, 40));
    case 1:
        return stem + QString::number(in.ConsumeIntegral<quint64>());
    default: {
        const std::string tail = in.ConsumeRandomLengthString(12);
        return stem + QString::fromUtf8(tail.data(), qsizetype(tail.size()));
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const quint32 mask = in.ConsumeIntegral<quint32>();
    QStringList devices;
    const int deviceCount = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < deviceCount; ++i)
        devices.append(anyName(in));
    // Now and then more devices than there are numbers, to reach the end of the range.
    const int bulk = in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegralInRange(0, 160) : 0;
    for (int i = 0; i < bulk; ++i)
        devices.append(QStringLiteral("/dev/tty%1%2").arg(QLatin1String(i % 3 ? "THS" : "AMA")).arg(i / 2));
    QList<PortLink> links;
    const int linkCount = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < linkCount; ++i) {
        PortLink link;
        link.name = anyName(in);
        // Often a device of the list, spelt as reported or otherwise.
        if (!devices.isEmpty() && in.ConsumeBool()) {
            link.target = devices.at(in.ConsumeIntegralInRange<int>(0, int(devices.size()) - 1));
            if (in.ConsumeBool())
                link.target.replace(QLatin1String("/dev/"), QLatin1String("/dev/../dev//"));
        } else {
            link.target = anyName(in);
        }
        link.targetExists = in.ConsumeBool();
        links.append(link);
    }

    for (const QString &device : std::as_const(devices)) {
        quint32 cls = 0;
        const int n = PortNumberForDevice(device, &cls);
        if (n != modelFixedNumber(device) || cls != modelClass(device))
            fail("device number or class differs", device);
        if (PortNumberForDevice(device, nullptr) != n)
            fail("number depends on asking for the class", device);
    }

    // Every device once, numbered; the others in their order from 129.
    struct Device
    {
        QString path;
        int number;
    };
    std::vector<Device> numbered;
    std::vector<OtherKey> others;
    QSet<QString> seen;
    for (const QString &reported : std::as_const(devices)) {
        const QString path = cleaned(reported);
        if (path.isEmpty() || seen.contains(path))
            continue;
        seen.insert(path);
        const int n = modelFixedNumber(path);
        if (n != -1)
            numbered.push_back({path, n});
        else
            others.push_back(otherKey(path));
    }
    // A plain insertion sort, nothing shared with the code under test.
    for (size_t i = 1; i < others.size(); ++i)
        for (size_t j = i; j > 0 && otherBefore(others[j], others[j - 1]); --j)
            std::swap(others[j], others[j - 1]);
    for (size_t i = 0; i < others.size() && 129 + i <= 255; ++i)
        numbered.push_back({others[i].path, int(129 + i)});

    std::vector<Entry> expected;
    QList<int> linked;
    QStringList linkTargets;
    for (const PortLink &link : std::as_const(links)) {
        const int n = modelLinkNumber(link.name);
        if (n == -1 || !link.targetExists)
            continue;
        linked.append(n);
        linkTargets.append(cleaned(link.target));
        if (!(modelClass(link.target) & mask))
            expected.push_back({n, QString()});
    }
    for (const Device &d : numbered) {
        if (linked.contains(d.number) || linkTargets.contains(d.path) || (modelClass(d.path) & mask))
            continue;
        expected.push_back({d.number, d.path});
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Entry &a, const Entry &b) { return a.number < b.number; });
    // A number opens the first existing link of that number, else its device.
    for (Entry &e : expected) {
        for (const PortLink &link : std::as_const(links))
            if (link.targetExists && modelLinkNumber(link.name) == e.number) {
                e.path = portsDirectory + QLatin1Char('/') + link.name;
                break;
            }
    }

    const int pick = in.ConsumeIntegralInRange(129, 255);
    const PortList list = PortListFromDevices(devices, links, mask);
    if (size_t(list.size()) != expected.size())
        fail("list length differs", QString::number(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        const Entry &e = expected.at(size_t(i));
        if (list.at(i).number != e.number)
            fail("port number differs", list.at(i).name);
        if (list.at(i).name != QStringLiteral("COM%1").arg(e.number))
            fail("port name differs", list.at(i).name);
        // What a number opens, asked once a number: every fixed number, and of the
        // others (each asking walks the whole device list) the first, the last and
        // one the input picks.
        const bool other = e.number >= 129;
        const int previous = i == 0 ? 0 : expected.at(size_t(i - 1)).number;
        const bool ask = !other || previous < 129 || i + 1 == list.size() || e.number == pick;
        if (e.number != previous && ask) {
            const QString opens = PortPathForNumber(e.number, links, portsDirectory, devices);
            if (opens != e.path)
                fail("port opens another device", list.at(i).name + QLatin1String(" opens ") + opens);
        }
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
