#pragma once

#include "engine/sync/FolderComparison.h"

#include <QColor>
#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;

// How a row of one pane stands against its namesake in the other pane.
enum class CompareMark { Plain, OnlyHere, NewerHere, OlderHere, OtherSize };

// The mark of a compared row in the local pane (localSide) or the remote one.
CompareMark MarkOf(Difference difference, bool localSide);
// The row's background in either pane; invalid for a plain row.
QColor MarkColour(CompareMark mark);
// The legend's words for the mark.
QString MarkName(CompareMark mark);

// The legend of a comparison in the status bar: one swatch per mark, the
// "hide identical" switch, and a word when some rows could only be compared
// by size (times without a zone, or to the minute).
class CCompareLegend : public QWidget {
    Q_OBJECT
public:
    explicit CCompareLegend(QWidget* parent = nullptr);

    // What the comparison found: rows by mark (either side) and rows judged
    // by size for want of exact times.
    void ShowCounts(int onlyOneSide, int newer, int otherSize, int approximate);
    QCheckBox* HideIdentical() const { return m_hideIdentical; }
    QLabel* ApproximateNote() const { return m_approximate; }
    QString Text() const; // the legend as words, for the status line and tests

private:
    QLabel* m_counts = nullptr;
    QLabel* m_approximate = nullptr;
    QCheckBox* m_hideIdentical = nullptr;
};
