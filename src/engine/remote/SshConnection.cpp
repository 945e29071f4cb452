#include "engine/remote/SshConnection.h"

#include <libssh/libssh.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace remote {

namespace {

// AES-GCM first: with AES instructions it costs the least CPU on both ends,
// and SSH over loopback or a fast network is bound by CPU, not by the wire.
constexpr const char* kCiphers =
    "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr";

// Prompts of keyboard-interactive rounds answered before giving up.
constexpr int kMaxInteractiveRounds = 8;

using inet::InternetError;
namespace ierr = inet::err;

void Note(const Callbacks& callbacks, const std::string& line)
{
    if (!callbacks.trace)
        return;
    try {
        callbacks.trace(inet::Talk::Note, line);
    } catch (...) {
    }
}

std::string Unbracketed(std::string host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

std::string HostPort(const std::string& host, int port)
{
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + " port " + std::to_string(port);
}

bool FileExists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Overwrites a secret before its memory is given back.
void Wipe(std::string& s)
{
    volatile char* p = s.data();
    for (std::size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    s.clear();
}

struct KeyDeleter {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyDeleter>;

// The passphrase question of one key file: asked at most once.
struct PassphraseAsk {
    const Callbacks* callbacks = nullptr;
    std::string file;
    bool asked = false;
    bool refused = false;
};

extern "C" int AskPassphrase(const char* /*prompt*/, char* buf, size_t len, int /*echo*/, int /*verify*/,
                             void* userdata)
{
    auto* ask = static_cast<PassphraseAsk*>(userdata);
    if (ask->asked || !ask->callbacks->passphrase) {
        ask->refused = true;
        return -1;
    }
    ask->asked = true;
    std::optional<std::string> answer;
    try {
        answer = ask->callbacks->passphrase(ask->file);
    } catch (...) {
    }
    if (!answer || answer->size() + 1 > len) {
        ask->refused = true;
        if (answer)
            Wipe(*answer);
        return -1;
    }
    std::memcpy(buf, answer->c_str(), answer->size() + 1);
    Wipe(*answer);
    return 0;
}

}  // namespace

std::string SshFolder()
{
    const char* home = std::getenv("HOME");
    std::string h = home && *home ? home : "";
    if (h.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()))
            h = pw->pw_dir;
    }
    return h + "/.ssh";
}

struct SshConnection::Impl {
    ssh_session session = nullptr;
    ssh_channel channel = nullptr;
    bool broken = false;
};

SshConnection::SshConnection() : d_(std::make_unique<Impl>())
{
    static std::once_flag once;
    std::call_once(once, [] { ssh_init(); });
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SshConnection::~SshConnection()
{
    const bool polite = !cancelled_ && !d_->broken;
    if (!polite) {
        std::lock_guard<std::mutex> lock(fdMutex_);
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR);
    }
    if (polite && d_->session) {
        // Goodbyes wait for a server that is still reading, not for one that stopped.
        const long seconds = 2;
        ssh_options_set(d_->session, SSH_OPTIONS_TIMEOUT, &seconds);
    }
    if (d_->channel) {
        if (polite)
            ssh_channel_close(d_->channel);
        ssh_channel_free(d_->channel);
    }
    if (d_->session) {
        if (polite)
            ssh_disconnect(d_->session);
        ssh_free(d_->session);
    }
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void SshConnection::Cancel()
{
    cancelled_ = true;
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

[[noreturn]] void SshConnection::Fail(std::uint32_t fallback, const std::string& what)
{
    d_->broken = true;
    if (cancelled_)
        throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
    std::string detail = d_->session ? ssh_get_error(d_->session) : "";
    if (d_->session && !ssh_is_connected(d_->session))
        throw InternetError(ierr::kConnectionAborted,
                            "The connection with the server was closed" + (detail.empty() ? "" : ": " + detail));
    throw InternetError(fallback, what + (detail.empty() ? "" : ": " + detail));
}

std::string SshConnection::cipher() const
{
    const char* c = d_->session ? ssh_get_cipher_out(d_->session) : nullptr;
    return c ? c : "";
}

void SshConnection::ConnectSocket(const ConnectOptions& options, const Callbacks& callbacks)
{
    const std::string host = Unbracketed(options.host);
    const int port = options.port ? options.port : DefaultPort(Protocol::Sftp);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0 || !found)
        throw InternetError(ierr::kNameNotResolved, "Cannot resolve " + host + ": " + ::gai_strerror(rc));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);

    int lastError = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (cancelled_)
            break;
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(fdMutex_);
            fd_ = fd;
        }
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
            const int timeout = options.connectTimeoutMs ? static_cast<int>(std::min<std::uint32_t>(
                                                               options.connectTimeoutMs, INT_MAX))
                                                         : -1;
            int ready;
            do {
                ready = ::poll(fds, 2, timeout);
            } while (ready < 0 && errno == EINTR);
            if (ready == 0) {
                lastError = ETIMEDOUT;
            } else if (ready > 0 && !cancelled_) {
                int error = 0;
                socklen_t len = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
                connected = error == 0;
                lastError = error;
            }
        } else if (!connected) {
            lastError = errno;
        }
        if (connected) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Note(callbacks, "Connected to " + HostPort(host, port));
            return;
        }
        std::lock_guard<std::mutex> lock(fdMutex_);
        ::close(fd);
        fd_ = -1;
    }
    if (cancelled_)
        throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
    if (lastError == ETIMEDOUT)
        throw InternetError(ierr::kTimeout, "No connection to " + HostPort(host, port) + " within the time-out");
    throw InternetError(ierr::kCannotConnect,
                        "Cannot connect to " + HostPort(host, port) + ": " + std::strerror(lastError));
}

void SshConnection::Open(const ConnectOptions& options, const Callbacks& callbacks)
{
    receiveTimeoutMs_ = options.receiveTimeoutMs;
    ConnectSocket(options, callbacks);

    d_->session = ssh_new();
    if (!d_->session)
        throw InternetError(ierr::kInternalError, "Cannot make an SSH session");
    ssh_session s = d_->session;
    const std::string host = Unbracketed(options.host);
    const int port = options.port ? options.port : DefaultPort(Protocol::Sftp);
    // libssh closes the descriptor it is given; ours stays for Cancel().
    const int libFd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 3);
    if (libFd < 0)
        throw InternetError(ierr::kInternalError, std::string("dup: ") + std::strerror(errno));
    const bool no = false;
    const std::string knownHosts =
        options.knownHostsFile.empty() ? SshFolder() + "/known_hosts" : options.knownHostsFile;
    // libssh reads 0 as "its own default of 10 s": no time-out is a very long one here.
    const std::uint32_t waitMs = std::max(options.connectTimeoutMs, options.receiveTimeoutMs);
    const long seconds = options.connectTimeoutMs && options.receiveTimeoutMs ? (waitMs + 999) / 1000
                                                                               : 400L * 24 * 3600;
    ssh_options_set(s, SSH_OPTIONS_FD, &libFd);
    ssh_options_set(s, SSH_OPTIONS_HOST, host.c_str());
    ssh_options_set(s, SSH_OPTIONS_PORT, &port);
    ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());
    ssh_options_set(s, SSH_OPTIONS_CIPHERS_C_S, kCiphers);
    ssh_options_set(s, SSH_OPTIONS_CIPHERS_S_C, kCiphers);
    ssh_options_set(s, SSH_OPTIONS_TIMEOUT, &seconds);
    if (!options.user.empty())
        ssh_options_set(s, SSH_OPTIONS_USER, options.user.c_str());

    if (ssh_connect(s) != SSH_OK)
        Fail(remote::err::kSshFailed, "The SSH handshake failed");
    if (const char* banner = ssh_get_serverbanner(s))
        Note(callbacks, std::string("Server version: ") + banner);
    Note(callbacks, "Encryption: " + cipher());

    CheckHostKey(options, callbacks);
    Authenticate(options, callbacks);

    d_->channel = ssh_channel_new(s);
    if (!d_->channel || ssh_channel_open_session(d_->channel) != SSH_OK)
        Fail(remote::err::kSshFailed, "The server did not open a channel");
    if (ssh_channel_request_subsystem(d_->channel, "sftp") != SSH_OK)
        Fail(remote::err::kSshFailed, "The server offers no SFTP subsystem");
}

void SshConnection::CheckHostKey(const ConnectOptions& options, const Callbacks& callbacks)
{
    ssh_session s = d_->session;
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(s, &raw) != SSH_OK)
        Fail(remote::err::kSshFailed, "The server sent no host key");
    Key key(raw);
    unsigned char* hash = nullptr;
    size_t hashLength = 0;
    if (ssh_get_publickey_hash(key.get(), SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLength) != 0)
        Fail(remote::err::kSshFailed, "Cannot hash the host key");
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hashLength);
    ssh_clean_pubkey_hash(&hash);
    HostKeyInfo info;
    info.host = Unbracketed(options.host);
    info.port = options.port ? options.port : DefaultPort(Protocol::Sftp);
    info.keyType = ssh_key_type_to_char(ssh_key_type(key.get())) ? ssh_key_type_to_char(ssh_key_type(key.get())) : "";
    info.fingerprint = text ? text : "";
    ssh_string_free_char(text);
    info.knownHostsFile = options.knownHostsFile.empty() ? SshFolder() + "/known_hosts" : options.knownHostsFile;
    Note(callbacks, "Host key: " + info.keyType + " " + info.fingerprint);

    const ssh_known_hosts_e state = ssh_session_is_known_server(s);
    if (state == SSH_KNOWN_HOSTS_OK) {
        Note(callbacks, "The host key is the one known_hosts holds");
        return;
    }
    if (cancelled_)
        throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
    info.changed = state == SSH_KNOWN_HOSTS_CHANGED;
    info.otherTypesKnown = state == SSH_KNOWN_HOSTS_OTHER;

    HostKeyAnswer answer = HostKeyAnswer::Cancel;
    if (info.changed || !options.acceptUnknownHostKey) {
        if (callbacks.hostKey) {
            try {
                answer = callbacks.hostKey(info);
            } catch (...) {
                answer = HostKeyAnswer::Cancel;
            }
        }
    } else {
        answer = HostKeyAnswer::ConnectOnce;
    }
    if (info.changed) {
        d_->broken = true;
        throw InternetError(remote::err::kHostKeyChanged,
                            "The host key of " + HostPort(info.host, info.port) + " has changed (" + info.keyType +
                                " " + info.fingerprint + "); " + info.knownHostsFile +
                                " holds another one. Someone may be listening in; the connection was refused");
    }
    if (answer == HostKeyAnswer::Cancel) {
        d_->broken = true;
        throw InternetError(remote::err::kHostKeyUnknown,
                            "The host key of " + HostPort(info.host, info.port) + " is not known (" + info.keyType +
                                " " + info.fingerprint + ")");
    }
    if (answer == HostKeyAnswer::ConnectOnce) {
        Note(callbacks, "The host key is accepted for this connection");
        return;
    }
    char* line = nullptr;
    if (ssh_session_export_known_hosts_entry(s, &line) != SSH_OK || !line)
        Fail(ierr::kInternalError, "Cannot write the host key as a known_hosts line");
    std::string entry = line;
    ssh_string_free_char(line);
    if (entry.empty() || entry.back() != '\n')
        entry += '\n';
    const std::string& file = info.knownHostsFile;
    const std::size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0)
        ::mkdir(file.substr(0, slash).c_str(), 0700);  // ~/.ssh when there is none yet
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw InternetError(ierr::kInternalError, "Cannot add the host key to " + file + ": " + std::strerror(errno));
    // A last line without its line end would swallow the new one.
    struct stat st{};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            entry.insert(entry.begin(), '\n');
    }
    const bool written = ::write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size());
    const int error = errno;
    ::close(fd);
    if (!written)
        throw InternetError(ierr::kInternalError, "Cannot add the host key to " + file + ": " + std::strerror(error));
    Note(callbacks, "The host key was added to " + file);
}

void SshConnection::Authenticate(const ConnectOptions& options, const Callbacks& callbacks)
{
    ssh_session s = d_->session;
    int rc = ssh_userauth_none(s, nullptr);
    if (rc == SSH_AUTH_SUCCESS) {
        Note(callbacks, "Logged in without authentication");
        return;
    }
    if (rc == SSH_AUTH_ERROR)
        Fail(remote::err::kSshFailed, "The login failed");
    std::vector<std::string> tried;
    std::string keyProblem;

    auto methods = [&] { return ssh_userauth_list(s, nullptr); };
    auto done = [&](int result, const std::string& how) {
        if (result == SSH_AUTH_ERROR) {
            // A way that broke on our side (an agent that went away, a key
            // type this build cannot sign with) leaves the others to try.
            if (cancelled_ || !ssh_is_connected(s))
                Fail(remote::err::kSshFailed, "The login failed");
            Note(callbacks, "Could not use " + how);
            return false;
        }
        if (result == SSH_AUTH_SUCCESS) {
            Note(callbacks, "Authenticated with " + how);
            return true;
        }
        if (result == SSH_AUTH_PARTIAL)
            Note(callbacks, "Accepted " + how + "; the server asks for more");
        return false;
    };

    // Keys: the agent, the key named for the site, the default files.
    if (methods() & SSH_AUTH_METHOD_PUBLICKEY) {
        const char* agent = std::getenv("SSH_AUTH_SOCK");
        if (options.useAgent && agent && *agent) {
            tried.push_back("the SSH agent");
            if (done(ssh_userauth_agent(s, nullptr), "a key from the SSH agent"))
                return;
        }
        std::vector<std::string> files;
        if (!options.identityFile.empty()) {
            if (!FileExists(options.identityFile))
                throw InternetError(remote::err::kKeyUnusable, "Cannot read the key file " + options.identityFile);
            files.push_back(options.identityFile);
        }
        if (options.useDefaultKeys)
            for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"})
                if (FileExists(SshFolder() + "/" + name))
                    files.push_back(SshFolder() + "/" + name);
        for (const std::string& file : files) {
            if (!(methods() & SSH_AUTH_METHOD_PUBLICKEY))
                break;
            // The public half first, where it lies beside the key: a key the
            // server would not take never costs a passphrase question.
            ssh_key pubRaw = nullptr;
            if (FileExists(file + ".pub") && ssh_pki_import_pubkey_file((file + ".pub").c_str(), &pubRaw) == SSH_OK) {
                Key pub(pubRaw);
                const int offer = ssh_userauth_try_publickey(s, nullptr, pub.get());
                if (offer == SSH_AUTH_ERROR && (cancelled_ || !ssh_is_connected(s)))
                    Fail(remote::err::kSshFailed, "The login failed");
                if (offer != SSH_AUTH_SUCCESS) {
                    tried.push_back("the key " + file);
                    continue;
                }
            }
            PassphraseAsk ask;
            ask.callbacks = &callbacks;
            ask.file = file;
            ssh_key privRaw = nullptr;
            const int imported = ssh_pki_import_privkey_file(file.c_str(), nullptr, AskPassphrase, &ask, &privRaw);
            if (imported != SSH_OK || !privRaw) {
                const std::string why = ask.refused ? "no passphrase was given"
                                        : ask.asked ? "the passphrase is wrong, or the file is not a key"
                                                    : "it is not a private key libssh can read";
                if (file == options.identityFile && !ask.refused && !ask.asked)
                    throw InternetError(remote::err::kKeyUnusable, "Cannot use the key file " + file + ": " + why);
                keyProblem = "the key " + file + " was not used: " + why;
                Note(callbacks, "The key " + file + " was not used: " + why);
                continue;
            }
            Key priv(privRaw);
            tried.push_back("the key " + file);
            if (done(ssh_userauth_publickey(s, nullptr, priv.get()), "the key " + file))
                return;
        }
    }
    std::string password = options.password;
    struct WipeOnExit {
        std::string& s;
        ~WipeOnExit() { Wipe(s); }
    } wipe{password};
    if ((methods() & SSH_AUTH_METHOD_PASSWORD) && !password.empty()) {
        tried.push_back("the password");
        if (done(ssh_userauth_password(s, nullptr, password.c_str()), "the password"))
            return;
    }
    if ((methods() & SSH_AUTH_METHOD_INTERACTIVE) && !password.empty()) {
        tried.push_back("keyboard-interactive");
        rc = ssh_userauth_kbdint(s, nullptr, nullptr);
        for (int round = 0; rc == SSH_AUTH_INFO && round < kMaxInteractiveRounds; ++round) {
            const int prompts = ssh_userauth_kbdint_getnprompts(s);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                ssh_userauth_kbdint_getprompt(s, static_cast<unsigned>(i), &echo);
                // Only hidden prompts get the password: a visible one is not asking for it.
                if (ssh_userauth_kbdint_setanswer(s, static_cast<unsigned>(i), echo ? "" : password.c_str()) < 0)
                    Fail(remote::err::kSshFailed, "The login failed");
            }
            rc = ssh_userauth_kbdint(s, nullptr, nullptr);
        }
        if (done(rc, "keyboard-interactive"))
            return;
    }
    if (cancelled_)
        throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
    d_->broken = true;
    std::string list;
    for (const std::string& t : tried)
        list += (list.empty() ? "" : ", ") + t;
    throw InternetError(remote::err::kAuthenticationRefused,
                        "The server refused the login of \"" + options.user + "\"" +
                            (list.empty() ? "; nothing it accepts was available to try" : " (tried " + list + ")") +
                            (keyProblem.empty() ? "" : "; " + keyProblem));
}

std::size_t SshConnection::ReadSome(void* data, std::size_t size)
{
    if (cancelled_)
        throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
    const int timeout = receiveTimeoutMs_ ? static_cast<int>(std::min<std::uint32_t>(receiveTimeoutMs_, INT_MAX)) : -1;
    const int n = ssh_channel_read_timeout(d_->channel, data,
                                           static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30)), 0,
                                           timeout);
    if (n > 0)
        return static_cast<std::size_t>(n);
    if (cancelled_) {
        d_->broken = true;
        throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
    }
    if (n == 0 && (ssh_channel_is_eof(d_->channel) || ssh_channel_is_closed(d_->channel))) {
        d_->broken = true;
        throw InternetError(remote::err::kChannelClosed, "The server closed the SFTP channel");
    }
    if (n == 0 || n == SSH_AGAIN) {
        d_->broken = true;
        throw InternetError(ierr::kTimeout, "The server did not answer within the time-out");
    }
    // A read that fails while the connection stands (libssh may word a channel
    // the server closed as an error, before it has marked it closed) is the
    // channel's end; a connection that went is 12030 (Fail).
    Fail(remote::err::kChannelClosed, "Reading from the SFTP channel failed");
}

bool SshConnection::WaitReadable(int timeoutMs)
{
    if (cancelled_)
        return true;
    // Bytes, end of file or an error: ReadSome() then returns or throws at once.
    return ssh_channel_poll_timeout(d_->channel, timeoutMs, 0) != 0;
}

void SshConnection::WriteAll(const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (cancelled_)
            throw InternetError(ierr::kOperationCancelled, "The operation was cancelled");
        if (ssh_channel_is_closed(d_->channel) || ssh_channel_is_eof(d_->channel)) {
            d_->broken = true;
            throw InternetError(remote::err::kChannelClosed, "The server closed the SFTP channel");
        }
        const std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
        const int n = ssh_channel_write(d_->channel, p, piece);
        if (n <= 0) {
            if (!cancelled_ && d_->session && ssh_is_connected(d_->session)
                && (ssh_channel_is_closed(d_->channel) || ssh_channel_is_eof(d_->channel))) {
                d_->broken = true;
                throw InternetError(remote::err::kChannelClosed, "The server closed the SFTP channel");
            }
            Fail(remote::err::kChannelClosed, "Writing to the SFTP channel failed");
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace remote
