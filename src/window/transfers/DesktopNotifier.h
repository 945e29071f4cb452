#pragma once

#include <QObject>
#include <QString>

#include <functional>

class CTransferQueue;

// Tells the desktop (org.freedesktop.Notifications over the session bus)
// when the queue has emptied or a job has failed while the program's window
// is not the active one. Nothing happens when no session bus or no
// notification service answers.
class CDesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit CDesktopNotifier(CTransferQueue& queue, QObject* parent = nullptr);

    // Whether the window is active now; QApplication's active window by default.
    void SetWindowActive(std::function<bool()> active) { m_windowActive = std::move(active); }
    // Sends one notification; false when nobody could take it.
    bool Notify(const QString& summary, const QString& body);
    // The service to call (tests use one of their own on a private bus).
    void SetService(const QString& service) { m_service = service; }
    int Sent() const { return m_sent; }

private:
    void OnQueueFinished();
    void OnJobFailed(const QString& text);
    bool WindowActive() const;

    std::function<bool()> m_windowActive;
    QString m_service = QStringLiteral("org.freedesktop.Notifications");
    int m_sent = 0;
    bool m_failedSinceLast = false;
};
