#pragma once

#include <QObject>
#include <QTimer>

class CFtpSession;

// Sends NOOP on an idle connection once an interval has passed without an
// operation, so servers that drop quiet connections keep this one. The owner
// calls Restart() whenever an operation of the session ends (the one place
// that knows) and when the settings change, with the settings of the moment.
class CKeepAlive : public QObject {
    Q_OBJECT
public:
    explicit CKeepAlive(CFtpSession& session, QObject* parent = nullptr);

    // On: the next NOOP a whole interval from now. Off: none, from now on.
    void Restart(bool enabled, int intervalSeconds);
    bool IsRunning() const { return m_timer.isActive(); }
    // What the timer does: NOOP, when connected and no operation runs.
    void Tick();

private:
    CFtpSession& m_session;
    QTimer m_timer;
};
