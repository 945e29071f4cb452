#include "window/frame/TracePane.h"

#include <QScrollBar>

CTracePane::CTracePane(QWidget* parent)
    : QListWidget(parent)
{
    setObjectName(QStringLiteral("tracePane"));
    setAccessibleName(QStringLiteral("Trace"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Button);
    // Following the newest line is a state: the reader leaves it by scrolling
    // up and comes back by scrolling to the end. A pane that grows or
    // shrinks keeps following.
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { m_following = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_following)
            bar->setValue(maximum);
    });
}

QColor CTracePane::LevelColour(int level)
{
    switch (level) {
    case TRACE_SUCCESS: return QColor(0, 130, 0);
    case TRACE_COMMAND: return QColor(0, 0, 255);
    case TRACE_ERROR: return QColor(255, 0, 0);
    case TRACE_SENT: return QColor(0, 110, 140);
    case TRACE_REPLY: return QColor(128, 0, 128);
    default: return QColor(0, 0, 0);
    }
}

void CTracePane::AddLine(int level, const QString& text)
{
    // A reader who scrolled up keeps the lines in front of them; otherwise
    // the newest line comes into view, in its own colour (a selection would
    // paint over it).
    QScrollBar* bar = verticalScrollBar();
    const bool following = m_following;
    const bool dropOldest = count() >= kMaxLines;
    if (dropOldest)
        delete takeItem(0);
    auto* item = new QListWidgetItem(text, this);
    item->setForeground(LevelColour(level));
    item->setData(Qt::UserRole, level);
    if (following)
        scrollToBottom();
    else if (dropOldest)
        bar->setValue(bar->value() - 1); // the same lines stay in front of the reader
}

