#pragma once

#include <QList>

class QWidget;

// F6 and Shift+F6: the keyboard goes from pane to pane in the order they are
// given, skipping the ones not shown, and lands on the widget in each that
// takes the keyboard (the list of a pane, not its frame).
namespace PaneFocus {

// The pane that holds the focus now, moved by `step` (1 or -1), wrapping
// around; from outside every pane, the first (or last) one.
void Move(const QList<QWidget*>& panes, int step);

// What in `pane` takes the keyboard: the pane itself, or the first widget
// inside it that is shown and takes the focus by Tab; null when none does.
QWidget* FocusTarget(QWidget* pane);

} // namespace PaneFocus
