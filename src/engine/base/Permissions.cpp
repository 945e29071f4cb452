#include "engine/base/Permissions.h"

int ModeOfPermissionText(const QString& permissions)
{
    QString letters = permissions.trimmed();
    if (letters.size() == 10)
        letters = letters.mid(1);
    if (letters.size() != 9)
        return -1;
    int mode = 0;
    for (int i = 0; i < 9; ++i) {
        const QChar c = letters[i];
        const QChar expected = QLatin1Char("rwx"[i % 3]);
        const bool execute = i % 3 == 2;
        const int bit = 1 << (8 - i);
        if (c == expected || (execute && (c == QLatin1Char('s') || c == QLatin1Char('t'))))
            mode |= bit;
        else if (c != QLatin1Char('-') && !(execute && (c == QLatin1Char('S') || c == QLatin1Char('T'))))
            return -1;
    }
    return mode;
}
