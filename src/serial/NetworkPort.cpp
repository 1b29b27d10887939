// Network ports: the URL, and the serial calls carried over a TCP connection to a
// device server, with or without the Com Port Control option.
#include "serial/NetworkPort.h"

#include "serial/Enumcomports.h"
#include "serial/Rfc2217.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <memory>

QString NetworkPortUrl::text() const
{
    const QString scheme = kind == Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp");
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("%1://%2:%3").arg(scheme, h).arg(port);
}

bool IsNetworkPortName(const QString &name)
{
    return name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive) ||
           name.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

std::optional<NetworkPortUrl> ParseNetworkPortUrl(const QString &text, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString t = text.trimmed();
    NetworkPortUrl url;
    QString rest;
    if (t.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive)) {
        url.kind = NetworkPortUrl::Rfc2217;
        rest = t.mid(10);
    } else if (t.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive)) {
        url.kind = NetworkPortUrl::RawTcp;
        rest = t.mid(6);
    } else {
        return fail(QStringLiteral("a network port is rfc2217://HOST:PORT or tcp://HOST:PORT"));
    }
    // Only a host and a port: QUrl would also take a user, a path or a query, which
    // mean nothing to a device server.
    static const QRegularExpression form(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[^\\[\\]:/?#@]+):([0-9]{1,5})$"));
    const QRegularExpressionMatch m = form.match(rest);
    if (!m.hasMatch()) {
        if (!rest.contains(QLatin1Char(':')) || rest.endsWith(QLatin1Char(':')))
            return fail(QStringLiteral("the port number is missing (HOST:PORT)"));
        return fail(QStringLiteral("only HOST:PORT may follow the scheme"));
    }
    QString host = m.captured(1);
    const int port = m.captured(2).toInt();
    if (port < 1 || port > 65535)
        return fail(QStringLiteral("the port number must be 1 to 65535"));
    url.port = quint16(port);
    if (host.startsWith(QLatin1Char('['))) {
        host = host.mid(1, host.size() - 2);
        QHostAddress address;
        if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("\"%1\" is no IPv6 address").arg(host));
        url.host = address.toString();
        return url;
    }
    QHostAddress address;
    if (address.setAddress(host) && address.protocol() == QAbstractSocket::IPv4Protocol) {
        url.host = address.toString();
        return url;
    }
    // A host name: letters, digits, hyphens and dots (after IDN conversion).
    const QString ace = QString::fromLatin1(QUrl::toAce(host));
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?"
                       "(\\.[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?)*\\.?$"));
    if (ace.isEmpty() || ace.size() > 253 || !name.match(ace).hasMatch())
        return fail(QStringLiteral("\"%1\" is no host name or address").arg(host));
    url.host = host.toLower();
    return url;
}

namespace {

ComPortLine lineOf(const LineAttributes &t)
{
    ComPortLine line;
    line.baud = quint32(qMax(0, LineBaud(t)));
#ifdef _WIN32
    line.dataSize = t.ByteSize;
    line.parity = t.Parity == ODDPARITY    ? telnet::parityOdd
                  : t.Parity == EVENPARITY ? telnet::parityEven
                                           : telnet::parityNone;
    line.stopSize = t.StopBits == TWOSTOPBITS ? 2 : 1;
    line.flowControl = t.fOutxCtsFlow ? telnet::controlHardwareFlow : telnet::controlNoFlow;
#else
    const tcflag_t size = t.c_cflag & CSIZE;
    line.dataSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    line.parity = !(t.c_cflag & PARENB)  ? telnet::parityNone
                  : (t.c_cflag & PARODD) ? telnet::parityOdd
                                         : telnet::parityEven;
    line.stopSize = (t.c_cflag & CSTOPB) ? 2 : 1;
    line.flowControl = (t.c_cflag & CRTSCTS) ? telnet::controlHardwareFlow
                       : (t.c_iflag & IXON)  ? telnet::controlSoftwareFlow
                                             : telnet::controlNoFlow;
#endif
    return line;
}

// One connection to a device server. Everything runs on the event loop: the lookup,
// the connection and the negotiation never block, and their time-outs are timers.
class NetworkLink : public QObject
{
public:
    explicit NetworkLink(const NetworkPortUrl &url) : url(url)
    {
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, this, [this] { deadlinePassed(); });
        std::memset(&attributes, 0, sizeof attributes);
    }

    void connectNow()
    {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
        socket = new QTcpSocket(this);
        codec = Rfc2217Codec();
        phase = Phase::Connecting;
        status = LinkStatus();
        status.state = LinkStatus::Connecting;
        connectMs = 0;
        QObject::connect(socket, &QTcpSocket::connected, this, [this] { connected(); });
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this] { take(); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, this,
                         [this](QAbstractSocket::SocketError e) { failed(e); });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this] { dropped(); });
        clock.start();
        deadline.start(networkConnectTimeoutMs);
        socket->connectToHost(url.host, url.port);
    }

    LinkStatus linkStatus() const { return status; }

    void closeNow()
    {
        deadline.stop();
        if (socket) {
            socket->disconnect(this);
            socket->abort();
        }
    }

    bool getAttributes(LineAttributes *t) const
    {
        *t = attributes;
        return true;
    }

    void setAttributes(const LineAttributes &t)
    {
        attributes = t;
        line = lineOf(t);
        lineWanted = true;
        if (phase == Phase::Confirming || phase == Phase::Ready)
            sendLine(false);
    }

    void raiseModemLines()
    {
        modemWanted = true;
        if ((phase == Phase::Confirming || phase == Phase::Ready) &&
            codec.comPort() == Rfc2217Codec::ComPort::Accepted)
            send(Rfc2217Codec::modemLinesRequest());
    }

    void purgeReceive()
    {
        if (phase == Phase::Ready && codec.comPort() == Rfc2217Codec::ComPort::Accepted)
            send(Rfc2217Codec::purgeRequest());
    }

    int queued()
    {
        // Between the event loop's turns (the quiet-line wait sleeps), what has
        // arrived is fetched here.
        if (socket && socket->state() == QAbstractSocket::ConnectedState && !pumping) {
            pumping = true;
            socket->waitForReadyRead(0);
            pumping = false;
        }
        if (!queue.isEmpty())
            return int(queue.size());
        return (phase == Phase::Dropped || phase == Phase::Failed) ? -1 : 0;
    }

    int read(char *buffer, int count)
    {
        const int n = qMin(count, int(queue.size()));
        if (n <= 0)
            return -1;
        std::memcpy(buffer, queue.constData(), size_t(n));
        queue.remove(0, n);
        return n;
    }

    int write(const char *data, int count)
    {
        if (phase != Phase::Ready && phase != Phase::Confirming)
            return -1;
        send(url.kind == NetworkPortUrl::Rfc2217 && codec.comPort() != Rfc2217Codec::ComPort::Refused
                 ? codec.encodeData(data, count)
                 : QByteArray(data, count));
        return count;
    }

private:
    enum class Phase
    {
        Connecting,
        Agreeing,   // waiting for the server to take or refuse the Com Port Control option
        Confirming, // the line settings sent, waiting for the speed's confirmation
        Ready,
        Failed,
        Dropped,
    };

    void send(const QByteArray &bytes)
    {
        if (!socket || bytes.isEmpty())
            return;
        socket->write(bytes);
        socket->flush();
    }

    void connected()
    {
        connectMs = qint32(clock.elapsed());
        status.roundTripMs = connectMs;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (url.kind == NetworkPortUrl::RawTcp) {
            becomeReady(true);
            return;
        }
        phase = Phase::Agreeing;
        deadline.start(networkConfirmTimeoutMs + connectMs);
        send(codec.start());
        take();
    }

    void sendLine(bool withModemLines)
    {
        if (codec.comPort() != Rfc2217Codec::ComPort::Accepted)
            return;
        QByteArray out;
        if (lineWanted)
            out += Rfc2217Codec::lineRequests(line);
        if (withModemLines && modemWanted)
            out += Rfc2217Codec::modemLinesRequest();
        if (out.isEmpty())
            return;
        confirmationsBefore = codec.baudConfirmations();
        confirmFrom = clock.elapsed();
        phase = Phase::Confirming;
        status.state = LinkStatus::Connecting;
        deadline.start(networkConfirmTimeoutMs);
        send(out);
    }

    void becomeReady(bool fixedSpeed)
    {
        deadline.stop();
        phase = Phase::Ready;
        status.state = LinkStatus::Ready;
        status.fixedSpeed = fixedSpeed;
    }

    void take()
    {
        if (!socket)
            return;
        const QByteArray bytes = socket->readAll();
        if (bytes.isEmpty() && phase != Phase::Agreeing)
            return;
        QByteArray data;
        if (url.kind == NetworkPortUrl::Rfc2217) {
            send(codec.feed(bytes.constData(), bytes.size(), &data));
        } else {
            data = bytes;
        }
        // A queue nobody reads does not grow without end.
        const qsizetype room = networkQueueLimit - queue.size();
        if (room > 0)
            queue += data.left(room);

        if (phase == Phase::Agreeing) {
            if (codec.comPort() == Rfc2217Codec::ComPort::Accepted) {
                if (lineWanted)
                    sendLine(true);
                else
                    becomeReady(false);
            } else if (codec.comPort() == Rfc2217Codec::ComPort::Refused) {
                becomeReady(true);
            }
        }
        if (phase == Phase::Confirming && codec.baudConfirmations() > confirmationsBefore) {
            status.roundTripMs = qMax(connectMs, qint32(clock.elapsed() - confirmFrom));
            becomeReady(false);
        }
    }

    void deadlinePassed()
    {
        switch (phase) {
        case Phase::Connecting:
            fail(QStringLiteral("no answer"));
            return;
        case Phase::Agreeing:
            // A server that does not negotiate passes the bytes as they are.
            becomeReady(true);
            return;
        case Phase::Confirming:
            // Unconfirmed: the commands go out anyway, with the whole wait added.
            status.roundTripMs = qMax(connectMs, networkConfirmTimeoutMs);
            becomeReady(false);
            return;
        default:
            return;
        }
    }

    void fail(const QString &reason)
    {
        deadline.stop();
        phase = Phase::Failed;
        status.state = LinkStatus::Failed;
        status.reason = reason;
        if (socket) {
            socket->disconnect(this);
            socket->abort();
        }
    }

    void failed(QAbstractSocket::SocketError error)
    {
        // A look for data that found none reports a time-out; it is nothing.
        if (error == QAbstractSocket::SocketTimeoutError && phase != Phase::Connecting)
            return;
        if (phase != Phase::Connecting) {
            dropped();
            return;
        }
        switch (error) {
        case QAbstractSocket::HostNotFoundError:
            fail(QStringLiteral("host not found"));
            return;
        case QAbstractSocket::ConnectionRefusedError:
            fail(QStringLiteral("connection refused"));
            return;
        case QAbstractSocket::SocketTimeoutError:
            fail(QStringLiteral("no answer"));
            return;
        case QAbstractSocket::RemoteHostClosedError:
            fail(QStringLiteral("closed by the server"));
            return;
        default:
            fail(socket ? socket->errorString() : QStringLiteral("network error"));
            return;
        }
    }

    void dropped()
    {
        if (phase == Phase::Failed || phase == Phase::Dropped)
            return;
        if (phase == Phase::Connecting) {
            fail(QStringLiteral("closed by the server"));
            return;
        }
        // Closed before it was ready: the server turned us away.
        if (phase == Phase::Agreeing || phase == Phase::Confirming) {
            take();
            fail(QStringLiteral("closed by the server"));
            return;
        }
        take();
        deadline.stop();
        phase = Phase::Dropped;
        status.state = LinkStatus::Dropped;
        status.reason = QStringLiteral("connection lost");
    }

    NetworkPortUrl url;
    QTcpSocket *socket = nullptr;
    Rfc2217Codec codec;
    Phase phase = Phase::Connecting;
    LinkStatus status;
    QTimer deadline;
    QElapsedTimer clock;
    qint32 connectMs = 0;
    qint64 confirmFrom = 0;
    quint32 confirmationsBefore = 0;
    QByteArray queue;
    LineAttributes attributes;
    ComPortLine line;
    bool lineWanted = false;
    bool modemWanted = false;
    bool pumping = false;
};

class NetworkDriver : public SerialDriver
{
public:
    explicit NetworkDriver(SerialDriver *local) : localDriver(local) {}

#ifdef _WIN32
    bool deviceMap(QList<DeviceMapValue> *values) override
    {
        return localDriver->deviceMap(values);
    }
#else
    QStringList serialDevices() override
    {
        return localDriver->serialDevices();
    }
    QList<PortLink> portLinks() override
    {
        return localDriver->portLinks();
    }
    QString portsDirectory() override
    {
        return localDriver->portsDirectory();
    }
#endif

    PortHandle open(const QByteArray &path) override
    {
        const QString name = QFile::decodeName(path);
        if (!IsNetworkPortName(name)) {
            networkOpen = false;
            return localDriver->open(path);
        }
        networkOpen = true;
        const std::optional<NetworkPortUrl> url = ParseNetworkPortUrl(name);
        if (!url)
            return INVALID_PORT_HANDLE;
        const PortHandle h = nextHandle--;
        auto *link = new NetworkLink(*url);
        links.insert(h, link);
        link->connectNow();
        return h;
    }

    int lastOpenError() const override
    {
        return networkOpen ? 0 : localDriver->lastOpenError();
    }

    bool getAttributes(PortHandle h, LineAttributes *t) override
    {
        if (NetworkLink *l = links.value(h))
            return l->getAttributes(t);
        return localDriver->getAttributes(h, t);
    }

    bool setAttributes(PortHandle h, const LineAttributes &t) override
    {
        if (NetworkLink *l = links.value(h)) {
            l->setAttributes(t);
            return true;
        }
        return localDriver->setAttributes(h, t);
    }

    bool raiseModemLines(PortHandle h) override
    {
        if (NetworkLink *l = links.value(h)) {
            l->raiseModemLines();
            return true;
        }
        return localDriver->raiseModemLines(h);
    }

    int bytesQueued(PortHandle h) override
    {
        if (NetworkLink *l = links.value(h))
            return l->queued();
        return localDriver->bytesQueued(h);
    }

    int read(PortHandle h, char *buffer, int count) override
    {
        if (NetworkLink *l = links.value(h))
            return l->read(buffer, count);
        return localDriver->read(h, buffer, count);
    }

    int write(PortHandle h, const char *data, int count) override
    {
        if (NetworkLink *l = links.value(h))
            return l->write(data, count);
        return localDriver->write(h, data, count);
    }

    void close(PortHandle h) override
    {
        if (NetworkLink *l = links.take(h)) {
            // Closed at once, so that a server taking one client at a time is free for
            // the next open. Never called from the link's own signals (they reach no
            // further than the link), so it can go now.
            l->closeNow();
            delete l;
            return;
        }
        localDriver->close(h);
    }

    LinkStatus linkStatus(PortHandle h) override
    {
        if (NetworkLink *l = links.value(h))
            return l->linkStatus();
        return localDriver->linkStatus(h);
    }

    bool reconnect(PortHandle h) override
    {
        NetworkLink *l = links.value(h);
        if (!l)
            return localDriver->reconnect(h);
        l->connectNow();
        return true;
    }

    void purgeReceive(PortHandle h) override
    {
        if (NetworkLink *l = links.value(h))
            l->purgeReceive();
        else
            localDriver->purgeReceive(h);
    }

private:
    SerialDriver *localDriver;
    QHash<PortHandle, NetworkLink *> links;
    PortHandle nextHandle = -2;
    bool networkOpen = false;
};

} // namespace

SerialDriver *NetworkSerialDriver(SerialDriver *local)
{
    return new NetworkDriver(local);
}

SerialDriver *SerialDriver::system()
{
    // Kept for the program's life, as the local driver is.
    static SerialDriver *const driver = NetworkSerialDriver(local());
    return driver;
}
