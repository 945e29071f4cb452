#include "engine/inet/ListingParser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using inet::DirEntry;
using inet::LineKind;
using inet::ListingParser;

namespace {

using namespace std::string_view_literals;

// Expected times come from the standard library's calendar, not from the arithmetic under test.
std::int64_t Utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    const std::chrono::sys_days date = std::chrono::year{y} / std::chrono::month{mo} / std::chrono::day{d};
    return std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count() + h * 3600 +
           mi * 60 + s;
}

// The live listings below were captured from real servers on loopback at this instant, with the server
// clock in UTC. Their tree: "sub dir" (folder), big.iso (5 GiB, sparse), link -> plain.txt,
// dirlink -> "sub dir", a fifo, " leading space.txt", "semi;colon name.txt", old.txt (1999), recent.txt.
const std::int64_t kCaptureNow = Utc(2026, 12, 7, 4, 1, 30);

const char* KindName(LineKind k) {
    switch (k) {
        case LineKind::Entry: return "Entry";
        case LineKind::Ignored: return "Ignored";
        case LineKind::UnsafeName: return "UnsafeName";
        case LineKind::Unrecognised: return "Unrecognised";
    }
    return "?";
}

struct Expect {
    std::string_view source;
    std::string_view line;
    LineKind kind;
    std::string_view name = {};
    std::uint64_t size = 0;
    bool folder = false;
    bool link = false;
    std::string_view target = {};
    std::int64_t modified = -1;
    std::string_view permissions = "*";  // "*": not checked
    std::int64_t created = -1;
};

void CheckEntry(const Expect& c, LineKind kind, const DirEntry& e) {
    ASSERT_EQ(KindName(kind), std::string(KindName(c.kind)));
    if (c.kind != LineKind::Entry && c.kind != LineKind::UnsafeName) return;
    EXPECT_EQ(e.name, c.name);
    EXPECT_EQ(e.size, c.size);
    EXPECT_EQ(e.isFolder, c.folder);
    EXPECT_EQ(e.isLink, c.link);
    EXPECT_EQ(e.linkTarget, c.target);
    EXPECT_EQ(e.modified, c.modified);
    EXPECT_EQ(e.created, c.created);
    EXPECT_EQ(e.accessed, -1);
    if (c.permissions != "*") {
        EXPECT_EQ(e.permissions, c.permissions);
    }
}

void RunListTable(const std::vector<Expect>& table, std::int64_t now) {
    for (const Expect& c : table) {
        SCOPED_TRACE(std::string(c.source) + ": [" + std::string(c.line) + "]");
        DirEntry e;
        e.name = "stale";
        e.size = 99;
        const LineKind kind = inet::ParseListLine(c.line, e, now);
        CheckEntry(c, kind, e);
    }
}

void RunMlsdTable(const std::vector<Expect>& table) {
    for (const Expect& c : table) {
        SCOPED_TRACE(std::string(c.source) + ": [" + std::string(c.line) + "]");
        DirEntry e;
        e.isLink = true;
        e.modified = 5;
        const LineKind kind = inet::ParseMlsdLine(c.line, e);
        CheckEntry(c, kind, e);
    }
}

const auto kEntry = LineKind::Entry;
const auto kIgnored = LineKind::Ignored;
const auto kUnsafe = LineKind::UnsafeName;
const auto kBad = LineKind::Unrecognised;

const std::int64_t kJan15 = Utc(2024, 1, 15, 10, 30);
const std::uint64_t k5GiB = 5368709120ULL;

// ---------------------------------------------------------------------------------------------------------

TEST(ListingListLine, RealServerLines) {
    const std::vector<Expect> table = {
        // vsftpd 3.0.3 (numeric owners, zero-padded days)
        {"vsftpd", "-rw-r--r--    1 0        0               7 Jan 15  2024  leading space.txt", kEntry,
         " leading space.txt", 7, false, false, "", Utc(2024, 1, 15), "rw-r--r--"},
        {"vsftpd", "-rw-r--r--    1 0        0        5368709120 Jan 15  2024 big.iso", kEntry, "big.iso", k5GiB,
         false, false, "", Utc(2024, 1, 15)},
        {"vsftpd", "lrwxrwxrwx    1 0        0               7 Jan 15  2024 dirlink -> sub dir", kEntry, "dirlink", 7,
         false, true, "sub dir", Utc(2024, 1, 15), "rwxrwxrwx"},
        {"vsftpd", "prw-r--r--    1 0        0               0 Jan 15  2024 fifo", kEntry, "fifo", 0, false, false,
         "", Utc(2024, 1, 15)},
        {"vsftpd", "-rw-r--r--    1 0        0              99 Mar 04  1999 old.txt", kEntry, "old.txt", 99, false,
         false, "", Utc(1999, 3, 4)},
        {"vsftpd", "-rw-r--r--    1 0        0               5 Nov 20 14:25 recent.txt", kEntry, "recent.txt", 5,
         false, false, "", Utc(2026, 11, 20, 14, 25)},
        {"vsftpd", "-rw-r--r--    1 0        0              42 Jan 15  2024 semi;colon name.txt", kEntry,
         "semi;colon name.txt", 42, false, false, "", Utc(2024, 1, 15)},
        {"vsftpd", "drwxr-xr-x    2 0        0            4096 Jan 15  2024 sub dir", kEntry, "sub dir", 4096, true,
         false, "", Utc(2024, 1, 15), "rwxr-xr-x"},
        {"vsftpd", "drwxr-xr-x    3 0        0            4096 Dec 01 08:09 .", kEntry, ".", 4096, true, false, "",
         Utc(2026, 12, 1, 8, 9)},
        {"vsftpd", "drwxr-xr-x    3 0        0            4096 Dec 07 04:01 ..", kEntry, "..", 4096, true, false, "",
         Utc(2026, 12, 7, 4, 1)},
        {"vsftpd", "crw-r--r--    1 0        0               0 Jan 01  2020 null", kEntry, "null", 0, false, false,
         "", Utc(2020, 1, 1)},
        {"vsftpd", "srwxr-xr-x    1 0        0               0 Jan 01  2020 sock", kEntry, "sock", 0, false, false,
         "", Utc(2020, 1, 1)},
        // ProFTPD 1.3.8 (space-padded days)
        {"ProFTPD", "-rw-r--r--   1 root     root            7 Jan 15  2024  leading space.txt", kEntry,
         " leading space.txt", 7, false, false, "", Utc(2024, 1, 15)},
        {"ProFTPD", "-rw-r--r--   1 root     root     5368709120 Jan 15  2024 big.iso", kEntry, "big.iso", k5GiB,
         false, false, "", Utc(2024, 1, 15)},
        {"ProFTPD", "lrwxrwxrwx   1 root     root            9 Jan 15  2024 link -> plain.txt", kEntry, "link", 9,
         false, true, "plain.txt", Utc(2024, 1, 15)},
        {"ProFTPD", "-rw-r--r--   1 root     root           99 Mar  4  1999 old.txt", kEntry, "old.txt", 99, false,
         false, "", Utc(1999, 3, 4)},
        {"ProFTPD", "drwxr-xr-x   3 root     root         4096 Dec  1 08:09 .", kEntry, ".", 4096, true, false, "",
         Utc(2026, 12, 1, 8, 9)},
        {"ProFTPD", "brw-r--r--   1 root     root            0 Jan  1  2020 sda", kEntry, "sda", 0, false, false, "",
         Utc(2020, 1, 1)},
        {"ProFTPD", "-rw-r--r--   1 root     root            5 Nov 20 14:25 recent.txt", kEntry, "recent.txt", 5,
         false, false, "", Utc(2026, 11, 20, 14, 25)},
        // Pure-FTPd 1.0.50 (wide owner columns)
        {"Pure-FTPd", "-rw-r--r--    1 0          0                   7 Jan 15  2024  leading space.txt", kEntry,
         " leading space.txt", 7, false, false, "", Utc(2024, 1, 15)},
        {"Pure-FTPd", "-rw-r--r--    1 0          0          5368709120 Jan 15  2024 big.iso", kEntry, "big.iso",
         k5GiB, false, false, "", Utc(2024, 1, 15)},
        {"Pure-FTPd", "lrwxrwxrwx    1 0          0                   7 Jan 15  2024 dirlink -> sub dir", kEntry,
         "dirlink", 7, false, true, "sub dir", Utc(2024, 1, 15)},
        {"Pure-FTPd", "drwxr-xr-x    2 0          0                4096 Jan 15  2024 sub dir", kEntry, "sub dir",
         4096, true, false, "", Utc(2024, 1, 15)},
        {"Pure-FTPd", "-rw-r--r--    1 0          0                   5 Nov 20 14:25 recent.txt", kEntry,
         "recent.txt", 5, false, false, "", Utc(2026, 11, 20, 14, 25)},
        // pyftpdlib 1.5.7
        {"pyftpdlib", "-rw-r--r--   1 root     root            7 Jan 15  2024  leading space.txt", kEntry,
         " leading space.txt", 7, false, false, "", Utc(2024, 1, 15)},
        {"pyftpdlib", "-rw-r--r--   1 root     root     5368709120 Jan 15  2024 big.iso", kEntry, "big.iso", k5GiB,
         false, false, "", Utc(2024, 1, 15)},
        {"pyftpdlib", "-rw-r--r--   1 root     root           99 Mar 04  1999 old.txt", kEntry, "old.txt", 99,
         false, false, "", Utc(1999, 3, 4)},
        {"pyftpdlib", "lrwxrwxrwx   1 root     root            7 Jan 15  2024 dirlink -> sub dir", kEntry, "dirlink",
         7, false, true, "sub dir", Utc(2024, 1, 15)},
        {"pyftpdlib", "-rw-r--r--   1 root     root           42 Jan 15  2024 semi;colon name.txt", kEntry,
         "semi;colon name.txt", 42, false, false, "", Utc(2024, 1, 15)},
        // busybox 1.35 `ls -lA`, which busybox/OpenWrt ftpd sends for LIST
        {"busybox", "total 24", kIgnored},
        {"busybox", "crw-r--r--    1 root     root        1,   3 Jan  1  2020 null", kEntry, "null", 0, false, false,
         "", Utc(2020, 1, 1)},
        {"busybox", "brw-r--r--    1 root     root        8,   0 Jan  1  2020 sda", kEntry, "sda", 0, false, false,
         "", Utc(2020, 1, 1)},
        {"busybox", "-rw-r--r--    1 root     root          1234 Jan 15  2024 plain.txt", kEntry, "plain.txt", 1234,
         false, false, "", Utc(2024, 1, 15)},
        {"busybox", "-rw-r--r--    1 root     root             7 Jan 15  2024  leading space.txt", kEntry,
         " leading space.txt", 7, false, false, "", Utc(2024, 1, 15)},
        {"busybox", "-rw-r--r--    1 root     root             5 Nov 20 14:25 recent.txt", kEntry, "recent.txt", 5,
         false, false, "", Utc(2026, 11, 20, 14, 25)},
        // GNU ls (coreutils 9.1): devices without padding, ACL / SELinux markers
        {"GNU ls", "crw-r--r-- 1 root root 1, 3 Jan  1  2020 null", kEntry, "null", 0, false, false, "",
         Utc(2020, 1, 1)},
        {"compact device numbers", "crw-rw-rw- 1 root sys 13,12 Jan  1  2020 zero", kEntry, "zero", 0, false,
         false, "", Utc(2020, 1, 1)},
        {"GNU ls", "-rw-rw-r--+ 1 alice staff 2048 Jun  3 09:15 shared.doc", kEntry, "shared.doc", 2048, false,
         false, "", Utc(2026, 6, 3, 9, 15), "rw-rw-r--"},
        {"GNU ls", "drwxr-xr-x. 2 root root 6 Apr 11  2018 empty", kEntry, "empty", 6, true, false, "",
         Utc(2018, 4, 11), "rwxr-xr-x"},
        {"GNU ls", "drwxrwsr-t  2 1001 1001 4096 2024-01-15 10:30 iso dates", kEntry, "iso dates", 4096, true, false,
         "", kJan15, "rwxrwsr-t"},
        // macOS ls: extended-attribute marker; Feb 29 must land on the last leap year
        {"macOS", "-rw-r--r--@ 1 bob  staff  1024 Feb 29 11:00 notes.txt", kEntry, "notes.txt", 1024, false, false,
         "", Utc(2024, 2, 29, 11, 0)},
        // FileZilla Server (Windows)
        {"FileZilla Server", "-rw-r--r-- 1 ftp ftp          12345 Jan 15 10:30 report.pdf", kEntry, "report.pdf",
         12345, false, false, "", Utc(2026, 1, 15, 10, 30)},
        {"FileZilla Server", "drwxr-xr-x 1 ftp ftp              0 Mar 02  2023 Backups", kEntry, "Backups", 0, true,
         false, "", Utc(2023, 3, 2)},
        // Servers without the group column, or without the link count
        {"no group", "-rw-r--r--   1 ftp          1234 Jan 15  2024 file.txt", kEntry, "file.txt", 1234, false, false,
         "", Utc(2024, 1, 15)},
        {"no group", "-rw-r--r--   1 1000          1234 Jan 15  2024 file.txt", kEntry, "file.txt", 1234, false,
         false, "", Utc(2024, 1, 15)},
        {"no link count", "drwxr-xr-x folder        0 Jan 15  2024 Stuff", kEntry, "Stuff", 0, true, false, "",
         Utc(2024, 1, 15)},
        // IIS / MS-DOS
        {"IIS", "01-15-24  03:04PM       <DIR>          name", kEntry, "name", 0, true, false, "",
         Utc(2024, 1, 15, 15, 4)},
        {"IIS", "01-15-24  03:04PM              1234 name", kEntry, "name", 1234, false, false, "",
         Utc(2024, 1, 15, 15, 4)},
        {"IIS", "02-03-04  12:13AM       <DIR>          Dir With Spaces", kEntry, "Dir With Spaces", 0, true, false,
         "", Utc(2004, 2, 3, 0, 13)},
        {"IIS", "02-03-04  12:13PM           5368709120 big file.iso", kEntry, "big file.iso", k5GiB, false, false,
         "", Utc(2004, 2, 3, 12, 13)},
        {"IIS", "12-31-98  11:59PM                   10 y2k report.txt", kEntry, "y2k report.txt", 10, false, false,
         "", Utc(1998, 12, 31, 23, 59)},
        {"IIS", "01-15-24  03:04PM              1234  two spaces", kEntry, " two spaces", 1234, false, false, "",
         Utc(2024, 1, 15, 15, 4)},
        {"IIS 4-digit year", "07-04-2023  18:30       <DIR>          Logs", kEntry, "Logs", 0, true, false, "",
         Utc(2023, 7, 4, 18, 30)},
        {"IIS 24h", "07-04-2023  00:00                    0 midnight.log", kEntry, "midnight.log", 0, false, false,
         "", Utc(2023, 7, 4)},
        // NetWare
        {"NetWare", "d [R----F--] supervisor            512       Jan 16 18:53    login", kEntry, "login", 512, true,
         false, "", Utc(2026, 1, 16, 18, 53), "R----F--"},
        {"NetWare", "- [RWCEAFMS] rhesus             214059       Oct 20  2019    cx.exe", kEntry, "cx.exe", 214059,
         false, false, "", Utc(2019, 10, 20)},
        // EPLF
        {"EPLF", "+i8388621.48594,m825718503,r,s280,\tdjb.html", kEntry, "djb.html", 280, false, false, "",
         825718503},
        {"EPLF", "+i8388621.50690,m824255907,/,\t514", kEntry, "514", 0, true, false, "", 824255907},
        {"EPLF", "+m825718503,up644,r,s5368709120,\tbig file", kEntry, "big file", k5GiB, false, false, "", 825718503,
         "rw-r--r--"},
        // Noise and lines that are no entry at all
        {"noise", "", kIgnored},
        {"noise", "   \t ", kIgnored},
        {"noise", "total 123", kIgnored},
        {"noise", "TOTAL 0", kIgnored},
        {"noise", "550 No files found", kBad},
        {"noise", "ls: cannot open directory .: Permission denied", kBad},
        {"noise", "/pub/incoming:", kBad},
        {"noise", "total", kBad},
    };
    RunListTable(table, kCaptureNow);
}

// Where the name starts: exactly one blank after the date, except for padding a server puts after a
// left-aligned year; and the parts of the line after the date belong to the name, whatever they look like.
TEST(ListingListLine, OwnerAndGroup) {
    const struct {
        std::string_view line;
        std::string_view owner;
        std::string_view group;
    } table[] = {
        {"-rw-r--r--    1 0        0               7 Jan 15  2024 a", "0", "0"},             // vsftpd, numbers
        {"-rw-r--r--   1 root     staff           7 Jan 15  2024 a", "root", "staff"},     // ProFTPD
        {"crw-r--r--    1 root     tty         1,   3 Jan  1  2020 a", "root", "tty"},     // busybox, a device
        {"brw-r--r--    1 root     disk        8,0 Jan  1  2020 a", "root", "disk"},
        {"-rw-r--r--   1 anna           7 Jan 15  2024 a", "anna", ""},                     // ls -o
        {"-rw-r--r--   anna   staff     7 Jan 15  2024 a", "anna", "staff"},               // no link count
        {"01-15-24  03:04PM              1234 a", "", ""},                                 // IIS: none
    };
    for (const auto& c : table) {
        SCOPED_TRACE(std::string(c.line));
        DirEntry e;
        ASSERT_EQ(inet::ParseListLine(c.line, e, kJan15), LineKind::Entry);
        EXPECT_EQ(e.owner, c.owner);
        EXPECT_EQ(e.group, c.group);
    }
    // MLSD: a name wins over a number, in whichever order they come.
    DirEntry e;
    ASSERT_EQ(inet::ParseMlsdLine("type=file;size=1;UNIX.owner=0;UNIX.ownername=nobody;UNIX.groupname=nogroup;"
                                  "UNIX.group=65534; a",
                                  e),
              LineKind::Entry);
    EXPECT_EQ(e.owner, "nobody");
    EXPECT_EQ(e.group, "nogroup");
    ASSERT_EQ(inet::ParseMlsdLine("type=file;size=1;UNIX.uid=1000;UNIX.gid=100; a", e), LineKind::Entry);
    EXPECT_EQ(e.owner, "1000");
    EXPECT_EQ(e.group, "100");
    ASSERT_EQ(inet::ParseMlsdLine("type=file;size=1; a", e), LineKind::Entry);
    EXPECT_EQ(e.owner, "");
}

TEST(ListingListLine, TimesSayHowExactlyTheyAreKnown) {
    // A comparison with local files needs to know what a LIST date cannot tell.
    const struct {
        std::string_view line;
        inet::TimePrecision precision;
    } table[] = {
        {"-rw-r--r--   1 root     staff           7 Jan 15 14:03 a", inet::TimePrecision::Minutes},
        {"-rw-r--r--   1 root     staff           7 Jan 15  2019 a", inet::TimePrecision::Days},
        {"-rw-r--r--   1 root     staff           7 2024-01-15 14:03 a", inet::TimePrecision::Minutes},
        {"01-15-24  03:04PM              1234 a", inet::TimePrecision::Minutes},
        {"- [RWCEAFMS] anna              512       Jan 16 18:53    a", inet::TimePrecision::Minutes},
        {"d [R----F--] supervisor        512       Jan 16  2019    a", inet::TimePrecision::Days},
        {"+i8388621.48594,m825718503,r,s280,\ta", inet::TimePrecision::Exact},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(std::string(c.line));
        DirEntry e;
        ASSERT_EQ(inet::ParseListLine(c.line, e, kJan15), LineKind::Entry);
        EXPECT_EQ(int(e.timePrecision), int(c.precision));
    }
    DirEntry e;
    e.timePrecision = inet::TimePrecision::Days;
    ASSERT_EQ(inet::ParseMlsdLine("type=file;size=1;modify=20240115140312; a", e), LineKind::Entry);
    EXPECT_EQ(int(e.timePrecision), int(inet::TimePrecision::Exact));
}

TEST(ListingListLine, NameBoundaries) {
    const std::vector<Expect> table = {
        {"ls year column", "-rw-r--r-- 1 u g 100 Jan 15  2024 name.txt", kEntry, "name.txt", 100, false, false, "",
         Utc(2024, 1, 15)},
        {"ls year column", "-rw-r--r-- 1 u g 100 Jan 15  2024  name.txt", kEntry, " name.txt", 100, false, false,
         "", Utc(2024, 1, 15)},
        {"left-aligned year", "-rw-r--r-- 1 u g 100 Jan 15 2024  name.txt", kEntry, "name.txt", 100, false, false,
         "", Utc(2024, 1, 15)},
        {"left-aligned year", "-rw-r--r-- 1 u g 100 Jan 15 2024   name.txt", kEntry, " name.txt", 100, false, false,
         "", Utc(2024, 1, 15)},
        {"left-aligned year", "-rw-r--r-- 1 u g 100 Jan 15 2024 name.txt", kEntry, "name.txt", 100, false, false, "",
         Utc(2024, 1, 15)},
        {"time", "-rw-r--r-- 1 u g 100 Jan 15 10:30  name.txt", kEntry, " name.txt", 100, false, false, "",
         Utc(2026, 1, 15, 10, 30)},
        {"seconds", "-rw-r--r-- 1 u g 100 Jan 15 10:30:45 name.txt", kEntry, "name.txt", 100, false, false, "",
         Utc(2026, 1, 15, 10, 30, 45)},
        {"trailing blanks kept", "-rw-r--r-- 1 u g 100 Jan 15  2024 name.txt  ", kEntry, "name.txt  ", 100, false,
         false, "", Utc(2024, 1, 15)},
        {"tab separated", "-rw-r--r--\t1\tu\tg\t100\tJan\t15\t2024\tname.txt", kEntry, "name.txt", 100, false,
         false, "", Utc(2024, 1, 15)},
        {"date-like name", "-rw-r--r-- 1 u g 1 Jan 15  2024 Jan 16 10:30 x", kEntry, "Jan 16 10:30 x", 1, false, false,
         "", Utc(2024, 1, 15)},
        {"owner named like a month", "-rw-r--r-- 1 Jan 12 1 Jan 15  2024 f", kEntry, "f", 1, false, false, "",
         Utc(2024, 1, 15)},
        {"arrow in a file name", "-rw-r--r-- 1 u g 1 Jan 15  2024 a -> b", kEntry, "a -> b", 1, false, false, "",
         Utc(2024, 1, 15)},
        {"arrow in a link name", "lrwxrwxrwx 1 u g 1 Jan 15  2024 a -> b -> c", kEntry, "a", 1, false, true, "b -> c",
         Utc(2024, 1, 15)},
        {"link without target", "lrwxrwxrwx 1 u g 1 Jan 15  2024 dangling", kEntry, "dangling", 1, false, true, "",
         Utc(2024, 1, 15)},
        {"link to a folder stays no folder", "lrwxrwxrwx 1 u g 4 Jan 15  2024 www -> /var/www/", kEntry, "www", 4,
         false, true, "/var/www/", Utc(2024, 1, 15)},
        {"UTF-8 name", "-rw-r--r-- 1 u g 3 Jan 15  2024 \xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt", kEntry,
         "\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt", 3, false, false, "", Utc(2024, 1, 15)},
        {"no name", "-rw-r--r-- 1 u g 12 Jan 15 10:30", kBad},
        {"no name", "-rw-r--r-- 1 u g 12 Jan 15 10:30 ", kBad},
        {"no name", "01-15-24  03:04PM       <DIR>          ", kBad},
        {"no name", "+i1,r,s1,\t", kBad},
        {"no tab", "+i1,r,s1, name", kBad},
    };
    RunListTable(table, kCaptureNow);
}

// "Mon dd hh:mm" carries no year: the most recent such date not more than a few days ahead of our clock.
TEST(ListingListLine, YearInference) {
    struct Case {
        std::int64_t now;
        std::string_view date;
        std::int64_t expected;
    };
    const std::vector<Case> table = {
        {Utc(2026, 12, 7, 4, 1), "Dec 07 04:01", Utc(2026, 12, 7, 4, 1)},
        {Utc(2026, 12, 7, 4, 1), "Dec 09 10:00", Utc(2026, 12, 9, 10, 0)},  // server clock/zone ahead
        {Utc(2026, 12, 7, 4, 1), "Dec 12 10:00", Utc(2025, 12, 12, 10, 0)},
        {Utc(2026, 12, 7, 4, 1), "Jan  1 00:00", Utc(2026, 1, 1)},
        {Utc(2026, 12, 31, 23, 0), "Jan  1 10:00", Utc(2027, 1, 1, 10, 0)},  // server already in the new year
        {Utc(2027, 1, 1, 1, 0), "Dec 31 23:59", Utc(2026, 12, 31, 23, 59)},
        {Utc(2027, 1, 1, 1, 0), "Jan 10 12:00", Utc(2026, 1, 10, 12, 0)},
        {Utc(2026, 12, 7), "Feb 29 11:00", Utc(2024, 2, 29, 11, 0)},
        {Utc(2024, 3, 1), "Feb 29 11:00", Utc(2024, 2, 29, 11, 0)},
        {Utc(2101, 6, 1), "Feb 29 11:00", Utc(2096, 2, 29, 11, 0)},  // 2100 is no leap year
        {0, "Jan  1 00:00", 0},
        {-5, "Jan  1 00:00", 0},  // a nonsense clock is clamped, never overflows
        {INT64_MAX, "Dec 31 23:59", Utc(9999, 12, 31, 23, 59)},
        {INT64_MIN, "Jun  1 12:00", Utc(1969, 6, 1, 12, 0)},
    };
    for (const Case& c : table) {
        const std::string line = "-rw-r--r-- 1 u g 1 " + std::string(c.date) + " f";
        SCOPED_TRACE(line + " now=" + std::to_string(c.now));
        DirEntry e;
        ASSERT_EQ(inet::ParseListLine(line, e, c.now), LineKind::Entry);
        EXPECT_EQ(e.modified, c.expected);
    }
}

// Hostile or broken lines: a clear verdict, never a wrapped number, never a crash (UBSan watches).
TEST(ListingListLine, HostileLines) {
    using namespace std::string_literals;
    const std::string nulName = "-rw-r--r-- 1 u g 1 Jan 15  2024 a\0b"s;
    const std::vector<Expect> table = {
        {"30-digit size", "-rw-r--r-- 1 u g 123456789012345678901234567890 Jan 15  2024 f", kBad},
        {"largest size", "-rw-r--r-- 1 u g 18446744073709551615 Jan 15  2024 f", kEntry, "f", UINT64_MAX, false,
         false, "", Utc(2024, 1, 15)},
        {"size one past 64 bits", "-rw-r--r-- 1 u g 18446744073709551616 Jan 15  2024 f", kBad},
        {"negative size", "-rw-r--r-- 1 u g -1 Jan 15  2024 f", kBad},
        {"unknown month", "-rw-r--r-- 1 u g 1 Foo 15  2024 f", kBad},
        {"day 45", "-rw-r--r-- 1 u g 1 Jan 45  2024 f", kBad},
        {"day 0", "-rw-r--r-- 1 u g 1 Jan 0  2024 f", kBad},
        {"day with 30 digits", "-rw-r--r-- 1 u g 1 Jan 999999999999999999999999999999 2024 f", kBad},
        {"Feb 30", "-rw-r--r-- 1 u g 1 Feb 30  2024 f", kBad},
        {"Feb 29 of a common year", "-rw-r--r-- 1 u g 1 Feb 29  2023 f", kBad},
        {"hour 99", "-rw-r--r-- 1 u g 1 Jan 15 99:00 f", kBad},
        {"minute 60", "-rw-r--r-- 1 u g 1 Jan 15 10:60 f", kBad},
        {"huge hour", "-rw-r--r-- 1 u g 1 Jan 15 99999999999999999999:00 f", kBad},
        {"five-digit year", "-rw-r--r-- 1 u g 1 Jan 15 99999 f", kBad},
        {"ISO month 13", "-rw-r--r-- 1 u g 1 2024-13-01 10:30 f", kBad},
        {"bad permission letters", "-rw-r--r-q 1 u g 1 Jan 15  2024 f", kBad},
        {"unknown type letter", "zrw-r--r-- 1 u g 1 Jan 15  2024 f", kBad},
        {"truncated line", "-rw-r--r-- 1 u g 1 Jan", kBad},
        {"permissions only", "drwxr-xr-x", kBad},
        {"DOS month 13", "13-15-24  03:04PM              1 f", kBad},
        {"DOS day 45", "01-45-24  03:04PM              1 f", kBad},
        {"DOS 13PM", "01-15-24  13:04PM              1 f", kBad},
        {"DOS hour 99", "01-15-24  99:04              1 f", kBad},
        {"DOS 30-digit size", "01-15-24  03:04PM  123456789012345678901234567890 f", kBad},
        {"DOS zero date", "00-00-00  00:00              1 f", kBad},
        {"EPLF 30-digit size", "+i1,r,s123456789012345678901234567890,\tf", kBad},
        {"EPLF absurd time", "+i1,r,m123456789012345678901234567890,s1,\tf", kEntry, "f", 1, false, false, "", -1},
        // Names that must never become a path component
        {"slash", "-rw-r--r-- 1 u g 1 Jan 15  2024 ../../etc/passwd", kUnsafe, "../../etc/passwd", 1, false, false,
         "", Utc(2024, 1, 15)},
        {"backslash", "-rw-r--r-- 1 u g 1 Jan 15  2024 ..\\..\\win.ini", kUnsafe, "..\\..\\win.ini", 1, false,
         false, "", Utc(2024, 1, 15)},
        {"NUL", nulName, kUnsafe, "a\0b"sv, 1, false, false, "", Utc(2024, 1, 15)},
        {"escape sequence", "-rw-r--r-- 1 u g 1 Jan 15  2024 \x1b[31mred", kUnsafe, "\x1b[31mred", 1, false, false,
         "", Utc(2024, 1, 15)},
        {"DEL", "-rw-r--r-- 1 u g 1 Jan 15  2024 a\x7f", kUnsafe, "a\x7f", 1, false, false, "", Utc(2024, 1, 15)},
        {"trailing CR", "-rw-r--r-- 1 u g 1 Jan 15  2024 name\r", kUnsafe, "name\r", 1, false, false, "",
         Utc(2024, 1, 15)},
        {"slash in link name", "lrwxrwxrwx 1 u g 1 Jan 15  2024 a/b -> /etc", kUnsafe, "a/b", 1, false, true, "/etc",
         Utc(2024, 1, 15)},
        {"slash in IIS name", "01-15-24  03:04PM       <DIR>          a/b", kUnsafe, "a/b", 0, true, false, "",
         Utc(2024, 1, 15, 15, 4)},
        {"slash in EPLF name", "+r,s1,\t/etc/passwd", kUnsafe, "/etc/passwd", 1},
        {"dots are entries", "drwxr-xr-x 1 u g 1 Jan 15  2024 ..", kEntry, "..", 1, true, false, "",
         Utc(2024, 1, 15)},
    };
    RunListTable(table, kCaptureNow);
}

// ---------------------------------------------------------------------------------------------------------

TEST(ListingMlsdLine, RealServerLines) {
    const std::vector<Expect> table = {
        // pyftpdlib 1.5.7
        {"pyftpdlib", "modify=20240115103000;perm=el;size=4096;type=dir;unique=fe00ga72329; sub dir", kEntry,
         "sub dir", 4096, true, false, "", kJan15, "el"},
        {"pyftpdlib", "modify=20240115103000;perm=r;size=7;type=file;unique=fe00ga7232d;  leading space.txt", kEntry,
         " leading space.txt", 7, false, false, "", kJan15, "r"},
        {"pyftpdlib", "modify=20240115103000;perm=r;size=42;type=file;unique=fe00ga7232e; semi;colon name.txt",
         kEntry, "semi;colon name.txt", 42, false, false, "", kJan15},
        {"pyftpdlib", "modify=20240115103000;perm=r;size=5368709120;type=file;unique=fe00ga7232b; big.iso", kEntry,
         "big.iso", k5GiB, false, false, "", kJan15},
        {"pyftpdlib", "modify=19990304050607;perm=r;size=99;type=file;unique=fe00ga72330; old.txt", kEntry, "old.txt",
         99, false, false, "", Utc(1999, 3, 4, 5, 6, 7)},
        // ... after OPTS MLST asked for its Unix facts: the mode in Python's octal form
        {"pyftpdlib", "modify=20240115103000;perm=radfwMT;size=3;type=file;unique=fe00ga8e0d9;unix.gid=0;"
         "unix.mode=0o640;unix.uid=0; small.txt", kEntry, "small.txt", 3, false, false, "", kJan15, "rw-r-----"},
        // ProFTPD 1.3.8
        {"ProFTPD",
         "modify=20240115103000;perm=fle;type=dir;unique=FE00UA72329;UNIX.group=0;UNIX.groupname=nogroup;"
         "UNIX.mode=0755;UNIX.owner=0;UNIX.ownername=nobody; sub dir",
         kEntry, "sub dir", 0, true, false, "", kJan15, "rwxr-xr-x"},
        {"ProFTPD",
         "modify=20240115103000;perm=adfr;size=7;type=OS.unix=symlink;unique=FE00UA72329;UNIX.group=0;"
         "UNIX.groupname=nogroup;UNIX.mode=0777;UNIX.owner=0;UNIX.ownername=nobody; dirlink",
         kEntry, "dirlink", 7, false, true, "", kJan15, "rwxrwxrwx"},
        {"ProFTPD",
         "modify=20261201080900;perm=fle;type=cdir;unique=FE00UA72328;UNIX.group=0;UNIX.groupname=nogroup;"
         "UNIX.mode=0755;UNIX.owner=0;UNIX.ownername=nobody; .",
         kEntry, ".", 0, true, false, "", Utc(2026, 12, 1, 8, 9)},
        {"ProFTPD",
         "modify=20261207040106;perm=fle;type=pdir;unique=FE00UA72327;UNIX.group=0;UNIX.groupname=nogroup;"
         "UNIX.mode=0755;UNIX.owner=0;UNIX.ownername=nobody; ..",
         kEntry, "..", 0, true, false, "", Utc(2026, 12, 7, 4, 1, 6)},
        {"ProFTPD",
         "modify=20240115103000;perm=adfr;size=7;type=file;unique=FE00UA7232D;UNIX.group=0;UNIX.groupname=nogroup;"
         "UNIX.mode=0644;UNIX.owner=0;UNIX.ownername=nobody;  leading space.txt",
         kEntry, " leading space.txt", 7, false, false, "", kJan15},
        // Pure-FTPd 1.0.50: sizd for folders, no perm fact, an empty link target
        {"Pure-FTPd",
         "type=dir;sizd=4096;modify=20240115103000;UNIX.mode=0755;UNIX.uid=0;UNIX.gid=0;unique=fe00ga72329; sub dir",
         kEntry, "sub dir", 4096, true, false, "", kJan15, "rwxr-xr-x"},
        {"Pure-FTPd",
         "type=OS.unix=slink:;size=9;modify=20240115103000;UNIX.mode=0777;UNIX.uid=0;UNIX.gid=0;unique=fe00ga7232c; "
         "link",
         kEntry, "link", 9, false, true, "", kJan15, "rwxrwxrwx"},
        {"Pure-FTPd",
         "type=unknown;size=0;modify=20240115103000;UNIX.mode=0644;UNIX.uid=0;UNIX.gid=0;unique=fe00ga7232f; fifo",
         kEntry, "fifo", 0, false, false, "", kJan15, "rw-r--r--"},
        {"Pure-FTPd",
         "type=cdir;sizd=4096;modify=20261201080900;UNIX.mode=0755;UNIX.uid=0;UNIX.gid=0;unique=fe00ga72328; .",
         kEntry, ".", 4096, true, false, "", Utc(2026, 12, 1, 8, 9)},
        // RFC 3659's own examples: capitalised fact names, an empty perm, an MLST path
        {"RFC 3659", "Type=cdir;Modify=19981107085215;Perm=el; tmp", kEntry, ".", 0, true, false, "",
         Utc(1998, 11, 7, 8, 52, 15), "el"},
        {"RFC 3659", "Type=pdir;Modify=19990112030508;Perm=el; ..", kEntry, "..", 0, true, false, "",
         Utc(1999, 1, 12, 3, 5, 8)},
        {"RFC 3659", "Type=file;Size=25730;Modify=19940728095854;Perm=; capmux.tar.z", kEntry, "capmux.tar.z", 25730,
         false, false, "", Utc(1994, 7, 28, 9, 58, 54), ""},
        {"RFC 3659 MLST", "Type=file;Size=1024990;Perm=r; /tmp/cap60.pcap", kUnsafe, "/tmp/cap60.pcap", 1024990},
        // Variants seen elsewhere
        {"slink target", "type=OS.unix=slink:/etc/hosts;size=10;modify=20240115103000; hosts", kEntry, "hosts", 10,
         false, true, "/etc/hosts", kJan15},
        {"upper-case values", "TYPE=DIR;MODIFY=20240115103000; Up", kEntry, "Up", 0, true, false, "", kJan15},
        {"blank in a fact value", "type=file;size=5;UNIX.ownername=Domain Users;UNIX.mode=0644; report.txt", kEntry,
         "report.txt", 5, false, false, "", -1, "rw-r--r--"},
        {"no final semicolon", "type=file;size=5 name.txt", kEntry, "name.txt", 5},
        {"no facts", " bare name", kEntry, "bare name"},
        {"no facts, '; ' in the name", " a; b=c; d", kEntry, "a; b=c; d"},
        {"create and fraction", "type=file;size=1;create=20200102030405;modify=20210102030405.123; c.txt", kEntry,
         "c.txt", 1, false, false, "", Utc(2021, 1, 2, 3, 4, 5), "*", Utc(2020, 1, 2, 3, 4, 5)},
        {"setuid, setgid and sticky bits", "type=file;UNIX.mode=7644; s", kEntry, "s", 0, false, false, "", -1, "rwSr-Sr-T"},
        {"name with '; ' in it", "type=file;size=3; a; b", kEntry, "a; b", 3},
        {"size beats sizd", "type=dir;sizd=4096;size=1; d", kEntry, "d", 1, true},
    };
    RunMlsdTable(table);
}

TEST(ListingMlsdLine, HostileLines) {
    using namespace std::string_literals;
    const std::string nulName = "type=file;size=1; a\0b"s;
    const std::vector<Expect> table = {
        {"blank", "", kIgnored},
        {"blank", "  ", kIgnored},
        {"30-digit size", "type=file;size=123456789012345678901234567890; x", kBad},
        {"size past 64 bits", "type=file;size=18446744073709551616; x", kBad},
        {"negative size", "type=file;size=-1; x", kBad},
        {"size with letters", "type=file;size=12abc; x", kBad},
        {"empty size", "type=file;size=; x", kBad},
        {"30-digit sizd", "type=dir;sizd=123456789012345678901234567890; x", kBad},
        {"no space at all", "type=file;size=1;x", kBad},
        {"not facts", "hello world", kBad},
        {"empty fact name", "=x; name", kBad},
        {"no name", "type=file;size=1; ", kBad},
        {"month 13", "type=file;modify=20241315000000; x", kEntry, "x"},
        {"day 45", "type=file;modify=20240145000000; x", kEntry, "x"},
        {"hour 99", "type=file;modify=20240115990000; x", kEntry, "x"},
        {"30-digit time", "type=file;modify=123456789012345678901234567890; x", kEntry, "x"},
        {"short time", "type=file;modify=2024; x", kEntry, "x"},
        {"bad fraction", "type=file;modify=20240115103000.x; x", kEntry, "x"},
        {"bad mode", "type=file;UNIX.mode=99999999999999999999; x", kEntry, "x", 0, false, false, "", -1, ""},
        {"slash", "type=file;size=1; a/b", kUnsafe, "a/b", 1},
        {"backslash", "type=file;size=1; a\\b", kUnsafe, "a\\b", 1},
        {"NUL", nulName, kUnsafe, "a\0b"sv, 1},
        {"control character", "type=file;size=1; bad\x01name", kUnsafe, "bad\x01name", 1},
        {"trailing CR", "type=file;size=1; name\r", kUnsafe, "name\r", 1},
        {"cdir names itself", "type=cdir; /full/path", kEntry, ".", 0, true},
        {"pdir names itself", "type=pdir;modify=20240115103000; whatever", kEntry, "..", 0, true, false, "", kJan15},
    };
    RunMlsdTable(table);
}

TEST(ListingSafeName, Table) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, bool>> table = {
        {"file.txt", true},      {" leading", true},  {"trailing ", true}, {"semi;colon", true},
        {"\xc3\xa9t\xc3\xa9", true}, {".", true},     {"..", true},        {"...", true},
        {"", false},             {"a/b", false},      {"/", false},        {"a\\b", false},
        {"a\0b"s, false},        {"\0"s, false},      {"a\tb", false},     {"a\nb", false},
        {"a\rb", false},         {"\x1f", false},     {"\x7f", false},     {"\x80\xff", true},
    };
    for (const auto& [name, safe] : table) {
        SCOPED_TRACE("[" + name + "]");
        EXPECT_EQ(inet::IsSafeEntryName(name), safe);
    }
}

// ---------------------------------------------------------------------------------------------------------
// The stream parser

struct Collected {
    std::vector<DirEntry> entries;
    std::vector<std::pair<LineKind, std::string>> problems;
};

ListingParser MakeParser(ListingParser::Format format, Collected& out, std::int64_t now = kCaptureNow) {
    return ListingParser(
        format, now, [&out](DirEntry&& e) { out.entries.push_back(std::move(e)); },
        [&out](LineKind k, std::string_view line) { out.problems.emplace_back(k, std::string(line)); });
}

Collected ParseAll(ListingParser::Format format, std::string_view data, std::size_t chunk = SIZE_MAX) {
    Collected out;
    ListingParser p = MakeParser(format, out);
    for (std::size_t i = 0; i < data.size(); i += chunk) {
        p.Feed(data.data() + i, std::min(chunk, data.size() - i));
    }
    p.Finish();
    return out;
}

bool SameEntry(const DirEntry& a, const DirEntry& b) {
    return a.name == b.name && a.size == b.size && a.isFolder == b.isFolder && a.isLink == b.isLink &&
           a.linkTarget == b.linkTarget && a.modified == b.modified && a.created == b.created &&
           a.permissions == b.permissions;
}

void ExpectSame(const Collected& actual, const Collected& expected) {
    ASSERT_EQ(actual.entries.size(), expected.entries.size());
    for (std::size_t i = 0; i < actual.entries.size(); ++i) {
        EXPECT_TRUE(SameEntry(actual.entries[i], expected.entries[i])) << "entry " << i << ": "
                                                                       << actual.entries[i].name;
    }
    EXPECT_EQ(actual.problems, expected.problems);
}

// vsftpd 3.0.3 "LIST -a", byte for byte, plus a line no parser knows.
const std::string_view kVsftpdListing =
    "-rw-r--r--    1 0        0               7 Jan 15  2024  leading space.txt\r\n"
    "drwxr-xr-x    3 0        0            4096 Dec 01 08:09 .\r\n"
    "drwxr-xr-x    3 0        0            4096 Dec 07 04:01 ..\r\n"
    "-rw-r--r--    1 0        0        5368709120 Jan 15  2024 big.iso\r\n"
    "lrwxrwxrwx    1 0        0               7 Jan 15  2024 dirlink -> sub dir\r\n"
    "prw-r--r--    1 0        0               0 Jan 15  2024 fifo\r\n"
    "lrwxrwxrwx    1 0        0               9 Jan 15  2024 link -> plain.txt\r\n"
    "-rw-r--r--    1 0        0              99 Mar 04  1999 old.txt\r\n"
    "-rw-r--r--    1 0        0            1234 Jan 15  2024 plain.txt\r\n"
    "-rw-r--r--    1 0        0               5 Nov 20 14:25 recent.txt\r\n"
    "-rw-r--r--    1 0        0              42 Jan 15  2024 semi;colon name.txt\r\n"
    "drwxr-xr-x    2 0        0            4096 Jan 15  2024 sub dir\r\n"
    "this is not a listing line\r\n";

// ProFTPD 1.3.8 MLSD, byte for byte (three lines of it).
const std::string_view kProftpdMlsd =
    "modify=20240115103000;perm=fle;type=dir;unique=FE00UA72329;UNIX.group=0;UNIX.groupname=nogroup;"
    "UNIX.mode=0755;UNIX.owner=0;UNIX.ownername=nobody; sub dir\r\n"
    "modify=20240115103000;perm=adfr;size=42;type=file;unique=FE00UA7232E;UNIX.group=0;UNIX.groupname=nogroup;"
    "UNIX.mode=0644;UNIX.owner=0;UNIX.ownername=nobody; semi;colon name.txt\r\n"
    "modify=20240115103000;perm=adfr;size=7;type=file;unique=FE00UA7232D;UNIX.group=0;UNIX.groupname=nogroup;"
    "UNIX.mode=0644;UNIX.owner=0;UNIX.ownername=nobody;  leading space.txt\r\n";

TEST(ListingStream, WholeListing) {
    const Collected all = ParseAll(ListingParser::Format::List, kVsftpdListing);
    ASSERT_EQ(all.entries.size(), 12u);
    EXPECT_EQ(all.entries[0].name, " leading space.txt");
    EXPECT_TRUE(all.entries[1].IsDots());
    EXPECT_TRUE(all.entries[2].IsDots());
    EXPECT_EQ(all.entries[3].size, k5GiB);
    EXPECT_EQ(all.entries[11].name, "sub dir");
    ASSERT_EQ(all.problems.size(), 1u);
    EXPECT_EQ(all.problems[0].first, LineKind::Unrecognised);
    EXPECT_EQ(all.problems[0].second, "this is not a listing line");

    const Collected mlsd = ParseAll(ListingParser::Format::Mlsd, kProftpdMlsd);
    ASSERT_EQ(mlsd.entries.size(), 3u);
    EXPECT_EQ(mlsd.entries[1].name, "semi;colon name.txt");
    EXPECT_EQ(mlsd.entries[2].name, " leading space.txt");
    EXPECT_TRUE(mlsd.problems.empty());
}

TEST(ListingStream, SplitAtEveryBytePosition) {
    const std::pair<ListingParser::Format, std::string_view> inputs[] = {
        {ListingParser::Format::List, kVsftpdListing},
        {ListingParser::Format::Mlsd, kProftpdMlsd},
    };
    for (const auto& [format, data] : inputs) {
        const Collected whole = ParseAll(format, data);
        for (std::size_t split = 0; split <= data.size(); ++split) {
            SCOPED_TRACE("split at " + std::to_string(split));
            Collected got;
            ListingParser p = MakeParser(format, got);
            p.Feed(data.data(), split);
            p.Feed(data.data() + split, data.size() - split);
            p.Finish();
            ExpectSame(got, whole);
            if (HasFailure()) return;
        }
        SCOPED_TRACE("byte by byte");
        ExpectSame(ParseAll(format, data, 1), whole);
    }
}

TEST(ListingStream, LineEndVariants) {
    const std::string crlf(kVsftpdListing);
    std::string lf;
    for (char c : crlf) {
        if (c != '\r') lf += c;
    }
    std::string noFinalEnd = crlf.substr(0, crlf.size() - 2);
    std::string loneFinalCr = crlf.substr(0, crlf.size() - 1);
    const Collected reference = ParseAll(ListingParser::Format::List, crlf);
    for (const std::string* variant : {&lf, &noFinalEnd, &loneFinalCr}) {
        SCOPED_TRACE(variant == &lf ? "LF" : variant == &noFinalEnd ? "no final line end" : "lone final CR");
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            ExpectSame(ParseAll(ListingParser::Format::List, *variant, chunk), reference);
        }
    }
}

TEST(ListingStream, ANameWithALineBreakIsOneRefusedLineNotTwoEntries) {
    const std::string data =
        "-rw-r--r-- 1 u g 1 Jan 15  2024 before\r\n"
        "-rw-r--r-- 1 u g 2 Jan 15  2024 nl\nx.txt\r\n"
        "-rw-r--r-- 1 u g 3 Jan 15  2024 after\r\n";
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const Collected got = ParseAll(ListingParser::Format::List, data, chunk);
        ASSERT_EQ(got.entries.size(), 2u);
        EXPECT_EQ(got.entries[0].name, "before");
        EXPECT_EQ(got.entries[1].name, "after");
        ASSERT_EQ(got.problems.size(), 1u);
        EXPECT_EQ(got.problems[0].first, LineKind::UnsafeName);
        EXPECT_EQ(got.problems[0].second, "-rw-r--r-- 1 u g 2 Jan 15  2024 nl\nx.txt");
    }
    // A listing of bare LFs has nothing to tell such a name from two lines.
    std::string lf;
    for (char c : data) {
        if (c != '\r') lf += c;
    }
    EXPECT_EQ(ParseAll(ListingParser::Format::List, lf).entries.size(), 3u);
}

TEST(ListingStream, AnMlsdNameWithALineBreakIsRefusedEvenAsTheFirstLine) {
    // pyftpdlib sends such a name as it is; the first line alone cannot tell
    // a CR LF listing from a bare LF one, so it waits for the second.
    const std::string data =
        "type=file;size=2;modify=20240115000000; nl\nx.txt\r\n"
        "type=file;size=3;modify=20240115000000; after\r\n";
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const Collected got = ParseAll(ListingParser::Format::Mlsd, data, chunk);
        ASSERT_EQ(got.entries.size(), 1u);
        EXPECT_EQ(got.entries[0].name, "after");
        ASSERT_EQ(got.problems.size(), 1u);
        EXPECT_EQ(got.problems[0].first, LineKind::UnsafeName);
    }
}

TEST(ListingStream, EntriesArriveAsSoonAsTheirLineEnds) {
    Collected got;
    ListingParser p = MakeParser(ListingParser::Format::List, got);
    const std::string_view first = "-rw-r--r-- 1 u g 1 Jan 15  2024 one\r\n-rw-r--r-- 1 u g 2 Jan 15  2024 tw";
    p.Feed(first.data(), first.size());
    ASSERT_EQ(got.entries.size(), 1u);
    EXPECT_EQ(got.entries[0].name, "one");
    p.Feed("o", 1);
    EXPECT_EQ(got.entries.size(), 1u);
    p.Finish();  // the server closed the data connection without a final line end
    ASSERT_EQ(got.entries.size(), 2u);
    EXPECT_EQ(got.entries[1].name, "two");

    // Finish leaves the parser clean for the next listing.
    const std::string_view next = "-rw-r--r-- 1 u g 3 Jan 15  2024 three\n";
    p.Feed(next.data(), next.size());
    p.Finish();
    ASSERT_EQ(got.entries.size(), 3u);
    EXPECT_EQ(got.entries[2].name, "three");
    EXPECT_TRUE(got.problems.empty());
}

TEST(ListingStream, OverlongLines) {
    const std::size_t max = ListingParser::kMaxLineLength;
    const std::string good1 = "-rw-r--r-- 1 u g 1 Jan 15  2024 before\r\n";
    const std::string good2 = "-rw-r--r-- 1 u g 2 Jan 15  2024 after\r\n";
    struct Case {
        std::string name;
        std::string middle;       // between the two good lines
        bool overlong;            // reported as an excerpt rather than in full
        std::size_t lineLength;   // length of the problem line when not overlong
    };
    const std::vector<Case> table = {
        {"at the limit", std::string(max, 'x') + "\r\n", false, max},
        {"at the limit, LF", std::string(max, 'x') + "\n", false, max},
        {"one past the limit", std::string(max + 1, 'x') + "\r\n", true, 0},
        {"far past the limit", std::string(3 * max + 17, 'x') + "\n", true, 0},
        {"long name after a real prefix", "-rw-r--r-- 1 u g 1 Jan 15  2024 " + std::string(max, 'n') + "\r\n", true,
         0},
    };
    for (const Case& c : table) {
        const std::string data = good1 + c.middle + good2;
        for (std::size_t chunk : {std::size_t{1000}, std::size_t{65537}, data.size()}) {
            SCOPED_TRACE(c.name + ", chunks of " + std::to_string(chunk));
            const Collected got = ParseAll(ListingParser::Format::List, data, chunk);
            ASSERT_EQ(got.entries.size(), 2u);
            EXPECT_EQ(got.entries[0].name, "before");
            EXPECT_EQ(got.entries[1].name, "after");
            ASSERT_EQ(got.problems.size(), 1u);
            EXPECT_EQ(got.problems[0].first, LineKind::Unrecognised);
            if (c.overlong) {
                EXPECT_EQ(got.problems[0].second.size(), ListingParser::kOverlongExcerpt);
                EXPECT_EQ(got.problems[0].second, c.middle.substr(0, ListingParser::kOverlongExcerpt));
            } else {
                EXPECT_EQ(got.problems[0].second.size(), c.lineLength);
            }
        }
    }

    // No line end at all, up to Finish.
    const std::string endless(5 * max, 'y');
    for (std::size_t chunk : {std::size_t{4096}, endless.size()}) {
        const Collected got = ParseAll(ListingParser::Format::Mlsd, endless, chunk);
        EXPECT_TRUE(got.entries.empty());
        ASSERT_EQ(got.problems.size(), 1u);
        EXPECT_EQ(got.problems[0].second.size(), ListingParser::kOverlongExcerpt);
    }
}

TEST(ListingStream, NulBytesInTheStream) {
    using namespace std::string_literals;
    const std::string data =
        "-rw-r--r-- 1 u g 1 Jan 15  2024 ok1\r\n"
        "-rw-r--r-- 1 u g 1 Jan 15  2024 bad\0name\r\n"
        "\0\0\0\0\r\n"
        "-rw-r--r--\0 1 u g 1 Jan 15  2024 x\r\n"
        "-rw-r--r-- 1 u g 1 Jan 15  2024 ok2\r\n"s;
    for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, data.size()}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk));
        const Collected got = ParseAll(ListingParser::Format::List, data, chunk);
        ASSERT_EQ(got.entries.size(), 2u);
        EXPECT_EQ(got.entries[0].name, "ok1");
        EXPECT_EQ(got.entries[1].name, "ok2");
        ASSERT_EQ(got.problems.size(), 3u);
        EXPECT_EQ(got.problems[0].first, LineKind::UnsafeName);
        EXPECT_EQ(got.problems[0].second, "-rw-r--r-- 1 u g 1 Jan 15  2024 bad\0name"s);
        EXPECT_EQ(got.problems[1].first, LineKind::Unrecognised);
        EXPECT_EQ(got.problems[1].second, "\0\0\0\0"s);
        EXPECT_EQ(got.problems[2].first, LineKind::Unrecognised);
    }
}

TEST(ListingStream, LargeListingStreams) {
    constexpr std::size_t kCount = 100000;
    std::string data;
    for (std::size_t i = 0; i < kCount; ++i) {
        data += "type=file;size=" + std::to_string(i) + ";modify=20240115103000; file" + std::to_string(i) + "\r\n";
    }
    Collected got;
    ListingParser p = MakeParser(ListingParser::Format::Mlsd, got);
    const std::size_t chunk = 65536;
    p.Feed(data.data(), chunk);
    // Entries reach the caller while the rest of the listing is still on the wire.
    EXPECT_GT(got.entries.size(), 500u);
    for (std::size_t i = chunk; i < data.size(); i += chunk) p.Feed(data.data() + i, std::min(chunk, data.size() - i));
    p.Finish();
    ASSERT_EQ(got.entries.size(), kCount);
    EXPECT_TRUE(got.problems.empty());
    for (std::size_t i = 0; i < kCount; i += 9973) {
        EXPECT_EQ(got.entries[i].name, "file" + std::to_string(i));
        EXPECT_EQ(got.entries[i].size, i);
    }
}

TEST(ListingStream, SinksAreOptional) {
    const std::string_view data = "garbage\n-rw-r--r-- 1 u g 1 Jan 15  2024 f\na/b\n";
    ListingParser quiet(ListingParser::Format::List, kCaptureNow, {}, {});
    quiet.Feed(data.data(), data.size());
    quiet.Feed(nullptr, 0);
    quiet.Finish();
    std::size_t count = 0;
    ListingParser entriesOnly(ListingParser::Format::List, kCaptureNow, [&count](DirEntry&&) { ++count; });
    entriesOnly.Feed(data.data(), data.size());
    entriesOnly.Finish();
    EXPECT_EQ(count, 1u);
}

// ---------------------------------------------------------------------------------------------------------
// Random input: whatever comes, no crash, no sanitizer report, and what is delivered is usable.

void CheckDelivered(const Collected& got) {
    for (const DirEntry& e : got.entries) {
        ASSERT_TRUE(inet::IsSafeEntryName(e.name)) << e.name;
        ASSERT_TRUE(e.modified == -1 || (e.modified >= Utc(0, 1, 1) && e.modified <= Utc(9999, 12, 31, 23, 59, 59)));
        ASSERT_FALSE(e.isFolder && e.isLink);
    }
    for (const auto& [kind, line] : got.problems) {
        ASSERT_TRUE(kind == LineKind::UnsafeName || kind == LineKind::Unrecognised);
        ASSERT_LE(line.size(), ListingParser::kMaxLineLength);
    }
}

TEST(ListingFuzz, MillionBytesOfGarbage) {
    std::mt19937 rng(20261207);
    std::string garbage(1000000, '\0');
    for (char& c : garbage) c = static_cast<char>(rng() & 0xff);
    // Plenty of line ends and digits too, so that lines are short enough to be looked at.
    std::string texty = garbage;
    const std::string_view alphabet = "0123456789 :-;=\r\n\t,+<DIR>drwxJanFebtype=filesize";
    for (char& c : texty) c = alphabet[rng() % alphabet.size()];
    for (const std::string* data : {&garbage, &texty}) {
        for (auto format : {ListingParser::Format::List, ListingParser::Format::Mlsd}) {
            Collected got;
            ListingParser p = MakeParser(format, got);
            std::size_t i = 0;
            while (i < data->size()) {
                const std::size_t n = std::min<std::size_t>(1 + rng() % 5000, data->size() - i);
                p.Feed(data->data() + i, n);
                i += n;
            }
            p.Finish();
            CheckDelivered(got);
        }
    }
}

TEST(ListingFuzz, MutatedRealLines) {
    const std::vector<std::string_view> seeds = {
        "-rw-r--r--    1 0        0        5368709120 Jan 15  2024 big.iso",
        "lrwxrwxrwx    1 0        0               7 Jan 15  2024 dirlink -> sub dir",
        "-rw-r--r--    1 root     root            5 Nov 20 14:25 recent.txt",
        "crw-r--r--    1 root     root        1,   3 Jan  1  2020 null",
        "drwxrwsr-t  2 1001 1001 4096 2024-01-15 10:30 iso dates",
        "01-15-24  03:04PM       <DIR>          name",
        "12-31-1998  11:59PM                   10 y2k report.txt",
        "d [R----F--] supervisor            512       Jan 16 18:53    login",
        "+i8388621.48594,m825718503,r,s280,\tdjb.html",
        "modify=20240115103000;perm=r;size=5368709120;type=file;unique=fe00ga7232b; big.iso",
        "type=OS.unix=slink:/etc/hosts;size=10;modify=20240115103000.5;UNIX.mode=0755; hosts",
        "Type=cdir;Modify=19981107085215;Perm=el; tmp",
    };
    const std::string_view interesting = "0123456789:;=-/\\ \t\r\n\x7f\x01\xff,<>+.9Jan";
    std::mt19937 rng(42);
    for (int iteration = 0; iteration < 60000; ++iteration) {
        std::string line(seeds[rng() % seeds.size()]);
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < edits && !line.empty(); ++k) {
            const std::size_t pos = rng() % line.size();
            switch (rng() % 4) {
                case 0: line[pos] = interesting[rng() % interesting.size()]; break;
                case 1: line.insert(pos, 1, interesting[rng() % interesting.size()]); break;
                case 2: line.erase(pos, 1 + rng() % 3); break;
                default: line.insert(pos, std::string(1 + rng() % 40, static_cast<char>('0' + rng() % 10))); break;
            }
        }
        DirEntry e;
        if (inet::ParseListLine(line, e, static_cast<std::int64_t>(rng())) == LineKind::Entry) {
            ASSERT_TRUE(inet::IsSafeEntryName(e.name)) << line;
        }
        if (inet::ParseMlsdLine(line, e) == LineKind::Entry) {
            ASSERT_TRUE(inet::IsSafeEntryName(e.name)) << line;
        }
        // The same bytes through the stream parser, cut at a random place.
        Collected got;
        ListingParser p = MakeParser(rng() % 2 ? ListingParser::Format::List : ListingParser::Format::Mlsd, got);
        const std::size_t cut = line.empty() ? 0 : rng() % line.size();
        p.Feed(line.data(), cut);
        p.Feed(line.data() + cut, line.size() - cut);
        p.Finish();
        CheckDelivered(got);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
