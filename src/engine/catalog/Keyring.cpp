#include "engine/catalog/Keyring.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>

#include <qt6keychain/keychain.h>

#include <optional>

namespace {

constexpr char kService[] = "Kestrix";

std::optional<bool> g_available;

CKeyring::Reply Run(QKeychain::Job& job)
{
    // The keyring answers through the event loop; a program without one
    // (a command-line tool that never made an application) has no keyring.
    if (!QCoreApplication::instance())
        return {CKeyring::Status::Unavailable, QString(), QStringLiteral("No event loop to hear the keyring.")};
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    CKeyring::Reply reply;
    reply.error = job.errorString();
    switch (job.error()) {
    case QKeychain::NoError: reply.status = CKeyring::Status::Ok; break;
    case QKeychain::EntryNotFound: reply.status = CKeyring::Status::NotFound; break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented: reply.status = CKeyring::Status::Unavailable; break;
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
    case QKeychain::CouldNotDeleteEntry:
    case QKeychain::OtherError: reply.status = CKeyring::Status::Refused; break;
    }
    return reply;
}

} // namespace

bool CKeyring::IsAvailable()
{
    if (!g_available) {
        // Asked of the bus itself, without running an event loop: dialogs
        // that show the choice ask while they are being built.
        bool found = false;
        if (QCoreApplication::instance()) {
            const QDBusConnection bus = QDBusConnection::sessionBus();
            if (QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr) {
                for (const char* service : {"org.freedesktop.secrets", "org.kde.kwalletd5", "org.kde.kwalletd6"})
                    found = found || names->isServiceRegistered(QString::fromLatin1(service)).value();
                const QDBusReply<QStringList> activatable = names->activatableServiceNames();
                found = found || (activatable.isValid() && activatable.value().contains(QStringLiteral("org.freedesktop.secrets")));
            }
        }
        g_available = found;
    }
    return *g_available;
}

void CKeyring::ForgetAvailability()
{
    g_available.reset();
}

CKeyring::Reply CKeyring::Read(const QString& key)
{
    QKeychain::ReadPasswordJob job{QString::fromLatin1(kService)};
    job.setKey(key);
    Reply reply = Run(job);
    if (reply.status == Status::Ok)
        reply.password = job.textData();
    return reply;
}

CKeyring::Reply CKeyring::Write(const QString& key, const QString& password)
{
    QKeychain::WritePasswordJob job{QString::fromLatin1(kService)};
    job.setKey(key);
    job.setTextData(password);
    return Run(job);
}

CKeyring::Reply CKeyring::Remove(const QString& key)
{
    QKeychain::DeletePasswordJob job{QString::fromLatin1(kService)};
    job.setKey(key);
    return Run(job);
}

QString CKeyring::KeyOfSite(const QString& siteId)
{
    return QStringLiteral("site ") + siteId;
}
