#include "engine/transfer/SharedLimits.h"

#include <QDir>
#include <QFileInfo>

CTargetClaims& CTargetClaims::Instance()
{
    static CTargetClaims claims;
    return claims;
}

QString CTargetClaims::LocalKey(const QString& path)
{
    // Two spellings of one file must meet: the folder resolved through its
    // links, the name as it is (the file itself may not exist yet).
    const QFileInfo info(path);
    QString folder = info.absoluteDir().canonicalPath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(info.absolutePath());
    return QStringLiteral("file:") + folder + QLatin1Char('/') + info.fileName();
}

QString CTargetClaims::RemoteKey(const QString& host, int port, const QString& path)
{
    return QStringLiteral("ftp://%1:%2%3").arg(host.toLower()).arg(port).arg(QDir::cleanPath(path));
}

bool CTargetClaims::TryClaim(const QString& key, const void* owner)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_owners.constFind(key);
    if (found != m_owners.constEnd())
        return found.value() == owner;
    m_owners.insert(key, owner);
    return true;
}

void CTargetClaims::Release(const QString& key, const void* owner)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_owners.find(key);
    if (found != m_owners.end() && found.value() == owner)
        m_owners.erase(found);
}

void CConnectionBudget::SetLimit(int perServer)
{
    std::lock_guard lock(m_mutex);
    m_limit = std::max(0, perServer);
}

int CConnectionBudget::Limit() const
{
    std::lock_guard lock(m_mutex);
    return m_limit;
}

QString CConnectionBudget::ServerKey(const QString& host, int port)
{
    return host.toLower() + QLatin1Char(':') + QString::number(port);
}

int CConnectionBudget::Acquire(const QString& server, int wanted)
{
    std::lock_guard lock(m_mutex);
    int& used = m_used[server];
    const int room = m_limit > 0 ? std::max(0, m_limit - used) : wanted;
    const int taken = std::min(wanted, room);
    used += taken;
    return taken;
}

void CConnectionBudget::Force(const QString& server)
{
    std::lock_guard lock(m_mutex);
    ++m_used[server];
}

void CConnectionBudget::Release(const QString& server, int count)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_used.find(server);
    if (found == m_used.end())
        return;
    found.value() = std::max(0, found.value() - count);
    if (found.value() == 0)
        m_used.erase(found);
}

int CConnectionBudget::InUse(const QString& server) const
{
    std::lock_guard lock(m_mutex);
    return m_used.value(server);
}
