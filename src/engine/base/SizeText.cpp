#include "engine/base/SizeText.h"

QString FormatThousands(quint64 value)
{
    QString digits = QString::number(value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

QString FormatSizeKB(quint64 bytes)
{
    const quint64 kilobytes = bytes <= 1024 ? 1 : (bytes >> 10) + ((bytes & 1023) != 0 ? 1 : 0);
    return FormatThousands(kilobytes) + QStringLiteral(" KB");
}
