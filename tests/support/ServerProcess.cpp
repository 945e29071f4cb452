#include "support/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace kxtest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = std::chrono::seconds(15);
constexpr auto kStopLimit = std::chrono::seconds(3);

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string TempBase() {
    const char* dir = std::getenv("TMPDIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp";
}

void CheckRelative(const std::string& rel) {
    fs::path p(rel);
    if (rel.empty() || p.is_absolute())
        throw std::invalid_argument("TempDir: not a relative path: \"" + rel + "\"");
    for (const auto& part : p)
        if (part == "..")
            throw std::invalid_argument("TempDir: path climbs out: \"" + rel + "\"");
}

// A test may leave a folder without write or search permission behind (to
// provoke a local error); removal must still succeed.
void MakeTreeWritable(const fs::path& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
}

// Descriptors below 3 would be clobbered by the dup2 onto stdin, stdout and
// stderr in the child, should the test process have closed one of its own.
int AboveStdio(int fd) {
    if (fd > 2)
        return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

std::string ReadWhole(int fd) {
    std::string out;
    char buf[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
        offset += n;
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------- TempDir

TempDir::TempDir() {
    std::string pattern = TempBase() + "/kestrix-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(ErrnoText("mkdtemp " + pattern));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (ec) {
        MakeTreeWritable(path_);
        fs::remove_all(path_, ec);
    }
}

std::string TempDir::Path(const std::string& rel) const {
    CheckRelative(rel);
    return path_ + "/" + rel;
}

std::string TempDir::Write(const std::string& rel, std::string_view bytes) const {
    std::string full = Path(rel);
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("TempDir: cannot write " + full);
    return full;
}

std::string TempDir::MakeDir(const std::string& rel) const {
    std::string full = Path(rel);
    fs::create_directories(full);
    return full;
}

std::string TempDir::Read(const std::string& rel) const {
    std::string full = Path(rel);
    std::ifstream in(full, std::ios::binary);
    if (!in)
        throw std::runtime_error("TempDir: cannot read " + full);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// ---------------------------------------------------------- ServerProcess

std::unique_ptr<ServerProcess> ServerProcess::Start(const std::string& script,
                                                    const std::vector<std::string>& args) {
    std::unique_ptr<ServerProcess> proc(new ServerProcess);

    // Every descriptor is close-on-exec from birth: another test thread may be
    // starting a server at the same moment, and a sibling that inherited our
    // stdin pipe would keep this child alive after the test process died.
    int in_pipe[2];
    int out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error(ErrnoText("pipe2"));
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        int saved = errno;
        close(in_pipe[0]);
        close(in_pipe[1]);
        errno = saved;
        throw std::runtime_error(ErrnoText("pipe2"));
    }
    int child_in = AboveStdio(in_pipe[0]);
    proc->stdin_fd_ = AboveStdio(in_pipe[1]);
    proc->stdout_fd_ = AboveStdio(out_pipe[0]);
    int child_out = AboveStdio(out_pipe[1]);

    // Stderr goes to an unlinked file rather than a pipe: nobody drains it
    // while the test runs, and a chatty server must never block on it.
    std::string pattern = TempBase() + "/kestrix-server-stderr-XXXXXX";
    int err_fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (err_fd >= 0)
        unlink(pattern.c_str());
    proc->stderr_fd_ = err_fd >= 0 ? AboveStdio(err_fd) : -1;

    auto close_child_ends = [&] {
        CloseFd(child_in);
        CloseFd(child_out);
    };
    if (child_in < 0 || child_out < 0 || proc->stdin_fd_ < 0 || proc->stdout_fd_ < 0 ||
        proc->stderr_fd_ < 0) {
        std::string error = ErrnoText("ServerProcess: descriptor setup");
        close_child_ends();
        throw std::runtime_error(error);
    }

    std::vector<std::string> argv_strings{kPython, "-I", script};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, child_out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, proc->stderr_fd_, STDERR_FILENO);

    // The child should start with default signal handling whatever the test
    // process did with SIGPIPE or SIGTERM.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, kPython, &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close_child_ends();
    if (rc != 0)
        throw std::runtime_error(std::string("posix_spawn ") + kPython + ": " + std::strerror(rc));
    proc->pid_ = pid;

    std::string out;
    auto deadline = Clock::now() + kStartLimit;
    std::string failure;
    for (;;) {
        auto newline = out.find('\n');
        if (newline != std::string::npos) {
            std::string line = out.substr(0, newline);
            out.erase(0, newline + 1);
            int port = 0;
            char tail = 0;
            if (std::sscanf(line.c_str(), "PORT %d%c", &port, &tail) == 1 && port > 0 &&
                port < 65536) {
                proc->port_ = port;
                return proc;
            }
            continue;  // not ours (a warning printed by Python, say)
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            failure = "no \"PORT <n>\" line within 15 s";
            break;
        }
        pollfd pfd{proc->stdout_fd_, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            failure = ErrnoText("poll");
            break;
        }
        if (ready == 0)
            continue;
        char buf[512];
        ssize_t n = read(proc->stdout_fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = "the server exited before announcing its port";
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }

    proc->Stop();
    std::string err = proc->StderrText();
    throw std::runtime_error(script + ": " + failure + (err.empty() ? "" : "; its stderr:\n" + err));
}

ServerProcess::~ServerProcess() {
    Stop();
    CloseFd(stderr_fd_);
}

void ServerProcess::Stop() {
    CloseFd(stdin_fd_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        auto deadline = Clock::now() + kStopLimit;
        bool reaped = false;
        while (!reaped) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno == ECHILD)) {
                reaped = true;
                break;
            }
            if (Clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!reaped) {
            kill(pid_, SIGKILL);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    CloseFd(stdout_fd_);
}

std::string ServerProcess::StderrText() const {
    return stderr_fd_ >= 0 ? ReadWhole(stderr_fd_) : std::string();
}

// ------------------------------------------------------------ conveniences

bool ServerProcess::Command(const std::string& line, std::chrono::milliseconds limit)
{
    const std::string text = line + "\n";
    if (write(stdin_fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return false;
    std::string out;
    const auto deadline = Clock::now() + limit;
    while (out.find("DONE\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{stdout_fd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buf[256];
        const ssize_t n = read(stdout_fd_, buf, sizeof buf);
        if (n <= 0)
            return false;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

std::unique_ptr<ServerProcess> StartPrivateKeyring(const std::string& home, std::string& address)
{
    const std::string file = home + "/bus-address";
    auto process = ServerProcess::Start(SupportScript("private_keyring.py"), {"--home", home, "--address-file", file});
    address = ReadLines(file).at(0);
    return process;
}

std::string SupportScript(const std::string& name) {
    return std::string(KX_SUPPORT_DIR) + "/" + name;
}

std::unique_ptr<ServerProcess> StartPyFtpd(const std::string& root, const std::string& user,
                                           const std::string& pw,
                                           const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--root", root, "--user", user, "--password", pw};
    args.insert(args.end(), extra.begin(), extra.end());
    return ServerProcess::Start(SupportScript("pyftpd_server.py"), args);
}

std::unique_ptr<ServerProcess> StartScriptedFtpd(const std::string& root,
                                                 const std::vector<std::string>& switches) {
    std::vector<std::string> args{"--root", root};
    args.insert(args.end(), switches.begin(), switches.end());
    return ServerProcess::Start(SupportScript("scripted_ftpd.py"), args);
}

std::unique_ptr<ServerProcess> StartConnectProxy(const std::vector<std::string>& extra) {
    return ServerProcess::Start(SupportScript("connect_proxy.py"), extra);
}

namespace {

std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::vector<std::string> ReadLines(const std::string& file) {
    return SplitLines(ReadText(file));
}

std::vector<std::string> WaitForLines(const std::string& file, std::size_t count,
                                      std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        std::string text = ReadText(file);
        // A line without its "\n" yet is still being written.
        bool complete = text.empty() || text.back() == '\n';
        std::vector<std::string> lines = SplitLines(text);
        if ((complete && lines.size() >= count) || Clock::now() >= deadline)
            return lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace kxtest
