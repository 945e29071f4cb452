#include "engine/inet/FtpConnection.h"

#include "engine/inet/FtpCore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <system_error>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace inet {

namespace {

// What the status callback may show of a command line.
std::string Masked(const std::string& line)
{
    if (line.size() >= 5 && (line.compare(0, 5, "PASS ") == 0 || line.compare(0, 5, "pass ") == 0))
        return "PASS ****";
    return line;
}

bool IsDataDrop(const InternetError& e)
{
    return e.number() == err::kConnectionReset || e.number() == err::kConnectionAborted ||
           e.number() == err::kTlsUncleanClose;
}

std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// splice() cannot be used with these descriptors (a file system without the
// support, a file opened for appending): the bytes take the long way round
// through a buffer instead, with no harm done.
bool KernelCopyRefused(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Thrown past the reply logic when the kernel will not splice from the data
// connection; nothing has been taken from it then.
struct SpliceRefused {};

[[noreturn]] void ThrowLocal(int error, const char* what)
{
    throw std::system_error(error, std::generic_category(), what);
}

std::string Bracketed(const std::string& host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// A multi-line reply may carry its data on the first or on the last line.
template <typename Parse>
auto FromReplyLines(const FtpReply& reply, Parse parse) -> decltype(parse(std::string_view{}))
{
    auto v = parse(std::string_view(reply.lines.front()));
    if (!v && reply.lines.size() > 1)
        v = parse(std::string_view(reply.lines.back()));
    return v;
}

}  // namespace

void CheckCommandArgument(std::string_view text)
{
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            throw InternetError(err::kInvalidParameter,
                                "A name or command holds a line break or NUL character and cannot be sent");
}

// ---------------------------------------------------------------------------
// Control connection

void ConnectionCore::CheckUsable() const
{
    if (Cancelled())
        throw InternetError(err::kOperationCancelled, {});
    if (broken)
        throw InternetError(broken->number(), "The connection can no longer be used: " + broken->message(),
                            broken->serverReply());
    if (streamOpen)
        throw InternetError(err::kTransferInProgress, {});
}

void ConnectionCore::MarkBroken(const InternetError& e)
{
    if (!broken)
        broken = e;
}

void ConnectionCore::Send(const std::string& line)
{
    CheckCommandArgument(line);
    std::string shown = Masked(line);
    session->Notify(status::kSendingRequest, shown);
    std::string wire = line;
    wire += "\r\n";
    try {
        ControlSend(wire);
    } catch (const InternetError& e) {
        MarkBroken(e);
        throw;
    }
    session->Notify(status::kRequestSent, shown);
    session->Tell(Talk::Sent, shown);
}

FtpReply ConnectionCore::Read(const net::Deadline* overall)
{
    session->Notify(status::kReceivingResponse);
    std::uint64_t seen = reader.linesSeen();
    net::Deadline deadline = overall ? *overall : net::Deadline::AfterMs(ReceiveMs());
    net::Cancel cancels = Cancels();
    auto source = [&](char* data, std::size_t size) -> std::size_t {
        if (!overall && reader.linesSeen() != seen) {
            seen = reader.linesSeen();
            deadline = net::Deadline::AfterMs(ReceiveMs());
        }
        return ControlRecv(data, size, deadline, cancels);
    };
    FtpReply reply;
    try {
        reply = reader.Read(source);
    } catch (const InternetError& e) {
        MarkBroken(e);
        throw;
    }
    lastReply = reply.Text();
    lastCode = reply.code;
    session->Notify(status::kResponseReceived, reply.lines.empty() ? std::string_view{} : reply.lines.front());
    for (const std::string& line : reply.lines)
        session->Tell(Talk::Received, line);
    return reply;
}

void ConnectionCore::DiscardUnsolicited()
{
    // A server that sent more than it was asked for (a reply line ending a
    // multi-line reply too early, a duplicate reply) would otherwise have its
    // leftovers taken as the answer to the next command.
    for (;;) {
        if (!reader.HasBuffered() && !ControlReadReady())
            return;
        Read();
    }
}

FtpReply ConnectionCore::Exec(const std::string& line)
{
    DiscardUnsolicited();
    Send(line);
    FtpReply reply = Read();
    while (reply.Preliminary())
        reply = Read();
    return reply;
}

// ---------------------------------------------------------------------------
// TLS

std::size_t ConnectionCore::ControlRecv(char* data, std::size_t size, const net::Deadline& deadline,
                                        const net::Cancel& cancels)
{
    if (controlTls)
        return controlTls->RecvSome(data, size, deadline, cancels);
    return control.RecvSome(data, size, deadline, cancels);
}

void ConnectionCore::ControlSend(const std::string& wire)
{
    if (controlTls)
        controlTls->SendAll(wire.data(), wire.size(), SendMs(), Cancels());
    else
        control.SendAll(wire.data(), wire.size(), SendMs(), Cancels());
}

bool ConnectionCore::ControlReadReady()
{
    if (controlTls)
        return controlTls->ReadReady();
    pollfd p{control.fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && p.revents != 0;
}

void ConnectionCore::JudgeCertificate(net::TlsStream& stream, bool dataConnection)
{
    if (tls->insecure() || stream.verified())
        return;
    CertificateInfo info = stream.Certificate();
    const std::string print = net::NormalizedFingerprint(info.sha256Fingerprint);
    bool ok = !print.empty() && (session->IsPinned(print) ||
                                 std::find(acceptedFingerprints.begin(), acceptedFingerprints.end(), print) !=
                                     acceptedFingerprints.end());
    // Data connections present the control connection's certificate;
    // another one there is refused without asking.
    if (!ok && !dataConnection && !print.empty() && session->AcceptCertificate(info)) {
        acceptedFingerprints.push_back(print);
        ok = true;
    }
    if (!ok)
        throw InternetError(err::kInvalidCertificate,
                            "The server's certificate was refused: " + info.verificationError + " (subject " +
                                OneLine(info.subject) + ", SHA-256 " + info.sha256Fingerprint + ")");
}

std::unique_ptr<net::TlsStream> ConnectionCore::StartTls(int fd, const net::TlsStream* resumeFrom)
{
    if (!tls) {
        std::string caFile;
        bool insecure;
        {
            std::lock_guard<std::mutex> lock(session->callbackMutex);
            caFile = session->caFile;
            insecure = session->insecure;
        }
        tls = std::make_unique<net::TlsContext>(caFile, insecure);
    }
    auto stream = std::make_unique<net::TlsStream>(*tls, fd, host);
    if (resumeFrom)
        stream->ResumeFrom(*resumeFrom);
    stream->Handshake(net::Deadline::AfterMs(ReceiveMs()), Cancels());
    JudgeCertificate(*stream, resumeFrom != nullptr);
    if (!resumeFrom)
        session->Tell(Talk::Note, "TLS connection established: " + stream->Description());
    return stream;
}

void ConnectionCore::NegotiateControlTls()
{
    FtpReply reply = Exec("AUTH TLS");
    if (reply.code == 234) {
        // Plain text after the 234 would be taken as coming through TLS.
        if (reader.HasBuffered())
            throw InternetError(err::kInvalidServerResponse, "The server sent more than its answer to AUTH TLS",
                                reply.Text());
        controlTls = StartTls(control.fd(), nullptr);
        return;
    }
    if (reply.Class() != 4 && reply.Class() != 5)
        throw InternetError(err::kInvalidServerResponse, "The server's answer to AUTH TLS makes no sense",
                            reply.Text());
    if (encryption == Encryption::ExplicitRequired)
        throw InternetError(err::kTlsNotAvailable, "The server refused AUTH TLS", reply.Text());
    session->Tell(Talk::Note, "The server refused AUTH TLS: the connection goes on unencrypted.");
}

void ConnectionCore::NegotiateDataProtection()
{
    FtpReply reply = Exec("PBSZ 0");
    if (reply.Positive())
        reply = Exec("PROT P");
    if (reply.Positive()) {
        protectData = true;
        return;
    }
    if (encryption == Encryption::Implicit) {
        // Implicit TLS implies protected data; some servers refuse the
        // commands that say so as superfluous.
        protectData = true;
        session->Tell(Talk::Note, "The server refused PBSZ/PROT: data connections are encrypted all the same.");
        return;
    }
    if (encryption != Encryption::ExplicitIfAvailable)
        throw InternetError(err::kTlsNotAvailable, "The server refused to encrypt data connections (PROT P)",
                            reply.Text());
    session->Tell(Talk::Note, "The server refused PROT P: data connections go unencrypted.");
}

net::Socket ConnectionCore::Tunnel(const std::string& targetHost, int targetPort)
{
    const ProxyAddress& p = *proxy;
    session->Notify(status::kResolvingName, p.host);
    auto addresses = net::Resolve(p.host, p.port, ConnectMs(), Cancels());
    session->Notify(status::kNameResolved, addresses.front().HostString());
    session->Notify(status::kConnectingToServer, addresses.front().ToString());
    net::Address used;
    net::Socket s = net::ConnectTcp(addresses, ConnectMs(), Cancels(), &used);
    session->Notify(status::kConnectedToServer, used.ToString());

    std::string target = Bracketed(targetHost) + ":" + std::to_string(targetPort);
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!session->agent.empty() && session->agent.find_first_of("\r\n") == std::string::npos)
        request += "User-Agent: " + session->agent + "\r\n";
    request += "Proxy-Connection: Keep-Alive\r\n\r\n";
    s.SendAll(request.data(), request.size(), SendMs(), Cancels());

    // Byte by byte: whatever follows the header already belongs to the FTP
    // server and must stay in the socket for the reply reader.
    std::string header;
    net::Deadline deadline = net::Deadline::AfterMs(ReceiveMs());
    while (header.size() < 4 || header.compare(header.size() - 4, 4, "\r\n\r\n") != 0) {
        if (header.size() >= 2 && header.compare(header.size() - 2, 2, "\n\n") == 0)
            break;
        if (header.size() > 16384)
            throw InternetError(err::kCannotConnect, "The proxy sent an overlong answer");
        char c;
        if (s.RecvSome(&c, 1, deadline, Cancels()) == 0)
            throw InternetError(err::kCannotConnect, "The proxy closed the connection before opening the tunnel");
        header += c;
    }
    std::string statusLine = header.substr(0, header.find_first_of("\r\n"));
    bool ok = statusLine.size() >= 12 && statusLine.compare(0, 5, "HTTP/") == 0 &&
              statusLine.find(' ') != std::string::npos &&
              statusLine.compare(statusLine.find(' ') + 1, 3, "200") == 0;
    if (!ok) {
        std::string shown;
        for (char c : statusLine.substr(0, 200))
            shown += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
        throw InternetError(err::kCannotConnect, "The proxy refused the tunnel to " + target + ": " + shown);
    }
    return s;
}

void ConnectionCore::Open(const std::string& user, const std::string& password)
{
    if (proxy) {
        control = Tunnel(host, port);
        peer = control.Peer();
    } else {
        session->Notify(status::kResolvingName, host);
        auto addresses = net::Resolve(host, port, ConnectMs(), Cancels());
        session->Notify(status::kNameResolved, addresses.front().HostString());
        session->Notify(status::kConnectingToServer, addresses.front().ToString());
        control = net::ConnectTcp(addresses, ConnectMs(), Cancels(), &peer);
        session->Notify(status::kConnectedToServer, peer.ToString());
    }
    if (encryption == Encryption::Implicit)
        controlTls = StartTls(control.fd(), nullptr);

    FtpReply reply = Read();
    while (reply.Preliminary())  // "120 ready in n minutes"
        reply = Read();
    greeting = reply.Text();
    if (!reply.Positive())
        throw InternetError(err::kExtendedError, "The server refused the connection", reply.Text());
    if (encryption == Encryption::ExplicitIfAvailable || encryption == Encryption::ExplicitRequired)
        NegotiateControlTls();

    std::string name = user.empty() ? "anonymous" : user;
    std::string pass = (user.empty() && password.empty()) ? "anonymous@" : password;
    reply = Exec("USER " + name);
    if (reply.Intermediate() && reply.code != 332) {
        reply = Exec("PASS " + pass);
        if (reply.code == 530 || reply.code == 430)
            throw InternetError(err::kIncorrectPassword, {}, reply.Text());
        if (!reply.Positive())
            throw InternetError(err::kLoginFailure, {}, reply.Text());
    } else if (!reply.Positive()) {
        if (reply.code == 530 || reply.code == 430 || reply.code == 501)
            throw InternetError(err::kIncorrectUserName, {}, reply.Text());
        throw InternetError(err::kLoginFailure, {}, reply.Text());
    }
    if (controlTls)
        NegotiateDataProtection();

    reply = Exec("FEAT");
    features = ParseFeatReply(reply);
    if (features.count("UTF8"))
        Exec("OPTS UTF8 ON");  // a refusal changes nothing: names stay raw bytes
    // Listings that show each item's mode, owner and group, where the server
    // has them but does not send them unasked (pyftpdlib). A refusal leaves
    // the facts as they were.
    if (const auto mlst = features.find("MLST"); mlst != features.end()) {
        if (const std::string facts = MlstFactsWithUnixFacts(mlst->second); !facts.empty())
            Exec("OPTS MLST " + facts);
    }
}

void ConnectionCore::SetType(TransferType type)
{
    if (currentType == type)
        return;
    FtpReply reply = Exec(type == TransferType::Ascii ? "TYPE A" : "TYPE I");
    if (!reply.Positive())
        throw InternetError(err::kExtendedError, "The server refused the transfer type", reply.Text());
    currentType = type;
}

net::Socket ConnectionCore::OpenPassiveData(int& announcedPort)
{
    int dataPort = 0;
    if (!epsvRefused) {
        FtpReply reply = Exec("EPSV");
        auto epsvPort = [](std::string_view line) -> std::optional<int> {
            int p = 0;
            return ParseEpsvReply(line, p) ? std::optional<int>(p) : std::nullopt;
        };
        std::optional<int> announced = reply.code == 229 ? FromReplyLines(reply, epsvPort) : std::nullopt;
        if (announced) {
            dataPort = *announced;
        } else if (reply.Class() == 5 || reply.code == 229) {  // refused, or a 229 without a usable port
            epsvRefused = true;
        } else {
            throw InternetError(err::kExtendedError, "The server refused passive mode", reply.Text());
        }
    }
    if (dataPort == 0) {
        FtpReply reply = Exec("PASV");
        if (reply.code != 227)
            throw InternetError(err::kNoPassiveMode, {}, reply.Text());
        auto pasvPort = [](std::string_view line) -> std::optional<int> {
            std::uint8_t ignored[4];
            int p = 0;
            return ParsePasvReply(line, ignored, p) ? std::optional<int>(p) : std::nullopt;
        };
        auto parsed = FromReplyLines(reply, pasvPort);
        if (parsed)
            dataPort = *parsed;
        else
            throw InternetError(err::kInvalidServerResponse, "The server's passive mode reply is not valid",
                                reply.Text());
        // The address in the reply is ignored on purpose: data goes to the host
        // the control connection reached, never to one the server names.
    }
    announcedPort = dataPort;
    if (proxy)
        return Tunnel(host, dataPort);
    net::Address target = peer;
    target.setPort(dataPort);
    session->Notify(status::kConnectingToServer, target.ToString());
    net::Socket s = net::ConnectTcp({target}, ConnectMs(), Cancels());
    session->Notify(status::kConnectedToServer, target.ToString());
    return s;
}

bool ConnectionCore::MaySwitchMode(const std::optional<InternetError>& failure) const
{
    // Through a proxy only passive works; a cancel is no failure of the mode;
    // a broken control connection cannot carry another attempt.
    if (proxy || broken || Cancelled())
        return false;
    return !failure || failure->number() != err::kOperationCancelled;
}

void ConnectionCore::SwitchMode(const std::string& reason)
{
    const char* from = passive ? "Passive" : "Active";
    const char* to = passive ? "active" : "passive";
    passive = !passive;
    std::string why = reason;
    std::replace(why.begin(), why.end(), '\r', ' ');
    std::replace(why.begin(), why.end(), '\n', ' ');
    session->Tell(Talk::Note, std::string(from) + " mode failed: " + why + ". Trying " + to + " mode.");
}

net::Socket ConnectionCore::PrepareActiveData()
{
    net::Address local = control.Local();
    local.setPort(0);
    net::Socket listener = net::ListenTcp(local);
    net::Address bound = listener.Local();
    bool v6 = bound.family() == AF_INET6 &&
              !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6*>(&bound.storage)->sin6_addr);
    if (v6 || (features.count("EPRT") && !eprtRefused)) {
        FtpReply reply = Exec("EPRT |" + std::string(v6 ? "2" : "1") + "|" + bound.HostString() + "|" +
                              std::to_string(bound.port()) + "|");
        if (reply.Positive())
            return listener;
        if (v6 || reply.Class() != 5)
            throw InternetError(err::kExtendedError, "The server refused active mode (EPRT)", reply.Text());
        eprtRefused = true;
    }
    std::string host = bound.HostString();
    std::replace(host.begin(), host.end(), '.', ',');
    int p = bound.port();
    FtpReply reply = Exec("PORT " + host + "," + std::to_string(p / 256) + "," + std::to_string(p % 256));
    if (!reply.Positive())
        throw InternetError(err::kExtendedError, "The server refused active mode (PORT)", reply.Text());
    return listener;
}

// ---------------------------------------------------------------------------
// Streams

struct FtpStream::State {
    std::shared_ptr<ConnectionCore> conn;
    net::Socket data;
    std::unique_ptr<net::TlsStream> tls;  // on data, when the connection protects data
    std::optional<InternetError> dropCause;
    bool upload = false;
    bool convert = false;      // ASCII: CR LF on the wire, LF locally
    bool ended = false;        // final reply read (or abandoned): nothing more to do
    bool finalSeen = false;    // the server sent its final reply instead of a 1xx
    std::optional<InternetError> failure;
    std::uint64_t bytes = 0;
    std::optional<std::uint64_t> announced;
    std::string finalReply;
    bool pendingCr = false;    // download: a CR ended the last chunk
    std::optional<char> carry; // download: a byte converted but not yet handed out
    bool lastWasCr = false;    // upload: the last byte sent was CR
    std::vector<char> scratch;

    void CloseData()
    {
        tls.reset();
        data.Reset();
    }
    void End()
    {
        ended = true;
        CloseData();
        conn->streamOpen = false;
    }
    [[noreturn]] void Fail(InternetError e)
    {
        End();
        failure = e;
        throw e;
    }
    // The data connection has ended (at EOF or on a drop): read the final reply and judge.
    void FinishTransfer(bool dropped)
    {
        CloseData();
        FtpReply reply;
        if (!finalSeen) {
            try {
                reply = conn->Read();
                while (reply.Preliminary())
                    reply = conn->Read();
            } catch (const InternetError& e) {
                Fail(e);
            }
            finalReply = reply.Text();
        } else {
            reply.code = 226;
        }
        // The server counts the transfer complete, but without TLS's own
        // ending nothing proves the data was not cut short on the way.
        if (reply.Positive() && dropped && dropCause && dropCause->number() == err::kTlsUncleanClose)
            Fail(InternetError(err::kTlsUncleanClose, "The data connection ended without closing TLS", finalReply));
        if (reply.code == 426 || reply.code == 451 || reply.code == 425 ||
            (reply.Positive() && dropped))
            Fail(InternetError(err::kFtpDropped, {}, finalReply));
        if (!reply.Positive())
            Fail(InternetError(err::kExtendedError, "The server reported a failed transfer", finalReply));
        // In ASCII the bytes on the wire are never fewer than the file's:
        // line ends only grow on the way (LF to CR LF) or stay as they are.
        if (!upload && announced && bytes < *announced)
            Fail(InternetError(err::kFtpDropped,
                               "The transfer ended after " + std::to_string(bytes) + " of " +
                                   std::to_string(*announced) + " bytes",
                               finalReply));
        End();
    }

    // One pull of download data (a recv, a splice): the end, or a drop, reads
    // the final reply and judges the transfer.
    template <typename Pull>
    std::size_t Receive(Pull pull)
    {
        std::size_t n = 0;
        bool dropped = false;
        try {
            n = pull();
        } catch (const InternetError& e) {
            if (!IsDataDrop(e)) {
                conn->MarkBroken(e);  // the transfer state on the server is unknown
                Fail(e);
            }
            dropped = true;
            dropCause = e;
        }
        if (n == 0)
            FinishTransfer(dropped);
        bytes += n;
        return n;
    }

    // All of `size` bytes to `fd`; its failures are the caller's file's.
    void WriteAllTo(int fd, const char* bytesOut, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, bytesOut, size);
            if (n > 0) {
                bytesOut += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                net::WaitFd(fd, POLLOUT, net::Deadline::AfterMs(conn->SendMs()), conn->Cancels());
                continue;
            }
            ThrowLocal(n < 0 ? errno : EIO, "write");
        }
    }

    // Download data from the socket into the connection's pipe, and from
    // there into `fd`: the bytes never reach user space. The pipe is empty
    // before and after.
    std::size_t SpliceInto(int fd, std::size_t size)
    {
        net::Pipe& pipe = conn->splicePipe;
        const std::size_t room = std::min(size, pipe.capacity());
        const std::size_t n = Receive([&]() -> std::size_t {
            const net::Deadline deadline = net::Deadline::AfterMs(conn->ReceiveMs());
            const net::Cancel cancels = conn->DataCancels();
            for (;;) {
                cancels.ThrowIfFired();
                const ssize_t got =
                    ::splice(data.fd(), nullptr, pipe.writeFd(), nullptr, room, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
                if (got >= 0)
                    return static_cast<std::size_t>(got);
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    net::WaitFd(data.fd(), POLLIN, deadline, cancels);
                    continue;
                }
                if (KernelCopyRefused(errno))
                    throw SpliceRefused{};
                net::ThrowErrno(errno, "recv");
            }
        });
        std::size_t left = n;
        try {
            while (left > 0) {
                const ssize_t put = ::splice(pipe.readFd(), nullptr, fd, nullptr, left, SPLICE_F_MOVE);
                if (put > 0) {
                    left -= static_cast<std::size_t>(put);
                    continue;
                }
                if (put < 0 && errno == EINTR)
                    continue;
                if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    net::WaitFd(fd, POLLOUT, net::Deadline::AfterMs(conn->SendMs()), conn->Cancels());
                    continue;
                }
                if (put < 0 && KernelCopyRefused(errno)) {
                    conn->spliceRefused = true;
                    while (left > 0) {  // what the pipe holds goes the long way round
                        const ssize_t got = ::read(pipe.readFd(), conn->CopyBuffer(),
                                                   std::min(left, ConnectionCore::kCopyBufferSize));
                        if (got < 0 && errno == EINTR)
                            continue;
                        if (got <= 0)
                            ThrowLocal(got < 0 ? errno : EIO, "read");
                        WriteAllTo(fd, conn->CopyBuffer(), static_cast<std::size_t>(got));
                        left -= static_cast<std::size_t>(got);
                    }
                    break;
                }
                ThrowLocal(put < 0 ? errno : EIO, "write");
            }
        } catch (...) {
            pipe.Reset();  // what it still holds belongs to no file now
            throw;
        }
        return n;
    }

    void Abort()
    {
        if (ended)
            return;
        if (!upload)
            CloseData();  // a blocking server notices the abort through its failing send
        ended = true;
        conn->streamOpen = false;
        if (conn->Cancelled() || conn->broken) {
            CloseData();
            return;
        }
        try {
            // ABOR then NOOP: the NOOP's 200 marks the end of whatever the
            // server answers to the transfer and to ABOR (426+226, 226+225, 225...).
            conn->Send("ABOR");
            CloseData();
            conn->Send("NOOP");
            net::Deadline deadline = net::Deadline::AfterMs(conn->ReceiveMs());
            int before = 0;
            for (;;) {
                FtpReply reply = conn->Read(&deadline);
                if (reply.code == 200 && before > 0)
                    break;
                if (!reply.Preliminary())
                    ++before;
                if (before > 8)
                    throw InternetError(err::kInvalidServerResponse, "The server's replies to ABOR make no sense",
                                        reply.Text());
            }
        } catch (const InternetError& e) {
            conn->MarkBroken(e);
            CloseData();
            throw;
        }
    }
};

FtpStream::FtpStream(std::unique_ptr<State> state) : s_(std::move(state)) {}

FtpStream::~FtpStream()
{
    try {
        s_->Abort();
    } catch (...) {
        // Errors of an abandoned stream have no one to go to; the connection remembers them.
    }
}

bool FtpStream::isUpload() const { return s_->upload; }
std::uint64_t FtpStream::bytesTransferred() const { return s_->bytes; }
std::optional<std::uint64_t> FtpStream::announcedSize() const { return s_->announced; }
const std::string& FtpStream::finalReply() const { return s_->finalReply; }

std::size_t FtpStream::Read(void* out, std::size_t size)
{
    State& s = *s_;
    if (s.failure)
        throw *s.failure;
    if (s.upload)
        throw InternetError(err::kInvalidOperation, "Read from an upload stream");
    if (s.ended || size == 0)
        return 0;
    if (!s.data.valid()) {  // the server answered the command with its final reply at once
        s.FinishTransfer(false);
        return 0;
    }
    char* buf = static_cast<char*>(out);
    if (s.carry) {
        buf[0] = *s.carry;
        s.carry.reset();
        return 1;
    }
    // Raw bytes from the data connection; 0 once the transfer has been judged complete.
    auto receive = [&s](char* to, std::size_t room) -> std::size_t {
        return s.Receive([&] {
            if (s.tls)
                return s.tls->RecvSome(to, room, net::Deadline::AfterMs(s.conn->ReceiveMs()), s.conn->DataCancels());
            return s.data.RecvSome(to, room, s.conn->ReceiveMs(), s.conn->DataCancels());
        });
    };
    if (!s.convert)
        return receive(buf, size);

    for (;;) {
        if (s.pendingCr && size == 1) {
            // One byte of room: decide about the held CR from the next byte alone.
            char c = 0;
            std::size_t n = receive(&c, 1);
            buf[0] = '\r';
            if (n == 0 || c != '\r')
                s.pendingCr = false;
            if (n == 1 && c == '\n')
                buf[0] = '\n';
            else if (n == 1 && c != '\r')
                s.carry = c;
            return 1;
        }
        // With a CR held, the data lands one byte further so the CR can still go first.
        std::size_t offset = s.pendingCr ? 1 : 0;
        std::size_t n = receive(buf + offset, size - offset);
        if (n == 0) {
            if (s.pendingCr) {
                s.pendingCr = false;
                buf[0] = '\r';
                return 1;
            }
            return 0;
        }
        // Drop each CR that precedes an LF; hold a CR that ends the chunk.
        char* src = buf + offset;
        char* end = src + n;
        char* dst = buf;
        if (s.pendingCr) {
            s.pendingCr = false;
            if (*src != '\n')
                *dst++ = '\r';
        }
        for (char* p = src; p < end; ++p) {
            if (*p == '\r') {
                if (p + 1 == end) {
                    s.pendingCr = true;
                    break;
                }
                if (p[1] == '\n')
                    continue;
            }
            *dst++ = *p;
        }
        std::size_t produced = static_cast<std::size_t>(dst - buf);
        if (produced > 0)
            return produced;
    }
}

void FtpStream::Write(const void* in, std::size_t size)
{
    State& s = *s_;
    if (s.failure)
        throw *s.failure;
    if (!s.upload)
        throw InternetError(err::kInvalidOperation, "Write to a download stream");
    if (s.ended)
        throw InternetError(err::kInvalidOperation, "Write to a closed stream");
    if (size == 0)
        return;
    const char* data = static_cast<const char*>(in);
    if (s.convert) {
        s.scratch.clear();
        s.scratch.reserve(size + size / 8 + 1);
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == '\n' && !s.lastWasCr)
                s.scratch.push_back('\r');
            s.scratch.push_back(data[i]);
            s.lastWasCr = data[i] == '\r';
        }
        data = s.scratch.data();
        size = s.scratch.size();
    }
    // Sends like Socket::SendAll, but a reply on the control connection while
    // the data waits for room means the server gave up on the upload (quota,
    // disk full...): its reply is the error, not a time-out much later.
    while (size > 0) {
        bool replied = false, dropped = false;
        try {
            s.conn->Cancels().ThrowIfFired();
            short wait = POLLOUT;
            ssize_t n;
            if (s.tls) {
                n = static_cast<ssize_t>(s.tls->TrySend(data, size, wait));
            } else {
                n = ::send(s.data.fd(), data, size, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    net::ThrowErrno(errno, "send");
            }
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                s.bytes += static_cast<std::uint64_t>(n);
                continue;
            }
            replied = s.conn->reader.HasBuffered() ||
                      net::WaitFdOrInput(s.data.fd(), wait, s.conn->control.fd(),
                                         net::Deadline::AfterMs(s.conn->SendMs()), s.conn->Cancels());
            // Under TLS the control connection also carries records that hold no reply.
            if (replied && s.conn->controlTls && !s.conn->reader.HasBuffered())
                replied = s.conn->controlTls->ReadReady();
        } catch (const InternetError& e) {
            if (!IsDataDrop(e)) {
                s.conn->MarkBroken(e);
                s.Fail(e);
            }
            dropped = true;  // the server closed the data connection: its reply says why
        }
        if (replied || dropped)
            s.FinishTransfer(true);
    }
}

std::size_t FtpStream::ReadInto(int fd, std::size_t size)
{
    State& s = *s_;
    if (s.failure)
        throw *s.failure;
    if (s.upload)
        throw InternetError(err::kInvalidOperation, "Read from an upload stream");
    if (s.ended || size == 0)
        return 0;
    ConnectionCore& c = *s.conn;
    // Encrypted data has to pass through user space to be decrypted.
    if (!s.convert && !s.tls && s.data.valid() && !c.spliceRefused && (c.splicePipe.valid() || c.splicePipe.Open())) {
        try {
            return s.SpliceInto(fd, size);
        } catch (const SpliceRefused&) {
            c.spliceRefused = true;
        }
    }
    char* buffer = c.CopyBuffer();
    const std::size_t n = Read(buffer, std::min(size, ConnectionCore::kCopyBufferSize));
    s.WriteAllTo(fd, buffer, n);
    return n;
}

std::size_t FtpStream::WriteFrom(int fd, std::size_t size)
{
    State& s = *s_;
    if (s.failure)
        throw *s.failure;
    if (!s.upload)
        throw InternetError(err::kInvalidOperation, "Write to a download stream");
    if (s.ended)
        throw InternetError(err::kInvalidOperation, "Write to a closed stream");
    // Through the connection's buffer rather than sendfile(): measured against
    // vsftpd on loopback, sendfile saved us the copy but the server took the
    // data no faster, often slower, and a read of our own tells the file's
    // failures from the connection's without guessing.
    char* buffer = s.conn->CopyBuffer();
    std::size_t done = 0;
    while (done < size) {
        const std::size_t want = std::min(size - done, ConnectionCore::kCopyBufferSize);
        ssize_t got;
        do
            got = ::read(fd, buffer, want);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            ThrowLocal(errno, "read");
        if (got == 0)
            break;
        Write(buffer, static_cast<std::size_t>(got));
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void FtpStream::Close()
{
    State& s = *s_;
    if (s.ended) {
        if (s.failure)
            throw *s.failure;
        return;
    }
    if (s.upload) {
        // Servers take an end without close_notify for a cut-off upload. And
        // the socket must not be closed while the server's session tickets
        // lie unread in it: the kernel would answer with a reset, and the
        // server would lose the data it has not read yet. Once it has replied
        // it has read everything.
        if (s.tls)
            s.tls->Shutdown(s.conn->SendMs(), s.conn->Cancels());
        s.data.ShutdownWrite();
        if (s.tls && !s.conn->reader.HasBuffered())
            s.tls->DrainUntilClosed(net::Deadline::AfterMs(s.conn->ReceiveMs()), s.conn->Cancels(),
                                    s.conn->control.fd());
        s.FinishTransfer(false);
        return;
    }
    s.Abort();
}

// ---------------------------------------------------------------------------
// Connection

FtpConnection::FtpConnection(std::shared_ptr<ConnectionCore> core) : core_(std::move(core)) {}

FtpConnection::~FtpConnection()
{
    ConnectionCore& c = *core_;
    c.session->Notify(status::kHandleClosing);
    if (!c.Cancelled() && !c.broken && !c.streamOpen && c.control.valid()) {
        c.session->Notify(status::kClosingConnection);
        try {
            c.Send("QUIT");
            // A courtesy: wait briefly for the goodbye, never for long.
            std::uint32_t ms = std::min<std::uint32_t>(c.ReceiveMs() ? c.ReceiveMs() : 1000, 1000);
            net::Deadline deadline = net::Deadline::AfterMs(ms);
            c.Read(&deadline);
            if (c.controlTls)
                c.controlTls->Shutdown(ms, c.Cancels());
        } catch (...) {
        }
        if (!c.streamOpen)
            c.control.Reset();
        c.session->Notify(status::kConnectionClosed);
    }
}

void FtpConnection::Close()
{
    core_->cancel.Fire();
}

std::string FtpConnection::GetCurrentDirectory()
{
    core_->CheckUsable();
    FtpReply reply = core_->Exec("PWD");
    if (reply.code != 257)
        throw InternetError(err::kExtendedError, "The server did not tell the current folder", reply.Text());
    auto path = FromReplyLines(reply, [](std::string_view l) { return ParsePwdReply(l); });
    if (!path)
        throw InternetError(err::kInvalidServerResponse, "The server's PWD reply cannot be read", reply.Text());
    return *path;
}

namespace {

void ExpectPositive(const FtpReply& reply, const char* what)
{
    if (!reply.Positive())
        throw InternetError(err::kExtendedError, what, reply.Text());
}

}  // namespace

void FtpConnection::SetCurrentDirectory(const std::string& path)
{
    core_->CheckUsable();
    ExpectPositive(core_->Exec("CWD " + path), "The server refused to change the folder");
}

void FtpConnection::RemoveFile(const std::string& path)
{
    core_->CheckUsable();
    ExpectPositive(core_->Exec("DELE " + path), "The server refused to delete the file");
}

void FtpConnection::Rename(const std::string& from, const std::string& to)
{
    core_->CheckUsable();
    CheckCommandArgument(to);
    FtpReply reply = core_->Exec("RNFR " + from);
    if (!reply.Intermediate())
        throw InternetError(err::kExtendedError, "The server refused to rename", reply.Text());
    ExpectPositive(core_->Exec("RNTO " + to), "The server refused to rename");
}

void FtpConnection::CreateDirectory(const std::string& path)
{
    core_->CheckUsable();
    ExpectPositive(core_->Exec("MKD " + path), "The server refused to create the folder");
}

void FtpConnection::RemoveDirectory(const std::string& path)
{
    core_->CheckUsable();
    ExpectPositive(core_->Exec("RMD " + path), "The server refused to remove the folder");
}

std::uint64_t FtpConnection::GetFileSize(const std::string& path)
{
    core_->CheckUsable();
    CheckCommandArgument(path);
    core_->SetType(TransferType::Binary);  // several servers refuse SIZE in ASCII mode
    FtpReply reply = core_->Exec("SIZE " + path);
    if (reply.code != 213)
        throw InternetError(err::kExtendedError, "The server did not tell the file size", reply.Text());
    auto size = FromReplyLines(reply, [](std::string_view l) { return ParseSizeReply(l); });
    if (!size)
        throw InternetError(err::kInvalidServerResponse, "The server's SIZE reply cannot be read", reply.Text());
    return *size;
}

std::int64_t FtpConnection::GetModificationTime(const std::string& path)
{
    core_->CheckUsable();
    FtpReply reply = core_->Exec("MDTM " + path);
    if (reply.code != 213)
        throw InternetError(err::kExtendedError, "The server did not tell the modification time", reply.Text());
    auto t = FromReplyLines(reply, [](std::string_view l) { return ParseMdtmReply(l); });
    if (!t)
        throw InternetError(err::kInvalidServerResponse, "The server's MDTM reply cannot be read", reply.Text());
    return *t;
}

bool FtpConnection::CanSetModificationTime() const
{
    return core_->features.count("MFMT") > 0 || OffersSiteUtime();
}

bool FtpConnection::OffersSiteUtime() const
{
    const auto site = core_->features.find("SITE");
    if (site == core_->features.end())
        return false;
    std::string offered = site->second;
    for (char& c : offered)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (std::size_t at = offered.find("UTIME"); at != std::string::npos; at = offered.find("UTIME", at + 1)) {
        const bool starts = at == 0 || offered[at - 1] == '\n' || offered[at - 1] == ' ';
        const bool ends = at + 5 == offered.size() || offered[at + 5] == '\n' || offered[at + 5] == ' ';
        if (starts && ends)
            return true;
    }
    return false;
}

FtpConnection::TimeSetting FtpConnection::SetModificationTime(const std::string& path, std::int64_t utcSeconds)
{
    core_->CheckUsable();
    CheckCommandArgument(path);
    const bool mfmt = core_->features.count("MFMT") > 0;
    if (!mfmt && !OffersSiteUtime())
        return TimeSetting::NotOffered;
    const std::time_t seconds = static_cast<std::time_t>(utcSeconds);
    std::tm tm{};
    if (utcSeconds < 0 || !::gmtime_r(&seconds, &tm))
        return TimeSetting::Refused;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    // MFMT is the draft's command; "SITE UTIME time path" is ProFTPD's and
    // Pure-FTPd's, in UTC as well.
    const FtpReply reply = core_->Exec(mfmt ? "MFMT " + std::string(stamp) + " " + path
                                            : "SITE UTIME " + std::string(stamp) + " " + path);
    return reply.code >= 200 && reply.code < 300 ? TimeSetting::Set : TimeSetting::Refused;
}

namespace {

// Says where a failure happened: the same TLS errors come from the control connection.
[[noreturn]] void ThrowOnData(const InternetError& e)
{
    if (e.number() == err::kOperationCancelled || e.number() == err::kTimeout)
        throw e;
    throw InternetError(e.number(), "Data connection: " + e.message(), e.serverReply());
}

std::unique_ptr<FtpStream::State> OpenTransfer(const std::shared_ptr<ConnectionCore>& core,
                                               const std::string& command, TransferType type,
                                               std::uint64_t restOffset, bool sendRest, bool upload,
                                               bool convert)
{
    ConnectionCore& c = *core;
    c.CheckUsable();
    CheckCommandArgument(command);
    c.SetType(type);

    net::Socket data, listener;
    FtpReply reply;
    // The mode the caller chose comes back when the other one fails as well.
    const bool chosenPassive = c.passive;
    bool switched = false;
    for (;;) {
        data = net::Socket();
        listener = net::Socket();
        try {
            int port = 0;
            if (c.passive)
                data = c.OpenPassiveData(port);
            else
                listener = c.PrepareActiveData();
        } catch (const InternetError& e) {
            if (switched || !c.MaySwitchMode(e)) {
                c.passive = chosenPassive;
                throw;
            }
            c.SwitchMode(e.what());
            switched = true;
            continue;
        }

        if (sendRest) {
            FtpReply rest = c.Exec("REST " + std::to_string(restOffset));
            if (rest.code != 350)
                throw InternetError(err::kExtendedError, "The server refused to resume the transfer (REST)",
                                    rest.Text());
        }

        c.Send(command);
        reply = c.Read();
        // 425: the server could not make or take the data connection; nothing
        // was transferred, so the command goes again once in the other mode.
        if (reply.code == 425 && !switched && c.MaySwitchMode(std::nullopt)) {
            c.SwitchMode(reply.Text());
            switched = true;
            continue;
        }
        if (reply.code == 425 && switched)
            c.passive = chosenPassive;
        break;
    }
    auto state = std::make_unique<FtpStream::State>();
    state->conn = core;
    state->upload = upload;
    state->convert = convert;
    if (reply.Positive()) {
        state->finalSeen = true;  // nothing to transfer, as far as the server is concerned
        state->finalReply = reply.Text();
    } else if (!reply.Preliminary()) {
        throw InternetError(err::kExtendedError, {}, reply.Text());
    }
    if (!upload && restOffset == 0 && !reply.lines.empty())
        state->announced = ParseTransferSize(reply.lines.front());

    if (!c.passive && !state->finalSeen) {
        try {
            data = net::AcceptFrom(listener, c.peer, c.ReceiveMs(), c.Cancels());
        } catch (const InternetError& e) {
            c.MarkBroken(e);  // the server still waits to connect: its next reply is unpredictable
            throw;
        }
    }
    // Commands must leave at once, upload data in full segments: with
    // TCP_NODELAY every write that is not a whole number of segments sends its
    // remainder as a small segment of its own (a 64 KiB write on loopback goes
    // as two), and the server pays for each. Nothing is held back at the end:
    // the shutdown that ends the data pushes out what waits.
    if (upload && data.valid())
        data.SetNoDelay(false);
    // Only now: a server may take data that comes before it has answered the
    // command (a ClientHello) for a connection gone wrong, and close it.
    if (c.protectData && data.valid()) {
        try {
            state->tls = c.StartTls(data.fd(), c.controlTls.get());
        } catch (const InternetError& e) {
            if (!state->finalSeen) {
                c.MarkBroken(e);  // the server is left in the middle of a transfer
                ThrowOnData(e);
            }
            data.Reset();  // the server has finished already: whatever it meant to send is lost with it
        }
    }
    state->data = std::move(data);
    c.streamOpen = true;
    return state;
}

}  // namespace

std::unique_ptr<FtpStream> FtpConnection::OpenFileForRead(const std::string& path, TransferType type,
                                                          std::uint64_t offset)
{
    auto state = OpenTransfer(core_, "RETR " + path, type, offset, offset > 0, false, type == TransferType::Ascii);
    return std::unique_ptr<FtpStream>(new FtpStream(std::move(state)));
}

std::unique_ptr<FtpStream> FtpConnection::OpenFileForWrite(const std::string& path, TransferType type,
                                                           WriteMode mode, std::uint64_t offset)
{
    std::string verb = mode == WriteMode::Append ? "APPE " : "STOR ";
    auto state = OpenTransfer(core_, verb + path, type, offset, mode == WriteMode::Restart, true,
                              type == TransferType::Ascii);
    return std::unique_ptr<FtpStream>(new FtpStream(std::move(state)));
}

FtpReply FtpConnection::Command(const std::string& line)
{
    core_->CheckUsable();
    return core_->Exec(line);
}

bool FtpConnection::usesMlsd() const
{
    return core_->features.count("MLST") && !core_->mlsdRefused;
}

void FtpConnection::Enumerate(const std::string& path, const EntryCallback& onEntry,
                              const ProblemCallback& onProblem)
{
    core_->CheckUsable();
    CheckCommandArgument(path);
    bool mlsd = usesMlsd();
    std::unique_ptr<FtpStream> stream;
    try {
        std::string cmd = std::string(mlsd ? "MLSD" : "LIST") + (path.empty() ? "" : " " + path);
        stream.reset(new FtpStream(OpenTransfer(core_, cmd, TransferType::Ascii, 0, false, false, false)));
    } catch (const InternetError& e) {
        // A server may announce MLST yet not implement MLSD.
        if (!mlsd || e.number() != err::kExtendedError || (core_->lastCode != 500 && core_->lastCode != 502))
            throw;
        core_->mlsdRefused = true;
        mlsd = false;
        std::string cmd = "LIST" + (path.empty() ? std::string() : " " + path);
        stream.reset(new FtpStream(OpenTransfer(core_, cmd, TransferType::Ascii, 0, false, false, false)));
    }
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    ListingParser parser(
        mlsd ? ListingParser::Format::Mlsd : ListingParser::Format::List, now,
        [&](DirEntry&& entry) { onEntry(std::move(entry)); },
        [&](LineKind kind, std::string_view line) {
            if (onProblem)
                onProblem(kind, line);
        });
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        std::size_t n = stream->Read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        parser.Feed(buffer.data(), n);
    }
    parser.Finish();
}

void FtpConnection::SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs)
{
    core_->idle = std::move(handler);
    core_->idleMs = intervalMs;
}

const std::string& FtpConnection::lastReplyText() const { return core_->lastReply; }
int FtpConnection::lastReplyCode() const { return core_->lastCode; }
const FeatureMap& FtpConnection::features() const { return core_->features; }
const std::string& FtpConnection::greeting() const { return core_->greeting; }
bool FtpConnection::passive() const { return core_->passive; }
bool FtpConnection::throughProxy() const { return core_->proxy.has_value(); }
bool FtpConnection::epsvFallback() const { return core_->epsvRefused; }
bool FtpConnection::controlEncrypted() const { return core_->controlTls != nullptr; }
bool FtpConnection::dataEncrypted() const { return core_->protectData; }

bool FtpConnection::HasFeature(std::string_view name) const
{
    std::string upper(name);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return core_->features.count(upper) > 0;
}

}  // namespace inet
