#include "engine/base/RegistryKey.h"

#include "engine/base/Settings.h"

#include <QSettings>

#include <limits>

namespace kx {
namespace {

bool IsStorableName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

} // namespace

CRegistryKey::CRegistryKey() = default;

CRegistryKey::~CRegistryKey()
{
    Close();
}

long CRegistryKey::Create(const QString& subkeyPath)
{
    Close();
    QStringList parts = QString(subkeyPath).replace(QLatin1Char('\\'), QLatin1Char('/'))
                            .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return kInvalidParameter;
    auto store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             kOrganisation, kApplication);
    if (!store->isWritable())
        return kAccessDenied;
    m_group = parts.join(QLatin1Char('/'));
    m_store = std::move(store);
    return kSuccess;
}

QString CRegistryKey::ValueKey(const QString& valueName) const
{
    return m_group + QLatin1Char('/') + valueName;
}

long CRegistryKey::QueryValue(QString& value, const QString& valueName) const
{
    quint32 unlimited = std::numeric_limits<quint32>::max();
    return QueryValue(value, valueName, unlimited);
}

long CRegistryKey::QueryValue(QString& value, const QString& valueName, quint32& byteCount) const
{
    if (!m_store)
        return kInvalidHandle;
    if (!IsStorableName(valueName))
        return kInvalidParameter;
    const QVariant stored = m_store->value(ValueKey(valueName));
    if (!stored.isValid())
        return kFileNotFound;
    const QString text = stored.typeId() == QMetaType::QStringList
                             ? stored.toStringList().join(QLatin1Char(','))
                             : stored.toString();
    const quint64 needed = quint64(text.toUtf8().size()) + 1;
    if (needed > byteCount) {
        byteCount = quint32(std::min<quint64>(needed, std::numeric_limits<quint32>::max()));
        return kMoreData;
    }
    byteCount = quint32(needed);
    value = text;
    return kSuccess;
}

long CRegistryKey::SetValue(const QString& value, const QString& valueName)
{
    if (!m_store)
        return kInvalidHandle;
    if (!IsStorableName(valueName))
        return kInvalidParameter;
    m_store->setValue(ValueKey(valueName), value);
    return CommitSettings(*m_store) ? kSuccess : kAccessDenied;
}

long CRegistryKey::DeleteValue(const QString& valueName)
{
    if (!m_store)
        return kInvalidHandle;
    if (!IsStorableName(valueName))
        return kInvalidParameter;
    m_store->sync();
    if (!m_store->contains(ValueKey(valueName)))
        return kFileNotFound;
    m_store->remove(ValueKey(valueName));
    return CommitSettings(*m_store) ? kSuccess : kAccessDenied;
}

void CRegistryKey::Close()
{
    if (m_store)
        m_store->sync();
    m_store.reset();
    m_group.clear();
}

} // namespace kx
