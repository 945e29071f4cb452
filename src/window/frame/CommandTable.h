#pragma once

#include <QList>
#include <QString>
#include <QStyle>

class QAction;

// What the user sees of each of the window's commands: the menu text with
// its letter, the key, the line the status bar shows while the command is
// highlighted, and the icon that lets it stand on the toolbar. One table, so
// that a new command cannot come without its help line, and the keys and
// letters can be checked against each other in one place.
namespace CommandTable {

enum class KeyScope {
    Window, // wherever the focus is in the window (a text field keeps its own keys)
    Views,  // only while the remote folders or files have the focus: the key also edits text
};

struct Entry {
    int id;
    const char* text; // with "&" before its letter
    const char* key;  // as QKeySequence reads it; "" for none
    KeyScope scope;
    const char* tip;  // one line for the status bar
    QStyle::StandardPixmap icon; // QStyle::SP_CustomBase: none
};

const QList<Entry>& Entries();
// Null for an id the table does not hold.
const Entry* Find(int id);
// Text (with the key after a tab), status line, key and icon of the entry.
void Apply(const Entry& entry, QAction& action, const QStyle& style);

} // namespace CommandTable
