#include "engine/catalog/Keyring.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr char kService[] = "Kestrix";

std::optional<bool> g_available;

// A keyring that asks the user to unlock it waits for them; one that never
// answers (a daemon stopped half-way) must not hold the program for good.
constexpr int kKeyringWaitMs = 120 * 1000;

// Runs the job, heap-made, and hands it to `read` once it finished. A job
// still waiting when the time is up is left to delete itself whenever its
// answer comes: the keyring library calls back into it.
template <typename Job>
CKeyring::Reply Run(Job* job, const std::function<void(Job&)>& read = {})
{
    // The keyring answers through the event loop; a program without one
    // (a command-line tool that never made an application) has no keyring.
    if (!QCoreApplication::instance()) {
        delete job;
        return {CKeyring::Status::Unavailable, QString(), QStringLiteral("No event loop to hear the keyring.")};
    }
    job->setAutoDelete(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kKeyringWaitMs, &loop, &QEventLoop::quit);
    job->start();
    if (!finished)
        loop.exec();
    if (!finished) {
        QObject::disconnect(job, nullptr, &loop, nullptr);
        job->setAutoDelete(true);
        return {CKeyring::Status::Unavailable, QString(),
                QStringLiteral("The keyring did not answer within %1 seconds.").arg(kKeyringWaitMs / 1000)};
    }
    const std::unique_ptr<Job> done(job);
    CKeyring::Reply reply;
    reply.error = job->errorString();
    switch (job->error()) {
    case QKeychain::NoError: reply.status = CKeyring::Status::Ok; break;
    case QKeychain::EntryNotFound: reply.status = CKeyring::Status::NotFound; break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented: reply.status = CKeyring::Status::Unavailable; break;
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
    case QKeychain::CouldNotDeleteEntry:
    case QKeychain::OtherError: reply.status = CKeyring::Status::Refused; break;
    }
    if (reply.status == CKeyring::Status::Ok && read)
        read(*job);
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
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService));
    job->setKey(key);
    QString password;
    Reply reply = Run<QKeychain::ReadPasswordJob>(job, [&](QKeychain::ReadPasswordJob& done) { password = done.textData(); });
    reply.password = password;
    return reply;
}

CKeyring::Reply CKeyring::Write(const QString& key, const QString& password)
{
    auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kService));
    job->setKey(key);
    job->setTextData(password);
    return Run(job);
}

CKeyring::Reply CKeyring::Remove(const QString& key)
{
    auto* job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kService));
    job->setKey(key);
    return Run(job);
}

QString CKeyring::KeyOfSite(const QString& siteId)
{
    return QStringLiteral("site ") + siteId;
}
