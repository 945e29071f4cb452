#include "window/sites/ElidedLabel.h"

#include <QResizeEvent>

CElidedLabel::CElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // The width comes from the layout, never from the text.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void CElidedLabel::SetFullText(const QString& text)
{
    m_full = text;
    setToolTip(text);
    Elide();
}

void CElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    Elide();
}

void CElidedLabel::Elide()
{
    const int room = contentsRect().width();
    setText(room > 0 ? fontMetrics().elidedText(m_full, Qt::ElideRight, room) : m_full);
}
