#pragma once

#include "channel/Flow.h"

#include <QString>

// A channel description file ("*.cdf"): section "Channels", the type and the four
// dimensions as decimal integers.
struct ChannelFileContent
{
    qint32 type = ctMeasureDistance;
    ChannelDimensions dims;
};

enum class ChannelFileResult
{
    Ok,
    Unreadable,
    Unwritable
};

// Missing or non-numeric keys give 0, 90, 1, 2 and 1 (type, angle, crest, width,
// notch: millimetres, not metres); a type outside 0..4 gives 0.
ChannelFileResult ReadChannelFile(const QString &path, ChannelFileContent &content);

// Writes all five keys whatever the type, keeping everything else in an existing file.
ChannelFileResult WriteChannelFile(const QString &path, const ChannelFileContent &content);

// The file dialogs' filter.
extern const char *const channelFileFilter;
