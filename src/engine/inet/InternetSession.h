#pragma once

#include "engine/inet/InternetError.h"
#include "engine/inet/ProxyConfig.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inet {

class FtpConnection;
struct SessionCore;

enum class AccessType {
    Preconfigured,  // ftp_proxy / all_proxy from the environment (see ProxyFromEnvironment), else direct
    Direct,
    NamedProxy,     // HTTP CONNECT proxy "host" or "host:port" (port 8080 when omitted)
};

// Status numbers passed to the status callback (those of the Windows internet service).
namespace status {
inline constexpr std::uint32_t kResolvingName = 10;      // info: the host name
inline constexpr std::uint32_t kNameResolved = 11;       // info: the first address found
inline constexpr std::uint32_t kConnectingToServer = 20; // info: the address
inline constexpr std::uint32_t kConnectedToServer = 21;  // info: the address
inline constexpr std::uint32_t kSendingRequest = 30;     // info: the command line (password masked)
inline constexpr std::uint32_t kRequestSent = 31;        // info: the command line (password masked)
inline constexpr std::uint32_t kReceivingResponse = 40;
inline constexpr std::uint32_t kResponseReceived = 41;   // info: the reply's first line
inline constexpr std::uint32_t kClosingConnection = 50;
inline constexpr std::uint32_t kConnectionClosed = 51;
inline constexpr std::uint32_t kHandleCreated = 60;
inline constexpr std::uint32_t kHandleClosing = 70;
}  // namespace status

// Option numbers for SetOption (those of the Windows internet service). All are
// milliseconds; 0 (or 0xFFFFFFFF) means no time-out.
namespace option {
inline constexpr int kConnectTimeout = 2;      // each TCP connect (control, data, proxy) and name resolution
inline constexpr int kSendTimeout = 5;         // waiting for room to send, control and data
inline constexpr int kReceiveTimeout = 6;      // waiting for a reply, for data, for an active-mode connection
inline constexpr int kDataSendTimeout = 7;     // same as kSendTimeout
inline constexpr int kDataReceiveTimeout = 8;  // same as kReceiveTimeout
}  // namespace option

// Called on the thread doing the work; must not throw (exceptions are dropped).
using StatusCallback = std::function<void(std::uint32_t status, std::string_view info)>;

// The conversation on a control connection, one line at a time: each command
// as it left (a password shown as "PASS ****"), each line of each reply, and
// each decision the library took on its own that changes what goes over the
// wire (a data connection tried again in the other mode). Called on the
// thread doing the work; must not throw (exceptions are dropped).
enum class Talk { Sent, Received, Note };
using ConversationCallback = std::function<void(Talk kind, std::string_view line)>;

// Encryption of a connection (FTP over TLS). Explicit: AUTH TLS after the
// greeting. Implicit: TLS from the first byte (servers listen on 990 for it;
// the port is still the caller's choice). With either, data connections are
// encrypted too (PBSZ 0, PROT P after login). The control connection stays
// encrypted to the end: CCC is not supported.
enum class Encryption {
    None,
    ExplicitIfAvailable,  // plain when the server refuses AUTH TLS (a Talk::Note says so)
    ExplicitRequired,     // 12190 when the server refuses AUTH TLS or PROT P
    Implicit,             // data connections encrypted even when the server refuses PROT P
};

// The server's certificate, as shown to the caller who decides about one the
// trust store does not vouch for.
struct CertificateInfo {
    std::string subject;            // one line, RFC 2253 style
    std::string issuer;
    std::string notBefore;          // "Jan  1 00:00:00 2026 GMT"
    std::string notAfter;
    std::string sha256Fingerprint;  // upper-case hex pairs joined by ':'
    std::string verificationError;  // why the trust store said no
    std::string pem;
};

// Called on the thread doing the work, during the handshake of a control
// connection whose certificate did not verify; true accepts it for this
// connection (its data connections included). Must not throw (an exception
// counts as a refusal).
using CertificateCallback = std::function<bool(const CertificateInfo& info)>;

// Settings shared by the connections it opens. Thread-safe: options and the
// callback may be changed from any thread (connections pick the new values up at
// their next step), and Close() may be called from any thread.
class InternetSession {
public:
    static constexpr std::uint32_t kDefaultConnectTimeoutMs = 30000;
    static constexpr std::uint32_t kDefaultSendTimeoutMs = 30000;
    static constexpr std::uint32_t kDefaultReceiveTimeoutMs = 60000;

    // `proxy` is used with AccessType::NamedProxy only. Throws 12005 when it is not a valid address.
    explicit InternetSession(std::string agent, AccessType access = AccessType::Preconfigured,
                             std::string proxy = {});
    ~InternetSession();  // Close()
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    const std::string& agent() const;
    AccessType accessType() const;

    // Throws 12009 for an unknown option number.
    void SetOption(int option, std::uint32_t milliseconds);
    std::uint32_t GetOption(int option) const;
    void SetConnectTimeout(std::uint32_t ms) { SetOption(option::kConnectTimeout, ms); }
    void SetSendTimeout(std::uint32_t ms) { SetOption(option::kSendTimeout, ms); }
    void SetReceiveTimeout(std::uint32_t ms) { SetOption(option::kReceiveTimeout, ms); }

    // Setting a callback does not enable it; EnableStatusCallback(true) does.
    void SetStatusCallback(StatusCallback callback);
    // Returns whether the callback state is now the one asked for (enabling
    // fails while no callback is set).
    bool EnableStatusCallback(bool enable);
    bool IsStatusCallbackEnabled() const;
    // Independent of the status callback: on whenever one is set.
    void SetConversationCallback(ConversationCallback callback);

    // Certificates (for connections with Encryption other than None). The
    // system trust store is always consulted, and the name (or IP address)
    // connected to must match the certificate. Pinned SHA-256 fingerprints
    // (hex, with or without ':' separators, any case) are accepted without the
    // callback; a certificate neither trusted nor pinned goes to the callback,
    // and is refused with 12045 when there is none or it says no.
    void SetCertificateCallback(CertificateCallback callback);
    void SetPinnedCertificates(std::vector<std::string> sha256Fingerprints);
    // PEM file of extra trusted authorities (empty: none). A file that cannot
    // be read makes later encrypted connections fail with 12157.
    void SetCaFile(std::string path);
    // Accepts every certificate without looking at it: for tests and for
    // servers the user vouches for by other means.
    void SetInsecure(bool insecure);

    // The proxy a connection to `host` would use now (nullopt: direct).
    std::optional<ProxyAddress> ProxyFor(std::string_view host) const;

    // Connects and logs in. host: name, IPv4, "::1" or "[::1]"; port 0 means 21.
    // An empty user logs in as "anonymous" with `password`, or "anonymous@" when
    // that is empty too. Through a proxy every data connection is passive.
    // Otherwise a data connection that cannot be made in the chosen mode (the
    // server refuses the mode, the connection cannot be made, the server
    // answers 425) is tried once in the other; when that works the connection
    // keeps the other mode, and a Talk::Note says so.
    // With encryption, a refused certificate fails with 12045, a failed
    // handshake with 12157; a Talk::Note names the protocol and cipher agreed.
    std::unique_ptr<FtpConnection> Connect(const std::string& host, int port, const std::string& user,
                                           const std::string& password, bool passive = true,
                                           Encryption encryption = Encryption::None);

    // From any thread: every blocked call of this session and its connections
    // returns with 12017, and every later one fails with it.
    void Close();

private:
    std::shared_ptr<SessionCore> core_;
};

}  // namespace inet
