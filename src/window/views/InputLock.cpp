#include "window/views/InputLock.h"

#include <QEvent>
#include <QWidget>

void CInputLock::Watch(QWidget* widget)
{
    widget->installEventFilter(this);
}

bool CInputLock::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_locked)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}
