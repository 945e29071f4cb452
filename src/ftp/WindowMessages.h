#pragma once

#include <QEvent>
#include <QString>

// Messages between threads and panes, as posted events. The payload is owned
// by the event.
inline constexpr QEvent::Type WM_STATUS_TEXT = static_cast<QEvent::Type>(QEvent::User + 130);
inline constexpr QEvent::Type WM_TRACE_LINE = static_cast<QEvent::Type>(QEvent::User + 131);
inline constexpr QEvent::Type WM_DOWNLOAD_DONE = WM_TRACE_LINE;
inline constexpr QEvent::Type WM_TRACE_LINE2 = static_cast<QEvent::Type>(QEvent::User + 132);
inline constexpr QEvent::Type WM_UPLOAD_DONE = WM_TRACE_LINE2;
inline constexpr QEvent::Type WM_REMOTE_ITEM_ADDED = static_cast<QEvent::Type>(QEvent::User + 133);

// A finished status line, written to the Trace pane at the information level.
class StatusTextEvent : public QEvent {
public:
    explicit StatusTextEvent(QString text)
        : QEvent(WM_STATUS_TEXT), m_text(std::move(text)) {}
    const QString& Text() const { return m_text; }

private:
    QString m_text;
};

// A trace line from a transfer, ready for printf with no arguments ("%%"
// stands for "%").
class TraceLineEvent : public QEvent {
public:
    TraceLineEvent(QEvent::Type type, int level, QString text)
        : QEvent(type), m_level(level), m_text(std::move(text)) {}
    int Level() const { return m_level; }
    const QString& Text() const { return m_text; }

private:
    int m_level;
    QString m_text;
};
