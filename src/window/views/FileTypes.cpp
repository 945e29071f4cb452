#include "window/views/FileTypes.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QMimeDatabase>
#include <QStyle>

#include <string>

namespace {

// The text after the last "." of the name, empty when there is none. A
// name like "notes." has an empty extension and therefore none at all.
QString Extension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < name.lastIndexOf(QLatin1Char('/')))
        return {};
    return name.mid(dot + 1);
}

// Names without an extension are plain "File"s: the type column describes
// what the extension says, while the MIME database would also recognise
// whole names such as "Makefile" or "core".
QMimeType KnownTypeOf(const QString& name)
{
    if (Extension(name).isEmpty())
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return {};
    return type;
}

// Locales write short times with seconds now and then (the C locale does);
// the list never shows them, so the seconds and milliseconds fields go,
// together with the separator in front of them.
QString WithoutSeconds(const QString& format)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && (c == QLatin1Char('s') || c == QLatin1Char('z'))) {
            while (!out.isEmpty() && !out.back().isLetter() && out.back() != QLatin1Char('\''))
                out.chop(1);
            while (i + 1 < format.size() && format.at(i + 1) == c)
                ++i;
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

QString GetShellTypeName(const QString& name)
{
    const QMimeType type = KnownTypeOf(name);
    if (type.isValid()) {
        const QString comment = type.comment();
        if (!comment.isEmpty())
            return comment;
    }
    const QString extension = Extension(name);
    if (extension.isEmpty())
        return QStringLiteral("File");
    return extension.toUpper() + QStringLiteral(" File");
}

QIcon GetShellIcon(const QString& name, bool folder, bool open)
{
    // Without a widget application there is no style to draw the fallbacks.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return {};
    QStyle* style = QApplication::style();
    if (folder) {
        const QIcon standard = style->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirIcon);
        return QIcon::fromTheme(open ? QStringLiteral("folder-open") : QStringLiteral("folder"), standard);
    }
    const QIcon standard = style->standardIcon(QStyle::SP_FileIcon);
    const QMimeType type = KnownTypeOf(name);
    if (!type.isValid())
        return standard;
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), standard));
}

QString FormatShortDateTime(qint64 utcSeconds)
{
    // Years 1 to 9999: what every locale's date format can write.
    constexpr qint64 kFirst = -62135596800LL;
    constexpr qint64 kLast = 253402300799LL;
    if (utcSeconds == -1 || utcSeconds < kFirst || utcSeconds > kLast)
        return {};
    const QDateTime local = QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC).toLocalTime();
    if (!local.isValid())
        return {};
    const QLocale locale;
    return locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(local.time(), WithoutSeconds(locale.timeFormat(QLocale::ShortFormat)));
}
