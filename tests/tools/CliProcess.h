#pragma once

// kestrix-ftp run as a process, as a script runs it, for the command-line tests.

#include "support/ServerProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace kxtest {

inline const std::string kFtpTool = KX_FTP_TOOL;

struct CliResult {
    int status = -1;
    std::string out, err;
};

// Runs kestrix-ftp in `work` with `args` (test-made paths and words: no
// shell quoting needed beyond '...'), stdin empty, both outputs kept.
inline CliResult RunFtpTool(const TempDir& work, const std::string& args)
{
    const std::string out = work.Path("out.txt"), err = work.Path("err.txt");
    const std::string cmd = "cd '" + work.path() + "' && '" + kFtpTool + "' " + args + " >'" + out + "' 2>'" + err +
                            "' </dev/null";
    const int rc = std::system(cmd.c_str());
    CliResult r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = work.Read("out.txt");
    r.err = work.Read("err.txt");
    return r;
}

inline void SetFileTime(const std::string& path, std::time_t seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

inline std::time_t FileTime(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : std::time_t(-1);
}

}  // namespace kxtest
