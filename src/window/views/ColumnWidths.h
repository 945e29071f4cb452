#pragma once

#include <QString>

class QHeaderView;

// Column widths as a setting stores them: each width in decimal followed by
// "," ("120,80,150,"). Reading stops at the first empty field and takes the
// number at the start of each field, as a hand-edited file may hold more;
// no column gets narrower than 10 pixels.
QString ColumnWidthsText(const QHeaderView& header);
// False when the text held no width at all.
bool RestoreColumnWidths(QHeaderView& header, const QString& text);
