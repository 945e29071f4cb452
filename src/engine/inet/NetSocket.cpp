#include "engine/inet/NetSocket.h"

#include "engine/inet/InternetError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace inet::net {

Deadline Deadline::AfterMs(std::uint32_t ms)
{
    Deadline d;
    if (ms == 0 || ms == 0xFFFFFFFFu)
        return d;
    d.never_ = false;
    d.at_ = Clock::now() + std::chrono::milliseconds(ms);
    return d;
}

bool Deadline::Expired() const
{
    return !never_ && Clock::now() >= at_;
}

int Deadline::PollMs() const
{
    if (never_)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(at_ - Clock::now()).count();
    if (left <= 0)
        return 0;
    long long ms = (left + 999) / 1000;
    return ms > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(ms);
}

CancelFlag::CancelFlag()
{
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0)
        ThrowErrno(errno, "eventfd");
}

CancelFlag::~CancelFlag()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void CancelFlag::Fire() noexcept
{
    fired_.store(true, std::memory_order_release);
    std::uint64_t one = 1;
    // The counter only has to become non-zero; a full counter is just as good.
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void Cancel::ThrowIfFired() const
{
    if (Fired())
        throw InternetError(err::kOperationCancelled, {});
}

void ThrowErrno(int error, const char* what)
{
    std::uint32_t number = err::kInternalError;
    switch (error) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EADDRNOTAVAIL:
        number = err::kCannotConnect;
        break;
    case ETIMEDOUT:
        number = err::kTimeout;
        break;
    case ECONNRESET:
        number = err::kConnectionReset;
        break;
    case EPIPE:
    case ECONNABORTED:
        number = err::kConnectionAborted;
        break;
    default:
        break;
    }
    std::string message = ErrorText(number);
    message += " (";
    message += what;
    message += ": ";
    message += std::strerror(error);
    message += ")";
    throw InternetError(number, std::move(message));
}

namespace {

// Polls the given descriptors together with the cancel descriptors until one
// of the given ones is ready; throws on cancel or when the deadline passes.
void PollUntilReady(pollfd* fds, nfds_t count, const Deadline& deadline, const Cancel& cancel)
{
    pollfd all[4];
    for (;;) {
        cancel.ThrowIfFired();
        nfds_t n = 0;
        for (nfds_t i = 0; i < count; ++i)
            all[n++] = {fds[i].fd, fds[i].events, 0};
        if (cancel.session)
            all[n++] = {cancel.session->fd(), POLLIN, 0};
        if (cancel.connection)
            all[n++] = {cancel.connection->fd(), POLLIN, 0};
        const bool hasIdle = cancel.idle && *cancel.idle && cancel.idleMs > 0;
        int timeout = deadline.PollMs();
        if (hasIdle)
            timeout = timeout < 0 ? int(cancel.idleMs) : std::min(timeout, int(cancel.idleMs));
        int rc = ::poll(all, n, timeout);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno, "poll");
        }
        if (rc == 0 && hasIdle && !deadline.Expired()) {
            (*cancel.idle)();
            continue;
        }
        cancel.ThrowIfFired();
        bool ready = false;
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = all[i].revents;
            ready = ready || all[i].revents != 0;
        }
        if (ready)
            return;
        if (deadline.Expired())
            throw InternetError(err::kTimeout, {});
    }
}

} // namespace

short WaitFd(int fd, short events, const Deadline& deadline, const Cancel& cancel)
{
    pollfd fds[1] = {{fd, events, 0}};
    PollUntilReady(fds, 1, deadline, cancel);
    return fds[0].revents;
}

bool WaitFdOrInput(int fd, short events, int other, const Deadline& deadline, const Cancel& cancel)
{
    pollfd fds[2] = {{fd, events, 0}, {other, POLLIN, 0}};
    PollUntilReady(fds, 2, deadline, cancel);
    return fds[1].revents != 0;
}

int Address::port() const
{
    if (family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

void Address::setPort(int port)
{
    if (family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(static_cast<std::uint16_t>(port));
    else if (family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(static_cast<std::uint16_t>(port));
}

std::string Address::HostString() const
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, buf, sizeof buf);
    else if (family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, buf, sizeof buf);
    return buf;
}

std::string Address::ToString() const
{
    if (family() == AF_INET6)
        return "[" + HostString() + "]:" + std::to_string(port());
    return HostString() + ":" + std::to_string(port());
}

namespace {

// IPv4 address of an AF_INET or IPv4-mapped AF_INET6 address.
bool AsV4(const Address& a, in_addr& out)
{
    if (a.family() == AF_INET) {
        out = reinterpret_cast<const sockaddr_in*>(&a.storage)->sin_addr;
        return true;
    }
    if (a.family() == AF_INET6) {
        const auto* s6 = reinterpret_cast<const sockaddr_in6*>(&a.storage);
        if (IN6_IS_ADDR_V4MAPPED(&s6->sin6_addr)) {
            std::memcpy(&out, &s6->sin6_addr.s6_addr[12], 4);
            return true;
        }
    }
    return false;
}

Address FromAddrinfo(const addrinfo* ai)
{
    Address a;
    std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
    a.length = ai->ai_addrlen;
    return a;
}

struct ResolveJob {
    std::string host;
    std::string service;
    int efd = -1;
    int rc = 0;
    addrinfo* result = nullptr;
    std::atomic<bool> done{false};
    ~ResolveJob()
    {
        if (result)
            ::freeaddrinfo(result);
        if (efd >= 0)
            ::close(efd);
    }
};

}  // namespace

bool Address::SameHost(const Address& other) const
{
    in_addr a4{}, b4{};
    bool a = AsV4(*this, a4), b = AsV4(other, b4);
    if (a || b)
        return a && b && a4.s_addr == b4.s_addr;
    if (family() == AF_INET6 && other.family() == AF_INET6) {
        const auto* x = reinterpret_cast<const sockaddr_in6*>(&storage);
        const auto* y = reinterpret_cast<const sockaddr_in6*>(&other.storage);
        return std::memcmp(&x->sin6_addr, &y->sin6_addr, sizeof x->sin6_addr) == 0;
    }
    return false;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        Reset();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void Socket::Reset()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::size_t Socket::RecvSome(char* data, std::size_t size, std::uint32_t timeoutMs, const Cancel& cancel)
{
    return RecvSome(data, size, Deadline::AfterMs(timeoutMs), cancel);
}

std::size_t Socket::RecvSome(char* data, std::size_t size, const Deadline& deadline, const Cancel& cancel)
{
    if (size == 0)
        return 0;
    for (;;) {
        cancel.ThrowIfFired();
        ssize_t n = ::recv(fd_, data, size, 0);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowErrno(errno, "recv");
        WaitFd(fd_, POLLIN, deadline, cancel);
    }
}

void Socket::SendAll(const char* data, std::size_t size, std::uint32_t timeoutMs, const Cancel& cancel)
{
    while (size > 0) {
        cancel.ThrowIfFired();
        ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowErrno(errno, "send");
        WaitFd(fd_, POLLOUT, Deadline::AfterMs(timeoutMs), cancel);
    }
}

void Socket::ShutdownWrite()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void Socket::SetNoDelay(bool on)
{
    int value = on ? 1 : 0;
    if (fd_ >= 0)
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

Address Socket::Local() const
{
    Address a;
    a.length = sizeof a.storage;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a.storage), &a.length) != 0)
        ThrowErrno(errno, "getsockname");
    return a;
}

bool Pipe::Open()
{
    Reset();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    read_ = fds[0];
    write_ = fds[1];
    // A megabyte is what an unprivileged process may ask for by default; a
    // refusal leaves the default, which works, only with more calls.
    constexpr int kWanted = 1 << 20;
    int size = ::fcntl(write_, F_SETPIPE_SZ, kWanted);
    if (size < 0)
        size = ::fcntl(write_, F_GETPIPE_SZ);
    capacity_ = size > 0 ? static_cast<std::size_t>(size) : 65536;
    return true;
}

void Pipe::Reset()
{
    if (read_ >= 0)
        ::close(read_);
    if (write_ >= 0)
        ::close(write_);
    read_ = write_ = -1;
    capacity_ = 0;
}

Address Socket::Peer() const
{
    Address a;
    a.length = sizeof a.storage;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&a.storage), &a.length) != 0)
        ThrowErrno(errno, "getpeername");
    return a;
}

bool ParseNumericHost(const std::string& host, int port, Address& out)
{
    std::string h = host;
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* res = nullptr;
    std::string service = std::to_string(port);
    if (::getaddrinfo(h.c_str(), service.c_str(), &hints, &res) != 0 || !res)
        return false;
    out = FromAddrinfo(res);
    ::freeaddrinfo(res);
    return true;
}

std::vector<Address> Resolve(const std::string& host, int port, std::uint32_t timeoutMs, const Cancel& cancel)
{
    cancel.ThrowIfFired();
    Address numeric;
    if (ParseNumericHost(host, port, numeric))
        return {numeric};
    if (host.empty() || host.find('\0') != std::string::npos)
        throw InternetError(err::kInvalidUrl, "The server name is empty or not valid");

    auto job = std::make_shared<ResolveJob>();
    job->host = host;
    job->service = std::to_string(port);
    job->efd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (job->efd < 0)
        ThrowErrno(errno, "eventfd");
    try {
        std::thread([job] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
            job->rc = ::getaddrinfo(job->host.c_str(), job->service.c_str(), &hints, &job->result);
            job->done.store(true, std::memory_order_release);
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(job->efd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        throw InternetError(err::kInternalError, "Cannot start the name resolver thread");
    }

    Deadline deadline = Deadline::AfterMs(timeoutMs);
    while (!job->done.load(std::memory_order_acquire))
        WaitFd(job->efd, POLLIN, deadline, cancel);

    if (job->rc != 0 || !job->result) {
        std::string message = "The server name could not be resolved (" + host + ": ";
        message += job->rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(job->rc);
        message += ")";
        throw InternetError(err::kNameNotResolved, std::move(message));
    }
    std::vector<Address> out;
    for (const addrinfo* ai = job->result; ai; ai = ai->ai_next) {
        if ((ai->ai_family == AF_INET || ai->ai_family == AF_INET6) && ai->ai_addrlen <= sizeof(sockaddr_storage))
            out.push_back(FromAddrinfo(ai));
    }
    if (out.empty())
        throw InternetError(err::kNameNotResolved, "The server name has no usable address (" + host + ")");
    return out;
}

namespace {

void TuneTcp(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // The control connection sits idle through long transfers; keepalives stop
    // middleboxes from forgetting it.
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    int idle = 60;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &idle, sizeof idle);
}

}  // namespace

Socket ConnectTcp(const std::vector<Address>& addresses, std::uint32_t timeoutMs, const Cancel& cancel,
                  Address* connectedTo)
{
    Deadline deadline = Deadline::AfterMs(timeoutMs);
    int lastError = ECONNREFUSED;
    for (const Address& a : addresses) {
        cancel.ThrowIfFired();
        Socket s(::socket(a.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
        if (!s.valid())
            ThrowErrno(errno, "socket");
        TuneTcp(s.fd());
        int rc;
        do {
            rc = ::connect(s.fd(), a.sa(), a.length);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0 && errno != EINPROGRESS) {
            lastError = errno;
            continue;
        }
        if (rc < 0) {
            WaitFd(s.fd(), POLLOUT, deadline, cancel);
            int soError = 0;
            socklen_t len = sizeof soError;
            if (::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
                soError = errno;
            if (soError != 0) {
                lastError = soError;
                continue;
            }
        }
        if (connectedTo)
            *connectedTo = a;
        return s;
    }
    std::string what = addresses.empty() ? std::string("connect") : "connect to " + addresses.back().ToString();
    ThrowErrno(lastError, what.c_str());
}

Socket ListenTcp(const Address& local)
{
    Socket s(::socket(local.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!s.valid())
        ThrowErrno(errno, "socket");
    if (::bind(s.fd(), local.sa(), local.length) != 0)
        ThrowErrno(errno, "bind");
    if (::listen(s.fd(), 4) != 0)
        ThrowErrno(errno, "listen");
    return s;
}

Socket AcceptFrom(const Socket& listener, const Address& expectedPeer, std::uint32_t timeoutMs,
                  const Cancel& cancel)
{
    Deadline deadline = Deadline::AfterMs(timeoutMs);
    for (;;) {
        cancel.ThrowIfFired();
        Address peer;
        peer.length = sizeof peer.storage;
        int fd = ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&peer.storage), &peer.length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            Socket s(fd);
            if (peer.SameHost(expectedPeer)) {
                TuneTcp(fd);
                return s;
            }
            continue;  // someone else connected to our port: drop it, keep waiting
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowErrno(errno, "accept");
        WaitFd(listener.fd(), POLLIN, deadline, cancel);
    }
}

}  // namespace inet::net
