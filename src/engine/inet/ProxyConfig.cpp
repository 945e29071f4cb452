#include "engine/inet/ProxyConfig.h"

#include "engine/inet/InternetError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace inet {

namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void Bad(std::string_view text, const char* why)
{
    throw InternetError(err::kInvalidUrl, "The proxy address \"" + std::string(text.substr(0, 200)) + "\" " + why);
}

// An address as 16 bytes (IPv4 mapped into IPv6) so one CIDR compare serves both.
bool IpBytes(std::string_view text, unsigned char (&out)[16], bool& v4)
{
    std::string s(text);
    if (s.size() >= 2 && s.front() == '[' && s.back() == ']')
        s = s.substr(1, s.size() - 2);
    in_addr a4{};
    in6_addr a6{};
    if (::inet_pton(AF_INET, s.c_str(), &a4) == 1) {
        std::memset(out, 0, 16);
        out[10] = out[11] = 0xff;
        std::memcpy(out + 12, &a4, 4);
        v4 = true;
        return true;
    }
    if (::inet_pton(AF_INET6, s.c_str(), &a6) == 1) {
        std::memcpy(out, &a6, 16);
        v4 = false;
        return true;
    }
    return false;
}

bool EntryMatches(std::string_view entry, std::string_view host)
{
    unsigned char hostIp[16];
    bool hostV4 = false;
    if (IpBytes(host, hostIp, hostV4)) {
        std::string_view addr = entry;
        int bits = -1;
        std::size_t slash = entry.find('/');
        if (slash != std::string_view::npos) {
            addr = entry.substr(0, slash);
            std::string_view b = entry.substr(slash + 1);
            if (b.empty() || b.size() > 3)
                return false;
            bits = 0;
            for (char c : b) {
                if (!std::isdigit(static_cast<unsigned char>(c)))
                    return false;
                bits = bits * 10 + (c - '0');
            }
        }
        unsigned char entryIp[16];
        bool entryV4 = false;
        if (!IpBytes(addr, entryIp, entryV4))
            return false;
        if (bits < 0)
            bits = 128;
        else if (entryV4)
            bits += 96;
        if (bits > 128)
            return false;
        int full = bits / 8, rest = bits % 8;
        if (std::memcmp(hostIp, entryIp, static_cast<std::size_t>(full)) != 0)
            return false;
        if (rest == 0)
            return true;
        unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
        return (hostIp[full] & mask) == (entryIp[full] & mask);
    }
    std::string h = Lower(host);
    std::string e = Lower(entry);
    if (!e.empty() && e.front() == '.')
        e.erase(0, 1);
    if (!h.empty() && h.back() == '.')
        h.pop_back();
    if (e.empty())
        return false;
    if (h == e)
        return true;
    return h.size() > e.size() && h.compare(h.size() - e.size(), e.size(), e) == 0 &&
           h[h.size() - e.size() - 1] == '.';
}

}  // namespace

ProxyAddress ParseProxyAddress(std::string_view text)
{
    std::string_view s = Trim(text);
    std::size_t scheme = s.find("://");
    if (scheme != std::string_view::npos) {
        std::string name = Lower(s.substr(0, scheme));
        if (name != "http")
            Bad(text, "uses a scheme other than http");
        s.remove_prefix(scheme + 3);
        std::size_t slash = s.find('/');
        if (slash != std::string_view::npos)
            s = s.substr(0, slash);
    }
    std::size_t at = s.rfind('@');
    if (at != std::string_view::npos)
        Bad(text, "holds credentials, which are not supported");
    if (s.empty())
        Bad(text, "has no host");

    ProxyAddress out;
    std::string_view portText;
    if (s.front() == '[') {
        std::size_t close = s.find(']');
        if (close == std::string_view::npos)
            Bad(text, "has an unclosed '['");
        out.host = std::string(s.substr(1, close - 1));
        std::string_view after = s.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                Bad(text, "is not host:port");
            portText = after.substr(1);
        }
    } else if (std::count(s.begin(), s.end(), ':') > 1) {
        out.host = std::string(s);  // a bare IPv6 address
    } else {
        std::size_t colon = s.find(':');
        out.host = std::string(s.substr(0, colon));
        if (colon != std::string_view::npos)
            portText = s.substr(colon + 1);
    }
    if (out.host.empty())
        Bad(text, "has no host");
    for (char c : out.host)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '\\')
            Bad(text, "has a host name with invalid characters");
    if (!portText.empty() || (s.back() == ':')) {
        if (portText.empty() || portText.size() > 5)
            Bad(text, "has an invalid port");
        int port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                Bad(text, "has an invalid port");
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535)
            Bad(text, "has an invalid port");
        out.port = port;
    }
    return out;
}

bool NoProxyMatches(std::string_view noProxy, std::string_view host)
{
    std::string_view h = host;
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    std::string_view list = Trim(noProxy);
    if (list == "*")
        return true;
    while (!list.empty()) {
        std::size_t sep = list.find_first_of(", ");
        std::string_view entry = Trim(list.substr(0, sep));
        list = sep == std::string_view::npos ? std::string_view{} : list.substr(sep + 1);
        if (entry.empty())
            continue;
        if (entry.size() >= 2 && entry.front() == '[' && entry.find(']') != std::string_view::npos)
            entry = entry.substr(1, entry.find(']') - 1);
        if (EntryMatches(entry, h))
            return true;
    }
    return false;
}

std::optional<ProxyAddress> ProxyFromEnvironment(std::string_view host, const EnvLookup& getenv)
{
    auto get = [&](const char* name) -> const char* {
        const char* v = getenv ? getenv(name) : std::getenv(name);
        return (v && *v) ? v : nullptr;
    };
    const char* noProxy = get("no_proxy");
    if (!noProxy)
        noProxy = get("NO_PROXY");
    if (noProxy && NoProxyMatches(noProxy, host))
        return std::nullopt;
    for (const char* name : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (const char* v = get(name))
            return ParseProxyAddress(v);
    }
    return std::nullopt;
}

}  // namespace inet
