#pragma once

// What echogauge-sim holds, as it writes it out ("--registers-out").

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>

// The "R<n>=<value>" lines of the simulator's registers file.
inline QMap<int, int> readSimRegisters(const QString &path)
{
    QMap<int, int> held;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return held;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const int eq = int(line.indexOf('='));
        if (line.startsWith('R') && eq > 1)
            held[line.mid(1, eq - 1).toInt()] = line.mid(eq + 1).toInt();
    }
    return held;
}
