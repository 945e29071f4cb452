#include "window/transfers/DesktopNotifier.h"

#include "engine/transfer/TransferQueue.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

CDesktopNotifier::CDesktopNotifier(CTransferQueue& queue, QObject* parent)
    : QObject(parent)
{
    connect(&queue, &CTransferQueue::QueueFinished, this, &CDesktopNotifier::OnQueueFinished);
    connect(&queue, &CTransferQueue::JobFailed, this, [this](qint64, const QString& text) { OnJobFailed(text); });
}

bool CDesktopNotifier::WindowActive() const
{
    return m_windowActive ? m_windowActive() : QApplication::activeWindow() != nullptr;
}

bool CDesktopNotifier::Notify(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(m_service))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, QStringLiteral("/org/freedesktop/Notifications"),
                                                      QStringLiteral("org.freedesktop.Notifications"),
                                                      QStringLiteral("Notify"));
    call << QStringLiteral("Kestrix") << uint(0) << QStringLiteral("kestrix") << summary << body << QStringList()
         << QVariantMap() << int(-1);
    // Not waited for: a slow notification service never holds the window up.
    if (!bus.send(call))
        return false;
    ++m_sent;
    return true;
}

void CDesktopNotifier::OnQueueFinished()
{
    if (WindowActive())
        return;
    Notify(QStringLiteral("Transfers finished"), m_failedSinceLast ? QStringLiteral("The queue is empty; some transfers failed.")
                                                                   : QStringLiteral("Every queued transfer has ended."));
    m_failedSinceLast = false;
}

void CDesktopNotifier::OnJobFailed(const QString& text)
{
    m_failedSinceLast = true;
    if (!WindowActive())
        Notify(QStringLiteral("A transfer failed"), text);
}
