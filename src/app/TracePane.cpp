#include "app/TracePane.h"

CTracePane::CTracePane(QWidget* parent)
    : QListWidget(parent)
{
    setObjectName(QStringLiteral("tracePane"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Button);
}

QColor CTracePane::LevelColour(int level)
{
    switch (level) {
    case TRACE_SUCCESS: return QColor(0, 130, 0);
    case TRACE_COMMAND: return QColor(0, 0, 255);
    case TRACE_ERROR: return QColor(255, 0, 0);
    default: return QColor(0, 0, 0);
    }
}

void CTracePane::AddLine(int level, const QString& text)
{
    if (count() >= kMaxLines)
        delete takeItem(0);
    auto* item = new QListWidgetItem(text, this);
    item->setForeground(LevelColour(level));
    item->setData(Qt::UserRole, level);
    setCurrentItem(item);
    scrollToItem(item);
}

void CTracePane::AddFormattedLine(int level, const QString& format)
{
    QString text = format;
    text.replace(QStringLiteral("%%"), QStringLiteral("%"));
    AddLine(level, text);
}
