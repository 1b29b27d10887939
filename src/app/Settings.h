#pragma once

#include "serial/NetworkPort.h"

#include <QList>
#include <QtGlobal>

class QSettings;

// The checks a value read from the settings store must pass before it is used. A
// value that fails keeps its default; loading goes on with the next value.

// The Options dialog's ranges.
constexpr qint32 txDelayMinimum = 10;
constexpr qint32 txDelayMaximum = 2000;
constexpr qint32 headroomMinimum = 1;
constexpr qint32 headroomMaximum = 100;

// A stretch of the window along one axis (its left edge and width, or its top edge
// and height) fits when it lies wholly between first and last, the available
// screen area's edges. Computed wide, so that no stored number can overflow it.
bool StoredSpanFits(qint64 start, qint64 length, int first, int last);
// A stored width or height: no smaller than the window's minimum, and the window
// it gives, from the edge already placed, within the available area.
bool StoredSizeFits(qint64 size, int minimum, qint64 start, int first, int last);
// "Port": -1 (no sensor yet) or a port number 1..255.
bool StoredPortFits(qint64 port);
// "Baud": one of the three line speeds of the sensor and its loggers.
bool StoredBaudFits(qint64 baud);
// "Passthrough": a boolean stored as 0 or 1.
bool StoredBooleanFits(qint64 value);
// "Options": a bit set that no negative number stands for (bits 8..30 are carried).
bool StoredOptionsFit(qint64 options);
// "Max Height Percent": within the Options dialog's range.
bool StoredHeadroomFits(qint64 percent);
// "Tx Delay" is taken into the Options dialog's range rather than refused: a delay
// too short or too long is still a delay.
qint32 StoredTxDelay(qint64 ms);

// The network ports kept in the settings ("Network Ports", URL and Name of each):
// URLs that do not parse and repeats are left out, at most maxNetworkPorts.
constexpr int maxNetworkPortName = 60;
QList<NetworkPortEntry> StoredNetworkPorts(QSettings &store);
void StoreNetworkPorts(QSettings &store, const QList<NetworkPortEntry> &ports);
