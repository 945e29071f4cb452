#pragma once

#include "engine/base/FileStatus.h"

#include <QEvent>
#include <QString>

// Messages between threads and panes, as posted events. Every type has a
// number of its own and one payload class, owned by the event, so a receiver
// tells them apart by the number alone. The workers' payloads (their
// progress under WM_STATUS_TEXT, the two ends) are in
// engine/transfer/TransferEvents.h.
inline constexpr QEvent::Type WM_STATUS_TEXT = static_cast<QEvent::Type>(QEvent::User + 130);
inline constexpr QEvent::Type WM_TRACE_LINE = static_cast<QEvent::Type>(QEvent::User + 131);
inline constexpr QEvent::Type WM_TRACE_LINE2 = static_cast<QEvent::Type>(QEvent::User + 132);
inline constexpr QEvent::Type WM_REMOTE_ITEM_ADDED = static_cast<QEvent::Type>(QEvent::User + 133);
// The ends of transfer jobs. They once shared their numbers with the two
// trace-line messages; a job's end must never be taken for a line of text.
inline constexpr QEvent::Type WM_DOWNLOAD_DONE = static_cast<QEvent::Type>(QEvent::User + 134);
inline constexpr QEvent::Type WM_UPLOAD_DONE = static_cast<QEvent::Type>(QEvent::User + 135);

// A trace line from a transfer, shown as it is. WM_TRACE_LINE or WM_TRACE_LINE2.
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
