#include "model/SimSensor.h"

#include <QFile>

namespace {

const QByteArray prefix("...");

// An update image that stops coming for this long is abandoned, as the sensor's
// boot loader would give up on a loader that went away.
constexpr qint64 updateGapUs = 5000000;

// Names shown in the dump for the registers that have one; the others are listed
// by number only. The application reads only the "(R<n>): " markers.
const QMap<int, const char *> &registerNames()
{
    static const QMap<int, const char *> names{
        {1, "Window High"},     {2, "Window Low"},      {3, "Blanking"},       {4, "Pulse Count"},
        {5, "Gain Max"},        {6, "Gain Min"},        {7, "Averaging"},      {8, "Sensor Type"},
        {9, "Range"},           {10, "Temp Offset"},    {11, "Output Mode"},   {12, "Damping"},
        {19, "Serial Number"},  {20, "Hours Run"},      {23, "Sensor Height"}, {24, "Lost Echo"},
        {25, "Lost Echo Time"}, {128, "Channel Type"},  {129, "Notch Width"},  {130, "Crest Height"},
        {131, "Channel Width"}, {132, "Flow Exponent"},
    };
    return names;
}

} // namespace

SimSensor::SimSensor()
{
    registers = {
        {1, 3300},  {2, 300}, {3, 250},   {4, 8},      {5, 40},     {6, 4},     {7, 5},     {8, 0},
        {9, 10000}, {10, 0},  {11, 0},    {12, 2},     {19, 1234},  {20, 5120}, {23, 3000}, {24, 65535},
        {25, 30},   {128, 1}, {129, 500}, {130, 1000}, {131, 1000}, {132, 2},
    };
    // The flow table: 32 pairs of head and flow count, empty from the factory.
    for (int r = 64; r < 128; ++r)
        registers[r] = 0;
}

Reply SimSensor::receive(char c, qint64 timeUs)
{
    lastCharUs = timeUs;
    if (updateRemaining > 0) {
        if (timeUs - updateLastUs > updateGapUs) {
            updateRemaining = 0; // the loader went away; this is a new request
            updateImage.clear();
        } else {
            updateLastUs = timeUs;
            updateImage.append(c);
            if (--updateRemaining == 0)
                return acceptUpdate();
            return {};
        }
    }

    if (faults.silent)
        return {};

    line.append(c);
    // A request starts with three full stops; anything before them is noise.
    if (line.endsWith(prefix)) {
        line = prefix;
        return {};
    }
    if (!line.startsWith(prefix)) {
        while (!line.isEmpty() && line.front() != '.')
            line.remove(0, 1);
        return {};
    }

    const QByteArray body = line.mid(3);
    static const QList<QByteArray> plain{"PDAC", "PDAh", "PDAs"};
    static const QList<QByteArray> withValue{"ATR", "UPD="};
    for (const QByteArray &p : plain) {
        if (body == p) {
            line.clear();
            return answer(body);
        }
    }
    for (const QByteArray &p : withValue) {
        if (body.startsWith(p)) {
            if (c == '\r') {
                line.clear();
                return answer(body.chopped(1));
            }
            if (body.size() > 24)
                line.clear(); // too long for any request: not for us
            return {};
        }
    }
    for (const QByteArray &p : plain + withValue)
        if (p.startsWith(body))
            return {}; // a request is still arriving
    line.clear();      // some other device's command
    return {};
}

Reply SimSensor::answer(const QByteArray &request)
{
    if (request == "PDAC") {
        requests.append(request);
        return finish(identification());
    }
    if (request == "PDAh") {
        requests.append(request);
        return finish(dump());
    }
    if (request == "PDAs") {
        requests.append(request);
        return finish(measurement());
    }
    if (request.startsWith("ATR")) {
        const int eq = request.indexOf('=');
        bool numberOk = false, valueOk = false;
        const int number = request.mid(3, eq - 3).toInt(&numberOk);
        const uint value = request.mid(eq + 1).toUInt(&valueOk);
        if (eq < 0 || !numberOk || !valueOk || number < 0 || number > 255 || value > 0xFFFF)
            return {}; // not a write the sensor can carry out: it says nothing
        requests.append(request);
        registers[number] = quint16(value);
        if (faults.noAcknowledge)
            return {};
        return finish("OK\r");
    }
    if (request.startsWith("UPD=")) {
        bool ok = false;
        const qint64 size = request.mid(4).toLongLong(&ok);
        if (!ok || size < 112 || size > 1024 * 1024)
            return {};
        requests.append(request);
        updateRemaining = size;
        updateLastUs = lastCharUs;
        updateImage.clear();
        return finish("OK\r");
    }
    return {};
}

Reply SimSensor::acceptUpdate()
{
    const QString version = updateImageVersion(updateImage);
    updateImage.clear();
    if (version.isEmpty())
        return finish("ERR\r");
    firmware = version;
    ++firmwareLoads;
    return finish("OK\r");
}

Reply SimSensor::finish(QByteArray bytes)
{
    if (faults.dropReplies > 0) {
        --faults.dropReplies;
        return {};
    }
    if (faults.garbled) {
        for (int i = 1; i < bytes.size(); i += 5)
            bytes[i] = '#';
    }
    if (faults.splitPauseMs > 0 && bytes.size() > 1) {
        const int half = int(bytes.size() / 2);
        return {{replyDelayMs, bytes.left(half)}, {faults.splitPauseMs, bytes.mid(half)}};
    }
    return {{replyDelayMs, bytes}};
}

QByteArray SimSensor::identification() const
{
    return "EchoGauge 18F2620 Version " + firmware.toLatin1() + "\r\n";
}

QByteArray SimSensor::dump() const
{
    QByteArray out = "\r\n" + identification();
    out += "Temperature    : 18.5 C\r\n";
    out += "Supply         : 12.1 V\r\n";
    for (auto it = registers.cbegin(); it != registers.cend(); ++it) {
        if (it.key() == faults.missingRegister)
            continue;
        const QByteArray name = registerNames().value(it.key(), "Register");
        const QByteArray marker = QByteArray("(R") + QByteArray::number(it.key()) + "): ";
        const QByteArray value =
            faults.signedRegisters ? QByteArray::number(qint16(it.value())) : QByteArray::number(it.value());
        out += name.leftJustified(15, ' ') + marker + value + "\r\n";
    }
    out += "End\r\n";
    return out;
}

QByteArray SimSensor::measurement()
{
    const int windowHigh = reg(1);
    const int height = reg(23) & 0x7FFF;
    const int distance = distanceMm();
    const bool echo = !faults.invalidReadings && distance > 0 && distance <= windowHigh;

    int value = 0;
    if (!echo) {
        // No echo: report the lost-echo value, 65535 meaning "the last value again".
        value = reg(24) == 0xFFFF ? lastValue : reg(24);
    } else if (reg(23) & 0x8000) {
        // Flow: the head is looked up in the uploaded table, between its points.
        const int head = qMax(0, height - distance);
        int count = reg(65);
        for (int k = 0; k < 31; ++k) {
            const int h0 = reg(64 + 2 * k), h1 = reg(66 + 2 * k);
            const int q0 = reg(65 + 2 * k), q1 = reg(67 + 2 * k);
            if (head >= h1) {
                count = q1;
                continue;
            }
            if (head >= h0 && h1 > h0)
                count = q0 + int(qint64(q1 - q0) * (head - h0) / (h1 - h0));
            break;
        }
        value = count;
    } else if (height > 0) {
        value = qMax(0, height - distance);
    } else {
        value = distance;
    }
    value = qBound(0, value, 65535);
    if (echo)
        lastValue = value;

    const int samples = 5;
    const int validSamples = echo ? samples : 0;
    return QByteArray::number(value).rightJustified(5, '0') + (echo ? ",1," : ",0,") +
           QByteArray::number(validSamples) + "," + QByteArray::number(samples) + ",3,\r\n";
}

QByteArray SimSensor::registersText() const
{
    QByteArray out;
    for (auto it = registers.cbegin(); it != registers.cend(); ++it)
        out += "R" + QByteArray::number(it.key()) + "=" + QByteArray::number(it.value()) + "\n";
    return out;
}

bool SimSensor::writeRegisters(const QString &path) const
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = registersText();
    return f.write(text) == text.size();
}

QString updateImageVersion(const QByteArray &image)
{
    static const QByteArray magic("ORB Update File\x1a", 16);
    if (image.size() < 112 || !image.startsWith(magic))
        return {};
    auto word = [&](int offset) { return quint16(quint8(image[offset]) | quint8(image[offset + 1]) << 8); };
    const int length = word(16);
    if (length < 2 || length > 56)
        return {};
    quint16 sum = 0;
    for (int i = 0; i < length / 2; ++i)
        sum = quint16(sum + word(2 * i));
    // Only the first length bytes are header; whatever the fields beyond it say,
    // they count as zero.
    const QByteArray header = image.left(length).leftJustified(56, '\0');
    auto field = [&](int offset) {
        return quint16(quint8(header[offset]) | quint8(header[offset + 1]) << 8);
    };
    if (sum != 0 || field(28) != 115 || field(30) != 1)
        return {};
    return QStringLiteral("%1.%2")
        .arg(quint8(header[35]), 2, 10, QLatin1Char('0'))
        .arg(quint8(header[34]), 2, 10, QLatin1Char('0'));
}
