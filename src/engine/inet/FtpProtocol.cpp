#include "engine/inet/FtpProtocol.h"

#include "engine/inet/InternetError.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace inet {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Server text put into an error message: printable and short.
std::string Printable(std::string_view s)
{
    std::string out;
    for (char c : s.substr(0, 200)) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    if (s.size() > 200)
        out += "...";
    return out;
}

// The reply code at the start of a line, or 0 when the line does not start a reply.
int LeadingCode(std::string_view line, char& separator)
{
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
        return 0;
    if (line[0] < '1' || line[0] > '5')
        return 0;
    separator = line.size() == 3 ? ' ' : line[3];
    if (separator != ' ' && separator != '-')
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

std::string_view AfterCode(std::string_view text)
{
    return text.size() > 4 ? text.substr(4) : std::string_view{};
}

}  // namespace

std::string FtpReply::Text() const
{
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += "\r\n";
        out += lines[i];
    }
    return out;
}

bool ReplyReader::ReadLine(const Source& source, std::string& line, bool& cut)
{
    line.clear();
    cut = false;
    bool any = false;
    for (;;) {
        if (pos_ >= buffer_.size()) {
            buffer_.resize(16384);
            pos_ = 0;
            std::size_t n = 0;
            try {
                n = source(buffer_.data(), buffer_.size());
            } catch (...) {
                buffer_.clear();
                throw;
            }
            buffer_.resize(n);
            if (n == 0) {
                if (!any)
                    return false;
                break;  // a last line without its line end still counts
            }
        }
        any = true;
        const char* begin = buffer_.data() + pos_;
        const char* end = buffer_.data() + buffer_.size();
        const char* lf = static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
        const char* stop = lf ? lf : end;
        std::size_t room = kMaxLineBytes - line.size();
        std::size_t take = std::min<std::size_t>(room, static_cast<std::size_t>(stop - begin));
        line.append(begin, take);
        if (take < static_cast<std::size_t>(stop - begin))
            cut = true;
        pos_ = static_cast<std::size_t>(stop - buffer_.data());
        if (lf) {
            ++pos_;
            break;
        }
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    ++linesSeen_;
    return true;
}

FtpReply ReplyReader::Read(const Source& source)
{
    FtpReply reply;
    std::string line;
    bool cut = false;
    if (!ReadLine(source, line, cut))
        throw InternetError(err::kConnectionAborted, "The server closed the connection");
    char separator = ' ';
    reply.code = LeadingCode(line, separator);
    if (reply.code == 0)
        throw InternetError(err::kInvalidServerResponse,
                            "The server sent a line that is not an FTP reply: \"" + Printable(line) + "\"");
    reply.truncated = cut;
    reply.lines.push_back(std::move(line));
    if (separator == ' ')
        return reply;

    std::size_t count = 1;
    for (;;) {
        if (!ReadLine(source, line, cut))
            throw InternetError(err::kConnectionAborted,
                                "The server closed the connection in the middle of a reply", reply.Text());
        if (++count > kMaxReplyLines)
            throw InternetError(err::kInvalidServerResponse, "The server sent a reply of too many lines");
        char sep = 0;
        bool last = LeadingCode(line, sep) == reply.code && sep == ' ';
        if (last || reply.lines.size() < kMaxKeptLines - 1) {
            reply.truncated = reply.truncated || cut;
            reply.lines.push_back(line);
        } else {
            reply.truncated = true;
        }
        if (last)
            return reply;
    }
}

bool ParsePasvReply(std::string_view text, std::uint8_t (&address)[4], int& port)
{
    text = AfterCode(text);
    // The six numbers may or may not be in parentheses; take the first run of them.
    for (std::size_t start = 0; start < text.size(); ++start) {
        if (!IsDigit(text[start]) || (start > 0 && IsDigit(text[start - 1])))
            continue;
        int values[6];
        std::size_t i = start;
        int got = 0;
        for (; got < 6; ++got) {
            if (i >= text.size() || !IsDigit(text[i]))
                break;
            int v = 0;
            std::size_t digits = 0;
            while (i < text.size() && IsDigit(text[i]) && digits < 4) {
                v = v * 10 + (text[i] - '0');
                ++i;
                ++digits;
            }
            if (digits > 3 || v > 255)
                break;
            values[got] = v;
            if (got < 5) {
                if (i >= text.size() || text[i] != ',')
                    break;
                ++i;
            }
        }
        if (got == 6) {
            for (int k = 0; k < 4; ++k)
                address[k] = static_cast<std::uint8_t>(values[k]);
            port = values[4] * 256 + values[5];
            return port > 0;
        }
    }
    return false;
}

bool ParseEpsvReply(std::string_view text, int& port)
{
    std::size_t open = text.find('(');
    if (open == std::string_view::npos)
        return false;
    std::string_view rest = text.substr(open + 1);
    if (rest.size() < 5)
        return false;
    char d = rest[0];
    if (d < 33 || d > 126 || IsDigit(d))
        return false;
    if (rest[1] != d || rest[2] != d)
        return false;
    std::size_t i = 3;
    long v = 0;
    std::size_t digits = 0;
    while (i < rest.size() && IsDigit(rest[i]) && digits < 6) {
        v = v * 10 + (rest[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || i >= rest.size() || rest[i] != d || v < 1 || v > 65535)
        return false;
    if (i + 1 >= rest.size() || rest[i + 1] != ')')
        return false;
    port = static_cast<int>(v);
    return true;
}

std::optional<std::string> ParsePwdReply(std::string_view text)
{
    std::string_view rest = AfterCode(text);
    std::size_t q = rest.find('"');
    if (q == std::string_view::npos) {
        // Some servers omit the quotes: take the first word.
        std::size_t b = rest.find_first_not_of(' ');
        if (b == std::string_view::npos)
            return std::nullopt;
        std::size_t e = rest.find(' ', b);
        return std::string(rest.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
    }
    std::string path;
    for (std::size_t i = q + 1; i < rest.size(); ++i) {
        if (rest[i] == '"') {
            if (i + 1 < rest.size() && rest[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            return path;
        }
        path += rest[i];
    }
    return std::nullopt;  // no closing quote
}

std::optional<std::uint64_t> ParseSizeReply(std::string_view text)
{
    std::string_view rest = AfterCode(text);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.empty() || !IsDigit(rest.front()))
        return std::nullopt;
    std::uint64_t v = 0;
    std::size_t i = 0;
    for (; i < rest.size() && IsDigit(rest[i]); ++i) {
        std::uint64_t digit = static_cast<std::uint64_t>(rest[i] - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        v = v * 10 + digit;
    }
    if (i < rest.size() && rest[i] != ' ' && rest[i] != '\r')
        return std::nullopt;
    return v;
}

std::optional<std::int64_t> UtcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int maxDay = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > maxDay)
        return std::nullopt;
    // Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
    std::int64_t y = year - (month <= 2 ? 1 : 0);
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t mp = (month + 9) % 12;
    std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + std::min(second, 59);
}

std::optional<std::int64_t> ParseMdtmReply(std::string_view text)
{
    std::string_view rest = AfterCode(text);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.size() < 14)
        return std::nullopt;
    for (std::size_t i = 0; i < 14; ++i)
        if (!IsDigit(rest[i]))
            return std::nullopt;
    if (rest.size() > 14 && rest[14] != '.' && rest[14] != ' ')
        return std::nullopt;
    auto num = [&](std::size_t at, std::size_t len) {
        int v = 0;
        for (std::size_t i = at; i < at + len; ++i)
            v = v * 10 + (rest[i] - '0');
        return v;
    };
    return UtcSeconds(num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2));
}

std::optional<std::uint64_t> ParseTransferSize(std::string_view text)
{
    // Look for "(N bytes" from the end: file names may contain parentheses.
    std::size_t pos = text.rfind(" bytes");
    while (pos != std::string_view::npos && pos > 0) {
        std::size_t b = pos;
        while (b > 0 && IsDigit(text[b - 1]))
            --b;
        if (b < pos && b > 0 && text[b - 1] == '(') {
            std::string line = "213 " + std::string(text.substr(b, pos - b));
            return ParseSizeReply(line);
        }
        if (pos == 0)
            break;
        pos = text.rfind(" bytes", pos - 1);
    }
    return std::nullopt;
}

FeatureMap ParseFeatReply(const FtpReply& reply)
{
    FeatureMap out;
    if (!reply.Positive())
        return out;
    for (std::size_t i = 1; i + 1 < reply.lines.size(); ++i) {
        std::string_view line = reply.lines[i];
        // Features are indented by one space; be lenient about more or none.
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty())
            continue;
        std::size_t sp = line.find(' ');
        std::string name(line.substr(0, sp));
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string params = sp == std::string_view::npos ? std::string() : std::string(line.substr(sp + 1));
        auto [place, added] = out.try_emplace(name, params);
        if (!added && !params.empty())
            place->second += (place->second.empty() ? "" : "\n") + params;
    }
    return out;
}

std::string MlstFactsWithUnixFacts(std::string_view offered)
{
    std::string inUse;
    std::string added;
    while (!offered.empty()) {
        const std::size_t semicolon = offered.find(';');
        std::string_view fact = offered.substr(0, semicolon);
        offered.remove_prefix(semicolon == std::string_view::npos ? offered.size() : semicolon + 1);
        const bool on = !fact.empty() && fact.back() == '*';
        if (on)
            fact.remove_suffix(1);
        if (fact.empty() || fact.find(' ') != std::string_view::npos)
            continue;
        std::string lower(fact);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (on)
            inUse += std::string(fact) + ';';
        else if (lower.rfind("unix.", 0) == 0)
            added += std::string(fact) + ';';
    }
    // A server that marks nothing as in use gives no set to add to: asking
    // for the Unix facts alone would turn off its type and size.
    if (inUse.empty() || added.empty())
        return std::string();
    return inUse + added;
}

}  // namespace inet
