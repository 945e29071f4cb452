// kestrix-ftp: a command-line FTP and SFTP client on the Kestrix remote file
// system (the FTP library, and SFTP over SSH, behind one interface).

#include "tools/Mirror.h"
#include "tools/Netrc.h"
#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "engine/remote/FtpFileSystem.h"
#include "engine/remote/RemoteFileSystem.h"
#include "engine/remote/SftpFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: kestrix-ftp [options] URL-or-host COMMAND [args]\n"
    "\n"
    "URL: ftp://[user[:password]@]host[:port][/folder]  (host may be [IPv6])\n"
    "     ftps://...  FTP over implicit TLS (default port 990)\n"
    "     sftp://...  SFTP over SSH (default port 22, user: the local one)\n"
    "Commands:\n"
    "  ls [path]               list a folder: type, size, date (UTC), name\n"
    "  get REMOTE [LOCAL]      download (LOCAL \"-\" writes to standard output)\n"
    "  put LOCAL [REMOTE]      upload (LOCAL \"-\" reads standard input)\n"
    "  mkdir PATH | rm PATH | rmdir PATH | rename FROM TO\n"
    "  quote \"RAW COMMAND\"     send a command, print the reply (FTP only)\n"
    "  mirror [-R] REMOTE LOCAL  bring LOCAL up to date with the folder REMOTE (-R: REMOTE with\n"
    "                          LOCAL): new files, newer ones and ones of another size, with\n"
    "                          their times; nothing is deleted without --delete\n"
    "Options:\n"
    "  --continue              resume get/put where the partial copy ends (REST)\n"
    "  --passive (default) | --active\n"
    "  --port N                server port (default 21)\n"
    "  --user U                user name (default anonymous)\n"
    "  --password P            password; also from KESTRIX_FTP_PASSWORD\n"
    "  --netrc                 login and password for the host from ~/.netrc (or $NETRC)\n"
    "  --netrc-file FILE       ... from FILE; a netrc others may read is refused\n"
    "  --ascii                 ASCII transfer type (line ends converted)\n"
    "  --proxy HOST:PORT       HTTP CONNECT proxy (default: ftp_proxy/all_proxy, no_proxy)\n"
    "  --ssl                   FTP over TLS (AUTH TLS) when the server offers it, else plain\n"
    "  --ssl-reqd              FTP over TLS (AUTH TLS), fail when the server does not offer it\n"
    "  --cacert FILE           also trust the certificate authorities in FILE (PEM)\n"
    "  --insecure              accept any server certificate (no verification); SFTP:\n"
    "                          accept a host key known_hosts does not hold (never a changed one)\n"
    "  --identity FILE         SFTP: log in with this private key (also tried: the SSH agent,\n"
    "                          ~/.ssh/id_ed25519, id_ecdsa, id_rsa); its passphrase is asked on\n"
    "                          the terminal, or taken from KESTRIX_FTP_PASSPHRASE\n"
    "  --known-hosts FILE      SFTP: host keys from FILE instead of ~/.ssh/known_hosts\n"
    "  --timeout SEC           connect, send and receive time-out\n"
    "  --progress              show progress even when stderr is not a terminal\n"
    "  --quiet                 no progress, no warnings\n"
    "  --only-newer            mirror: replace a file only when the source's is newer\n"
    "  --delete                mirror: delete what only the target holds\n"
    "  --dry-run               mirror: print what would be done, change nothing\n";

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Downloads take whatever the socket holds in one read; uploads go in smaller
// pieces so reading the file and sending overlap better.
constexpr std::size_t kBufferSize = 1024 * 1024;
constexpr std::size_t kUploadPiece = 64 * 1024;

// The signal that stopped the run, for the shell's exit status (128 + n).
volatile std::sig_atomic_t g_signal = 0;

struct UsageError {
    std::string message;
};

struct Options {
    bool resume = false;
    bool passive = true;
    int port = 0;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> netrcFile; // empty: the default one
    bool ascii = false;
    std::optional<std::string> proxy;
    inet::Encryption encryption = inet::Encryption::None;
    std::optional<std::string> caFile;
    bool insecure = false;
    std::optional<std::string> identity;
    std::optional<std::string> knownHosts;
    std::optional<std::uint32_t> timeoutMs;
    bool progress = false;
    bool quiet = false;
    MirrorOptions mirror;
    std::string target;
    std::string command;
    std::vector<std::string> args;
};

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

int ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError{"invalid port \"" + text + "\""};
    int port = std::stoi(text);
    if (port < 1 || port > 65535)
        throw UsageError{"invalid port \"" + text + "\""};
    return port;
}

struct Target {
    std::string host;
    int port = 0;
    std::optional<std::string> user, password;
    std::string folder;
    bool implicitTls = false;  // ftps://
    bool sftp = false;         // sftp://
};

// The address as a usage error may show it: a password in it is masked.
std::string ShownTarget(const std::string& text)
{
    const std::size_t scheme = text.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = text.rfind('@', text.find('/', start));
    if (at == std::string::npos || at < start)
        return text;
    const std::size_t colon = text.find(':', start);
    if (colon == std::string::npos || colon > at)
        return text;
    return text.substr(0, colon + 1) + "****" + text.substr(at);
}

Target ParseTarget(const std::string& text)
{
    Target t;
    std::string rest = text;
    const bool ftps = rest.rfind("ftps://", 0) == 0 || rest.rfind("FTPS://", 0) == 0;
    const bool sftp = rest.rfind("sftp://", 0) == 0 || rest.rfind("SFTP://", 0) == 0;
    if (ftps || sftp || rest.rfind("ftp://", 0) == 0 || rest.rfind("FTP://", 0) == 0) {
        t.implicitTls = ftps;
        t.sftp = sftp;
        rest = rest.substr(ftps || sftp ? 7 : 6);
        std::size_t slash = rest.find('/');
        if (slash != std::string::npos) {
            t.folder = PercentDecode(rest.substr(slash));
            rest = rest.substr(0, slash);
        }
        std::size_t at = rest.rfind('@');
        if (at != std::string::npos) {
            std::string cred = rest.substr(0, at);
            rest = rest.substr(at + 1);
            std::size_t colon = cred.find(':');
            t.user = PercentDecode(cred.substr(0, colon));
            if (colon != std::string::npos)
                t.password = PercentDecode(cred.substr(colon + 1));
        }
    } else if (text.find("://") != std::string::npos) {
        throw UsageError{"only ftp://, ftps:// and sftp:// URLs are supported"};
    }
    if (!rest.empty() && rest.front() == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos)
            throw UsageError{"unclosed '[' in \"" + ShownTarget(text) + "\""};
        t.host = rest.substr(1, close - 1);
        std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                throw UsageError{"invalid host \"" + ShownTarget(text) + "\""};
            t.port = ParsePort(after.substr(1));
        }
    } else if (std::count(rest.begin(), rest.end(), ':') == 1) {
        std::size_t colon = rest.find(':');
        t.host = rest.substr(0, colon);
        t.port = ParsePort(rest.substr(colon + 1));
    } else {
        t.host = rest;  // a name, IPv4, or a bare IPv6 address
    }
    if (t.host.empty())
        throw UsageError{"no host in \"" + ShownTarget(text) + "\""};
    return t;
}

Options ParseArgs(int argc, char** argv)
{
    Options o;
    std::vector<std::string> positional;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc)
                throw UsageError{std::string(name) + " needs a value"};
            return argv[++i];
        };
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
        } else if (a == "--continue" || a == "-c") {
            o.resume = true;
        } else if (a == "--passive") {
            o.passive = true;
        } else if (a == "--active") {
            o.passive = false;
        } else if (a == "--port") {
            o.port = ParsePort(value("--port"));
        } else if (a == "--user") {
            o.user = value("--user");
        } else if (a == "--password") {
            o.password = value("--password");
        } else if (a == "--netrc") {
            o.netrcFile = std::string();
        } else if (a == "--netrc-file") {
            o.netrcFile = value("--netrc-file");
        } else if (a == "--ascii") {
            o.ascii = true;
        } else if (a == "--proxy") {
            o.proxy = value("--proxy");
        } else if (a == "--ssl") {
            o.encryption = inet::Encryption::ExplicitIfAvailable;
        } else if (a == "--ssl-reqd") {
            o.encryption = inet::Encryption::ExplicitRequired;
        } else if (a == "--cacert") {
            o.caFile = value("--cacert");
        } else if (a == "--insecure") {
            o.insecure = true;
        } else if (a == "--identity" || a == "-i") {
            o.identity = value("--identity");
        } else if (a == "--known-hosts") {
            o.knownHosts = value("--known-hosts");
        } else if (a == "--timeout") {
            std::string v = value("--timeout");
            char* end = nullptr;
            double sec = std::strtod(v.c_str(), &end);
            if (!end || *end || !(sec > 0) || sec > 4000000)
                throw UsageError{"invalid --timeout \"" + v + "\""};
            // Zero would mean no time-out at all: the shortest one is 1 ms.
            o.timeoutMs = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::ceil(sec * 1000)));
        } else if (a == "-R" || a == "--reverse") {
            o.mirror.reverse = true;
        } else if (a == "--only-newer") {
            o.mirror.onlyNewer = true;
        } else if (a == "--delete") {
            o.mirror.deleteExtra = true;
        } else if (a == "--dry-run") {
            o.mirror.dryRun = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            throw UsageError{"unknown option " + a};
        }
    }
    if (positional.size() < 2)
        throw UsageError{"a host and a command are needed"};
    o.target = positional[0];
    o.command = positional[1];
    o.args.assign(positional.begin() + 2, positional.end());
    return o;
}

void Need(const Options& o, std::size_t min, std::size_t max)
{
    if (o.args.size() < min || o.args.size() > max)
        throw UsageError{"wrong number of arguments for " + o.command};
}

// Remote and server-sent text shown on a terminal: no control characters.
std::string Printable(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    return out;
}

std::string BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    std::size_t slash = p.rfind('/');
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    if (base.empty() || base == "." || base == ".." || !inet::IsSafeEntryName(base))
        throw UsageError{"cannot derive a local name from \"" + Printable(path) + "\": give one"};
    return base;
}

class Progress {
public:
    Progress(bool enabled, std::uint64_t start, std::optional<std::uint64_t> total)
        : enabled_(enabled), start_(start), done_(start), total_(total), began_(Clock::now()), last_(began_)
    {
    }
    void Add(std::uint64_t n)
    {
        done_ += n;
        if (!enabled_)
            return;
        auto now = Clock::now();
        if (now - last_ < std::chrono::milliseconds(200))
            return;
        last_ = now;
        Show(now);
    }
    void Finish()
    {
        if (!enabled_)
            return;
        Show(Clock::now());
        std::fputc('\n', stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    void Show(Clock::time_point now)
    {
        double secs = std::chrono::duration<double>(now - began_).count();
        double rate = secs > 0 ? static_cast<double>(done_ - start_) / secs : 0;
        const double mib = 1024.0 * 1024.0;
        if (total_ && *total_ > 0)
            std::fprintf(stderr, "\r%10.1f / %.1f MiB %3d%% %8.1f MiB/s ", static_cast<double>(done_) / mib,
                         static_cast<double>(*total_) / mib,
                         static_cast<int>(std::min<std::uint64_t>(100, done_ * 100 / *total_)), rate / mib);
        else
            std::fprintf(stderr, "\r%10.1f MiB %8.1f MiB/s ", static_cast<double>(done_) / mib, rate / mib);
    }
    bool enabled_;
    std::uint64_t start_, done_;
    std::optional<std::uint64_t> total_;
    Clock::time_point began_, last_;
};

[[noreturn]] void LocalFailure(const std::string& what, const std::string& path)
{
    throw std::runtime_error(what + " " + Printable(path) + ": " + std::strerror(errno));
}

void WriteFully(int fd, const char* data, std::size_t size, const std::string& path)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            LocalFailure("cannot write", path);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::optional<std::uint64_t> RemoteSize(remote::IFileSystem& fs, const std::string& path)
{
    try {
        return fs.GetFileSize(path);
    } catch (const inet::InternetError& e) {
        if (e.number() != inet::err::kExtendedError)
            throw;
        return std::nullopt;  // no SIZE support, or no such file yet
    }
}

int DoList(remote::IFileSystem& fs, const Options& o)
{
    Need(o, 0, 1);
    static char outBuffer[1 << 20];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    std::size_t problems = 0;
    fs.List(
        o.args.empty() ? std::string() : o.args[0],
        [&](remote::Entry&& e) {
            char date[32] = "-";
            if (e.modified != -1) {
                std::time_t t = static_cast<std::time_t>(e.modified);
                std::tm tm{};
                if (::gmtime_r(&t, &tm))
                    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &tm);
            }
            char type = e.isFolder ? 'd' : e.isLink ? 'l' : '-';
            std::fprintf(stdout, "%c %14llu %16s %s", type, static_cast<unsigned long long>(e.size), date,
                         e.name.c_str());
            if (e.isLink && !e.linkTarget.empty()) {
                std::fputs(" -> ", stdout);
                std::fputs(Printable(e.linkTarget).c_str(), stdout);
            }
            std::fputc('\n', stdout);
        },
        [&](inet::LineKind kind, std::string_view line) {
            if (kind == inet::LineKind::Ignored)
                return;  // "." and ".."
            ++problems;
            if (!o.quiet)
                std::fprintf(stderr, "kestrix-ftp: skipped %s line: %s\n",
                             kind == inet::LineKind::UnsafeName ? "unsafe-name" : "unrecognised",
                             Printable(line.substr(0, 300)).c_str());
        });
    if (std::fflush(stdout) != 0)
        throw std::runtime_error(std::string("cannot write the listing: ") + std::strerror(errno));
    return 0;
}

// Closes a descriptor the command opened itself on every way out.
struct FdCloser {
    int fd;
    bool own;
    ~FdCloser()
    {
        if (own)
            ::close(fd);
    }
};

int DoGet(remote::IFileSystem& fs, const Options& o, bool showProgress)
{
    Need(o, 1, 2);
    const std::string& remote = o.args[0];
    std::string local = o.args.size() > 1 ? o.args[1] : BaseName(remote);
    bool toStdout = local == "-";
    inet::TransferType type = o.ascii ? inet::TransferType::Ascii : inet::TransferType::Binary;

    std::optional<std::uint64_t> remoteSize = o.ascii ? std::nullopt : RemoteSize(fs, remote);
    std::uint64_t offset = 0;
    if (o.resume && !toStdout) {
        struct stat st{};
        if (::stat(local.c_str(), &st) == 0)
            offset = static_cast<std::uint64_t>(st.st_size);
        else if (errno != ENOENT)
            LocalFailure("cannot stat", local);
        if (remoteSize && offset > *remoteSize)
            throw std::runtime_error("the local file " + Printable(local) + " is larger than the remote one");
        if (remoteSize && offset == *remoteSize && offset > 0)
            return 0;  // already complete
    }

    // The remote file first: a refused RETR leaves no empty local file behind.
    auto stream = fs.OpenRead(remote, offset, type);
    // An ASCII transfer changes the length on the way: no size to hold it to.
    if (!remoteSize && stream->size() && !o.ascii)
        remoteSize = stream->size();

    int fd = STDOUT_FILENO;
    if (!toStdout) {
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (o.resume ? 0 : O_TRUNC);
        fd = ::open(local.c_str(), flags, 0644);
        if (fd < 0)
            LocalFailure("cannot open", local);
        if (o.resume && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
            ::close(fd);
            LocalFailure("cannot seek in", local);
        }
    }
    FdCloser closer{fd, !toStdout};

    Progress progress(showProgress, offset, remoteSize);
    std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    std::uint64_t total = offset;
    for (;;) {
        std::size_t n = stream->Read(buffer.get(), kBufferSize);
        if (n == 0)
            break;
        if (remoteSize && total + n > *remoteSize) {
            // More than the file holds: the server sent from another place
            // than asked (a REST it accepted and ignored). What came is not
            // the file's end; the copy goes back to what it was.
            if (!toStdout && ::ftruncate(fd, static_cast<off_t>(offset)) != 0)
                LocalFailure("cannot restore", local);
            throw std::runtime_error("the server sent more than the " + std::to_string(*remoteSize) +
                                     " bytes the file holds" +
                                     (offset ? "; it did not resume at byte " + std::to_string(offset) : "") +
                                     "; the local file is left as it was");
        }
        WriteFully(fd, buffer.get(), n, local);
        total += n;
        progress.Add(n);
    }
    progress.Finish();
    if (!toStdout) {
        closer.own = false;
        if (::close(fd) != 0)
            LocalFailure("cannot write", local);
    }
    if (remoteSize && total != *remoteSize)
        throw std::runtime_error("received " + std::to_string(total) + " bytes of " + std::to_string(*remoteSize));
    return 0;
}

int DoPut(remote::IFileSystem& fs, const Options& o, bool showProgress)
{
    Need(o, 1, 2);
    const std::string& local = o.args[0];
    bool fromStdin = local == "-";
    if (fromStdin && o.args.size() < 2)
        throw UsageError{"put - needs a remote name"};
    std::string remote = o.args.size() > 1 ? o.args[1] : BaseName(local);
    inet::TransferType type = o.ascii ? inet::TransferType::Ascii : inet::TransferType::Binary;

    int fd = STDIN_FILENO;
    std::optional<std::uint64_t> localSize;
    if (!fromStdin) {
        fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            LocalFailure("cannot open", local);
        struct stat st{};
        if (::fstat(fd, &st) != 0)
            LocalFailure("cannot stat", local);
        if (S_ISREG(st.st_mode))
            localSize = static_cast<std::uint64_t>(st.st_size);
    }
    FdCloser closer{fd, !fromStdin};

    std::uint64_t offset = 0;
    remote::WriteMode mode = remote::WriteMode::Replace;
    if (o.resume) {
        if (fromStdin || !localSize)
            throw UsageError{"--continue needs a regular local file"};
        if (auto remoteSize = RemoteSize(fs, remote)) {
            if (*remoteSize > *localSize)
                throw std::runtime_error("the remote file is larger than " + Printable(local));
            if (*remoteSize == *localSize)
                return 0;
            offset = *remoteSize;
            mode = offset > 0 ? remote::WriteMode::Restart : remote::WriteMode::Replace;
            if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0)
                LocalFailure("cannot seek in", local);
        }
    }

    auto stream = fs.OpenWrite(remote, mode, offset, type);
    Progress progress(showProgress, offset, localSize);
    std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    for (;;) {
        ssize_t n = ::read(fd, buffer.get(), kUploadPiece);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            LocalFailure("cannot read", local);  // the stream's destructor aborts the upload
        }
        if (n == 0)
            break;
        stream->Write(buffer.get(), static_cast<std::size_t>(n));
        progress.Add(static_cast<std::uint64_t>(n));
    }
    stream->Close();
    progress.Finish();
    // The server's 226 after our end of data is the confirmation; a SIZE round
    // trip on top would cost time on every upload and prove no more.
    return 0;
}

int DoQuote(remote::IFileSystem& fs, const Options& o)
{
    Need(o, 1, 1);
    inet::FtpReply reply = fs.RawCommand(o.args[0]);
    std::string text = reply.Text();
    for (std::string_view rest = text; !rest.empty();) {
        std::size_t end = rest.find("\r\n");
        std::fprintf(stdout, "%s\n", Printable(rest.substr(0, end)).c_str());
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
    }
    return reply.code >= 400 ? kExitFailure : 0;
}

// Ctrl-C and SIGTERM cancel what is under way from a thread of their own:
// Cancel() takes locks, which a signal handler must not.
std::mutex g_cancelMutex;
remote::IFileSystem* g_fs = nullptr;

void WatchSignals(sigset_t signals)
{
    for (;;) {
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0)
            continue;
        g_signal = signal;
        std::lock_guard<std::mutex> lock(g_cancelMutex);
        if (!g_fs)
            std::_Exit(128 + signal);
        g_fs->Cancel();
    }
}

// The local user, as ssh logs in by default.
std::string LocalUser()
{
    if (const passwd* pw = ::getpwuid(::getuid()))
        return pw->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

// A key's passphrase: from KESTRIX_FTP_PASSPHRASE, else asked on the terminal
// without echo; none when there is no terminal.
std::optional<std::string> AskPassphrase(const std::string& keyFile)
{
    if (const char* env = std::getenv("KESTRIX_FTP_PASSPHRASE"))
        return std::string(env);
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    const std::string prompt = "Passphrase for " + Printable(keyFile) + ": ";
    [[maybe_unused]] ssize_t w = ::write(tty, prompt.data(), prompt.size());
    termios old{};
    const bool quiet = ::tcgetattr(tty, &old) == 0;
    if (quiet) {
        termios noEcho = old;
        noEcho.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &noEcho);
    }
    std::string answer;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n')
        answer += c;
    if (quiet)
        ::tcsetattr(tty, TCSAFLUSH, &old);
    w = ::write(tty, "\n", 1);
    ::close(tty);
    return answer;
}

int Run(int argc, char** argv)
{
    Options o = ParseArgs(argc, argv);
    Target t = ParseTarget(o.target);
    int port = o.port ? o.port : t.port;
    inet::Encryption encryption = o.encryption;
    if (t.implicitTls) {
        encryption = inet::Encryption::Implicit;
        if (port == 0)
            port = 990;
    }
    if (t.sftp) {
        if (o.encryption != inet::Encryption::None)
            throw UsageError{"--ssl and --ssl-reqd are for FTP; SFTP is always encrypted"};
        if (o.ascii)
            throw UsageError{"--ascii is for FTP; SFTP moves the bytes as they are"};
        if (!o.passive)
            throw UsageError{"--active is for FTP; SFTP has no data connections"};
        if (o.proxy)
            throw UsageError{"--proxy is for FTP"};
        if (o.caFile)
            throw UsageError{"--cacert is for FTP over TLS; SFTP checks host keys (--known-hosts)"};
    } else if (o.identity || o.knownHosts) {
        throw UsageError{"--identity and --known-hosts are for sftp:// addresses"};
    }
    std::optional<std::string> givenUser = o.user ? o.user : t.user;
    std::optional<std::string> givenPassword = o.password ? o.password : t.password;
    // As curl: what the command line names wins; the netrc fills the rest.
    if (o.netrcFile && !givenPassword) {
        const std::string path = o.netrcFile->empty() ? DefaultNetrcPath() : *o.netrcFile;
        std::optional<NetrcEntry> entry;
        try {
            entry = FindNetrcEntry(path, t.host, givenUser);
        } catch (const std::runtime_error& e) {
            throw UsageError{e.what()};
        }
        if (entry) {
            if (!givenUser && !entry->login.empty())
                givenUser = entry->login;
            givenPassword = entry->password;
        }
    }
    std::string user = givenUser.value_or(t.sftp ? LocalUser() : "");
    std::string password;
    if (givenPassword)
        password = *givenPassword;
    else if (const char* env = std::getenv("KESTRIX_FTP_PASSWORD"))
        password = env;

    static const char* const kCommands[] = {"ls",     "get",    "put",  "mkdir", "rm",
                                            "rmdir",  "rename", "quote", "mirror"};
    if (std::find_if(std::begin(kCommands), std::end(kCommands),
                     [&](const char* c) { return o.command == c; }) == std::end(kCommands))
        throw UsageError{"unknown command \"" + o.command + "\""};
    if (t.sftp && o.command == "quote")
        throw UsageError{"quote sends raw FTP commands; SFTP has no such thing"};
    if (o.caFile && ::access(o.caFile->c_str(), R_OK) != 0)
        LocalFailure("cannot read", *o.caFile);
    if (o.identity && ::access(o.identity->c_str(), R_OK) != 0)
        LocalFailure("cannot read", *o.identity);

    std::unique_ptr<remote::IFileSystem> fs;
    if (t.sftp) {
        fs = std::make_unique<remote::SftpFileSystem>();
    } else {
        fs = std::make_unique<remote::FtpFileSystem>([&o] {
            auto session = std::make_unique<inet::InternetSession>(
                "kestrix-ftp", o.proxy ? inet::AccessType::NamedProxy : inet::AccessType::Preconfigured,
                o.proxy.value_or(""));
            if (o.caFile)
                session->SetCaFile(*o.caFile);
            session->SetInsecure(o.insecure);
            return session;
        });
    }
    remote::ConnectOptions options;
    options.protocol = t.sftp ? remote::Protocol::Sftp : remote::Protocol::Ftp;
    options.host = t.host;
    options.port = port;
    options.user = user;
    options.password = password;
    options.passive = o.passive;
    options.encryption = encryption;
    options.identityFile = o.identity.value_or("");
    options.knownHostsFile = o.knownHosts.value_or("");
    options.acceptUnknownHostKey = o.insecure;
    if (o.timeoutMs)
        options.connectTimeoutMs = options.sendTimeoutMs = options.receiveTimeoutMs = *o.timeoutMs;
    remote::Callbacks callbacks;
    callbacks.passphrase = AskPassphrase;

    {
        std::lock_guard<std::mutex> lock(g_cancelMutex);
        g_fs = fs.get();
    }
    struct Reset {
        ~Reset()
        {
            std::lock_guard<std::mutex> lock(g_cancelMutex);
            g_fs = nullptr;
        }
    } reset;

    bool showProgress = !o.quiet && (o.progress || ::isatty(STDERR_FILENO));
    fs->Connect(options, callbacks);
    std::string folder = t.folder;
    // sftp://host/~/path: from the home folder, as curl reads it.
    if (t.sftp && (folder == "/~" || folder.rfind("/~/", 0) == 0))
        folder = folder.size() > 3 ? folder.substr(3) : std::string();
    if (!folder.empty() && folder != "/")
        fs->SetCurrentDirectory(folder);

    if (o.command == "ls")
        return DoList(*fs, o);
    if (o.command == "get")
        return DoGet(*fs, o, showProgress);
    if (o.command == "put")
        return DoPut(*fs, o, showProgress);
    if (o.command == "quote")
        return DoQuote(*fs, o);
    if (o.command == "mirror") {
        Need(o, 2, 2);
        return RunMirror(*fs, o.args[0], o.args[1], o.mirror, stdout) == 0 ? 0 : kExitFailure;
    }
    if (o.command == "rename") {
        Need(o, 2, 2);
        fs->Rename(o.args[0], o.args[1]);
        return 0;
    }
    Need(o, 1, 1);
    if (o.command == "mkdir")
        fs->CreateDirectory(o.args[0]);
    else if (o.command == "rm")
        fs->RemoveFile(o.args[0]);
    else if (o.command == "rmdir")
        fs->RemoveDirectory(o.args[0]);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WatchSignals, signals).detach();
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kestrix-ftp: %s\n\n%s", e.message.c_str(), kUsage);
        return kExitUsage;
    } catch (const inet::InternetError& e) {
        if (e.number() == inet::err::kOperationCancelled && g_signal)
            return 128 + static_cast<int>(g_signal);
        std::fprintf(stderr, "kestrix-ftp: error %u: %s\n", e.number(), Printable(e.what()).c_str());
        if (e.number() == inet::err::kInvalidCertificate)
            std::fputs("kestrix-ftp: the server's certificate is not trusted; give its issuer with --cacert FILE,"
                       " or use --insecure to connect anyway\n",
                       stderr);
        if (e.number() == remote::err::kHostKeyUnknown)
            std::fputs("kestrix-ftp: the server's host key is not in known_hosts; check the fingerprint with the"
                       " server's administrator, then add the key (ssh-keyscan, or connect once with ssh), or use"
                       " --insecure to connect anyway\n",
                       stderr);
        if (e.number() == remote::err::kHostKeyChanged)
            std::fputs("kestrix-ftp: if the server's key was changed on purpose, remove the old one with"
                       " ssh-keygen -R HOST (\"[HOST]:PORT\" for another port than 22); --insecure does not"
                       " accept a changed key\n",
                       stderr);
        if (e.number() == inet::err::kOperationCancelled)
            return 128 + (g_signal ? static_cast<int>(g_signal) : SIGINT);
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrix-ftp: %s\n", Printable(e.what()).c_str());
        return kExitFailure;
    }
}
