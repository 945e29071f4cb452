#pragma once

// The SFTP protocol (version 3, as OpenSSH and nearly every server speak it)
// over any byte pipe: packets, requests and replies, and transfers that keep
// several read or write requests in flight so that one round trip per block
// does not bound the speed. The SSH library only provides the pipe (Channel),
// so what goes over the wire, how much is in flight, and how a broken or
// hostile reply is refused are decided here, whatever the library.
//
// Used by one thread at a time, like its channel. Every failure throws
// inet::InternetError: 12003 with "SFTP status N: message" in serverReply()
// when the server refused; 12152 for a reply that is not valid SFTP (too
// long, cut short, an unexpected type or request id); what the channel
// throws (12243 closed, 12017 cancelled, 12002 time-out) passes through.

#include "engine/inet/InternetError.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace remote::sftp {

// The channel the "sftp" subsystem runs on.
class Channel {
public:
    virtual ~Channel() = default;
    // Blocks until at least one byte came; returns how many (> 0). Throws
    // when the channel ended (12243), on cancel (12017) or time-out (12002).
    virtual std::size_t ReadSome(void* data, std::size_t size) = 0;
    virtual void WriteAll(const void* data, std::size_t size) = 0;
    // True when ReadSome() would not wait (bytes came, or it would throw);
    // false when `timeoutMs` passed first.
    virtual bool WaitReadable(int timeoutMs) = 0;
    // How long ReadSome() waits for the server (0: no limit).
    virtual std::uint32_t receiveTimeoutMs() const { return 0; }
};

namespace fx {
inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kEof = 1;
inline constexpr std::uint32_t kNoSuchFile = 2;
inline constexpr std::uint32_t kPermissionDenied = 3;
inline constexpr std::uint32_t kFailure = 4;
inline constexpr std::uint32_t kOpUnsupported = 8;
}  // namespace fx

// Open flags (SSH_FXF_*).
namespace open_flag {
inline constexpr std::uint32_t kRead = 0x01;
inline constexpr std::uint32_t kWrite = 0x02;
inline constexpr std::uint32_t kAppend = 0x04;
inline constexpr std::uint32_t kCreate = 0x08;
inline constexpr std::uint32_t kTruncate = 0x10;
inline constexpr std::uint32_t kExclusive = 0x20;
}  // namespace open_flag

struct Attributes {
    static constexpr std::uint32_t kSize = 0x01;
    static constexpr std::uint32_t kUidGid = 0x02;
    static constexpr std::uint32_t kPermissions = 0x04;
    static constexpr std::uint32_t kTimes = 0x08;
    static constexpr std::uint32_t kExtended = 0x80000000u;

    std::uint32_t flags = 0;
    std::uint64_t size = 0;
    std::uint32_t uid = 0, gid = 0;
    std::uint32_t permissions = 0;  // the whole st_mode: type bits and 07777
    std::uint32_t atime = 0, mtime = 0;

    bool Has(std::uint32_t flag) const { return (flags & flag) != 0; }
    bool IsFolder() const { return Has(kPermissions) && (permissions & 0170000u) == 0040000u; }
    bool IsLink() const { return Has(kPermissions) && (permissions & 0170000u) == 0120000u; }
};

struct NameEntry {
    std::string name;      // raw bytes, NUL included if the server sent one
    std::string longname;  // "ls -l" style line (servers of version 3 send one)
    Attributes attrs;
};

class Decoder;

class Client {
public:
    // The largest packet taken from the server: far above what a server sends
    // for a read reply or a listing chunk, and a bound on memory for a hostile one.
    static constexpr std::size_t kMaxPacket = 4 * 1024 * 1024;
    static constexpr std::size_t kMaxHandle = 256;

    explicit Client(Channel& channel);

    // INIT, VERSION; asks for limits@openssh.com where offered.
    void Init();
    std::uint32_t version() const { return version_; }
    const std::map<std::string, std::string>& extensions() const { return extensions_; }
    // Request sizes agreed on: 32 KiB (what every server must take) unless
    // the server announced larger limits.
    std::uint32_t readChunk() const { return readChunk_; }
    std::uint32_t writeChunk() const { return writeChunk_; }

    // Runs `handler` every `intervalMs` while a reply is awaited. When it
    // throws, the exception ends the call and the client stays usable: the
    // replies of what was given up are dropped when they come, a reply
    // half-read is finished by the next call and dropped too. A Reader or
    // Writer that saw an exception is abandoned. An empty handler switches
    // this off.
    void SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs);

    std::string RealPath(const std::string& path);
    Attributes Stat(const std::string& path);
    Attributes LStat(const std::string& path);
    void SetStat(const std::string& path, const Attributes& attrs);
    void MakeDirectory(const std::string& path);
    void RemoveDirectory(const std::string& path);
    void Remove(const std::string& path);
    void Rename(const std::string& from, const std::string& to);
    std::string ReadLink(const std::string& path);

    std::string Open(const std::string& path, std::uint32_t flags, const Attributes& attrs = {});
    std::string OpenDirectory(const std::string& path);
    // Appends the next batch of names; false at the end of the folder.
    bool ReadDirectory(const std::string& handle, std::vector<NameEntry>& out);
    Attributes FStat(const std::string& handle);
    void CloseHandle(const std::string& handle);
    // Sends CLOSE without waiting: its reply is dropped when it comes.
    void CloseHandleLater(const std::string& handle);

    // ---- the pipelined transfers (one at a time per client)

    // Reads from `offset` on with up to `inFlight` requests of readChunk() bytes.
    class Reader {
    public:
        Reader(Client& client, std::string handle, std::uint64_t offset, std::size_t inFlight);
        ~Reader();  // abandons what is still in flight (its replies are dropped when they come)
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;

        // The next bytes of the file, in order, at least one; an empty view at
        // its end (the server said EOF for the byte that comes next). The view
        // stays valid until the next call. Consume() marks how much was used.
        std::string_view Peek();
        void Consume(std::size_t n);
        std::uint64_t position() const { return position_; }
        // Stops asking for more; replies still in flight are dropped as they come.
        void Abandon();

    private:
        struct Request {
            std::uint32_t id = 0;
            std::uint64_t offset = 0;
            std::uint32_t length = 0;
            bool done = false, eof = false;
            std::vector<char> data;  // the DATA packet, bytes from dataStart on
            std::size_t dataStart = 0, dataEnd = 0;
        };
        void Fill();
        void Receive();
        void ReceiveOrAbandon();

        Client& client_;
        std::string handle_;
        std::uint64_t position_;   // of the next byte handed out
        std::uint64_t requested_;  // end of the last range asked for
        std::size_t inFlight_;
        bool eofSeen_ = false;
        bool abandoned_ = false;
        std::deque<Request> requests_;
    };

    // Writes from `offset` on with up to `inFlight` requests of writeChunk() bytes.
    class Writer {
    public:
        Writer(Client& client, std::string handle, std::uint64_t offset, std::size_t inFlight);
        ~Writer();  // abandons: replies still in flight are dropped
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;

        void Write(const void* data, std::size_t size);
        // Room for up to `max` bytes of the next request, to be filled by the
        // caller (a read() from a file) and committed with Commit(n).
        char* Space(std::size_t& max);
        void Commit(std::size_t n);
        // Sends what is pending and waits for every confirmation.
        void Finish();
        std::uint64_t position() const { return position_; }

    private:
        void SendPending();
        void AwaitOne();

        Client& client_;
        std::string handle_;
        std::uint64_t position_;   // the next byte to be written
        std::size_t inFlight_;
        std::vector<char> packet_;  // header + data of the request being filled
        std::size_t filled_ = 0;
        std::deque<std::uint32_t> pending_;
        bool abandoned_ = false;
    };

private:
    friend class Reader;
    friend class Writer;

    struct Reply {
        std::uint8_t type = 0;
        std::uint32_t id = 0;
        std::vector<char> body;  // the whole packet after its length
        std::size_t pos = 0;     // read position in body
    };

    std::uint32_t NextId();
    void Send(std::vector<char>& packet);  // fills in the length
    std::vector<char> Start(std::uint8_t type, std::uint32_t id);
    // The next reply, whatever its id, skipping those of abandoned requests.
    void NextReply(Reply& reply);
    void Expect(std::uint32_t id, Reply& reply);
    void ExpectStatusOk(std::uint32_t id);
    // The answer of type `wanted` to request `id`, read from its body; a
    // status answer throws it, any other type is invalid.
    Decoder ExpectAnswer(std::uint32_t id, std::uint8_t wanted, const char* what);
    // Up to `size` bytes into `out`, counted in `got`.
    void ReadSomeInto(char* out, std::size_t size, std::size_t& got, bool betweenReplies);
    // Waits until the channel has bytes, calling the idle handler meanwhile.
    void WaitWithIdle(bool betweenReplies);
    [[noreturn]] void ThrowStatus(Reply& reply);
    std::string PathRequest(std::uint8_t type, const std::string& path);
    Attributes StatRequest(std::uint8_t type, const std::string& pathOrHandle);
    void SimpleRequest(std::uint8_t type, const std::string& path);

    Channel& channel_;
    std::uint32_t version_ = 0;
    std::map<std::string, std::string> extensions_;
    std::uint32_t nextId_ = 1;
    std::uint32_t readChunk_ = 32768;
    std::uint32_t writeChunk_ = 32768;
    std::unordered_set<std::uint32_t> dropped_;  // ids whose replies nobody waits for
    // Bytes that came from the channel and were not used yet.
    std::vector<char> inbox_;
    std::size_t inboxStart_ = 0, inboxEnd_ = 0;
    Reply scratch_;
    std::function<void()> idle_;
    std::uint32_t idleMs_ = 0;
    // The reply being read, kept across an idle handler's exception.
    char head_[4] = {};
    std::size_t headGot_ = 0, bodyGot_ = 0;
    std::vector<char> partial_;
    bool discardPartial_ = false;  // its call gave up: it goes to nobody
};

// Checked decoding of a reply body; 12152 when it is cut short or lies about a length.
class Decoder {
public:
    Decoder(const char* data, std::size_t size) : p_(data), end_(data + size) {}
    std::uint8_t U8();
    std::uint32_t U32();
    std::uint64_t U64();
    std::string String(std::size_t max = Client::kMaxPacket);
    Attributes Attrs();
    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

private:
    void Need(std::size_t n) const;
    const char* p_;
    const char* end_;
};

// "SFTP status 2: No such file" with the server's message made printable.
std::string StatusText(std::uint32_t code, std::string_view message);

}  // namespace remote::sftp
