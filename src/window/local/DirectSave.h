#pragma once

#include <QByteArray>
#include <QString>

// X Direct Save (XDS, "XdndDirectSave0" in the freedesktop.org protocol): the
// drag names a file on its source window, the file manager it is dropped on
// writes back the full address of where the file is to go, then asks for the
// drag's "XdndDirectSave0" data, which answers "S" (saved, or about to be),
// "F" (failed: the target may fetch the data itself) or "E" (error). That way
// the program learns the folder of the drop whichever folder it is.
//
// The window system part: only under X11, where Qt's drag source is the
// window that owns the XdndSelection while the drag runs.
namespace DirectSave {

inline constexpr char kFormat[] = "XdndDirectSave0";

// Running on X11 with a connection to the server.
bool IsAvailable();
// Writes `fileName` as the drag's suggested name on the source window. Call
// it once the drag has started; false when there is no drag source yet.
bool Offer(const QString& fileName);
// What the target wrote on the source window: a file:// address, or empty.
QString TargetAddress();
// Takes the property away again after the drag.
void Withdraw();

// The folder of a file:// address of this computer ("file:///a/b/name" or
// "file://thishost/a/b/name" gives "/a/b"); empty for any other address.
QString LocalFolderOf(const QString& address);

} // namespace DirectSave
