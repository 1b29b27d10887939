#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The start of a firmware update file, as far as the application reads it; all
// words little-endian. Fields that lie beyond the header's own length read as zero.
struct UpdateFileHeader
{
    char magic[16];    // "ORB Update File" and the byte 0x1A
    quint16 length;    // header length in bytes, 2..56
    quint8 spare1[10]; // not interpreted
    quint16 product;   // 115 for this sensor
    quint16 kind;      // 1: firmware
    quint8 spare2[2];  // not interpreted
    quint8 minor;      // firmware version carried
    quint8 major;
    quint8 spare3[20]; // not interpreted
};

// How much of a file is read to judge it.
inline constexpr int updateHeaderBlock = 112;
inline constexpr int updateHeaderMaxLength = 56;

// Judges the first bytes of an update file (at least the first 112 are needed):
// the magic text, a length of 2..56 and a zero checksum over length/2 words.
// True with the header filled in when they hold.
bool ReadUpdateHeader(const QByteArray &start, UpdateFileHeader *header);
// The same for a file on disk; false when it cannot be opened or is too short.
bool ReadUpdateHeader(const QString &path, UpdateFileHeader *header);

// Whether a valid header describes firmware for this sensor, and its version as
// major x 100 + minor.
bool IsSensorFirmware(const UpdateFileHeader &header);
qint16 UpdateFileVersion(const UpdateFileHeader &header);

// The newest valid update file in <dataDir>/UPD_Files: its path, empty with
// version -1 when there is none. Files that cannot be read or do not qualify are
// passed over silently; of equal versions the first listed is kept.
struct UpdateFile
{
    QString path;
    qint16 version = -1;
};
UpdateFile FindUpdateFile(const QString &dataDir);

// The loader program in the data directory; empty when there is no data directory.
QString LoaderPath(const QString &dataDir);
bool LoaderPresent(const QString &dataDir);

// The loader's options: quiet, the port number, and the update file in quotes.
QStringList LoaderArguments(quint8 portNumber, const QString &updatePath);
