#include "engine/session/KeepAlive.h"

#include "engine/session/FtpSession.h"

#include <algorithm>

CKeepAlive::CKeepAlive(CFtpSession& session, QObject* parent)
    : QObject(parent), m_session(session)
{
    connect(&m_timer, &QTimer::timeout, this, &CKeepAlive::Tick);
}

void CKeepAlive::Restart(bool enabled, int intervalSeconds)
{
    m_timer.stop();
    if (enabled)
        m_timer.start(std::max(1, intervalSeconds) * 1000);
}

void CKeepAlive::Tick()
{
    if (m_session.HasConnection() && !m_session.IsBusy())
        m_session.SendKeepAlive();
}
