#pragma once

// Readable values in test failures: GoogleTest finds these by argument
// type; without them a QString prints as a list of 2-byte objects.

#include "engine/base/RemotePath.h"

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{';
    for (qsizetype i = 0; i < list.size(); ++i)
        *out << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *out << '}';
}

inline void PrintTo(const RemotePath& path, std::ostream* out)
{
    PrintTo(path.ToString(), out);
}
