#pragma once

#include <QString>

// A distance in whole millimetres as shown to the user: "2.750m" in metres, or
// rounded to the nearest inch as "9' 0\"" (feet left out when there are none).
QString FormatDistance(qint32 millimetres, bool metric);
