#pragma once

#include "app/Mainform.h"

#include <QList>

// Bits of the option set that choose the search candidates.
enum SearchOptionBits : quint32
{
    searchDirect9600 = 1,
    searchPassthrough9600 = 2,
    searchPassthrough19200 = 4,
    searchPassthrough115200 = 8,
};

// The identification the sensor answers to "...PDAC"; the four '?' are the version digits.
inline constexpr char identificationPattern[] = "EchoGauge 18F2620 Version ??.??";
inline constexpr int identificationPrefixLength = 26; // up to the first version digit

// Reply waits per probe, ms: a logger relays the probe and the answer, so it needs longer.
inline constexpr qint32 probeTimeoutDirect = 500;
inline constexpr qint32 probeTimeoutPassthrough = 1500;

// A freshly opened port is left to settle before it is purged and probed.
inline constexpr int portSettleMs = 750;

// The ordered candidate list of a search: every port in enumeration order for each
// speed and mode that the option bits enable, then the last connection moved to the
// front so that a sensor that has not moved is found at once.
QList<_TAutoDetectArrayEntry> SearchCandidates(const PortList &ports, quint32 options,
                                               const _TAutoDetectArrayEntry &last);

// The status text while a probe to this candidate is outstanding.
QString SearchProbeText(const _TAutoDetectArrayEntry &candidate);

