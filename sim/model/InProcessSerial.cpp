#include "model/InProcessSerial.h"

#include "core/Clock.h"

#include <cstring>

namespace {

// What a port number opens: the name the port record asks for on Windows, a path
// of the links' own directory elsewhere.
#ifdef _WIN32
const QByteArray pathPrefix("\\\\.\\COM");
#else
const QByteArray pathPrefix("/sim/COM");
#endif

} // namespace

InProcessSerial::InProcessSerial(VirtualClock *clock) : clock(clock)
{
}

InProcessSerial::~InProcessSerial() = default;

SimSensor *InProcessSerial::addSensor(int portNumber, const SimOptions &options)
{
    Port &p = ports[portNumber];
    p.kind = Kind::Device;
    p.unplugged = false;
    p.device = std::make_unique<SimDevice>(options.loggerBaud);
    p.device->latencyMs = options.latencyMs;
    SimSensor &s = p.device->sensor();
    s.firmware = options.firmware;
    s.faults = options.faults;
    s.levelMm = options.levelMm;
    return &s;
}

void InProcessSerial::addSilentPort(int portNumber)
{
    Port &p = ports[portNumber];
    p.kind = Kind::Silent;
    p.device.reset();
}

void InProcessSerial::addBrokenPort(int portNumber, int error)
{
    Port &p = ports[portNumber];
    p.kind = Kind::Broken;
    p.device.reset();
    p.openError = error;
}

void InProcessSerial::unplug(int portNumber)
{
    auto it = ports.find(portNumber);
    if (it == ports.end())
        return;
    it->second.unplugged = true;
    for (auto &[id, h] : handles)
        if (h.port == portNumber)
            h.dead = true;
}

void InProcessSerial::replug(int portNumber)
{
    auto it = ports.find(portNumber);
    if (it != ports.end())
        it->second.unplugged = false;
}

void InProcessSerial::inject(int portNumber, const QByteArray &noise)
{
    for (auto &[id, h] : handles)
        if (h.port == portNumber && !h.dead) {
            collect(h); // what the device sent before the burst comes first
            h.received.append(noise);
        }
}

SimDevice *InProcessSerial::device(int portNumber) const
{
    auto it = ports.find(portNumber);
    return it == ports.end() ? nullptr : it->second.device.get();
}

SimSensor *InProcessSerial::sensor(int portNumber) const
{
    SimDevice *d = device(portNumber);
    return d ? &d->sensor() : nullptr;
}

QByteArray InProcessSerial::devicePath(int portNumber)
{
    return pathPrefix + QByteArray::number(portNumber);
}

QByteArray InProcessSerial::written(int portNumber) const
{
    QByteArray out;
    for (const WriteEvent &w : writes)
        if (w.port == portNumber)
            out.append(w.byte);
    return out;
}

QList<qint64> InProcessSerial::writeTimes(int portNumber) const
{
    QList<qint64> out;
    for (const WriteEvent &w : writes)
        if (w.port == portNumber)
            out.append(w.timeMs);
    return out;
}

LineSettings InProcessSerial::settings(int portNumber) const
{
    for (const auto &[id, h] : handles)
        if (h.port == portNumber)
            return LineSettings::fromAttributes(h.settings);
    return LineSettings{};
}

bool InProcessSerial::isOpen(int portNumber) const
{
    for (const auto &[id, h] : handles)
        if (h.port == portNumber)
            return true;
    return false;
}

#ifdef _WIN32
bool InProcessSerial::deviceMap(QList<DeviceMapValue> *values)
{
    values->clear();
    for (const auto &[number, p] : ports)
        if (!p.unplugged)
            values->append(
                {QStringLiteral("\\Device\\Serial%1").arg(number - 1), QStringLiteral("COM%1").arg(number)});
    return true;
}
#else
QStringList InProcessSerial::serialDevices()
{
    return {};
}

QList<PortLink> InProcessSerial::portLinks()
{
    QList<PortLink> links;
    for (const auto &[number, p] : ports)
        links.append(
            {QStringLiteral("COM%1").arg(number), QString::fromLatin1(devicePath(number)), !p.unplugged});
    return links;
}

QString InProcessSerial::portsDirectory()
{
    // The links live where the devices do, so that a link's own path and its
    // target open the same port.
    return QStringLiteral("/sim");
}
#endif

PortHandle InProcessSerial::open(const QByteArray &path)
{
    lastError = ENOENT;
    if (!path.toUpper().startsWith(pathPrefix.toUpper()))
        return INVALID_PORT_HANDLE;
    bool ok = false;
    const int number = path.mid(pathPrefix.size()).toInt(&ok);
    auto it = ports.find(number);
    if (!ok || it == ports.end() || it->second.unplugged)
        return INVALID_PORT_HANDLE;
    if (it->second.kind == Kind::Broken) {
        lastError = it->second.openError;
        return INVALID_PORT_HANDLE;
    }
    // One program at a time on a port, as Windows grants serial ports and the real
    // driver holds them.
    if (isOpen(number)) {
        lastError = EBUSY;
        return INVALID_PORT_HANDLE;
    }
    lastError = 0;

    // Whatever the device sent while nobody listened is lost.
    if (SimDevice *d = it->second.device.get())
        d->takeOutput(nowUs());

    Handle h;
    h.port = number;
    // A fresh port keeps the speed and format a terminal comes up with; nothing
    // answers until the application sets the sensor's own.
    h.settings = makeAttributes({38400, 8, false, 1});
    const PortHandle id = nextHandle++;
    handles.emplace(id, std::move(h));
    opens.append({number, clock->nowMs()});
    return id;
}

InProcessSerial::Handle *InProcessSerial::handle(PortHandle h)
{
    auto it = handles.find(h);
    return it == handles.end() ? nullptr : &it->second;
}

qint64 InProcessSerial::nowUs() const
{
    return clock->nowMs() * 1000;
}

void InProcessSerial::collect(Handle &h)
{
    SimDevice *d = device(h.port);
    if (!d)
        return;
    const QByteArray arrived = d->takeOutput(nowUs());
    // Characters sent at another speed or format reach the port only as noise
    // that the receiver discards.
    if (LineSettings::fromAttributes(h.settings) == d->lineSettings())
        h.received.append(arrived);
}

bool InProcessSerial::getAttributes(PortHandle id, LineAttributes *t)
{
    Handle *h = handle(id);
    if (!h || h->dead || !t)
        return false;
    *t = h->settings;
    return true;
}

bool InProcessSerial::setAttributes(PortHandle id, const LineAttributes &t)
{
    Handle *h = handle(id);
    if (!h || h->dead)
        return false;
    collect(*h); // what arrived so far arrived at the old settings
    h->settings = t;
    return true;
}

bool InProcessSerial::raiseModemLines(PortHandle id)
{
    Handle *h = handle(id);
    return h && !h->dead;
}

int InProcessSerial::bytesQueued(PortHandle id)
{
    Handle *h = handle(id);
    if (!h || h->dead)
        return -1;
    collect(*h);
    return int(h->received.size());
}

int InProcessSerial::read(PortHandle id, char *buffer, int count)
{
    Handle *h = handle(id);
    if (!h || h->dead || count < 0)
        return -1;
    collect(*h);
    const int n = qMin(count, int(h->received.size()));
    std::memcpy(buffer, h->received.constData(), size_t(n));
    h->received.remove(0, n);
    return n;
}

int InProcessSerial::write(PortHandle id, const char *data, int count)
{
    Handle *h = handle(id);
    if (!h || h->dead || count < 0)
        return -1;
    collect(*h);
    SimDevice *d = device(h->port);
    const bool understood = d && LineSettings::fromAttributes(h->settings) == d->lineSettings();
    for (int i = 0; i < count; ++i) {
        writes.append({h->port, clock->nowMs(), data[i]});
        if (understood)
            d->write(nowUs(), data[i]);
    }
    return count;
}

void InProcessSerial::close(PortHandle id)
{
    auto it = handles.find(id);
    if (it == handles.end())
        return;
    closes.append({it->second.port, clock->nowMs()});
    handles.erase(it);
}
