#pragma once

#include "engine/inet/DirEntry.h"
#include "engine/inet/FtpProtocol.h"
#include "engine/inet/InternetError.h"
#include "engine/inet/ListingParser.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

struct ConnectionCore;

enum class TransferType { Ascii, Binary };

enum class WriteMode {
    Replace,  // STOR
    Restart,  // REST offset, then STOR: continue a partial upload at `offset`
    Append,   // APPE: continue at the end of the remote file
};

// The data of one transfer. Read streams hand out the bytes as they arrive;
// write streams send them as they are written. Nothing is buffered beyond one
// socket read. With TransferType::Ascii, CR LF on the wire is LF here.
//
// A stream belongs to one thread, like its connection; while it is open, its
// connection refuses other commands with 12110.
class FtpStream {
public:
    ~FtpStream();  // an unfinished read is aborted (ABOR); errors are dropped
    FtpStream(const FtpStream&) = delete;
    FtpStream& operator=(const FtpStream&) = delete;

    // Up to `size` bytes; 0 once the transfer has completed and the server
    // confirmed it. Throws 12111 when the data connection ends early (the server
    // replied 426/451, or fewer bytes came than it announced), 12002 on a stall.
    std::size_t Read(void* data, std::size_t size);
    void Write(const void* data, std::size_t size);

    // Read() and Write() against a file descriptor (a local file, at its
    // current position), without the bytes passing through the caller: a
    // binary download goes from the socket to `fd` inside the kernel (splice)
    // where the system allows it; the rest goes through one buffer of the
    // connection's own, made on first use.
    //
    // ReadInto: up to `size` bytes of the download written to `fd`; 0 once the
    // transfer has completed, as Read(). WriteFrom: up to `size` bytes read
    // from `fd` and sent; fewer only at the end of `fd`, 0 there. Failures of
    // the transfer throw InternetError as Read() and Write() do; a failing
    // write to or read from `fd` throws std::system_error with its errno.
    std::size_t ReadInto(int fd, std::size_t size);
    std::size_t WriteFrom(int fd, std::size_t size);

    // Write streams: ends the data and waits for the server's confirmation
    // (throws 12003/12111 when it reports a failure). Read streams: aborts an
    // unfinished transfer with ABOR and drains the replies so the connection
    // stays usable. Idempotent.
    void Close();

    bool isUpload() const;
    // Bytes on the wire so far (after ASCII conversion for uploads).
    std::uint64_t bytesTransferred() const;
    // The size the server announced in its 150 reply, when it did (downloads from offset 0 only).
    std::optional<std::uint64_t> announcedSize() const;
    // The server's final reply once the transfer has ended.
    const std::string& finalReply() const;

    struct State;  // opaque, library-internal
    explicit FtpStream(std::unique_ptr<State> state);

private:
    std::unique_ptr<State> s_;
};

// One logged-in FTP control connection, opened by InternetSession::Connect.
// Used by one thread at a time; Close() may be called from any thread.
// Paths are sent as given (UTF-8 when the server announced UTF8); a path or
// command holding CR, LF or NUL is refused with 87.
class FtpConnection {
public:
    using EntryCallback = std::function<void(DirEntry&& entry)>;
    using ProblemCallback = std::function<void(LineKind kind, std::string_view line)>;

    ~FtpConnection();  // sends QUIT when idle and healthy, then closes
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // From any thread: a blocked call returns with 12017, later calls fail with it.
    void Close();

    std::string GetCurrentDirectory();
    void SetCurrentDirectory(const std::string& path);

    // Lists `path` (empty: the current folder) with MLSD when the server
    // announced MLST, else LIST. Entries reach onEntry as their lines arrive;
    // lines refused by the parser (unsafe names, unrecognised lines) reach
    // onProblem. "." and ".." are passed on as the parser delivers them.
    // Exceptions from the callbacks abort the listing and propagate.
    void Enumerate(const std::string& path, const EntryCallback& onEntry, const ProblemCallback& onProblem = {});
    bool usesMlsd() const;

    void RemoveFile(const std::string& path);
    void Rename(const std::string& from, const std::string& to);
    void CreateDirectory(const std::string& path);
    void RemoveDirectory(const std::string& path);
    std::uint64_t GetFileSize(const std::string& path);          // SIZE (in binary type)
    std::int64_t GetModificationTime(const std::string& path);   // MDTM, Unix seconds UTC
    // Gives the file the modification time `utcSeconds`: MFMT when the
    // server's FEAT lists it, else "SITE UTIME" when FEAT offers that.
    // NotOffered: the server offers neither and nothing was sent; Refused:
    // it answered with an error (the reply in lastReplyText()).
    enum class TimeSetting { Set, NotOffered, Refused };
    TimeSetting SetModificationTime(const std::string& path, std::int64_t utcSeconds);
    // FEAT lists MFMT or "SITE UTIME": SetModificationTime sends something.
    bool CanSetModificationTime() const;

    // RETR, after "REST offset" when offset > 0 (12003 when the server refuses REST).
    std::unique_ptr<FtpStream> OpenFileForRead(const std::string& path, TransferType type,
                                               std::uint64_t offset = 0);
    // STOR, REST offset + STOR, or APPE.
    std::unique_ptr<FtpStream> OpenFileForWrite(const std::string& path, TransferType type,
                                                WriteMode mode = WriteMode::Replace, std::uint64_t offset = 0);

    // A raw command line; the final reply is returned whatever its code.
    FtpReply Command(const std::string& line);

    // Runs `handler` on the calling thread every `intervalMs` while a read of
    // transfer data (a download or a listing) waits for the server, so a GUI
    // thread can keep its window alive. The handler may throw to abandon the
    // transfer: it then ends as if its stream were closed early (ABOR), and the
    // connection stays usable. An empty handler switches this off.
    void SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs);

    // The last reply of the server: all lines joined with CR LF.
    const std::string& lastReplyText() const;
    int lastReplyCode() const;
    // FEAT answer, names upper-cased ("MLST", "UTF8", "REST", "EPRT"...).
    const FeatureMap& features() const;
    bool HasFeature(std::string_view name) const;
    const std::string& greeting() const;

    bool passive() const;
    bool throughProxy() const;
    // True once EPSV was refused and PASV is used instead.
    bool epsvFallback() const;
    // TLS on the control connection; on data connections (PROT P accepted).
    bool controlEncrypted() const;
    bool dataEncrypted() const;

private:
    bool OffersSiteUtime() const;
    friend class InternetSession;
    explicit FtpConnection(std::shared_ptr<ConnectionCore> core);
    std::shared_ptr<ConnectionCore> core_;
};

}  // namespace inet
