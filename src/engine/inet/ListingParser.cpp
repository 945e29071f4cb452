#include "engine/inet/ListingParser.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace inet {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Latest instant the four-digit years of listings can express (9999-12-31 23:59:59).
constexpr std::int64_t kMaxEpoch = 253402300799;
// A "Mon dd hh:mm" date may lie this far after our clock and still be this year's: the server's clock or
// time zone can run ahead of ours.
constexpr std::int64_t kFutureSlack = 3 * kSecondsPerDay;

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ToLower(a[i]) != ToLower(b[i])) return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

// Fails on anything but plain digits and on values beyond 64 bits, so a hostile size can neither wrap
// nor come through as a plausible smaller number.
bool ParseU64(std::string_view s, std::uint64_t& out) {
    if (!AllDigits(s)) return false;
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (char c : s) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// For date and clock fields: bounded in length so the result always fits an int.
bool ParseSmall(std::string_view s, std::size_t minDigits, std::size_t maxDigits, int& out) {
    if (s.size() < minDigits || s.size() > maxDigits || !AllDigits(s)) return false;
    int value = 0;
    for (char c : s) value = value * 10 + (c - '0');
    out = value;
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Calendar arithmetic on the proleptic Gregorian calendar, independent of the C library's time zone and locale.

bool IsLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(std::int64_t y, int m) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = m > 2 ? m - 3 : m + 9;
    const std::int64_t doy = (153 * mp + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::int64_t YearFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    return yoe + era * 400 + (m <= 2 ? 1 : 0);
}

struct CivilTime {
    std::int64_t year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool Valid() const {
        return year >= 0 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
               day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
               second >= 0 && second <= 60;
    }
    std::int64_t ToEpoch() const {
        return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    }
};

// The "Mon dd hh:mm" form: the most recent such date that is not clearly in the future. Going back up to
// eight years lets Feb 29 find its leap year (2100 is not one).
bool InferYear(CivilTime& t, std::int64_t nowUtc) {
    const std::int64_t now = std::clamp<std::int64_t>(nowUtc, 0, kMaxEpoch);
    const std::int64_t nowYear = YearFromDays(now / kSecondsPerDay);
    for (std::int64_t y = nowYear + 1; y >= nowYear - 8; --y) {
        t.year = y;
        if (t.Valid() && t.ToEpoch() <= now + kFutureSlack) return true;
    }
    return false;
}

int MonthFromName(std::string_view s) {
    static constexpr std::array<std::string_view, 12> kNames{"jan", "feb", "mar", "apr", "may", "jun",
                                                             "jul", "aug", "sep", "oct", "nov", "dec"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (EqualsNoCase(s, kNames[i])) return static_cast<int>(i) + 1;
    }
    return 0;
}

// "h:mm", "hh:mm" or "hh:mm:ss"; ranges are checked by CivilTime::Valid.
bool ParseClock(std::string_view s, CivilTime& t) {
    const auto colon = s.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view minutes = s.substr(colon + 1);
    std::string_view seconds;
    if (const auto colon2 = minutes.find(':'); colon2 != std::string_view::npos) {
        seconds = minutes.substr(colon2 + 1);
        minutes = minutes.substr(0, colon2);
        if (!ParseSmall(seconds, 2, 2, t.second)) return false;
    } else {
        t.second = 0;
    }
    return ParseSmall(s.substr(0, colon), 1, 2, t.hour) && ParseSmall(minutes, 2, 2, t.minute);
}

// "YYYY-MM-DD"
bool ParseIsoDate(std::string_view s, CivilTime& t) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    int year = 0;
    if (!ParseSmall(s.substr(0, 4), 4, 4, year)) return false;
    t.year = year;
    return ParseSmall(s.substr(5, 2), 2, 2, t.month) && ParseSmall(s.substr(8, 2), 2, 2, t.day);
}

// Unix permission bits as ls shows them, for the servers that send only the number.
std::string ModeToString(unsigned mode) {
    std::string s = "rwxrwxrwx";
    for (std::size_t i = 0; i < 9; ++i) {
        if ((mode & (0400u >> i)) == 0) s[i] = '-';
    }
    if (mode & 04000u) s[2] = (mode & 0100u) ? 's' : 'S';
    if (mode & 02000u) s[5] = (mode & 0010u) ? 's' : 'S';
    if (mode & 01000u) s[8] = (mode & 0001u) ? 't' : 'T';
    return s;
}

bool ParseOctalMode(std::string_view s, unsigned& mode) {
    // pyftpdlib writes Python's octal form, "0o644".
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'o' || s[1] == 'O')) s.remove_prefix(2);
    if (s.empty() || s.size() > 6) return false;
    unsigned value = 0;
    for (char c : s) {
        if (c < '0' || c > '7') return false;
        value = value * 8 + static_cast<unsigned>(c - '0');
    }
    mode = value & 07777u;
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Whitespace-separated fields that remember where they sit, because a name is the raw rest of the line.

class Fields {
public:
    // Only the leading fields are ever inspected; everything later is part of a name.
    static constexpr std::size_t kMax = 16;

    explicit Fields(std::string_view line) : line_(line) {
        std::size_t i = 0;
        while (count_ < kMax) {
            while (i < line.size() && IsBlankChar(line[i])) ++i;
            if (i >= line.size()) break;
            const std::size_t start = i;
            while (i < line.size() && !IsBlankChar(line[i])) ++i;
            fields_[count_++] = line.substr(start, i - start);
        }
    }
    std::size_t Count() const { return count_; }
    std::string_view operator[](std::size_t i) const { return i < count_ ? fields_[i] : std::string_view{}; }
    std::size_t Begin(std::size_t i) const { return static_cast<std::size_t>(fields_[i].data() - line_.data()); }
    std::size_t End(std::size_t i) const { return Begin(i) + fields_[i].size(); }
    // The text after field i, less the one separator that follows it (the name may itself start with blanks).
    // Empty when nothing follows.
    std::string_view RestAfter(std::size_t i, std::size_t separators = 1) const {
        const std::size_t pos = End(i) + separators;
        return pos < line_.size() ? line_.substr(pos) : std::string_view{};
    }
    std::string_view RestAfterBlanks(std::size_t i) const {
        std::size_t pos = End(i);
        while (pos < line_.size() && IsBlankChar(line_[pos])) ++pos;
        return line_.substr(pos);
    }
    std::string_view Line() const { return line_; }

private:
    std::string_view line_;
    std::array<std::string_view, kMax> fields_{};
    std::size_t count_ = 0;
};

// "Mon dd hh:mm" / "Mon dd yyyy" in fields i..i+2. `hadYear` tells which of the two it was.
bool ParseMonthDayDate(const Fields& f, std::size_t i, std::int64_t nowUtc, CivilTime& t, bool& hadYear) {
    if (i + 2 >= f.Count()) return false;
    t = CivilTime{};
    t.month = MonthFromName(f[i]);
    if (t.month == 0 || !ParseSmall(f[i + 1], 1, 2, t.day)) return false;
    const std::string_view third = f[i + 2];
    if (third.size() == 4 && AllDigits(third)) {
        int year = 0;
        ParseSmall(third, 4, 4, year);
        t.year = year;
        hadYear = true;
        return t.Valid();
    }
    hadYear = false;
    return ParseClock(third, t) && InferYear(t, nowUtc);
}

// ---------------------------------------------------------------------------------------------------------
// Unix ls -l, and the many servers that imitate it.

bool IsUnixType(char c) {
    switch (c) {
        case '-': case 'd': case 'l': case 'b': case 'c': case 'p': case 's': case 'D':
            return true;
        default:
            return false;
    }
}

bool IsUnixPermissions(std::string_view s) {
    if (s.size() != 10 && s.size() != 11) return false;
    if (!IsUnixType(s[0])) return false;
    for (std::size_t i = 1; i < 10; ++i) {
        switch (s[i]) {
            case 'r': case 'w': case 'x': case 's': case 'S': case 't': case 'T': case 'l': case 'L': case '-':
                break;
            default:
                return false;
        }
    }
    // ACL, extended-attribute and security-context markers.
    return s.size() == 10 || s[10] == '+' || s[10] == '@' || s[10] == '.';
}

// Device files show "major, minor" where other entries show the size. Spaced out, the minor number alone is
// taken for the size column (and then dropped); written together it needs recognising.
bool IsDeviceNumbers(std::string_view s) {
    const auto comma = s.find(',');
    return comma != std::string_view::npos && AllDigits(s.substr(0, comma)) && AllDigits(s.substr(comma + 1));
}

bool ParseUnix(const Fields& f, std::int64_t nowUtc, DirEntry& out) {
    const std::string_view perms = f[0];
    if (!IsUnixPermissions(perms)) return false;
    const char type = perms[0];
    const bool device = type == 'b' || type == 'c';

    // Between the permissions and the size sit one to four of: link count, owner, group (some servers drop
    // one or the other). The first position where a size is followed by a date settles the layout; anything
    // after that date belongs to the name, even if it looks like another date.
    for (std::size_t s = 2; s <= 6 && s + 2 < f.Count(); ++s) {
        std::uint64_t size = 0;
        if (!ParseU64(f[s], size) && !(device && IsDeviceNumbers(f[s]))) continue;
        if (device) size = 0;

        CivilTime t;
        std::size_t last = 0;
        bool hadYear = false;
        std::size_t separators = 1;
        if (ParseMonthDayDate(f, s + 1, nowUtc, t, hadYear)) {
            last = s + 3;
            // ls right-aligns the year under "hh:mm" ("Jan 15  2024 name"); a server that left-aligns it instead
            // ("Jan 15 2024  name") puts the padding before the name, and it is not part of it.
            const std::size_t gapBeforeYear = f.Begin(s + 3) - f.End(s + 2);
            const std::string_view after = f.Line().substr(f.End(last));
            if (hadYear && gapBeforeYear == 1 && after.size() > 2 && after[0] == ' ' && after[1] == ' ') {
                separators = 2;
            }
        } else if (ParseIsoDate(f[s + 1], t) && ParseClock(f[s + 2], t) && t.Valid()) {
            last = s + 2;
        } else {
            continue;
        }

        std::string_view name = f.RestAfter(last, separators);
        if (name.empty()) return false;

        DirEntry e;
        e.size = size;
        e.modified = t.ToEpoch();
        // "Jan 15 2019" names the day only; "Jan 15 14:03" and ISO dates the minute.
        e.timePrecision = hadYear ? TimePrecision::Days : TimePrecision::Minutes;
        e.permissions = std::string(perms.substr(1, 9));
        // Before the size: the link count, then the owner and the group, as
        // far as the server sends them; a device's major number is no group.
        std::size_t first = 1;
        std::size_t end = s;
        if (device && end > first && f[end - 1].back() == ',') --end;
        if (end - first >= 2 && AllDigits(f[first])) ++first;
        if (first < end) e.owner = std::string(f[first]);
        if (first + 1 < end) e.group = std::string(f[first + 1]);
        if (type == 'd') {
            e.isFolder = true;
        } else if (type == 'l') {
            // Whether the target is a folder cannot be told from here; that takes a CWD or MLST on it.
            e.isLink = true;
            if (const auto arrow = name.find(" -> "); arrow != std::string_view::npos) {
                e.linkTarget = std::string(name.substr(arrow + 4));
                name = name.substr(0, arrow);
            }
        }
        e.name = std::string(name);
        out = std::move(e);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------------
// MS-DOS style, as sent by IIS and other Windows servers:
//   01-15-24  03:04PM       <DIR>          name
//   01-15-2024  15:04              1234 name

bool ParseDosDate(std::string_view s, CivilTime& t) {
    const auto sep1 = s.find_first_of("-/");
    if (sep1 == std::string_view::npos) return false;
    const char sep = s[sep1];
    const auto sep2 = s.find(sep, sep1 + 1);
    if (sep2 == std::string_view::npos) return false;
    const std::string_view a = s.substr(0, sep1);
    const std::string_view b = s.substr(sep1 + 1, sep2 - sep1 - 1);
    const std::string_view c = s.substr(sep2 + 1);
    int year = 0;
    if (a.size() == 4) {  // YYYY-MM-DD
        if (!ParseSmall(a, 4, 4, year) || !ParseSmall(b, 1, 2, t.month) || !ParseSmall(c, 1, 2, t.day)) return false;
    } else {              // MM-DD-YY or MM-DD-YYYY
        if (!ParseSmall(a, 1, 2, t.month) || !ParseSmall(b, 1, 2, t.day)) return false;
        if (c.size() == 2) {
            if (!ParseSmall(c, 2, 2, year)) return false;
            // Nothing on an FTP server predates 1970, so two-digit years pivot there.
            year += year < 70 ? 2000 : 1900;
        } else if (!ParseSmall(c, 4, 4, year)) {
            return false;
        }
    }
    t.year = year;
    return true;
}

bool ParseDosTime(std::string_view s, CivilTime& t) {
    bool pm = false;
    bool twelveHour = false;
    if (s.size() > 2 && (EqualsNoCase(s.substr(s.size() - 2), "AM") || EqualsNoCase(s.substr(s.size() - 2), "PM"))) {
        twelveHour = true;
        pm = ToLower(s[s.size() - 2]) == 'p';
        s.remove_suffix(2);
    }
    if (!ParseClock(s, t)) return false;
    if (twelveHour) {
        if (t.hour < 1 || t.hour > 12) return false;
        t.hour = (t.hour % 12) + (pm ? 12 : 0);
    }
    return true;
}

bool ParseDos(const Fields& f, DirEntry& out) {
    if (f.Count() < 4 || !IsDigit(f[0].front())) return false;
    CivilTime t;
    if (!ParseDosDate(f[0], t) || !ParseDosTime(f[1], t) || !t.Valid()) return false;

    DirEntry e;
    std::string_view name;
    if (f[2] == "<DIR>") {
        // The <DIR> column is padded to a width that differs between servers, so a folder name's own leading
        // blanks cannot be told apart from the padding.
        e.isFolder = true;
        name = f.RestAfterBlanks(2);
    } else {
        if (!ParseU64(f[2], e.size)) return false;
        name = f.RestAfter(2);
    }
    if (name.empty()) return false;
    e.name = std::string(name);
    e.modified = t.ToEpoch();
    e.timePrecision = TimePrecision::Minutes;
    out = std::move(e);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// NetWare: "d [R----F--] supervisor            512       Jan 16 18:53    login"

bool ParseNetware(const Fields& f, std::int64_t nowUtc, DirEntry& out) {
    if (f.Count() < 8 || (f[0] != "d" && f[0] != "-")) return false;
    const std::string_view rights = f[1];
    if (rights.size() < 2 || rights.front() != '[' || rights.back() != ']') return false;
    DirEntry e;
    if (!ParseU64(f[3], e.size)) return false;
    CivilTime t;
    bool hadYear = false;
    if (!ParseMonthDayDate(f, 4, nowUtc, t, hadYear)) return false;
    // NetWare pads the name column, so leading blanks are not part of the name.
    const std::string_view name = f.RestAfterBlanks(6);
    if (name.empty()) return false;
    e.name = std::string(name);
    e.isFolder = f[0] == "d";
    e.modified = t.ToEpoch();
    e.timePrecision = hadYear ? TimePrecision::Days : TimePrecision::Minutes;
    e.permissions = std::string(rights.substr(1, rights.size() - 2));
    out = std::move(e);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// EPLF: "+i8388621.48594,m825718503,r,s280,\tdjb.html"

bool ParseEplf(std::string_view line, DirEntry& out) {
    if (line.empty() || line.front() != '+') return false;
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos || tab + 1 >= line.size()) return false;
    std::string_view facts = line.substr(1, tab - 1);
    DirEntry e;
    while (!facts.empty()) {
        const auto comma = facts.find(',');
        const std::string_view fact = facts.substr(0, comma);
        facts = comma == std::string_view::npos ? std::string_view{} : facts.substr(comma + 1);
        if (fact.empty()) continue;
        switch (fact.front()) {
            case '/':
                e.isFolder = true;
                break;
            case 's':
                if (!ParseU64(fact.substr(1), e.size)) return false;
                break;
            case 'm': {
                std::uint64_t seconds = 0;
                if (ParseU64(fact.substr(1), seconds) && seconds <= static_cast<std::uint64_t>(kMaxEpoch)) {
                    e.modified = static_cast<std::int64_t>(seconds);
                }
                break;
            }
            case 'u': {
                unsigned mode = 0;
                if (fact.size() > 1 && fact[1] == 'p' && ParseOctalMode(fact.substr(2), mode)) {
                    e.permissions = ModeToString(mode);
                }
                break;
            }
            default:  // 'r' (retrievable), 'i' (identity) and unknown facts tell nothing we keep
                break;
        }
    }
    e.name = std::string(line.substr(tab + 1));
    out = std::move(e);
    return true;
}

// "total 123" heads ls output; it is not an entry.
bool IsNoise(const Fields& f) {
    return f.Count() == 2 && EqualsNoCase(f[0], "total") && IsDigit(f[1].front());
}

LineKind Classify(const DirEntry& e) {
    if (e.name.empty()) return LineKind::Unrecognised;
    return IsSafeEntryName(e.name) ? LineKind::Entry : LineKind::UnsafeName;
}

bool ParseMlsdTime(std::string_view s, std::int64_t& out) {
    // YYYYMMDDHHMMSS[.sss]; the fraction is finer than anything we keep.
    if (const auto dot = s.find('.'); dot != std::string_view::npos) {
        if (!AllDigits(s.substr(dot + 1))) return false;
        s = s.substr(0, dot);
    }
    if (s.size() != 14 || !AllDigits(s)) return false;
    CivilTime t;
    int year = 0;
    ParseSmall(s.substr(0, 4), 4, 4, year);
    t.year = year;
    ParseSmall(s.substr(4, 2), 2, 2, t.month);
    ParseSmall(s.substr(6, 2), 2, 2, t.day);
    ParseSmall(s.substr(8, 2), 2, 2, t.hour);
    ParseSmall(s.substr(10, 2), 2, 2, t.minute);
    ParseSmall(s.substr(12, 2), 2, 2, t.second);
    if (!t.Valid()) return false;
    out = t.ToEpoch();
    return true;
}

// How well a fact names an owner (or group): 3 for "UNIX.ownername", 2 for
// "UNIX.owner" (a number on some servers), 1 for "UNIX.uid"; 0 for any
// other fact.
int OwnerFactRank(std::string_view key, std::string_view what, std::string_view id) {
    if (!StartsWithNoCase(key, "UNIX.")) return 0;
    const std::string_view rest = key.substr(5);
    if (rest.size() == what.size() + 4 && StartsWithNoCase(rest, what) && EqualsNoCase(rest.substr(what.size()), "name"))
        return 3;
    if (EqualsNoCase(rest, what)) return 2;
    if (EqualsNoCase(rest, id)) return 1;
    return 0;
}

}  // namespace

bool IsSafeEntryName(std::string_view name) {
    if (name.empty()) return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
    }
    return true;
}

LineKind ParseListLine(std::string_view line, DirEntry& out, std::int64_t nowUtc) {
    out = DirEntry{};
    const Fields f(line);
    if (f.Count() == 0) return LineKind::Ignored;
    if (ParseUnix(f, nowUtc, out) || ParseDos(f, out) || ParseNetware(f, nowUtc, out) || ParseEplf(line, out)) {
        return Classify(out);
    }
    out = DirEntry{};
    return IsNoise(f) ? LineKind::Ignored : LineKind::Unrecognised;
}

LineKind ParseMlsdLine(std::string_view line, DirEntry& out) {
    out = DirEntry{};
    if (std::all_of(line.begin(), line.end(), IsBlankChar)) return LineKind::Ignored;

    // The facts end with ';' and one space. Looking for "; " rather than the first space keeps fact values
    // with blanks in them (owner names from a directory service) out of the name; a server that leaves off
    // the final ';' is still read up to its first space.
    std::string_view facts;
    std::string_view name;
    if (line.front() == ' ') {
        name = line.substr(1);
    } else if (const auto end = line.find("; "); end != std::string_view::npos) {
        facts = line.substr(0, end + 1);
        name = line.substr(end + 2);
    } else if (const auto space = line.find(' '); space != std::string_view::npos) {
        facts = line.substr(0, space);
        name = line.substr(space + 1);
    } else {
        return LineKind::Unrecognised;
    }

    DirEntry e;
    bool haveSize = false;
    std::uint64_t folderSize = 0;
    bool haveFolderSize = false;
    bool haveMode = false;
    unsigned mode = 0;
    int ownerRank = 0;
    int groupRank = 0;
    std::string_view forcedName;
    while (!facts.empty()) {
        const auto semi = facts.find(';');
        const std::string_view fact = facts.substr(0, semi);
        facts = semi == std::string_view::npos ? std::string_view{} : facts.substr(semi + 1);
        if (fact.empty()) continue;
        const auto eq = fact.find('=');
        if (eq == std::string_view::npos || eq == 0) return LineKind::Unrecognised;
        const std::string_view key = fact.substr(0, eq);
        const std::string_view value = fact.substr(eq + 1);

        if (EqualsNoCase(key, "type")) {
            e.isFolder = false;
            e.isLink = false;
            e.linkTarget.clear();
            forcedName = {};
            if (EqualsNoCase(value, "dir")) {
                e.isFolder = true;
            } else if (EqualsNoCase(value, "cdir")) {
                e.isFolder = true;
                forcedName = ".";
            } else if (EqualsNoCase(value, "pdir")) {
                e.isFolder = true;
                forcedName = "..";
            } else if (StartsWithNoCase(value, "OS.unix=slink") || StartsWithNoCase(value, "OS.unix=symlink")) {
                e.isLink = true;
                if (const auto colon = value.find(':'); colon != std::string_view::npos) {
                    e.linkTarget = std::string(value.substr(colon + 1));
                }
            }
            // "file", and types such as "unknown" or "OS.unix=blkdev", are plain entries.
        } else if (EqualsNoCase(key, "size")) {
            if (!ParseU64(value, e.size)) return LineKind::Unrecognised;
            haveSize = true;
        } else if (EqualsNoCase(key, "sizd")) {
            if (!ParseU64(value, folderSize)) return LineKind::Unrecognised;
            haveFolderSize = true;
        } else if (EqualsNoCase(key, "modify")) {
            if (!ParseMlsdTime(value, e.modified)) e.modified = -1;
        } else if (EqualsNoCase(key, "create")) {
            if (!ParseMlsdTime(value, e.created)) e.created = -1;
        } else if (EqualsNoCase(key, "perm")) {
            e.permissions = std::string(value);
        } else if (EqualsNoCase(key, "UNIX.mode")) {
            haveMode = ParseOctalMode(value, mode);
        } else if (const int rank = OwnerFactRank(key, "owner", "uid"); rank > ownerRank) {
            // A name wins over a number, whatever order the facts come in.
            e.owner = std::string(value);
            ownerRank = rank;
        } else if (const int rank = OwnerFactRank(key, "group", "gid"); rank > groupRank) {
            e.group = std::string(value);
            groupRank = rank;
        }
    }
    if (!haveSize && haveFolderSize) e.size = folderSize;
    // The mode is what SITE CHMOD changes and what people read; the perm
    // fact ("adfr") only stands in where the server gives no mode.
    if (haveMode) e.permissions = ModeToString(mode);

    e.name = forcedName.empty() ? std::string(name) : std::string(forcedName);
    out = std::move(e);
    return Classify(out);
}

// ---------------------------------------------------------------------------------------------------------

ListingParser::ListingParser(Format format, std::int64_t nowUtc, EntrySink onEntry, ProblemSink onProblem)
    : format_(format), nowUtc_(nowUtc), onEntry_(std::move(onEntry)), onProblem_(std::move(onProblem)) {}

void ListingParser::Feed(const char* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        if (lf == std::string_view::npos) {
            AppendPartial(rest);
            return;
        }
        std::string_view piece = rest.substr(0, lf);
        rest.remove_prefix(lf + 1);
        if (skipping_) {
            skipping_ = false;
            continue;
        }
        if (pending_.empty()) {
            // The common case: the whole line is in this chunk and is parsed where it lies.
            const bool cr = !piece.empty() && piece.back() == '\r';
            if (cr) piece.remove_suffix(1);
            if (piece.size() > kMaxLineLength) {
                ReportOverlong(piece);
            } else {
                CompleteLine(piece, cr);
            }
            continue;
        }
        AppendPartial(piece);
        if (skipping_) {  // the end of the line made it too long: already reported
            skipping_ = false;
            continue;
        }
        std::string line = std::move(pending_);
        pending_.clear();
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.pop_back();
        if (line.size() > kMaxLineLength) {
            ReportOverlong(line);
        } else {
            CompleteLine(line, cr);
        }
    }
}

void ListingParser::Finish() {
    if (!skipping_ && !pending_.empty()) {
        std::string line = std::move(pending_);
        if (line.back() == '\r') line.pop_back();
        if (line.size() > kMaxLineLength) {
            ReportOverlong(line);
        } else {
            CompleteLine(line, true);
        }
    }
    if (!held_.empty()) {
        const std::string held = std::move(held_);
        held_.clear();
        HandleLine(held);
    }
    pending_.clear();
    skipping_ = false;
    lineEnds_ = LineEnds::Unknown;
}

void ListingParser::CompleteLine(std::string_view line, bool endedWithCr) {
    if (!held_.empty()) {
        // A first line cut by a bare LF waited for this one to tell how the
        // listing ends its lines.
        if (lineEnds_ == LineEnds::Unknown) lineEnds_ = endedWithCr ? LineEnds::CrLf : LineEnds::Lf;
        // In a listing of CR LF lines (LIST or MLSD), an entry line cut by a
        // bare LF and followed by something that is no line at all: one name
        // holding a line break. Refused whole, instead of an entry for a name
        // that does not exist and a line of rubbish.
        const std::string held = std::move(held_);
        held_.clear();
        DirEntry before, after;
        if (lineEnds_ == LineEnds::CrLf && ParseLine(line, after) == LineKind::Unrecognised &&
            ParseLine(held, before) == LineKind::Entry) {
            if (onProblem_) onProblem_(LineKind::UnsafeName, held + "\n" + std::string(line));
            return;
        }
        HandleLine(held);
    }
    if (lineEnds_ == LineEnds::Unknown && endedWithCr) lineEnds_ = LineEnds::CrLf;
    if (lineEnds_ != LineEnds::Lf && !endedWithCr) {
        held_.assign(line.data(), line.size());
        return;
    }
    HandleLine(line);
}

void ListingParser::AppendPartial(std::string_view piece) {
    if (skipping_) return;
    // One byte over the limit is allowed for the CR of a CR LF that has not arrived yet.
    if (pending_.size() + piece.size() > kMaxLineLength + 1) {
        const std::size_t have = std::min(pending_.size(), kOverlongExcerpt);
        pending_.resize(have);
        pending_.append(piece.substr(0, kOverlongExcerpt - have));
        ReportOverlong(pending_);
        pending_.clear();
        skipping_ = true;
        return;
    }
    pending_.append(piece);
}

LineKind ListingParser::ParseLine(std::string_view line, DirEntry& entry) const {
    return format_ == Format::List ? ParseListLine(line, entry, nowUtc_) : ParseMlsdLine(line, entry);
}

void ListingParser::HandleLine(std::string_view line) {
    DirEntry entry;
    const LineKind kind = ParseLine(line, entry);
    switch (kind) {
        case LineKind::Entry:
            if (onEntry_) onEntry_(std::move(entry));
            break;
        case LineKind::Ignored:
            break;
        case LineKind::UnsafeName:
        case LineKind::Unrecognised:
            if (onProblem_) onProblem_(kind, line);
            break;
    }
}

void ListingParser::ReportOverlong(std::string_view start) {
    if (onProblem_) onProblem_(LineKind::Unrecognised, start.substr(0, kOverlongExcerpt));
}

}  // namespace inet
