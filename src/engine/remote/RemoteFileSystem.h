#pragma once

// One interface for the remote side, whatever the protocol: the session and
// the transfer workers talk to an IFileSystem; FtpFileSystem (over the FTP
// library in engine/inet) and SftpFileSystem (over SSH) implement it.
// No Qt here, as in the FTP library.
//
// Threads. An IFileSystem and its streams are used by one thread at a time.
// Cancel() may be called from any thread, at any time: a call blocked in the
// network returns promptly (within a second) with 12017, and every later call
// fails with 12017 too; the connection is gone then, and a new IFileSystem (or
// Connect() again on this one) is the way on. Close() is the polite end (QUIT,
// SSH disconnect) on the owning thread. Callbacks run on the thread that made
// the call they belong to, and must not call back into the same object.
//
// Errors. Every failure throws inet::InternetError; number() is one of
// inet::err or remote::err (RemoteError.h):
//   87     a bad argument (a path holding CR, LF or NUL for FTP, NUL for SFTP)
//   12002  no answer within the time-out
//   12003  the server refused; serverReply() holds its words (the FTP reply,
//          or the SFTP status and its message: "SFTP status 2: No such file")
//   12007  the name did not resolve; 12029 cannot connect
//   12013/12014/12015  FTP login refused; 12242 no SSH authentication worked
//   12016  not possible with this protocol or in this state (see features())
//   12017  cancelled (Cancel() from another thread) or closed
//   12030/12031  the connection dropped; 12111 a download ended before the
//          file did (FTP: the data connection; SFTP: fewer bytes than the
//          file held when opened); 12243 the SFTP channel closed mid-request
//   12045/12157  FTP over TLS: certificate refused / handshake failed
//   12110  a stream is still open on this file system
//   12152  the server's reply is not valid for the protocol
//   12240  SSH host key unknown and not accepted; 12241 host key changed
//   12244  the SSH handshake failed; 12245 a key file cannot be used
// Failures of local descriptors handed to ReadInto/WriteFrom throw
// std::system_error with their errno.
// No message, trace line or error text ever holds a password or passphrase.

#include "engine/inet/FtpConnection.h"  // TransferType
#include "engine/inet/FtpProtocol.h"
#include "engine/inet/InternetError.h"
#include "engine/inet/InternetSession.h"
#include "engine/inet/ListingParser.h"
#include "engine/remote/RemoteError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

enum class Protocol { Ftp, Sftp };

// "ftp", "sftp"; the default port of each (21, 22).
const char* ProtocolName(Protocol protocol);
int DefaultPort(Protocol protocol);

// One item of a folder listing.
struct Entry {
    std::string name;               // bytes as the server sent them; never ".", "..", nor unsafe
    std::uint64_t size = 0;
    std::int64_t modified = -1;     // Unix seconds UTC; -1 when unknown
    // FTP's LIST gives the server's clock without its zone, to the minute
    // or the day; MLSD and SFTP give exact UTC.
    inet::TimePrecision timePrecision = inet::TimePrecision::Exact;
    bool isFolder = false;
    bool isLink = false;            // a symbolic link (SFTP: isFolder tells what it points to, when known)
    std::string linkTarget;         // when the server told
    std::string permissions;        // "rwxr-xr-x" (FTP: what LIST/MLSD gave, may be the MLSD perm fact)
    std::optional<std::uint32_t> mode;  // the permission bits (07777), when known
    std::string owner, group;       // names (or numbers) where the protocol gives them
};

// What one protocol can do, so that commands for the other one's features can
// be disabled without testing the protocol by name.
struct Features {
    bool rawCommands = false;          // RawCommand()
    bool asciiTransfers = false;       // TransferType::Ascii
    bool setModificationTime = false;  // SetModificationTime()
    bool fileTimes = false;            // GetModificationTime() (FTP: MDTM offered)
    bool setPermissions = false;       // SetPermissions()
    bool ownerAndGroup = false;        // Entry::owner/group always filled (FTP: only where LIST has them)
    bool encrypted = false;            // everything on the wire is encrypted now
    // List(path) lists exactly that folder (SFTP, FTP with MLSD); otherwise
    // (FTP's LIST) a path may be read as a pattern: enter it and list "".
    bool listsNamedFolder = false;
};

enum class HostKeyAnswer {
    Cancel,       // do not connect (12240)
    ConnectOnce,  // connect this time, remember nothing
    AlwaysTrust,  // connect and append the key to the known_hosts file
};

// An SSH host key the known_hosts file does not vouch for.
struct HostKeyInfo {
    std::string host;
    int port = 22;
    std::string keyType;        // "ssh-ed25519", "ecdsa-sha2-nistp256", "rsa-sha2-512"...
    std::string fingerprint;    // as OpenSSH shows it: "SHA256:" and base64 without '='
    bool changed = false;       // known_hosts holds another key for this server: the
                                // connection is refused whatever the answer; show a warning
    bool otherTypesKnown = false;  // known_hosts holds keys of other types for this server
    std::string knownHostsFile;
};

// How to reach and log in to a server.
struct ConnectOptions {
    Protocol protocol = Protocol::Ftp;
    std::string host;           // name, IPv4, IPv6 (with or without [])
    int port = 0;               // 0: the protocol's default
    std::string user;           // FTP: empty logs in as anonymous
    std::string password;       // also the answer to keyboard-interactive prompts

    // FTP only.
    bool passive = true;
    inet::Encryption encryption = inet::Encryption::None;

    // SFTP only. Authentication tries, in this order and as the server allows:
    // the SSH agent (SSH_AUTH_SOCK), the key file below, ~/.ssh/id_ed25519,
    // id_ecdsa, id_rsa (when useDefaultKeys), then the password, then
    // keyboard-interactive answered with the password.
    std::string identityFile;   // a private key named for this site (empty: none)
    bool useAgent = true;
    bool useDefaultKeys = true;
    std::string knownHostsFile; // empty: ~/.ssh/known_hosts
    // Accept an unknown host key without asking (a changed one stays refused).
    bool acceptUnknownHostKey = false;

    // Milliseconds; 0 means no time-out. SSH has one time-out for waiting on
    // the server either way: the receive one.
    std::uint32_t connectTimeoutMs = inet::InternetSession::kDefaultConnectTimeoutMs;
    std::uint32_t sendTimeoutMs = inet::InternetSession::kDefaultSendTimeoutMs;
    std::uint32_t receiveTimeoutMs = inet::InternetSession::kDefaultReceiveTimeoutMs;
};

// Called on the connecting thread. Must not throw (an exception counts as Cancel).
using HostKeyCallback = std::function<HostKeyAnswer(const HostKeyInfo& key)>;
// The passphrase of a key file, asked at most once per key file and
// connection; nullopt skips the key.
using PassphraseCallback = std::function<std::optional<std::string>(const std::string& keyFile)>;
// The conversation: FTP commands and replies as the FTP library reports them
// (inet::ConversationCallback); for SFTP, Talk::Note lines for the steps
// (connected, the server's version, host key type and fingerprint, the
// authentication method that worked, the SFTP version). Never a password.
using TraceCallback = inet::ConversationCallback;

struct Callbacks {
    HostKeyCallback hostKey;
    PassphraseCallback passphrase;
    TraceCallback trace;
};

// A folder listing's items, and the names refused on the way:
// LineKind::UnsafeName for a name that cannot be one path component (empty,
// holding '/', '\\', NUL or a control character: inet::IsSafeEntryName; a
// second "." or ".." in one listing), with the raw name or line;
// LineKind::Ignored for the folder's own "." and ".." (noise: nothing to show);
// LineKind::Unrecognised for what could not be read at all. Exceptions from
// the callbacks abort the listing and propagate.
using EntryCallback = std::function<void(Entry&& entry)>;
using ProblemCallback = std::function<void(inet::LineKind kind, std::string_view text)>;

enum class WriteMode {
    Replace,  // truncate (or create) and write from the start
    Restart,  // keep the file, write from `offset` on (resume an upload)
    Append,   // keep the file, write from its current end on
};

// The data of one file, opened by IFileSystem::OpenRead or OpenWrite. While a
// stream is open, its file system refuses other calls with 12110.
class IFileStream {
public:
    virtual ~IFileStream() = default;  // an unfinished read is abandoned; errors are dropped

    // Up to `size` bytes; 0 once the whole file has come and the server
    // confirmed it. A connection or channel that ends early throws (12111,
    // 12030, 12243): a short file is never a success.
    virtual std::size_t Read(void* data, std::size_t size) = 0;
    virtual void Write(const void* data, std::size_t size) = 0;

    // Read and Write against a local descriptor at its current position: up to
    // `size` bytes of the download written to `fd` (0 at the end, as Read), or
    // up to `size` bytes read from `fd` and sent (0 at the end of `fd`). FTP
    // moves the bytes inside the kernel where it can; SFTP through one buffer.
    virtual std::size_t ReadInto(int fd, std::size_t size) = 0;
    virtual std::size_t WriteFrom(int fd, std::size_t size) = 0;

    // Uploads: sends what is pending and waits until the server confirmed
    // every byte (throws when it did not). Downloads: abandons an unfinished
    // read and leaves the file system usable. Idempotent.
    virtual void Close() = 0;

    virtual bool isUpload() const = 0;
    virtual std::uint64_t bytesTransferred() const = 0;
    // The size of the remote file as the server announced it at opening
    // (downloads), when it did.
    virtual std::optional<std::uint64_t> size() const = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;  // Close(), errors dropped

    virtual Protocol protocol() const = 0;
    virtual Features features() const = 0;

    // Connects and logs in; the folder the login lands in becomes the home
    // and current folder. Connecting again drops the old connection first.
    virtual void Connect(const ConnectOptions& options, const Callbacks& callbacks = {}) = 0;
    virtual bool IsConnected() const = 0;

    // Absolute paths as the server names them.
    virtual std::string GetHomeDirectory() = 0;
    virtual std::string GetCurrentDirectory() = 0;
    virtual void SetCurrentDirectory(const std::string& path) = 0;

    // Relative paths below are taken from the current folder. Lists `path`
    // (empty: the current folder); see EntryCallback.
    virtual void List(const std::string& path, const EntryCallback& onEntry,
                      const ProblemCallback& onProblem = {}) = 0;

    virtual void CreateDirectory(const std::string& path) = 0;
    virtual void RemoveFile(const std::string& path) = 0;
    virtual void RemoveDirectory(const std::string& path) = 0;  // an empty folder
    virtual void Rename(const std::string& from, const std::string& to) = 0;

    // What lies at `path` now: size (files), time (-1 when not told), whether
    // a folder; the name is the last part of `path`. nullopt when the server
    // says nothing is there (FTP without MLST: when it tells no size).
    virtual std::optional<Entry> Stat(const std::string& path) = 0;
    virtual std::uint64_t GetFileSize(const std::string& path) = 0;
    virtual std::int64_t GetModificationTime(const std::string& path) = 0;  // Unix seconds UTC
    // 12016 where features() says no.
    virtual void SetModificationTime(const std::string& path, std::int64_t unixSeconds) = 0;
    virtual void SetPermissions(const std::string& path, std::uint32_t mode) = 0;

    // A download from `offset` on. TransferType::Ascii only where
    // features().asciiTransfers (else 12016).
    virtual std::unique_ptr<IFileStream> OpenRead(const std::string& path, std::uint64_t offset = 0,
                                                  inet::TransferType type = inet::TransferType::Binary) = 0;
    // An upload; `offset` counts for WriteMode::Restart only.
    virtual std::unique_ptr<IFileStream> OpenWrite(const std::string& path, WriteMode mode = WriteMode::Replace,
                                                   std::uint64_t offset = 0,
                                                   inet::TransferType type = inet::TransferType::Binary) = 0;

    // Something small the server answers, so that an idle connection stays
    // up (FTP NOOP, an SFTP request for the current folder).
    virtual void KeepAlive() = 0;

    // Runs `handler` on the calling thread every `intervalMs` while a call
    // waits for the server (FTP: for the data of a download or a listing;
    // SFTP: for any reply), so a GUI thread can keep its window alive. The
    // handler may throw to give up: the call ends with its exception, a
    // stream it happened in is over, and the file system stays usable (FTP
    // aborts the transfer; SFTP drops the replies when they come). It stays
    // set across Connect(); an empty handler switches it off.
    virtual void SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs) = 0;

    // A raw command and the server's final reply (features().rawCommands);
    // 12016 otherwise.
    virtual inet::FtpReply RawCommand(const std::string& line) = 0;

    // Owning thread: ends the connection politely. Idempotent.
    virtual void Close() = 0;
    // Any thread: see the top of this header.
    virtual void Cancel() = 0;
};

// A file system for the protocol, not connected yet.
std::unique_ptr<IFileSystem> CreateFileSystem(Protocol protocol);

}  // namespace remote
