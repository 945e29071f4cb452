#include "engine/inet/TlsStream.h"

#include "engine/inet/InternetError.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <sys/socket.h>

namespace inet::net {

namespace {

// OpenSSL's own socket BIO writes with write(): a peer that has gone away
// would raise SIGPIPE and kill a process that does not ignore it. This one
// sends with MSG_NOSIGNAL and otherwise does the same.
int BioWrite(BIO* bio, const char* data, int size)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do
        n = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do
        n = ::recv(fd, data, static_cast<std::size_t>(size), 0);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kestrix socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

// The first queued OpenSSL error, for a message; empty when there is none.
std::string OpenSslError()
{
    unsigned long code = ERR_peek_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

[[noreturn]] void ThrowTls(const std::string& what)
{
    std::string detail = OpenSslError();
    throw InternetError(err::kTlsFailed, detail.empty() ? what : what + " (" + detail + ")");
}

std::string BioText(BIO* bio)
{
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string NameText(const X509_NAME* name)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    return BioText(bio.get());
}

std::string TimeText(const ASN1_TIME* time)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || !time || !ASN1_TIME_print(bio.get(), time))
        return {};
    return BioText(bio.get());
}

bool IsNumericHost(const std::string& host)
{
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

struct TlsCallbacks {
    // Under TLS 1.3 the session worth resuming only arrives after the
    // handshake, as a ticket: the data connections need this one.
    static int OnNewSession(SSL* ssl, SSL_SESSION* session)
    {
        auto* self = static_cast<TlsStream*>(SSL_get_app_data(ssl));
        if (!self)
            return 0;
        if (self->latest_)
            SSL_SESSION_free(self->latest_);
        self->latest_ = session;
        return 1;
    }
    // The chain is judged after the handshake, where the caller can be asked.
    static int AcceptForNow(int, X509_STORE_CTX*) { return 1; }
};

std::string NormalizedFingerprint(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

TlsContext::TlsContext(const std::string& caFile, bool insecure) : insecure_(insecure)
{
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_ || !SocketMethod()) {
        SSL_CTX_free(ctx_);
        ThrowTls("Cannot set up TLS");
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, TlsCallbacks::AcceptForNow);
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, TlsCallbacks::OnNewSession);
    if (SSL_CTX_set_default_verify_paths(ctx_) != 1)
        ERR_clear_error();  // no system store: only the CA file and the caller can vouch then
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) != 1) {
        SSL_CTX_free(ctx_);
        ThrowTls("Cannot read the trusted certificates file \"" + caFile + "\"");
    }
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(ctx_);
}

TlsStream::TlsStream(const TlsContext& context, int fd, const std::string& host) : fd_(fd)
{
    ERR_clear_error();
    ssl_ = SSL_new(context.get());
    BIO* bio = ssl_ ? BIO_new(SocketMethod()) : nullptr;
    if (!bio) {
        SSL_free(ssl_);
        ThrowTls("Cannot set up TLS");
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_app_data(ssl_, this);
    SSL_set_connect_state(ssl_);
    // No SNI for an address: the standard forbids it there.
    const char* name = host.c_str();
    const bool ok = IsNumericHost(host)
                        ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), name) == 1
                        : SSL_set_tlsext_host_name(ssl_, name) == 1 && SSL_set1_host(ssl_, name) == 1;
    if (!ok) {
        SSL_free(ssl_);
        ThrowTls("Cannot check the certificate against " + host);
    }
}

TlsStream::~TlsStream()
{
    SSL_free(ssl_);
    if (latest_)
        SSL_SESSION_free(latest_);
}

void TlsStream::ResumeFrom(const TlsStream& from)
{
    SSL_SESSION* session = from.latest_ ? from.latest_ : SSL_get_session(from.ssl_);
    if (!session || !SSL_SESSION_is_resumable(session))
        return;
    // A copy: OpenSSL retires the session a connection used when that one
    // ends without a TLS shutdown of its own, as an aborted transfer does,
    // and the next data connection still needs it.
    SSL_SESSION* copy = SSL_SESSION_dup(session);
    if (copy) {
        SSL_set_session(ssl_, copy);
        SSL_SESSION_free(copy);
    }
}

void TlsStream::Handshake(const Deadline& deadline, const Cancel& cancel)
{
    for (;;) {
        cancel.ThrowIfFired();
        short wait = 0;
        if (HandshakeStep(wait))
            return;
        WaitFd(fd_, wait, deadline, cancel);
    }
}

bool TlsStream::HandshakeStep(short& wait)
{
    ERR_clear_error();
    errno = 0;
    const int r = SSL_connect(ssl_);
    if (r == 1)
        return true;
    const int saved = errno;
    switch (SSL_get_error(ssl_, r)) {
    case SSL_ERROR_WANT_READ:
        wait = POLLIN;
        return false;
    case SSL_ERROR_WANT_WRITE:
        wait = POLLOUT;
        return false;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0) {
            if (saved != 0 && saved != EAGAIN)
                ThrowErrno(saved, "TLS handshake");
            throw InternetError(err::kTlsFailed, "The server closed the connection during the TLS handshake");
        }
        [[fallthrough]];
    default:
        ThrowTls("The TLS handshake with the server failed");
    }
}

bool TlsStream::verified() const
{
    return SSL_get_verify_result(ssl_) == X509_V_OK;
}

std::string TlsStream::Description() const
{
    return std::string(SSL_get_version(ssl_)) + ", " + SSL_get_cipher_name(ssl_);
}

CertificateInfo TlsStream::Certificate() const
{
    CertificateInfo info;
    info.verificationError = X509_verify_cert_error_string(SSL_get_verify_result(ssl_));
    std::unique_ptr<X509, decltype(&X509_free)> cert(SSL_get1_peer_certificate(ssl_), X509_free);
    if (!cert)
        return info;
    info.subject = NameText(X509_get_subject_name(cert.get()));
    info.issuer = NameText(X509_get_issuer_name(cert.get()));
    info.notBefore = TimeText(X509_get0_notBefore(cert.get()));
    info.notAfter = TimeText(X509_get0_notAfter(cert.get()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert.get(), EVP_sha256(), digest, &length) == 1) {
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < length; ++i) {
            if (i)
                info.sha256Fingerprint += ':';
            info.sha256Fingerprint += kHex[digest[i] >> 4];
            info.sha256Fingerprint += kHex[digest[i] & 15];
        }
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (bio && PEM_write_bio_X509(bio.get(), cert.get()))
        info.pem = BioText(bio.get());
    ERR_clear_error();
    return info;
}

std::size_t TlsStream::RecvSome(char* data, std::size_t size, const Deadline& deadline, const Cancel& cancel)
{
    if (size == 0)
        return 0;
    for (;;) {
        cancel.ThrowIfFired();
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(ssl_, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
        if (n > 0)
            return static_cast<std::size_t>(n);
        const int saved = errno;
        switch (SSL_get_error(ssl_, n)) {
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_WANT_READ:
            WaitFd(fd_, POLLIN, deadline, cancel);
            continue;
        case SSL_ERROR_WANT_WRITE:
            WaitFd(fd_, POLLOUT, deadline, cancel);
            continue;
        case SSL_ERROR_SYSCALL:
            if (ERR_peek_error() == 0 && saved != 0 && saved != EAGAIN)
                ThrowErrno(saved, "recv");
            break;
        default:
            if (ERR_GET_REASON(ERR_peek_error()) != SSL_R_UNEXPECTED_EOF_WHILE_READING)
                ThrowTls("The TLS connection with the server failed");
            break;
        }
        ERR_clear_error();
        throw InternetError(err::kTlsUncleanClose, {});
    }
}

std::size_t TlsStream::TrySend(const char* data, std::size_t size, short& wait)
{
    wait = 0;
    if (size == 0)
        return 0;
    ERR_clear_error();
    errno = 0;
    const int n = SSL_write(ssl_, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (n > 0)
        return static_cast<std::size_t>(n);
    const int saved = errno;
    switch (SSL_get_error(ssl_, n)) {
    case SSL_ERROR_WANT_READ:
        wait = POLLIN;
        return 0;
    case SSL_ERROR_WANT_WRITE:
        wait = POLLOUT;
        return 0;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0)
            ThrowErrno(saved != 0 ? saved : EPIPE, "send");
        [[fallthrough]];
    default:
        ThrowTls("The TLS connection with the server failed");
    }
}

void TlsStream::SendAll(const char* data, std::size_t size, std::uint32_t timeoutMs, const Cancel& cancel)
{
    while (size > 0) {
        cancel.ThrowIfFired();
        short wait = 0;
        const std::size_t n = TrySend(data, size, wait);
        data += n;
        size -= n;
        if (n == 0)
            WaitFd(fd_, wait, Deadline::AfterMs(timeoutMs), cancel);
    }
}

bool TlsStream::ReadReady()
{
    if (SSL_pending(ssl_) > 0)
        return true;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || p.revents == 0)
        return false;
    char c;
    ERR_clear_error();
    const int n = SSL_peek(ssl_, &c, 1);
    if (n > 0)
        return true;
    const int e = SSL_get_error(ssl_, n);
    ERR_clear_error();
    return e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE;
}

void TlsStream::Shutdown(std::uint32_t timeoutMs, const Cancel& cancel)
{
    const Deadline deadline = Deadline::AfterMs(timeoutMs);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_shutdown(ssl_);
        if (r >= 0)
            break;
        const int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_WRITE) {
            WaitFd(fd_, POLLOUT, deadline, cancel);
            continue;
        }
        break;  // the peer has gone already: its reply on the control connection tells the rest
    }
    ERR_clear_error();
}

void TlsStream::DrainUntilClosed(const Deadline& deadline, const Cancel& cancel, int stopFd)
{
    char sink[16384];
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, sink, sizeof sink);
        if (n > 0)
            continue;
        const int e = SSL_get_error(ssl_, n);
        ERR_clear_error();
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
            return;  // closed, cleanly or not: either way nothing is left to read
        try {
            if (WaitFdOrInput(fd_, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, stopFd, deadline, cancel))
                return;
        } catch (const InternetError& failure) {
            if (failure.number() == err::kOperationCancelled)
                throw;
            return;
        }
    }
}

}  // namespace inet::net
