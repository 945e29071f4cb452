#pragma once

#include "engine/base/TraceLevel.h"

#include <QListWidget>

// The Trace pane: the newest status lines of the session and the transfers,
// each in the colour of its level. It keeps the last kMaxLines lines and
// brings the newest into view, unless the reader has scrolled up.
class CTracePane : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 256;

    explicit CTracePane(QWidget* parent = nullptr);

    // The text is shown exactly as given ("%" included).
    void AddLine(int level, const QString& text);

    static QColor LevelColour(int level);

    // Tall enough to follow a connection without scrolling.
    QSize sizeHint() const override { return QSize(600, 180); }

private:
    bool m_following = true;
};
