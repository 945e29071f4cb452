#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

// An HTTP proxy that tunnels with CONNECT.
struct ProxyAddress {
    static constexpr int kDefaultPort = 8080;
    std::string host;  // without brackets, also for IPv6
    int port = kDefaultPort;
};

// "host", "host:port", "[v6]", "[v6]:port", a bare "::1", or a URL "http://host:port/".
// Throws InternetError 12005 when the text is not such an address or names
// another scheme (socks, https), which this library cannot use.
ProxyAddress ParseProxyAddress(std::string_view text);

// The proxy the environment asks for when connecting to `host`, the way curl
// reads it: ftp_proxy, then all_proxy (each also in upper case), unless
// no_proxy / NO_PROXY matches the host ("*", a domain and its sub-domains with
// or without a leading dot, an IP address, or an IP range in CIDR form).
// `getenv` is replaceable for tests.
using EnvLookup = std::function<const char*(const char* name)>;
std::optional<ProxyAddress> ProxyFromEnvironment(std::string_view host, const EnvLookup& getenv = {});
bool NoProxyMatches(std::string_view noProxy, std::string_view host);

}  // namespace inet
