#include "window/views/FileTypes.h"

#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QMimeDatabase>
#include <QStyle>
#include <QThread>

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

// The file name's part a MIME type is told by: from the third dot from its
// end, which covers double suffixes such as ".tar.gz", or the whole name when
// that begins with the dot. Case is kept, as the database tells ".C" from ".c".
QString SuffixKey(const QString& base)
{
    qsizetype dot = base.size();
    for (int dots = 0; dots < 3; ++dots) {
        const qsizetype previous = dot > 0 ? base.lastIndexOf(QLatin1Char('.'), dot - 1) : -1;
        if (previous < 0)
            break;
        dot = previous;
    }
    return dot <= 0 ? base : base.mid(dot);
}

struct KnownType {
    QString name; // empty when the database has nothing better than its default
    QString comment;
    QString iconName;
    QString genericIconName;
};

// Names without an extension are plain "File"s: the type column describes
// what the extension says, while the MIME database would also recognise
// whole names such as "Makefile" or "core". So every name with one suffix is
// asked about as one neutral name with that suffix, and the answer is kept:
// asking the database costs tens of microseconds a name, and a folder or a
// download brings thousands of names of a few types. GUI thread only.
KnownType KnownTypeOf(const QString& name)
{
    const QString base = name.section(QLatin1Char('/'), -1);
    if (Extension(base).isEmpty())
        return {};
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
    // Bounded: names with many dots make many keys, and a clear now and
    // then costs a few lookups again.
    constexpr qsizetype kMaxKeys = 4096;
    static QHash<QString, KnownType> known;
    const QString key = SuffixKey(base);
    if (const auto found = known.constFind(key); found != known.constEnd())
        return *found;
    if (known.size() >= kMaxKeys)
        known.clear();
    const QString asked = key == base ? base : QStringLiteral("kx") + key;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(asked, QMimeDatabase::MatchExtension);
    KnownType entry;
    if (type.isValid() && !type.isDefault())
        entry = {type.name(), type.comment(), type.iconName(), type.genericIconName()};
    return *known.insert(key, entry);
}

// One icon per type, made once. Icons hold pixmaps, which must go before the
// application does, and the theme's icons are the theme's of the moment.
struct IconCache {
    QString theme;
    QIcon file;
    QIcon folder;
    QIcon openFolder;
    QHash<QString, QIcon> byType; // by MIME type name
};

IconCache* g_icons = nullptr;

IconCache& Icons()
{
    if (!g_icons) {
        g_icons = new IconCache;
        qAddPostRoutine([] {
            delete g_icons;
            g_icons = nullptr;
        });
    }
    if (const QString theme = QIcon::themeName(); theme != g_icons->theme) {
        *g_icons = IconCache();
        g_icons->theme = theme;
    }
    return *g_icons;
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
    const KnownType type = KnownTypeOf(name);
    if (!type.comment.isEmpty())
        return type.comment;
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
    IconCache& icons = Icons();
    QStyle* style = QApplication::style();
    if (folder) {
        QIcon& icon = open ? icons.openFolder : icons.folder;
        if (icon.isNull()) {
            const QIcon standard = style->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirIcon);
            icon = QIcon::fromTheme(open ? QStringLiteral("folder-open") : QStringLiteral("folder"), standard);
        }
        return icon;
    }
    if (icons.file.isNull())
        icons.file = style->standardIcon(QStyle::SP_FileIcon);
    const KnownType type = KnownTypeOf(name);
    if (type.name.isEmpty())
        return icons.file;
    auto found = icons.byType.find(type.name);
    if (found == icons.byType.end()) {
        // A type the theme has no image for shares the one standard icon.
        found = icons.byType.insert(
            type.name, QIcon::fromTheme(type.iconName, QIcon::fromTheme(type.genericIconName, icons.file)));
    }
    return *found;
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
