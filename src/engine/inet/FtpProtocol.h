#pragma once
// FTP wire-format helpers: the bounded reply reader and the parsers for the
// replies whose text carries data (PASV, EPSV, PWD, SIZE, MDTM, FEAT).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inet {

struct FtpReply {
    int code = 0;                    // 100..599
    std::vector<std::string> lines;  // without line ends; capped (see ReplyReader)
    bool truncated = false;          // lines or line tails were dropped to bound memory

    int Class() const { return code / 100; }
    bool Preliminary() const { return Class() == 1; }
    bool Positive() const { return Class() == 2; }
    bool Intermediate() const { return Class() == 3; }
    std::string Text() const;        // all lines joined with CR LF
};

// Splits the control stream into replies. Memory stays bounded whatever the
// server sends: a line keeps at most kMaxLineBytes, a reply keeps at most
// kMaxKeptLines (the first ones and the last), and a reply of more than
// kMaxReplyLines lines is refused as not FTP.
class ReplyReader {
public:
    static constexpr std::size_t kMaxLineBytes = 8192;
    static constexpr std::size_t kMaxKeptLines = 1000;
    static constexpr std::size_t kMaxReplyLines = 200000;

    // Fills the buffer, returns 0 at end of stream; may throw.
    using Source = std::function<std::size_t(char* data, std::size_t size)>;

    // Throws InternetError 12152 on a line that does not start a reply,
    // 12030 when the stream ends in the middle of (or before) a reply.
    FtpReply Read(const Source& source);

    // Bytes received but not yet consumed (a server that sent more than one reply).
    bool HasBuffered() const { return pos_ < buffer_.size(); }
    // Counts every complete line; lets the caller measure progress.
    std::uint64_t linesSeen() const { return linesSeen_; }

private:
    // One line without its end; false at end of stream before any byte of it.
    bool ReadLine(const Source& source, std::string& line, bool& cut);

    std::string buffer_;
    std::size_t pos_ = 0;
    std::uint64_t linesSeen_ = 0;
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" -> address bytes and port.
bool ParsePasvReply(std::string_view text, std::uint8_t (&address)[4], int& port);
// "229 Entering Extended Passive Mode (|||port|)" -> port.
bool ParseEpsvReply(std::string_view text, int& port);
// "257 "/a ""quoted"" name" is current" -> /a "quoted" name
std::optional<std::string> ParsePwdReply(std::string_view text);
// "213 123456" -> 123456 (64-bit, overflow refused).
std::optional<std::uint64_t> ParseSizeReply(std::string_view text);
// "213 YYYYMMDDHHMMSS[.fff]" (UTC) -> Unix seconds.
std::optional<std::int64_t> ParseMdtmReply(std::string_view text);
// "150 Opening data connection for x (1234 bytes)" -> 1234.
std::optional<std::uint64_t> ParseTransferSize(std::string_view text);
// Seconds since the epoch of a proleptic Gregorian UTC date; nullopt when a field is out of range.
std::optional<std::int64_t> UtcSeconds(int year, int month, int day, int hour, int minute, int second);

// FEAT reply: upper-cased feature name -> its parameters (as sent). A name
// that comes on several lines ("SITE MKDIR", "SITE UTIME") keeps the
// parameters of each, one per line ("MKDIR\nUTIME").
using FeatureMap = std::map<std::string, std::string>;
FeatureMap ParseFeatReply(const FtpReply& reply);
// The facts to ask for with "OPTS MLST" when the MLST feature offers Unix
// facts (mode, owner, group) that are not turned on: those in use ("*") and
// the Unix ones. Empty when nothing needs asking for.
std::string MlstFactsWithUnixFacts(std::string_view offered);

}  // namespace inet
