#include "engine/inet/InternetSession.h"

#include "engine/inet/FtpConnection.h"
#include "engine/inet/FtpCore.h"

#include <algorithm>

namespace inet {

void SessionCore::Notify(std::uint32_t status, std::string_view info) const
{
    if (!callbackEnabled.load(std::memory_order_acquire))
        return;
    StatusCallback cb;
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        cb = callback;
    }
    if (!cb)
        return;
    try {
        cb(status, info);
    } catch (...) {
        // A throwing callback must not leave a command half-sent.
    }
}

void SessionCore::Tell(Talk kind, std::string_view line) const
{
    if (!conversationSet.load(std::memory_order_acquire))
        return;
    ConversationCallback cb;
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        cb = conversation;
    }
    if (!cb)
        return;
    try {
        cb(kind, line);
    } catch (...) {
        // As in Notify: the conversation goes on whatever the listener does.
    }
}

bool SessionCore::IsPinned(const std::string& normalizedFingerprint) const
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    return std::find(pinned.begin(), pinned.end(), normalizedFingerprint) != pinned.end();
}

bool SessionCore::AcceptCertificate(const CertificateInfo& info) const
{
    CertificateCallback cb;
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        cb = certificateCallback;
    }
    if (!cb)
        return false;
    try {
        return cb(info);
    } catch (...) {
        return false;  // a listener that fails cannot have vouched for the certificate
    }
}

std::optional<ProxyAddress> SessionCore::ProxyFor(std::string_view host) const
{
    switch (access) {
    case AccessType::Direct:
        return std::nullopt;
    case AccessType::NamedProxy:
        return namedProxy;
    case AccessType::Preconfigured:
        return ProxyFromEnvironment(host);
    }
    return std::nullopt;
}

InternetSession::InternetSession(std::string agent, AccessType access, std::string proxy)
    : core_(std::make_shared<SessionCore>())
{
    core_->agent = std::move(agent);
    core_->access = access;
    if (access == AccessType::NamedProxy)
        core_->namedProxy = ParseProxyAddress(proxy);
}

InternetSession::~InternetSession()
{
    Close();
}

const std::string& InternetSession::agent() const { return core_->agent; }
AccessType InternetSession::accessType() const { return core_->access; }

void InternetSession::SetOption(int opt, std::uint32_t milliseconds)
{
    switch (opt) {
    case option::kConnectTimeout:
        core_->connectMs.store(milliseconds);
        break;
    case option::kSendTimeout:
    case option::kDataSendTimeout:
        core_->sendMs.store(milliseconds);
        break;
    case option::kReceiveTimeout:
    case option::kDataReceiveTimeout:
        core_->receiveMs.store(milliseconds);
        break;
    default:
        throw InternetError(err::kInvalidOption, "Unknown option " + std::to_string(opt));
    }
}

std::uint32_t InternetSession::GetOption(int opt) const
{
    switch (opt) {
    case option::kConnectTimeout:
        return core_->connectMs.load();
    case option::kSendTimeout:
    case option::kDataSendTimeout:
        return core_->sendMs.load();
    case option::kReceiveTimeout:
    case option::kDataReceiveTimeout:
        return core_->receiveMs.load();
    default:
        throw InternetError(err::kInvalidOption, "Unknown option " + std::to_string(opt));
    }
}

void InternetSession::SetStatusCallback(StatusCallback callback)
{
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    core_->callback = std::move(callback);
    if (!core_->callback)
        core_->callbackEnabled.store(false);
}

bool InternetSession::EnableStatusCallback(bool enable)
{
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    if (enable && !core_->callback)
        return false;
    core_->callbackEnabled.store(enable);
    return true;
}

bool InternetSession::IsStatusCallbackEnabled() const
{
    return core_->callbackEnabled.load();
}

void InternetSession::SetConversationCallback(ConversationCallback callback)
{
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    core_->conversation = std::move(callback);
    core_->conversationSet.store(static_cast<bool>(core_->conversation), std::memory_order_release);
}

void InternetSession::SetCertificateCallback(CertificateCallback callback)
{
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    core_->certificateCallback = std::move(callback);
}

void InternetSession::SetPinnedCertificates(std::vector<std::string> sha256Fingerprints)
{
    std::vector<std::string> normalized;
    for (const std::string& f : sha256Fingerprints)
        if (std::string n = net::NormalizedFingerprint(f); !n.empty())
            normalized.push_back(std::move(n));
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    core_->pinned = std::move(normalized);
}

void InternetSession::SetCaFile(std::string path)
{
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    core_->caFile = std::move(path);
}

void InternetSession::SetInsecure(bool insecure)
{
    std::lock_guard<std::mutex> lock(core_->callbackMutex);
    core_->insecure = insecure;
}

std::optional<ProxyAddress> InternetSession::ProxyFor(std::string_view host) const
{
    return core_->ProxyFor(host);
}

void InternetSession::Close()
{
    core_->cancel.Fire();
}

std::unique_ptr<FtpConnection> InternetSession::Connect(const std::string& host, int port, const std::string& user,
                                                        const std::string& password, bool passive,
                                                        Encryption encryption)
{
    if (core_->cancel.Fired())
        throw InternetError(err::kOperationCancelled, "The session is closed");
    std::string h = host;
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    if (h.empty())
        throw InternetError(err::kInvalidUrl, "No server name was given");
    for (char c : h) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f || c == '/' || c == '\\' || c == '@' || c == '[' || c == ']')
            throw InternetError(err::kInvalidUrl, "The server name \"" + h.substr(0, 100) + "\" is not valid");
    }
    if (port == 0)
        port = 21;
    if (port < 1 || port > 65535)
        throw InternetError(err::kInvalidUrl, "The port " + std::to_string(port) + " is not valid");
    CheckCommandArgument(user);
    CheckCommandArgument(password);

    auto conn = std::make_shared<ConnectionCore>(core_);
    conn->host = h;
    conn->port = port;
    conn->proxy = core_->ProxyFor(h);
    conn->passive = passive || conn->proxy.has_value();
    conn->encryption = encryption;
    core_->Notify(status::kHandleCreated);
    conn->Open(user, password);
    return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(conn)));
}

}  // namespace inet
