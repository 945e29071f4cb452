#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/inet/DirEntry.h"

namespace inet {

enum class LineKind { Entry, Ignored, UnsafeName, Unrecognised };
// "Ignored": blank lines, "total 123" lines, and similar noise that is not an entry.
// "UnsafeName": the line parsed but the name is not usable as a single path component (see IsSafeEntryName);
//               `out.name` still holds the raw name so the caller can report it.
// "Unrecognised": no known layout fits, or a field holds an impossible value (a size beyond 64 bits, a 13th
//               month...). Nothing of `out` may be used then.

// One LIST line, without its line end. Unix `ls -l` (also NetWare-style bracketed permissions and ISO dates),
// MS-DOS/IIS and EPLF are recognised. LIST carries no time zone, so its times are taken as UTC; a caller that
// knows the server's offset corrects them. `nowUtc` dates the "Mon dd hh:mm" form, which omits the year.
// A trailing CR is not stripped: it becomes part of the name and makes it unsafe, rather than silently naming
// a different file than the one on the server.
LineKind ParseListLine(std::string_view line, DirEntry& out, std::int64_t nowUtc);  // LIST output, any family

// One MLSD line or MLST facts line (without the leading space of an MLST reply). The name is whatever follows
// the facts, so an MLST path holding '/' comes back as UnsafeName with the path in `out.name`.
// `permissions` gets the perm fact, or, when the server sends none, UNIX.mode spelled as "rwxr-xr-x".
// An unreadable modify/create fact only leaves that time unknown; an unreadable size rejects the line.
LineKind ParseMlsdLine(std::string_view line, DirEntry& out);                        // RFC 3659 MLSD/MLST facts line

// True when the name can be used as one component of a local or remote path: not empty, no '/', '\\', NUL,
// no control characters (< 0x20 or 0x7f). "." and ".." are NOT rejected here: they are delivered as entries
// (DirEntry::IsDots) because callers skip them explicitly; every other caller-side path building must still
// refuse them.
bool IsSafeEntryName(std::string_view name);

// Incremental parser over the bytes of a listing data connection: splits lines on LF or CR LF (also a lone CR at
// the very end; in a LIST of CR LF lines, an entry line cut by a bare LF and followed by a line that is no entry is
// reported whole as UnsafeName: a name holding a line break), copes with lines split across Feed calls, never buffers more than a bounded line length
// (an overlong line is reported as Unrecognised and skipped, never grows memory without bound), and hands each
// entry to a callback as soon as its line is complete, so that huge listings stream.
class ListingParser {
public:
    enum class Format { List, Mlsd };
    using EntrySink = std::function<void(DirEntry&&)>;
    using ProblemSink = std::function<void(LineKind, std::string_view line)>;  // UnsafeName / Unrecognised lines

    // Longest line accepted, line end excluded. Real entries are a few hundred bytes at most.
    static constexpr std::size_t kMaxLineLength = 64 * 1024;
    // An overlong line reaches the ProblemSink as its first kOverlongExcerpt bytes only.
    static constexpr std::size_t kOverlongExcerpt = 256;

    ListingParser(Format format, std::int64_t nowUtc, EntrySink onEntry, ProblemSink onProblem = {});
    void Feed(const char* data, std::size_t size);
    void Finish();  // flushes a last line that had no line end; the parser is then ready for a new listing

private:
    void AppendPartial(std::string_view piece);
    LineKind ParseLine(std::string_view line, DirEntry& entry) const;
    void HandleLine(std::string_view line);
    // A whole line, its end taken off; a line cut by a bare LF waits here for the next one.
    void CompleteLine(std::string_view line, bool endedWithCr);
    void ReportOverlong(std::string_view start);

    Format format_;
    std::int64_t nowUtc_;
    EntrySink onEntry_;
    ProblemSink onProblem_;
    std::string pending_;     // start of a line whose end has not arrived yet
    bool skipping_ = false;   // inside an overlong line that was already reported
    // LIST: the line ends of the first line. Once they are CR LF, a line
    // ended by a bare LF waits for the next: together they may be one entry
    // whose name holds a line break.
    enum class LineEnds { Unknown, CrLf, Lf };
    LineEnds lineEnds_ = LineEnds::Unknown;
    std::string held_;
};

}  // namespace inet
