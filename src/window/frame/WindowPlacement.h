#pragma once

#include <QList>
#include <QtGlobal>

class QDockWidget;
class QMainWindow;

// Where the user left the window and its panes, kept in the settings under
// the keys the program has always used ("FrameStatus", "FrameLeft", ...; the
// panes' "SizeHorzCY" and their like in each pane's section), and brought
// back at the next start.
namespace WindowPlacement {

// A docked pane and the settings section of its sizes.
struct Pane {
    QDockWidget* dock;
    const char* section;
    int firstHeight; // docked above or below, when nothing is stored; 0: as it is
};

// The stored geometry, kept on the primary screen, applied to the window;
// returns the show state to use (Qt::WindowNoState when none is stored).
Qt::WindowStates Restore(QMainWindow& window);
void Save(const QMainWindow& window);

// Qt's own state of the bars and docks, then the sizes the user left the
// panes at, applied over it once the window is laid out, so that what was
// written is what comes back.
void RestoreBars(QMainWindow& window, const QList<Pane>& panes);
void SaveBars(QMainWindow& window, const QList<Pane>& panes);

} // namespace WindowPlacement
