// Any bytes as a channel description file: reading must give a description with a
// known type, and writing a description into that file (keeping whatever else it
// holds) and reading it back must give the same description. Files live in a
// folder of the run's own, in memory where the system offers it.
#include "channel/Channelfile.h"
#include "channel/Inifile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "channel description file: %s\n", what);
    std::abort();
}

bool sameContent(const ChannelFileContent &a, const ChannelFileContent &b)
{
    return a.type == b.type && a.dims.notchAngle == b.dims.notchAngle &&
           a.dims.crestHeight == b.dims.crestHeight && a.dims.channelWidth == b.dims.channelWidth &&
           a.dims.notchWidth == b.dims.notchWidth;
}

QString scratchFolder()
{
    static const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QTemporaryDir dir(base + QStringLiteral("/eg-fuzz-cdf-XXXXXX"));
    return dir.path();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    ChannelFileContent written;
    written.type = in.ConsumeIntegral<qint32>();
    written.dims.notchAngle = in.ConsumeIntegral<qint32>();
    written.dims.crestHeight = in.ConsumeIntegral<qint32>();
    written.dims.channelWidth = in.ConsumeIntegral<qint32>();
    written.dims.notchWidth = in.ConsumeIntegral<qint32>();
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    const QByteArray bytes(reinterpret_cast<const char *>(rest.data()), qsizetype(rest.size()));

    const QString path = scratchFolder() + QStringLiteral("/any.cdf");
    if (!writeBytes(path, bytes))
        fail("scratch file not writable");

    ChannelFileContent read;
    if (ReadChannelFile(path, read) != ChannelFileResult::Ok)
        fail("a readable file was refused");
    if (read.type < ctMeasureDistance || read.type > ctVNotchWeir)
        fail("type outside the list");

    // What was read, written back into the same file, reads back the same.
    if (WriteChannelFile(path, read) != ChannelFileResult::Ok)
        fail("rewrite refused");
    ChannelFileContent again;
    if (ReadChannelFile(path, again) != ChannelFileResult::Ok || !sameContent(read, again))
        fail("read, write and read again differ");

    // Any description written over the file reads back, a type off the list as 0.
    if (!writeBytes(path, bytes) || WriteChannelFile(path, written) != ChannelFileResult::Ok)
        fail("write refused");
    ChannelFileContent expected = written;
    if (expected.type < ctMeasureDistance || expected.type > ctVNotchWeir)
        expected.type = ctMeasureDistance;
    if (ReadChannelFile(path, again) != ChannelFileResult::Ok || !sameContent(expected, again))
        fail("written description reads back different");

    // The rest of the file survives: every line but the keys' own is still there.
    IniFile before, after;
    if (!writeBytes(path, bytes) || !before.load(path) ||
        WriteChannelFile(path, written) != ChannelFileResult::Ok || !after.load(path))
        fail("reload failed");
    QHash<QString, int> kept;
    for (const QString &line : std::as_const(after.lines))
        ++kept[line];
    for (const QString &line : std::as_const(before.lines))
        if (!line.contains(QLatin1Char('=')) && --kept[line] < 0)
            fail("a line of the file was lost");
    return 0;
}
