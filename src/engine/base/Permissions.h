#pragma once

#include <QString>

// What a permission change reaches below a chosen folder.
enum class PermissionScope { ItemsOnly, FilesBelow, FoldersBelow, AllBelow };

// "rwxr-x---" or "drwxr-xr-x" as listings show them (set-id and sticky
// letters counted as execute): the octal mode, or -1 for anything else.
int ModeOfPermissionText(const QString& permissions);
