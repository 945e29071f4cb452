#pragma once

#include "engine/base/SizeText.h"

#include <QIcon>
#include <QString>
#include <QtGlobal>

// Both type functions keep what they learn for the life of the program, so
// thousands of names of a few types cost a few lookups; call them on the GUI
// thread only.

// The type text of a file name: the MIME database's description of its
// extension (double ones such as ".tar.gz" included), else "EXT File" built
// from the extension, else "File". Only the name is looked at; nothing on
// disk is read, so it serves remote names as well.
QString GetShellTypeName(const QString& name);

// The icon of a file or folder name: the icon theme's image for its type when
// a theme is installed, else the style's standard file or folder icon. Every
// view and pane gets it from here: one icon per type (and per open or closed
// folder), made once, so names of one type share one QIcon and its pixmaps at
// every size. A new icon theme brings new icons.
QIcon GetShellIcon(const QString& name, bool folder, bool open);

// A UTC time as local date and time in the user's locale: short date, short
// time without seconds. Empty for -1 ("unknown") and for times outside the
// years 1 to 9999.
QString FormatShortDateTime(qint64 utcSeconds);
