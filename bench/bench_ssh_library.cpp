// The two SSH libraries Debian offers (libssh and libssh2) carrying the same
// pipelined SFTP transfer (remote::sftp::Client), one file down or up, so the
// library under the SFTP code is chosen by measurement:
//   bench_ssh_library --lib libssh|libssh2 --port N --user U --password P
//                     [--in-flight N] [--ciphers LIST] get REMOTE LOCAL | put LOCAL REMOTE
// Prints "seconds MiB/s cipher" on stdout. bench/sftp_library_bench.sh runs it.

#include "engine/remote/SftpClient.h"

#include <libssh/libssh.h>
#include <libssh2.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what);
}

class LibsshChannel final : public remote::sftp::Channel {
public:
    LibsshChannel(int port, const std::string& user, const std::string& password, const std::string& ciphers)
    {
        ssh_init();
        s_ = ssh_new();
        const bool no = false;
        ssh_options_set(s_, SSH_OPTIONS_HOST, "127.0.0.1");
        ssh_options_set(s_, SSH_OPTIONS_PORT, &port);
        ssh_options_set(s_, SSH_OPTIONS_USER, user.c_str());
        ssh_options_set(s_, SSH_OPTIONS_PROCESS_CONFIG, &no);
        const int yes = 1;
        ssh_options_set(s_, SSH_OPTIONS_NODELAY, &yes);
        // By default what SshConnection asks for: AES-GCM first.
        const std::string list = ciphers.empty() ? "aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
                                                   "chacha20-poly1305@openssh.com,aes128-ctr"
                                                 : ciphers;
        ssh_options_set(s_, SSH_OPTIONS_CIPHERS_C_S, list.c_str());
        ssh_options_set(s_, SSH_OPTIONS_CIPHERS_S_C, list.c_str());
        if (ssh_connect(s_) != SSH_OK)
            Fail(std::string("connect: ") + ssh_get_error(s_));
        if (ssh_userauth_password(s_, nullptr, password.c_str()) != SSH_AUTH_SUCCESS)
            Fail(std::string("auth: ") + ssh_get_error(s_));
        c_ = ssh_channel_new(s_);
        if (ssh_channel_open_session(c_) != SSH_OK || ssh_channel_request_subsystem(c_, "sftp") != SSH_OK)
            Fail(std::string("channel: ") + ssh_get_error(s_));
        cipher_ = ssh_get_cipher_out(s_);
    }
    ~LibsshChannel() override
    {
        ssh_channel_close(c_);
        ssh_channel_free(c_);
        ssh_disconnect(s_);
        ssh_free(s_);
    }
    std::size_t ReadSome(void* data, std::size_t size) override
    {
        int n = ssh_channel_read(c_, data, static_cast<std::uint32_t>(size), 0);
        if (n > 0)
            return static_cast<std::size_t>(n);
        Fail(n == 0 ? "channel closed" : std::string("read: ") + ssh_get_error(s_));
    }
    void WriteAll(const void* data, std::size_t size) override
    {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            int n = ssh_channel_write(c_, p, static_cast<std::uint32_t>(size));
            if (n <= 0)
                Fail(std::string("write: ") + ssh_get_error(s_));
            p += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    bool WaitReadable(int timeoutMs) override { return ssh_channel_poll_timeout(c_, timeoutMs, 0) != 0; }
    std::string cipher_;

private:
    ssh_session s_ = nullptr;
    ssh_channel c_ = nullptr;
};

class Libssh2Channel final : public remote::sftp::Channel {
public:
    Libssh2Channel(int port, const std::string& user, const std::string& password, const std::string& ciphers)
    {
        libssh2_init(0);
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            Fail("tcp connect");
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        s_ = libssh2_session_init();
        if (!ciphers.empty()) {
            libssh2_session_method_pref(s_, LIBSSH2_METHOD_CRYPT_CS, ciphers.c_str());
            libssh2_session_method_pref(s_, LIBSSH2_METHOD_CRYPT_SC, ciphers.c_str());
        }
        if (libssh2_session_handshake(s_, fd_) != 0)
            Fail("handshake");
        if (libssh2_userauth_password(s_, user.c_str(), password.c_str()) != 0)
            Fail("auth");
        c_ = libssh2_channel_open_ex(s_, "session", 7, 16 * 1024 * 1024, 32768, nullptr, 0);
        if (!c_ || libssh2_channel_subsystem(c_, "sftp") != 0)
            Fail("channel");
        if (const char* m = libssh2_session_methods(s_, LIBSSH2_METHOD_CRYPT_CS))
            cipher_ = m;
    }
    ~Libssh2Channel() override
    {
        libssh2_channel_free(c_);
        libssh2_session_disconnect(s_, "bye");
        libssh2_session_free(s_);
        ::close(fd_);
    }
    std::size_t ReadSome(void* data, std::size_t size) override
    {
        ssize_t n = libssh2_channel_read(c_, static_cast<char*>(data), size);
        if (n > 0)
            return static_cast<std::size_t>(n);
        Fail(n == 0 ? "channel closed" : "read error " + std::to_string(n));
    }
    void WriteAll(const void* data, std::size_t size) override
    {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = libssh2_channel_write(c_, p, size);
            if (n <= 0)
                Fail("write error " + std::to_string(n));
            p += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    bool WaitReadable(int) override { return true; }  // no idle handler here
    std::string cipher_;

private:
    int fd_ = -1;
    LIBSSH2_SESSION* s_ = nullptr;
    LIBSSH2_CHANNEL* c_ = nullptr;
};

int Run(int argc, char** argv)
{
    std::string lib = "libssh", user, password, ciphers;
    int port = 0;
    std::size_t inFlight = 16;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--lib") lib = next();
        else if (a == "--port") port = std::atoi(next().c_str());
        else if (a == "--user") user = next();
        else if (a == "--password") password = next();
        else if (a == "--in-flight") inFlight = static_cast<std::size_t>(std::atoi(next().c_str()));
        else if (a == "--ciphers") ciphers = next();
        else rest.push_back(a);
    }
    if (rest.size() != 3 || (rest[0] != "get" && rest[0] != "put"))
        Fail("usage: see the top of bench_ssh_library.cpp");

    std::unique_ptr<remote::sftp::Channel> channel;
    std::string cipher;
    if (lib == "libssh") {
        auto c = std::make_unique<LibsshChannel>(port, user, password, ciphers);
        cipher = c->cipher_;
        channel = std::move(c);
    } else {
        auto c = std::make_unique<Libssh2Channel>(port, user, password, ciphers);
        cipher = c->cipher_;
        channel = std::move(c);
    }
    remote::sftp::Client client(*channel);
    client.Init();

    const auto start = std::chrono::steady_clock::now();
    std::uint64_t bytes = 0;
    if (rest[0] == "get") {
        std::string handle = client.Open(rest[1], remote::sftp::open_flag::kRead);
        int fd = ::open(rest[2].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        remote::sftp::Client::Reader reader(client, handle, 0, inFlight);
        for (;;) {
            std::string_view v = reader.Peek();
            if (v.empty())
                break;
            if (::write(fd, v.data(), v.size()) != static_cast<ssize_t>(v.size()))
                Fail("local write");
            reader.Consume(v.size());
            bytes += v.size();
        }
        ::close(fd);
        client.CloseHandle(handle);
    } else {
        int fd = ::open(rest[1].c_str(), O_RDONLY);
        std::string handle = client.Open(rest[2], remote::sftp::open_flag::kWrite | remote::sftp::open_flag::kCreate |
                                                      remote::sftp::open_flag::kTruncate);
        remote::sftp::Client::Writer writer(client, handle, 0, inFlight);
        for (;;) {
            std::size_t room = 0;
            char* at = writer.Space(room);
            ssize_t n = ::read(fd, at, room);
            if (n < 0)
                Fail("local read");
            if (n == 0)
                break;
            writer.Commit(static_cast<std::size_t>(n));
            bytes += static_cast<std::uint64_t>(n);
        }
        writer.Finish();
        ::close(fd);
        client.CloseHandle(handle);
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %.1f %s chunk=%u/%u\n", secs, static_cast<double>(bytes) / secs / 1048576.0, cipher.c_str(),
                client.readChunk(), client.writeChunk());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ssh_library: %s\n", e.what());
        return 1;
    }
}
