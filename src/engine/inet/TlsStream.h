#pragma once
// Internal to the library: TLS (OpenSSL) over one of NetSocket's non-blocking
// descriptors. Every wait is NetSocket's poll(), so deadlines, cancels and
// idle handlers behave exactly as on a plain socket.

#include "engine/inet/InternetSession.h"
#include "engine/inet/NetSocket.h"

#include <memory>
#include <string>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace inet::net {

// The client settings of one control connection and its data connections.
class TlsContext {
public:
    // Throws 12157 when OpenSSL cannot make a context or read caFile.
    TlsContext(const std::string& caFile, bool insecure);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* get() const { return ctx_; }
    bool insecure() const { return insecure_; }

private:
    SSL_CTX* ctx_ = nullptr;
    bool insecure_ = false;
};

// Upper-case hex digits only: "ab:cd" and "ABCD" compare equal.
std::string NormalizedFingerprint(const std::string& text);

class TlsStream {
public:
    // Does not own fd; the Socket that does must outlive this object.
    TlsStream(const TlsContext& context, int fd, const std::string& host);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Resumes `from`'s TLS session on this connection (data connections of
    // a control connection: servers may insist on it).
    void ResumeFrom(const TlsStream& from);
    // Throws 12157 when the handshake fails, 12002/12017 as sockets do.
    // The certificate is not judged here: see verified() and Certificate().
    void Handshake(const Deadline& deadline, const Cancel& cancel);

    bool verified() const;           // the trust store vouches for the certificate and its name
    CertificateInfo Certificate() const;  // empty when the server sent none
    std::string Description() const; // "TLSv1.3, TLS_AES_256_GCM_SHA384"

    // As Socket's; 0 only after the peer's close_notify. An end without it
    // throws 12191.
    std::size_t RecvSome(char* data, std::size_t size, const Deadline& deadline, const Cancel& cancel);
    void SendAll(const char* data, std::size_t size, std::uint32_t timeoutMs, const Cancel& cancel);
    // One non-blocking attempt: the bytes taken, or 0 with `wait` set to the
    // poll() events to wait for before trying again.
    std::size_t TrySend(const char* data, std::size_t size, short& wait);
    // Whether a RecvSome would return without waiting (application data, an
    // end or an error pending). Consumes TLS records that carry no data.
    bool ReadReady();
    // Sends close_notify (without waiting for the peer's).
    void Shutdown(std::uint32_t timeoutMs, const Cancel& cancel);
    // Reads and drops whatever the peer still sends until it closes (its
    // close_notify, an end, an error), `stopFd` has input or the deadline
    // passes; only a cancel throws.
    void DrainUntilClosed(const Deadline& deadline, const Cancel& cancel, int stopFd);

private:
    friend struct TlsCallbacks;
    // True once done, else `wait` holds the poll() events the next step needs.
    bool HandshakeStep(short& wait);

    SSL* ssl_ = nullptr;
    int fd_ = -1;
    SSL_SESSION* latest_ = nullptr;  // the newest session the server handed out
};

}  // namespace inet::net
