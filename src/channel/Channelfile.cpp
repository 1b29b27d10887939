#include "channel/Channelfile.h"

#include "channel/Inifile.h"

const char *const channelFileFilter = "Channel Description File (*.cdf);;All Files (*.*)";

namespace {
const QString section = QStringLiteral("Channels");
const QString keyType = QStringLiteral("Channel Type");
const QString keyAngle = QStringLiteral("Notch Angle");
const QString keyCrest = QStringLiteral("Crest Height");
const QString keyWidth = QStringLiteral("Channel Width");
const QString keyNotch = QStringLiteral("Notch Width");
} // namespace

ChannelFileResult ReadChannelFile(const QString &path, ChannelFileContent &content)
{
    IniFile ini;
    if (!ini.load(path))
        return ChannelFileResult::Unreadable;
    qint32 type = ini.intValue(section, keyType, 0);
    content.dims.notchAngle = ini.intValue(section, keyAngle, 90);
    content.dims.crestHeight = ini.intValue(section, keyCrest, 1);
    content.dims.channelWidth = ini.intValue(section, keyWidth, 2);
    content.dims.notchWidth = ini.intValue(section, keyNotch, 1);
    if (type < ctMeasureDistance || type > ctVNotchWeir)
        type = ctMeasureDistance;
    content.type = type;
    return ChannelFileResult::Ok;
}

ChannelFileResult WriteChannelFile(const QString &path, const ChannelFileContent &content)
{
    IniFile ini;
    // An existing file that cannot be read cannot be rewritten without losing what it holds.
    if (!ini.load(path))
        return ChannelFileResult::Unwritable;
    ini.setValue(section, keyType, QString::number(content.type));
    ini.setValue(section, keyAngle, QString::number(content.dims.notchAngle));
    ini.setValue(section, keyCrest, QString::number(content.dims.crestHeight));
    ini.setValue(section, keyWidth, QString::number(content.dims.channelWidth));
    ini.setValue(section, keyNotch, QString::number(content.dims.notchWidth));
    return ini.save(path) ? ChannelFileResult::Ok : ChannelFileResult::Unwritable;
}
