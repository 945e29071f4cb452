#pragma once

#include "engine/remote/RemoteFileSystem.h"

#include <cstdio>
#include <string>

// kestrix-ftp's "mirror": brings a local folder up to date with a remote one
// (or, reversed, the remote one with the local one), as lftp's mirror does.
// Both trees are listed completely before anything changes; a folder that
// cannot be listed stops the run with nothing done. Files the target lacks,
// and files newer or of another size on the source, are copied with their
// modification time; with onlyNewer, a file is replaced only when the
// source's is newer. What only the target holds is deleted only with
// deleteExtra. dryRun prints the plan and changes nothing.
struct MirrorOptions {
    bool reverse = false; // local to remote
    bool onlyNewer = false;
    bool deleteExtra = false;
    bool dryRun = false;
};

// One line per action on `out`; returns the number of actions that failed
// (each said on stderr). Works alike over FTP and SFTP. Throws inet::InternetError or std::runtime_error
// when a tree cannot be listed or the connection breaks.
int RunMirror(remote::IFileSystem& files, const std::string& remoteRoot, const std::string& localRoot,
              const MirrorOptions& options, std::FILE* out);
