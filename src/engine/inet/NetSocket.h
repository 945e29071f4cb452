#pragma once
// Internal to the library: POSIX socket plumbing in which every wait is a poll()
// bounded by a deadline and woken by a cancel flag.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace inet::net {

using Clock = std::chrono::steady_clock;

// A time-out of 0 means "no time-out": only data or a cancel ends the wait.
class Deadline {
public:
    static Deadline AfterMs(std::uint32_t ms);
    static Deadline Never() { return Deadline(); }
    bool Expired() const;
    // Milliseconds for poll(): -1 when there is no deadline, rounded up otherwise.
    int PollMs() const;

private:
    bool never_ = true;
    Clock::time_point at_{};
};

// Set once, from any thread; wakes every poll() that watches it. Never reset.
class CancelFlag {
public:
    CancelFlag();
    ~CancelFlag();
    CancelFlag(const CancelFlag&) = delete;
    CancelFlag& operator=(const CancelFlag&) = delete;

    void Fire() noexcept;
    bool Fired() const noexcept { return fired_.load(std::memory_order_acquire); }
    int fd() const noexcept { return fd_; }

private:
    int fd_ = -1;
    std::atomic<bool> fired_{false};
};

// The flags a blocking call watches: the session's and the connection's.
struct Cancel {
    const CancelFlag* session = nullptr;
    const CancelFlag* connection = nullptr;
    // Called every idleMs while the wait blocks, on the waiting thread (a GUI
    // runs its event loop there); it may throw to abandon the wait.
    const std::function<void()>* idle = nullptr;
    std::uint32_t idleMs = 0;
    bool Fired() const { return (session && session->Fired()) || (connection && connection->Fired()); }
    void ThrowIfFired() const;
};

// Waits for `events` on fd. Throws 12002 when the deadline passes, 12017 when cancelled.
// Returns the revents seen (POLLERR/POLLHUP included, for the caller's next call to report).
short WaitFd(int fd, short events, const Deadline& deadline, const Cancel& cancel);

// Waits for `events` on fd or for input on `other`; true when `other` is the one ready.
bool WaitFdOrInput(int fd, short events, int other, const Deadline& deadline, const Cancel& cancel);

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    int port() const;
    void setPort(int port);
    std::string HostString() const;   // "127.0.0.1" or "::1"
    std::string ToString() const;     // "127.0.0.1:21" or "[::1]:21"
    bool SameHost(const Address& other) const;  // IPv4-mapped IPv6 compares equal to IPv4
    const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { Reset(); }

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Reset();

    // At most `size` bytes; 0 only at an orderly end of stream. Waits at most
    // timeoutMs for data to arrive.
    std::size_t RecvSome(char* data, std::size_t size, std::uint32_t timeoutMs, const Cancel& cancel);
    std::size_t RecvSome(char* data, std::size_t size, const Deadline& deadline, const Cancel& cancel);
    // The time-out applies to each wait for buffer space, not to the whole send.
    void SendAll(const char* data, std::size_t size, std::uint32_t timeoutMs, const Cancel& cancel);
    void ShutdownWrite();
    // TCP_NODELAY: on for every connection as it is made.
    void SetNoDelay(bool on);

    Address Local() const;
    Address Peer() const;

private:
    int fd_ = -1;
};

// The kernel buffer splice() needs between a socket and a file: data moves
// through it without ever being copied to user space. Kept empty between calls.
class Pipe {
public:
    Pipe() = default;
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() { Reset(); }

    // False (errno kept) when the system will not give one. Asks for a large
    // buffer, so one splice() moves a large block; the default size otherwise.
    bool Open();
    void Reset();
    bool valid() const { return read_ >= 0; }
    int readFd() const { return read_; }
    int writeFd() const { return write_; }
    std::size_t capacity() const { return capacity_; }

private:
    int read_ = -1;
    int write_ = -1;
    std::size_t capacity_ = 0;
};

// getaddrinfo on a helper thread that owns its own result, so a cancel or the
// time-out returns on time even when the resolver itself hangs.
std::vector<Address> Resolve(const std::string& host, int port, std::uint32_t timeoutMs, const Cancel& cancel);
// Parses a numeric IPv4/IPv6 address without any resolver; false when not numeric.
bool ParseNumericHost(const std::string& host, int port, Address& out);

// Tries the addresses in order within one overall time-out.
Socket ConnectTcp(const std::vector<Address>& addresses, std::uint32_t timeoutMs, const Cancel& cancel,
                  Address* connectedTo = nullptr);
Socket ListenTcp(const Address& local);  // port taken from `local` (0 = any free port)
// Accepts only connections whose peer is `expectedPeer` (other hosts are closed
// unanswered and waiting goes on).
Socket AcceptFrom(const Socket& listener, const Address& expectedPeer, std::uint32_t timeoutMs,
                  const Cancel& cancel);

[[noreturn]] void ThrowErrno(int error, const char* what);

}  // namespace inet::net
