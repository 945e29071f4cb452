#pragma once

#include <QString>

// A count with "," between groups of three digits: 1200000 is "1,200,000".
QString FormatThousands(quint64 value);

// Size in kilobytes as the file lists show it: never less than 1 KB, rounded
// up, with "," between groups of three digits ("1,024 KB").
QString FormatSizeKB(quint64 bytes);
