#pragma once

#include "engine/base/FileStatus.h"

#include <QString>

class QFileInfo;

// A path shortened for a one-line display: the first two folders below "/"
// (standing where a drive and its first folder would), "/...", and as many of
// the last components as fit into `maximum` characters. With keepName the
// last component survives even when nothing else fits; otherwise such a
// path comes back empty.
QString AbbreviatePath(const QString& path, int maximum, bool keepName);

// Creates the folder and every missing folder above it; a folder that is
// already there is no failure. False when it does not exist afterwards.
bool CreateFolderPath(const QString& path);

// "/"-separated path with every run of "/" made one.
QString WithSingleSlashes(QString path);

// The record of a local file or folder as a transfer job and the window's
// lists take it: its path as given, size (0 for a folder), times, the
// folder mark.
FileStatus FileStatusOfLocal(const QFileInfo& info);
