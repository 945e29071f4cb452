#pragma once

#include "engine/base/FileStatus.h"

#include <QEvent>
#include <QString>

// Messages between threads and panes, as posted events. Every type has a
// number of its own and its payload is a class owned by the event. The
// workers' payloads (their progress under WM_STATUS_TEXT, the two ends) are
// in transfer/TransferEvents.h; a receiver that may get both kinds of
// WM_STATUS_TEXT tells them apart by class.
inline constexpr QEvent::Type WM_STATUS_TEXT = static_cast<QEvent::Type>(QEvent::User + 130);
inline constexpr QEvent::Type WM_TRACE_LINE = static_cast<QEvent::Type>(QEvent::User + 131);
inline constexpr QEvent::Type WM_TRACE_LINE2 = static_cast<QEvent::Type>(QEvent::User + 132);
inline constexpr QEvent::Type WM_REMOTE_ITEM_ADDED = static_cast<QEvent::Type>(QEvent::User + 133);
// The ends of transfer jobs. They once shared their numbers with the two
// trace-line messages; a job's end must never be taken for a line of text.
inline constexpr QEvent::Type WM_DOWNLOAD_DONE = static_cast<QEvent::Type>(QEvent::User + 134);
inline constexpr QEvent::Type WM_UPLOAD_DONE = static_cast<QEvent::Type>(QEvent::User + 135);

// A finished line of the internet session: a status line (written at the
// information level, and only while status lines are wanted), or with a
// trace level a line of the conversation with the server.
class StatusTextEvent : public QEvent {
public:
    explicit StatusTextEvent(QString text, int traceLevel = kStatusLine)
        : QEvent(WM_STATUS_TEXT), m_text(std::move(text)), m_level(traceLevel) {}
    const QString& Text() const { return m_text; }
    bool IsStatusLine() const { return m_level == kStatusLine; }
    int Level() const { return m_level; }

    static constexpr int kStatusLine = -1;

private:
    QString m_text;
    int m_level;
};

// A trace line from a transfer, ready for printf with no arguments ("%%"
// stands for "%"). WM_TRACE_LINE or WM_TRACE_LINE2.
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

// A file or folder a transfer has just stored on the server; path is its
// absolute remote path.
class RemoteItemAddedEvent : public QEvent {
public:
    explicit RemoteItemAddedEvent(FileStatus item)
        : QEvent(WM_REMOTE_ITEM_ADDED), m_item(std::move(item)) {}
    const FileStatus& Item() const { return m_item; }

private:
    FileStatus m_item;
};
