#include "engine/transfer/SiteConnection.h"

#include "engine/base/FtpSite.h"
#include "engine/base/TrustedCertificates.h"
#include "engine/inet/InternetSession.h"
#include "engine/remote/FtpFileSystem.h"

#include <vector>

CSiteConnection::CSiteConnection(TransferSite site, int timeoutMs, int proxyType, QString proxyName)
    : m_site(std::move(site)), m_timeoutMs(timeoutMs), m_proxyType(proxyType), m_proxyName(std::move(proxyName))
{
}

bool CSiteConnection::ProxyUsable() const
{
    return m_proxyType >= 0 && m_proxyType <= 2;
}

std::unique_ptr<remote::IFileSystem> CSiteConnection::Make() const
{
    if (m_site.protocol == int(SiteProtocol::Sftp))
        return remote::CreateFileSystem(remote::Protocol::Sftp);
    const inet::AccessType access = m_proxyType == 1   ? inet::AccessType::Direct
                                    : m_proxyType == 2 ? inet::AccessType::NamedProxy
                                                       : inet::AccessType::Preconfigured;
    const std::string proxy = access == inet::AccessType::NamedProxy ? m_proxyName.toStdString() : std::string();
    std::vector<std::string> accepted;
    for (const QString& fingerprint : m_site.acceptedCertificates)
        accepted.push_back(fingerprint.toStdString());
    return std::make_unique<remote::FtpFileSystem>([access, proxy, accepted, host = m_site.host, port = m_site.port] {
        auto session = std::make_unique<inet::InternetSession>("Kestrix", access, proxy);
        session->SetPinnedCertificates(accepted);
        session->SetCertificateCallback([host, port](const inet::CertificateInfo& info) {
            return CTrustedCertificates().Check(host, port, QString::fromStdString(info.sha256Fingerprint))
                == CTrustedCertificates::Verdict::Trusted;
        });
        return session;
    });
}

void CSiteConnection::Connect(remote::IFileSystem& fs, const inet::ConversationCallback& notes) const
{
    remote::ConnectOptions options;
    options.protocol = fs.protocol();
    options.host = m_site.host.toStdString();
    options.port = m_site.port;
    options.user = m_site.user.toStdString();
    options.password = m_site.password.toStdString();
    options.passive = m_site.passive;
    options.encryption = static_cast<inet::Encryption>(m_site.encryption);
    options.identityFile = m_site.keyFile.toStdString();
    if (m_timeoutMs > 0) {
        const auto timeout = static_cast<std::uint32_t>(m_timeoutMs);
        options.connectTimeoutMs = options.sendTimeoutMs = options.receiveTimeoutMs = timeout;
    }
    remote::Callbacks callbacks;
    callbacks.trace = notes;
    // known_hosts has vouched for the key already when this is asked: only a
    // key the user let the window's connection use once is taken.
    callbacks.hostKey = [accepted = m_site.acceptedHostKeys](const remote::HostKeyInfo& key) {
        return !key.changed && accepted.contains(QString::fromStdString(key.fingerprint))
            ? remote::HostKeyAnswer::ConnectOnce
            : remote::HostKeyAnswer::Cancel;
    };
    callbacks.passphrase = [phrase = m_site.keyPassphrase](const std::string&) -> std::optional<std::string> {
        if (phrase.isEmpty())
            return std::nullopt;
        return phrase.toStdString();
    };
    fs.Connect(options, callbacks);
}
