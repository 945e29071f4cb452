#pragma once

// How the Local Browser draws its entries: the indented tree of places in
// the "Look in" drop-down, names wrapped to the cell in the icon modes, and
// tiles with the type and size beside the icon.

#include <QStyledItemDelegate>

namespace LocalDelegates {

// The places drop-down's entries carry their depth under this role.
inline constexpr int kIndentRole = Qt::UserRole + 1;

QStyledItemDelegate* NewIndentDelegate(QObject* parent);
QStyledItemDelegate* NewIconDelegate(QObject* parent);
QStyledItemDelegate* NewTileDelegate(QObject* parent);

} // namespace LocalDelegates
