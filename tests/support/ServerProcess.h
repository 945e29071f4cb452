#pragma once

// Test fixtures: a temporary folder, and the FTP servers and proxy of this
// folder's Python scripts run as child processes on free loopback ports.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kxtest {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // path() + "/" + rel; touches nothing. rel must be relative and must not
    // climb out with "..".
    std::string Path(const std::string& rel) const;

    // Creates the missing parent folders, writes the bytes (replacing any old
    // content) and returns the full path.
    std::string Write(const std::string& rel, std::string_view bytes) const;

    // Creates the folder and its missing parents; returns the full path.
    std::string MakeDir(const std::string& rel) const;

    std::string Read(const std::string& rel) const;

private:
    std::string path_;
};

// One of the support scripts, run as "/usr/bin/python3 <script> <args...>".
// The child's stdin is a pipe held open by this object: when the test process
// dies, however it dies, the child sees end of file and quits.
class ServerProcess {
public:
    // Waits for the child's "PORT <n>" line. Throws std::runtime_error, with
    // what the child wrote to stderr, when the line does not come within 15 s
    // or the child exits first.
    static std::unique_ptr<ServerProcess> Start(const std::string& script,
                                                const std::vector<std::string>& args);

    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }

    // Everything the child has written to stderr so far.
    std::string StderrText() const;

    // For a script that takes commands on its standard input: writes the line
    // and waits for the script's "DONE" line; false when it does not come
    // within the limit.
    bool Command(const std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(10));

    // What the destructor does, for a test that needs the server gone early:
    // closes stdin, sends SIGTERM, waits up to 3 s, then SIGKILL; reaps the
    // child. Safe to call more than once.
    void Stop();

private:
    ServerProcess() = default;

    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int stdout_fd_ = -1;
    int stderr_fd_ = -1;
    int port_ = 0;
};

// Full path of a script in tests/support.
std::string SupportScript(const std::string& name);

// pyftpd_server.py over root with one full-rights account; extra switches
// such as "--anonymous", "--ipv6", "--log", FILE are appended.
std::unique_ptr<ServerProcess> StartPyFtpd(const std::string& root, const std::string& user,
                                           const std::string& pw,
                                           const std::vector<std::string>& extra = {});

// scripted_ftpd.py over root; the switches are documented in the script.
std::unique_ptr<ServerProcess> StartScriptedFtpd(const std::string& root,
                                                 const std::vector<std::string>& switches);

// private_keyring.py: a private session bus with an unlocked GNOME Keyring
// under `home`; its address in `address`. Commands: "LOCK", "STOP-KEYRING".
std::unique_ptr<ServerProcess> StartPrivateKeyring(const std::string& home, std::string& address);

// connect_proxy.py; extra: "--log", FILE, "--require-auth", "user:pass".
std::unique_ptr<ServerProcess> StartConnectProxy(const std::vector<std::string>& extra = {});

// The lines of a command log, without their "\n" and otherwise byte for byte.
// Throws std::runtime_error when the file cannot be read.
std::vector<std::string> ReadLines(const std::string& file);

// For a log that is still being written (a client may hang up without waiting
// for the answer to its last command): ReadLines once it holds at least count
// lines, or whatever it holds when the limit has passed.
std::vector<std::string> WaitForLines(const std::string& file, std::size_t count,
                                      std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace kxtest
