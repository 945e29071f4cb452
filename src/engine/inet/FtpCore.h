#pragma once
// Internal to the library: the state shared by a session, its connections and
// their streams. Sessions and connections hold it through shared_ptr so that
// any of them may be destroyed first.

#include "engine/inet/FtpConnection.h"
#include "engine/inet/FtpProtocol.h"
#include "engine/inet/InternetSession.h"
#include "engine/inet/NetSocket.h"
#include "engine/inet/TlsStream.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace inet {

struct SessionCore {
    std::string agent;
    AccessType access = AccessType::Preconfigured;
    std::optional<ProxyAddress> namedProxy;

    std::atomic<std::uint32_t> connectMs{InternetSession::kDefaultConnectTimeoutMs};
    std::atomic<std::uint32_t> sendMs{InternetSession::kDefaultSendTimeoutMs};
    std::atomic<std::uint32_t> receiveMs{InternetSession::kDefaultReceiveTimeoutMs};

    mutable std::mutex callbackMutex;
    StatusCallback callback;
    std::atomic<bool> callbackEnabled{false};
    ConversationCallback conversation;  // under callbackMutex
    std::atomic<bool> conversationSet{false};

    net::CancelFlag cancel;

    // Certificates, under callbackMutex.
    CertificateCallback certificateCallback;
    std::vector<std::string> pinned;  // normalised (NormalizedFingerprint)
    std::string caFile;
    bool insecure = false;

    bool IsPinned(const std::string& normalizedFingerprint) const;
    // The caller's verdict on a certificate; false when no one is asking.
    bool AcceptCertificate(const CertificateInfo& info) const;

    void Notify(std::uint32_t status, std::string_view info = {}) const;
    void Tell(Talk kind, std::string_view line) const;
    std::optional<ProxyAddress> ProxyFor(std::string_view host) const;
};

struct ConnectionCore {
    explicit ConnectionCore(std::shared_ptr<SessionCore> s) : session(std::move(s)) {}

    std::shared_ptr<SessionCore> session;
    net::CancelFlag cancel;
    net::Socket control;
    ReplyReader reader;
    net::Address peer;  // the control connection's peer (the proxy when tunnelled)

    std::string host;   // as given, without brackets
    int port = 21;
    bool passive = true;
    std::optional<ProxyAddress> proxy;

    Encryption encryption = Encryption::None;
    std::unique_ptr<net::TlsContext> tls;
    std::unique_ptr<net::TlsStream> controlTls;  // set once the control connection is encrypted
    bool protectData = false;                     // PROT P accepted: data connections are encrypted
    std::vector<std::string> acceptedFingerprints;  // certificates the caller accepted for this connection

    std::string greeting;
    FeatureMap features;
    bool epsvRefused = false;
    bool eprtRefused = false;
    bool mlsdRefused = false;
    std::optional<TransferType> currentType;

    std::string lastReply;
    int lastCode = 0;
    std::optional<InternetError> broken;  // a failure that left the control connection in an unknown state
    bool streamOpen = false;
    std::function<void()> idle;
    std::uint32_t idleMs = 0;
    // FtpStream::ReadInto and WriteFrom: a download goes through this pipe
    // (splice), what cannot goes through the buffer. One of each per
    // connection, as its streams come one after another; made on first use.
    net::Pipe splicePipe;
    bool spliceRefused = false;  // the system would not splice these descriptors
    static constexpr std::size_t kCopyBufferSize = 256 * 1024;
    std::unique_ptr<char[]> copyBuffer;
    char* CopyBuffer()
    {
        if (!copyBuffer)
            copyBuffer = std::make_unique_for_overwrite<char[]>(kCopyBufferSize);
        return copyBuffer.get();
    }

    net::Cancel Cancels() const { return {&session->cancel, &cancel}; }
    // Data reads also run the caller's idle handler while they wait.
    net::Cancel DataCancels() const
    {
        net::Cancel c = Cancels();
        if (idle) {
            c.idle = &idle;
            c.idleMs = idleMs;
        }
        return c;
    }
    bool Cancelled() const { return session->cancel.Fired() || cancel.Fired(); }
    std::uint32_t ConnectMs() const { return session->connectMs.load(); }
    std::uint32_t SendMs() const { return session->sendMs.load(); }
    std::uint32_t ReceiveMs() const { return session->receiveMs.load(); }

    // Throws 12017 after a cancel, the breaking error after a fatal failure, 12110 while a stream is open.
    void CheckUsable() const;
    void MarkBroken(const InternetError& e);

    // The control connection's bytes, through TLS once it is on.
    std::size_t ControlRecv(char* data, std::size_t size, const net::Deadline& deadline, const net::Cancel& cancels);
    void ControlSend(const std::string& wire);
    // Whether the control connection has something to read without waiting.
    bool ControlReadReady();
    // TLS as client over `fd` (the control connection, or with `resumeFrom`
    // a data connection resuming its session); judges the certificate.
    std::unique_ptr<net::TlsStream> StartTls(int fd, const net::TlsStream* resumeFrom);
    // Throws 12045 unless the certificate is trusted, pinned, or accepted by
    // the caller (who is asked on control connections only).
    void JudgeCertificate(net::TlsStream& stream, bool dataConnection);
    // AUTH TLS, and after login PBSZ/PROT, as `encryption` asks.
    void NegotiateControlTls();
    void NegotiateDataProtection();

    void Send(const std::string& line);
    // One reply (1xx included). Without a deadline the receive time-out applies
    // from the last complete line received.
    FtpReply Read(const net::Deadline* overall = nullptr);
    // Reads and drops replies that arrived without a command; never waits for more.
    void DiscardUnsolicited();
    // Sends and reads until a reply that is not 1xx.
    FtpReply Exec(const std::string& line);

    // Connects (directly or through the proxy) and reads the greeting, logs in, reads FEAT.
    void Open(const std::string& user, const std::string& password);
    net::Socket Tunnel(const std::string& targetHost, int targetPort);
    net::Socket OpenPassiveData(int& announcedPort);
    net::Socket PrepareActiveData();
    // Whether a data connection that failed (with `failure`, or a 425 reply)
    // may be tried in the other mode; SwitchMode() goes over and says so.
    bool MaySwitchMode(const std::optional<InternetError>& failure) const;
    void SwitchMode(const std::string& reason);
    void SetType(TransferType type);
};

// Refuses CR, LF and NUL in anything that goes on the command line.
void CheckCommandArgument(std::string_view text);

}  // namespace inet
