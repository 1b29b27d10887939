#pragma once

#include "serial/Enumcomports.h"

#include <QString>
#include <QStringList>

// The fixed rule by which a Linux device node gets its port number, and the class
// of device it belongs to for the search's exclusion mask.
struct DevicePort
{
    int number;    // -1 when the name follows no rule
    quint32 klass; // one PortExclusion bit, or 0 for no excluded class
};
DevicePort PortForDevice(const QString &devicePath);

// The device node of a port number by the same rule; empty when no rule gives one.
QString DeviceForPort(int number);

// The port number a link name "COM<n>" (any case) stands for, or -1.
int PortForLinkName(const QString &name);

// The sorted port list from the system's devices and the ports directory's links,
// without the classes whose bits are set in the mask.
PortList BuildPortList(const QStringList &devices, const QList<PortLink> &links, quint32 excludeMask);
