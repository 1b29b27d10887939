#pragma once

#include <QByteArray>
#include <QtGlobal>

// What goes into an update file that the stand-in loader and sensor accept.
struct UpdateImageSpec
{
    int major = 1;
    int minor = 13;
    int headerLength = 56;  // 2..56 for a valid header
    quint16 product = 115;  // the sensor's product code
    quint16 kind = 1;       // firmware
    int size = 1024;        // whole file, header included; at least 112
    bool balanceSum = true; // false leaves the header checksum wrong
};

// An update file: the header with its checksum made zero by a word among the
// uninterpreted bytes (offset 18, so the header must be at least 20 bytes long to
// balance), then a program image of recognisable filler.
QByteArray makeUpdateImage(const UpdateImageSpec &spec);

// Parses "1.13" or "01.13" into major and minor (each 0..255); false otherwise.
bool parseUpdateVersion(const QString &text, int *major, int *minor);
