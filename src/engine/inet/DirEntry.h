#pragma once
#include <cstdint>
#include <string>
namespace inet {
// How exactly an entry's `modified` is known. MLSD, MDTM and EPLF give UTC
// seconds; LIST gives the server's local time with no zone, to the minute for
// recent entries ("Jan 15 14:03") and to the day for older ones ("Jan 15 2019").
enum class TimePrecision : std::uint8_t { Exact, Minutes, Days };
// One entry of a remote folder listing.
struct DirEntry {
    std::string name;              // bytes as sent by the server (normally UTF-8)
    std::uint64_t size = 0;        // 64-bit: files over 4 GiB are common
    bool isFolder = false;
    bool isLink = false;           // symbolic link; the target (if known) is in linkTarget
    std::string linkTarget;
    std::int64_t modified = -1;    // seconds since the Unix epoch (UTC); -1 when unknown
    TimePrecision timePrecision = TimePrecision::Exact;
    std::int64_t created = -1;
    std::int64_t accessed = -1;
    std::string permissions;       // informational: "rwxr-xr-x", else the MLSD perm fact
    std::string owner;             // informational, as the listing names them (a name or a number);
    std::string group;             // empty when it has none
    bool IsDots() const { return name == "." || name == ".."; }
};
}
