#pragma once

// Network ports: a serial line reached through a device server, named by a URL
// (rfc2217://HOST:PORT with line control, tcp://HOST:PORT for the bytes alone).

#include "serial/SerialDriver.h"

#include <QString>

#include <optional>

struct NetworkPortUrl
{
    enum Kind
    {
        Rfc2217,
        RawTcp,
    };
    Kind kind = Rfc2217;
    QString host; // a name, an IPv4 address, or an IPv6 address without brackets
    quint16 port = 0;

    // The URL written the one way: scheme and host in lower case, IPv6 in brackets.
    QString text() const;
};

// The URL read from text, or nothing with the reason in *error: HOST a name, an IPv4
// address or [IPv6], PORT 1..65535, nothing else (no user, path or query).
std::optional<NetworkPortUrl> ParseNetworkPortUrl(const QString &text, QString *error = nullptr);

// Whether a port name is meant as a network port (its scheme alone decides).
bool IsNetworkPortName(const QString &name);

// A network port the user keeps in the settings: its URL and a name of their own.
struct NetworkPortEntry
{
    QString url;
    QString name;
};

// Search candidates take these numbers for the network ports, in list order, so
// that they never meet a COM port's number.
constexpr int firstNetworkPortNumber = 256;
constexpr int maxNetworkPorts = 100;

// How long a connection may take (the name's lookup included), and how long the
// server may take to confirm the line's speed before the first command goes out.
constexpr int networkConnectTimeoutMs = 5000;
constexpr int networkConfirmTimeoutMs = 1000;
// What a server sends is held up to this much until the program reads it; beyond,
// bytes are lost as in a serial driver whose queue overflows.
constexpr int networkQueueLimit = 65536;

// The serial calls on network ports, with every other name passed to the local
// driver. Network handles are numbers no system gives a file or device (below -1).
SerialDriver *NetworkSerialDriver(SerialDriver *local);
