#pragma once

#include "engine/base/SizeText.h"

#include <QIcon>
#include <QString>
#include <QtGlobal>

// The type text of a file name: the MIME database's description of the name,
// else "EXT File" built from the extension, else "File". Only the name is
// looked at; nothing on disk is read, so it serves remote names as well.
QString GetShellTypeName(const QString& name);

// The icon of a file or folder name: the icon theme's image for its type when
// a theme is installed, else the style's standard file or folder icon.
QIcon GetShellIcon(const QString& name, bool folder, bool open);

// A UTC time as local date and time in the user's locale: short date, short
// time without seconds. Empty for -1 ("unknown") and for times outside the
// years 1 to 9999.
QString FormatShortDateTime(qint64 utcSeconds);
