#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace inet {

// Error numbers. Where callers already know the numbers of the Windows internet
// service they are the same, so code and messages written against that service
// keep working; the rest follow the same family.
namespace err {
inline constexpr std::uint32_t kInvalidParameter = 87;      // bad argument (e.g. a path holding CR or LF)
inline constexpr std::uint32_t kTimeout = 12002;            // no answer within the time-out
inline constexpr std::uint32_t kExtendedError = 12003;      // the server refused; see ServerReply()
inline constexpr std::uint32_t kInternalError = 12004;      // a local resource failed (socket(), eventfd(), ...)
inline constexpr std::uint32_t kInvalidUrl = 12005;         // malformed host, port or proxy address
inline constexpr std::uint32_t kNameNotResolved = 12007;    // getaddrinfo found nothing
inline constexpr std::uint32_t kInvalidOption = 12009;      // SetOption with an unknown option number
inline constexpr std::uint32_t kIncorrectUserName = 12013;  // USER refused
inline constexpr std::uint32_t kIncorrectPassword = 12014;  // PASS refused
inline constexpr std::uint32_t kLoginFailure = 12015;       // login refused otherwise (ACCT asked, 421, ...)
inline constexpr std::uint32_t kInvalidOperation = 12016;   // call not valid in the current state
inline constexpr std::uint32_t kOperationCancelled = 12017; // Close() from another thread, or session closed
inline constexpr std::uint32_t kIncorrectHandleState = 12019; // used after a fatal error broke the connection
inline constexpr std::uint32_t kCannotConnect = 12029;      // TCP connect failed or the proxy refused the tunnel
inline constexpr std::uint32_t kConnectionAborted = 12030;  // the peer closed the control connection
inline constexpr std::uint32_t kConnectionReset = 12031;    // the peer reset a connection
inline constexpr std::uint32_t kTransferInProgress = 12110; // a stream is still open on this connection
inline constexpr std::uint32_t kFtpDropped = 12111;         // the data connection ended before the transfer did
inline constexpr std::uint32_t kNoPassiveMode = 12112;      // neither EPSV nor PASV is usable
inline constexpr std::uint32_t kInvalidServerResponse = 12152; // a reply that is not FTP (no 3-digit code, ...)
inline constexpr std::uint32_t kInvalidCertificate = 12045; // server certificate refused (untrusted, wrong name)
inline constexpr std::uint32_t kTlsFailed = 12157;          // TLS handshake or record failure (no common protocol...)
inline constexpr std::uint32_t kTlsNotAvailable = 12190;    // TLS required, but the server refused AUTH TLS or PROT P
inline constexpr std::uint32_t kTlsUncleanClose = 12191;    // the peer ended a TLS connection without close_notify
}  // namespace err

// The one error type of the library: every failing call throws it. number() is
// one of inet::err; serverReply() holds the last reply of the server (all lines,
// joined with CR LF) when the server had a say in the failure, else it is empty.
class InternetError : public std::exception {
public:
    InternetError(std::uint32_t number, std::string message, std::string serverReply = {});

    std::uint32_t number() const noexcept { return number_; }
    const std::string& message() const noexcept { return message_; }
    const std::string& serverReply() const noexcept { return serverReply_; }
    // message() followed by the server's reply when there is one.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::uint32_t number_;
    std::string message_;
    std::string serverReply_;
    std::string what_;
};

// Plain-English text for an error number ("The operation timed out").
const char* ErrorText(std::uint32_t number);

}  // namespace inet
