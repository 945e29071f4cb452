#include "window/frame/PaneFocus.h"

#include <QApplication>
#include <QWidget>

namespace PaneFocus {

QWidget* FocusTarget(QWidget* pane)
{
    if (!pane || !pane->isVisible())
        return nullptr;
    const auto takes = [](const QWidget* widget) {
        return widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus);
    };
    if (takes(pane))
        return pane;
    for (QWidget* widget = pane->nextInFocusChain(); widget && widget != pane; widget = widget->nextInFocusChain()) {
        if (pane->isAncestorOf(widget) && takes(widget))
            return widget;
    }
    return nullptr;
}

void Move(const QList<QWidget*>& panes, int step)
{
    if (panes.isEmpty())
        return;
    const QWidget* focus = QApplication::focusWidget();
    qsizetype current = -1;
    for (qsizetype i = 0; i < panes.size() && current < 0; ++i) {
        if (panes[i] && focus && (panes[i] == focus || panes[i]->isAncestorOf(focus)))
            current = i;
    }
    const qsizetype count = panes.size();
    qsizetype index = current >= 0 ? current : (step > 0 ? count - 1 : 0);
    for (qsizetype tried = 0; tried < count; ++tried) {
        index = ((index + step) % count + count) % count;
        if (QWidget* target = FocusTarget(panes[index])) {
            target->setFocus(Qt::ShortcutFocusReason);
            return;
        }
    }
}

} // namespace PaneFocus
