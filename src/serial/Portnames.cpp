#include "serial/Portnames.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <utility>

namespace {

struct Rule
{
    const char *prefix;
    int firstPort;
    quint32 klass;
};

// Bluetooth modems (mask bit 2) have no device class of their own on Linux.
const Rule rules[] = {
    {"ttyS", 1, excludeBuiltIn},
    {"ttyUSB", 33, excludeUsbVirtual},
    {"ttyACM", 65, excludeUsbVirtual},
    {"rfcomm", 97, excludeBluetoothPort},
};

} // namespace

DevicePort PortForDevice(const QString &devicePath)
{
    const QString name = QFileInfo(devicePath).fileName();
    for (const Rule &rule : rules) {
        const QString prefix = QString::fromLatin1(rule.prefix);
        if (!name.startsWith(prefix))
            continue;
        bool ok = false;
        const int k = name.mid(prefix.size()).toInt(&ok);
        if (ok && k >= 0 && name.mid(prefix.size()).at(0).isDigit())
            return {rule.firstPort + k, rule.klass};
    }
    return {-1, 0};
}

QString DeviceForPort(int number)
{
    // The rules' ranges, highest first so each number falls in one of them.
    for (int i = int(std::size(rules)) - 1; i >= 0; --i) {
        if (number >= rules[i].firstPort)
            return QStringLiteral("/dev/%1%2")
                .arg(QString::fromLatin1(rules[i].prefix))
                .arg(number - rules[i].firstPort);
    }
    return QString();
}

int PortForLinkName(const QString &name)
{
    static const QRegularExpression linkName(QStringLiteral("^COM([0-9]+)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = linkName.match(name);
    if (!m.hasMatch())
        return -1;
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    return ok ? n : -1;
}

PortList BuildPortList(const QStringList &devices, const QList<PortLink> &links, quint32 excludeMask)
{
    struct Entry
    {
        int number;
        quint32 klass;
        bool fromLink;
    };
    QList<Entry> entries;
    for (const QString &device : devices) {
        const DevicePort port = PortForDevice(device);
        if (port.number >= 0)
            entries.append({port.number, port.klass, false});
    }
    for (const PortLink &link : links) {
        const int number = PortForLinkName(link.name);
        if (number < 0 || !link.targetExists)
            continue;
        // A link replaces the numbered device of the same number.
        entries.removeIf([number](const Entry &e) { return !e.fromLink && e.number == number; });
        entries.append({number, PortForDevice(link.target).klass, true});
    }
    QList<int> numbers;
    for (const Entry &e : std::as_const(entries)) {
        if ((e.klass & excludeMask) == 0)
            numbers.append(e.number);
    }
    // Exchange sort, as the port list has always been ordered: numerically.
    for (int i = 0; i + 1 < numbers.size(); ++i) {
        for (int j = i + 1; j < numbers.size(); ++j) {
            if (numbers[j] < numbers[i])
                std::swap(numbers[i], numbers[j]);
        }
    }
    PortList list;
    for (int n : std::as_const(numbers))
        list.append({QStringLiteral("COM%1").arg(n), n});
    return list;
}
