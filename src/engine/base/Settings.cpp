#include "engine/base/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace kx {
namespace {

QSettings OpenStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
}

QString Join(const QString& section, const QString& key)
{
    return section.isEmpty() ? key : section + QLatin1Char('/') + key;
}

// The store keeps site passwords' companions (e-mail address, proxy) and is
// nobody else's business: it is created, and kept, readable by its owner only.
void RestrictToOwner(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

QString ValueText(const QVariant& value)
{
    // A hand-edited value with commas comes back from the INI reader as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

} // namespace

bool CommitSettings(QSettings& store)
{
    RestrictToOwner(store.fileName());
    store.sync();
    RestrictToOwner(store.fileName());
    return store.status() == QSettings::NoError;
}

int GetProfileInt(const QString& section, const QString& key, int defaultValue)
{
    const QSettings store = OpenStore();
    const QVariant value = store.value(Join(section, key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong number = ValueText(value).trimmed().toLongLong(&ok);
    // The values are 32-bit numbers; anything else was not written by us.
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return defaultValue;
    return static_cast<int>(number);
}

QString GetProfileString(const QString& section, const QString& key, const QString& defaultValue)
{
    const QSettings store = OpenStore();
    const QVariant value = store.value(Join(section, key));
    return value.isValid() ? ValueText(value) : defaultValue;
}

bool WriteProfileInt(const QString& section, const QString& key, int value)
{
    QSettings store = OpenStore();
    store.setValue(Join(section, key), value);
    return CommitSettings(store);
}

bool WriteProfileString(const QString& section, const QString& key, const QString& value)
{
    QSettings store = OpenStore();
    store.setValue(Join(section, key), value);
    return CommitSettings(store);
}

int GetProfileInt(const IntSetting& setting)
{
    return GetProfileInt(QString::fromLatin1(setting.section), QString::fromLatin1(setting.key),
                         setting.defaultValue);
}

QString GetProfileString(const StringSetting& setting)
{
    return GetProfileString(QString::fromLatin1(setting.section), QString::fromLatin1(setting.key),
                            QString::fromUtf8(setting.defaultValue));
}

bool WriteProfileInt(const IntSetting& setting, int value)
{
    return WriteProfileInt(QString::fromLatin1(setting.section), QString::fromLatin1(setting.key), value);
}

bool WriteProfileString(const StringSetting& setting, const QString& value)
{
    return WriteProfileString(QString::fromLatin1(setting.section), QString::fromLatin1(setting.key), value);
}

bool ReadInternetEmailName(QString& email)
{
    const QByteArray value = qgetenv("EMAIL");
    if (value.isNull())
        return false;
    email = QString::fromLocal8Bit(value);
    return true;
}

QString SettingsFilePath()
{
    return OpenStore().fileName();
}

void UseSettingsFolder(const QString& folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

} // namespace kx
