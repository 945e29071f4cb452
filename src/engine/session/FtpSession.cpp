#include "engine/session/FtpSession.h"

#include "engine/base/Settings.h"
#include "engine/base/SyncEvent.h"
#include "engine/base/TrustedCertificates.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/session/FtpUrl.h"
#include "engine/session/MessagePump.h"
#include "engine/inet/InternetError.h"
#include "engine/inet/InternetSession.h"
#include "engine/remote/FtpFileSystem.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

constexpr char kAgent[] = "Kestrix";

QString StatusLine(std::uint32_t status, const std::string& info)
{
    const QString infoText = QString::fromStdString(info);
    switch (status) {
    case 10: return QStringLiteral("resolving name for %1").arg(infoText);
    case 11: return QStringLiteral("resolved name for %1!").arg(infoText);
    case 20: return QStringLiteral("Connecting to server...");
    case 21: return QStringLiteral("Connected to server!");
    case 30: return QStringLiteral("Sending request...");
    case 31: return QStringLiteral("Request sent");
    case 40: return QStringLiteral("Receiving response...");
    case 41: return QStringLiteral("Response received!");
    case 50: return QStringLiteral("Closing connection...");
    case 51: return QStringLiteral("Connection closed!");
    case 60: return QStringLiteral("Connection created!");
    case 70: return QStringLiteral("Closing Connection...");
    case 100: return QStringLiteral("request complete");
    case 110: return QStringLiteral("Redirected to URL");
    case 200: return QStringLiteral("Busy");
    default: return QStringLiteral("Unknown status: %1").arg(status);
    }
}

// What the server sent is shown as it came, except what would garble the
// pane: a tab becomes a space, other control characters "?".
QString ConversationLine(inet::Talk kind, std::string_view line)
{
    QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    for (QChar& c : text) {
        if (c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    switch (kind) {
    case inet::Talk::Sent: return QStringLiteral("Command: ") + text;
    case inet::Talk::Received: return QStringLiteral("Response: ") + text;
    case inet::Talk::Note: break;
    }
    return text;
}

int ConversationLevel(inet::Talk kind, std::string_view line)
{
    switch (kind) {
    case inet::Talk::Sent: return TRACE_SENT;
    case inet::Talk::Received: return TRACE_REPLY;
    case inet::Talk::Note: break;
    }
    return LevelOfNote(line);
}

// A finished line of the internet session, posted from the thread that made
// it: a status line (written at the information level, and only while status
// lines are wanted), or with a trace level a line of the conversation.
inline constexpr QEvent::Type kSessionLineEvent = static_cast<QEvent::Type>(QEvent::User + 136);

class SessionLineEvent : public QEvent {
public:
    explicit SessionLineEvent(QString text, int traceLevel)
        : QEvent(kSessionLineEvent), m_text(std::move(text)), m_level(traceLevel) {}
    const QString& Text() const { return m_text; }
    bool IsStatusLine() const { return m_level == kStatusLine; }
    int Level() const { return m_level; }

    static constexpr int kStatusLine = -1;

private:
    QString m_text;
    int m_level;
};

// Runs `work` on the GUI thread and waits for it: how a connect thread asks
// the user, while the GUI thread keeps handling events as it waits for the
// connect.
void OnGuiThread(const std::function<void()>& work)
{
    if (QThread::currentThread() == qApp->thread())
        work();
    else
        QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
}

} // namespace

// Where the status callback delivers its lines. Connect threads reach it
// through the internet session's callback, so it may outlive the session
// object, which detaches itself on destruction.
struct CFtpSession::StatusSink {
    std::mutex mutex;
    QObject* target = nullptr;
    std::atomic<bool> statusLines{true};

    void Post(const QString& line, int traceLevel = SessionLineEvent::kStatusLine)
    {
        QObject* sameThreadTarget = nullptr;
        {
            std::lock_guard lock(mutex);
            if (!target)
                return;
            // Lines of the GUI thread's own operations keep their place among
            // its other trace lines; other threads' lines are posted.
            if (target->thread() != QThread::currentThread()) {
                QCoreApplication::postEvent(target, new SessionLineEvent(line, traceLevel));
                return;
            }
            sameThreadTarget = target;
        }
        SessionLineEvent event(line, traceLevel);
        QCoreApplication::sendEvent(sameThreadTarget, &event);
    }
};

// One connect attempt, shared with its thread. An attempt given up is marked
// abandoned; a connection its thread obtains after that is closed there.
// While the thread connects, `connecting` is its file system, for Cancel.
struct CFtpSession::ConnectAttempt {
    CSyncEvent done{CSyncEvent::Reset::Manual};
    std::mutex mutex;
    bool abandoned = false;
    remote::IFileSystem* connecting = nullptr;
    std::unique_ptr<remote::IFileSystem> connection;
    std::uint32_t error = 0;
    std::string message;
    std::string reply;
};

CFtpSession::Operation::Operation(CFtpSession& session)
    : m_session(session), m_started(!session.m_busy)
{
    if (!m_started) {
        session.TraceBusy();
        return;
    }
    session.m_busy = true;
    session.m_cancelRequested = false;
    session.m_cancelTraced = false;
    session.m_sincePump.start();
    if (session.m_events)
        session.m_events->OnBusyChanged(true);
}

CFtpSession::Operation::~Operation()
{
    if (!m_started)
        return;
    m_session.m_busy = false;
    m_session.m_cancelRequested = false;
    if (m_session.m_events)
        m_session.m_events->OnBusyChanged(false);
}

void CFtpSession::TraceBusy()
{
    Trace(TRACE_ERROR, QStringLiteral("Another operation is running; wait for it to end or cancel it."));
}

bool CFtpSession::CheckIdle()
{
    if (m_busy)
        TraceBusy();
    return !m_busy;
}

QString CFtpSession::WithoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

CFtpSession::CFtpSession()
    : m_statusSink(std::make_shared<StatusSink>())
{
    m_statusSink->target = this;
}

CFtpSession::~CFtpSession()
{
    {
        std::lock_guard lock(m_statusSink->mutex);
        m_statusSink->target = nullptr;
    }
    if (m_attempt) {
        std::lock_guard lock(m_attempt->mutex);
        m_attempt->abandoned = true;
    }
    CancelAttempt();
    m_connection.reset();
}

void CFtpSession::CancelAttempt()
{
    if (!m_attempt)
        return;
    std::lock_guard lock(m_attempt->mutex);
    // Wakes the connect thread at once; it keeps what it made until it is done.
    if (m_attempt->connecting)
        m_attempt->connecting->Cancel();
}

void CFtpSession::Trace(int level, const QString& text)
{
    if (m_events)
        m_events->OnTrace(level, QStringLiteral("[%1] ").arg(CurrentThreadId()) + text);
}

bool CFtpSession::event(QEvent* event)
{
    if (event->type() != kSessionLineEvent)
        return QObject::event(event);
    const auto* line = static_cast<SessionLineEvent*>(event);
    if (m_events && line->IsStatusLine())
        m_events->OnStatusLine(line->Text());
    else if (m_events)
        m_events->OnTrace(line->Level(), line->Text());
    return true;
}

QString CFtpSession::GetLastResponse() const
{
    return m_lastResponse;
}

bool CFtpSession::EnableStatusTrace(bool enable)
{
    m_statusSink->statusLines = enable;
    return m_sessionOpen;
}

bool CFtpSession::OpenInternetSession()
{
    switch (m_settings.proxyType) {
    case kx::settings::kProxyPreconfigured:
    case kx::settings::kProxyDirect:
    case kx::settings::kProxyNamed: break;
    default: return false;
    }
    try {
        // A proxy name that is no address: said here, before any attempt.
        InternetSessionFactory()();
    } catch (const inet::InternetError& error) {
        Trace(TRACE_ERROR, QString::fromStdString(error.message()));
        return false;
    }
    m_sessionOpen = true;
    m_acceptedCertificates.clear();
    m_acceptedHostKeys.clear();
    m_keyPassphrase.clear();
    return true;
}

remote::FtpFileSystem::SessionFactory CFtpSession::InternetSessionFactory()
{
    const inet::AccessType access = m_settings.proxyType == kx::settings::kProxyDirect ? inet::AccessType::Direct
        : m_settings.proxyType == kx::settings::kProxyNamed                            ? inet::AccessType::NamedProxy
                                                                                       : inet::AccessType::Preconfigured;
    const std::string proxy = access == inet::AccessType::NamedProxy ? m_settings.proxyName.toStdString() : std::string();
    // Runs on the connect thread, which may outlive this object: it holds
    // copies and a guarded pointer, never the session itself.
    return [access, proxy, sink = m_statusSink, guard = QPointer<CFtpSession>(this)] {
        auto session = std::make_unique<inet::InternetSession>(kAgent, access, proxy);
        session->SetStatusCallback([sink](std::uint32_t status, std::string_view info) {
            if (sink->statusLines)
                sink->Post(QStringLiteral("[%1] ").arg(CurrentThreadId()) + StatusLine(status, std::string(info)));
        });
        session->EnableStatusCallback(true);
        // Asked on the connecting thread; the user answers on the GUI thread,
        // which keeps handling events while it waits for the connect.
        session->SetCertificateCallback([guard](const inet::CertificateInfo& info) {
            bool accepted = false;
            OnGuiThread([&] {
                if (guard)
                    accepted = guard->DecideCertificate(info);
            });
            return accepted;
        });
        return session;
    };
}

std::unique_ptr<remote::IFileSystem> CFtpSession::MakeFileSystem()
{
    if (m_site.protocol == SiteProtocol::Sftp)
        return remote::CreateFileSystem(remote::Protocol::Sftp);
    return std::make_unique<remote::FtpFileSystem>(InternetSessionFactory());
}

remote::Callbacks CFtpSession::ConnectCallbacks()
{
    remote::Callbacks callbacks;
    std::shared_ptr<StatusSink> sink = m_statusSink;
    callbacks.trace = [sink](inet::Talk kind, std::string_view line) {
        sink->Post(QStringLiteral("[%1] ").arg(CurrentThreadId()) + ConversationLine(kind, line),
                   ConversationLevel(kind, line));
    };
    QPointer<CFtpSession> guard(this);
    callbacks.hostKey = [guard](const remote::HostKeyInfo& key) {
        remote::HostKeyAnswer answer = remote::HostKeyAnswer::Cancel;
        OnGuiThread([&] {
            if (guard)
                answer = guard->DecideHostKey(key);
        });
        return answer;
    };
    callbacks.passphrase = [guard](const std::string& keyFile) {
        std::optional<std::string> phrase;
        OnGuiThread([&] {
            if (guard)
                phrase = guard->AskPassphrase(QString::fromStdString(keyFile));
        });
        return phrase;
    };
    return callbacks;
}

void CFtpSession::Close()
{
    if (m_busy) {
        Trace(TRACE_ERROR, QStringLiteral("Cannot disconnect while an operation is running; cancel it first."));
        return;
    }
    CloseNow();
}

void CFtpSession::CloseNow()
{
    if (m_connection) {
        const QString name = ProtocolLabel();
        Trace(TRACE_INFO, QStringLiteral("Closing %1 session...").arg(name));
        try {
            m_connection->Close();
        } catch (const inet::InternetError&) {
            // Gone already: closed all the same.
        }
        m_connection.reset();
        Trace(TRACE_SUCCESS, QStringLiteral("%1 session closed.").arg(name));
    }
    if (m_sessionOpen) {
        Trace(TRACE_INFO, QStringLiteral("Closing Internet Session..."));
        CancelAttempt();
        m_sessionOpen = false;
        Trace(TRACE_SUCCESS, QStringLiteral("Internet session closed."));
    }
    if (m_events)
        m_events->OnDisconnected();
}

void CFtpSession::Cancel()
{
    if (!m_busy)
        return;
    m_cancelRequested = true;
    m_listing = false;
    // The attempt's thread is woken by the cancelled connection; the attempt
    // loop sees there is no session left and stops.
    if (m_connecting)
        CloseNow();
}

bool CFtpSession::IsConnected()
{
    // A PWD now would cut into the running operation's conversation.
    if (m_busy)
        return m_connection != nullptr;
    return CheckConnection();
}

bool CFtpSession::CheckConnection()
{
    if (!m_connection)
        return false;
    try {
        m_connection->KeepAlive();
        Trace(TRACE_INFO, QStringLiteral("%1 status: Connected.").arg(ProtocolLabel()));
        return true;
    } catch (const inet::InternetError&) {
        CloseNow();
        return false;
    }
}

std::unique_ptr<remote::IFileSystem> CFtpSession::OpenConnection(const remote::ConnectOptions& options,
                                                                 std::shared_ptr<ConnectAttempt>& attempt)
{
    attempt = std::make_shared<ConnectAttempt>();
    m_attempt = attempt;
    m_connecting = true;

    std::thread([attempt, fs = MakeFileSystem(), options,
                 callbacks = ConnectCallbacks()]() mutable {
        std::unique_ptr<remote::IFileSystem> connection;
        std::uint32_t error = 0;
        std::string message;
        std::string reply;
        {
            std::lock_guard lock(attempt->mutex);
            attempt->connecting = fs.get();
            if (attempt->abandoned)
                fs->Cancel();
        }
        try {
            fs->Connect(options, callbacks);
        } catch (const inet::InternetError& e) {
            error = e.number();
            message = e.message();
            reply = e.serverReply();
        } catch (const std::exception& e) {
            error = inet::err::kInternalError;
            message = e.what();
        }
        {
            std::lock_guard lock(attempt->mutex);
            attempt->connecting = nullptr;
            if (!attempt->abandoned && error == 0) {
                attempt->connection = std::move(fs);
            } else if (!attempt->abandoned) {
                attempt->error = error;
                attempt->message = std::move(message);
                attempt->reply = std::move(reply);
            }
        }
        // A connection nobody waits for any more is closed here, off the GUI thread.
        fs.reset();
        attempt->done.Set();
    }).detach();

    const int timeout = m_settings.connectionTimeoutSeconds * 1000;
    m_certificateAsked = false;
    bool signalled = WaitWithMessages(attempt->done, timeout);
    // The time the user spent on a certificate question is not the server's.
    while (!signalled && m_certificateAsked) {
        m_certificateAsked = false;
        signalled = WaitWithMessages(attempt->done, timeout);
    }
    m_connecting = false;
    // Status lines the thread posted belong before whatever comes next.
    QCoreApplication::sendPostedEvents(this, kSessionLineEvent);

    std::lock_guard lock(attempt->mutex);
    if (!signalled) {
        attempt->abandoned = true;
        if (attempt->connecting)
            attempt->connecting->Cancel();
        attempt->connection.reset();
        // Like any other failed attempt: its reason traced, then the
        // countdown or, after the last one, the message box.
        throw inet::InternetError(inet::err::kTimeout, inet::ErrorText(inet::err::kTimeout));
    }
    if (!attempt->connection)
        throw inet::InternetError(attempt->error, attempt->message, attempt->reply);
    return std::move(attempt->connection);
}

bool CFtpSession::DecideCertificate(const inet::CertificateInfo& info)
{
    m_certificateAsked = true;
    const QString fingerprint = QString::fromStdString(info.sha256Fingerprint);
    CTrustedCertificates trusted;
    const CTrustedCertificates::Verdict verdict = trusted.Check(m_server, m_port, fingerprint);
    if (verdict == CTrustedCertificates::Verdict::Trusted) {
        m_acceptedCertificates << fingerprint;
        return true;
    }
    CertificateTrustRequest request;
    CertificateQuestion& question = request.question;
    question.host = m_server;
    question.port = m_port;
    question.subject = QString::fromStdString(info.subject);
    question.issuer = QString::fromStdString(info.issuer);
    question.validFrom = QString::fromStdString(info.notBefore);
    question.validUntil = QString::fromStdString(info.notAfter);
    question.sha256 = fingerprint;
    question.problem = QString::fromStdString(info.verificationError);
    question.changed = verdict == CTrustedCertificates::Verdict::Changed;
    Trace(question.changed ? TRACE_ERROR : TRACE_INFO,
          question.changed ? QStringLiteral("The server's certificate is not the one trusted before.")
                           : QStringLiteral("The server's certificate is not trusted: %1").arg(question.problem));
    if (m_events)
        m_events->OnRequest(request);
    // A changed certificate is only shown: whoever answers, it is refused.
    if (question.changed)
        return false;
    switch (request.answer) {
    case CertificateAnswer::AlwaysTrust: {
        QString error;
        if (!trusted.Trust(m_server, m_port, fingerprint, &error))
            TellUser(error, IPrompts::Icon::Error);
        m_acceptedCertificates << fingerprint;
        return true;
    }
    case CertificateAnswer::ConnectOnce:
        m_acceptedCertificates << fingerprint;
        return true;
    case CertificateAnswer::Cancel:
        break;
    }
    return false;
}

remote::HostKeyAnswer CFtpSession::DecideHostKey(const remote::HostKeyInfo& key)
{
    m_certificateAsked = true;
    HostKeyRequest request;
    HostKeyQuestion& question = request.question;
    question.host = QString::fromStdString(key.host);
    question.port = key.port;
    question.keyType = QString::fromStdString(key.keyType);
    question.fingerprint = QString::fromStdString(key.fingerprint);
    question.knownHostsFile = QString::fromStdString(key.knownHostsFile);
    question.changed = key.changed;
    Trace(key.changed ? TRACE_ERROR : TRACE_INFO,
          key.changed ? QStringLiteral("The server's host key is not the one %1 holds for it.").arg(question.knownHostsFile)
                      : QStringLiteral("The server's host key is not known: %1 %2").arg(question.keyType, question.fingerprint));
    if (m_events)
        m_events->OnRequest(request);
    // A changed key is only shown: whoever answers, it is refused.
    if (key.changed)
        return remote::HostKeyAnswer::Cancel;
    switch (request.answer) {
    case CertificateAnswer::AlwaysTrust:
        return remote::HostKeyAnswer::AlwaysTrust;
    case CertificateAnswer::ConnectOnce:
        m_acceptedHostKeys << question.fingerprint;
        return remote::HostKeyAnswer::ConnectOnce;
    case CertificateAnswer::Cancel:
        break;
    }
    return remote::HostKeyAnswer::Cancel;
}

std::optional<std::string> CFtpSession::AskPassphrase(const QString& keyFile)
{
    m_certificateAsked = true;
    PassphraseRequest request;
    request.keyFile = keyFile;
    if (m_events)
        m_events->OnRequest(request);
    if (!request.answered) {
        Trace(TRACE_INFO, QStringLiteral("No passphrase was given for %1; the key was not used.").arg(keyFile));
        return std::nullopt;
    }
    m_keyPassphrase = request.passphrase;
    return request.passphrase.toStdString();
}

void CFtpSession::TellUser(const QString& text, IPrompts::Icon icon)
{
    if (m_events)
        m_events->OnMessage(text, icon);
}

bool CFtpSession::Connect(const CFtpSite& site)
{
    Operation operation(*this);
    if (!operation.Started())
        return false;
    StartFresh(site);
    if (!ObtainPassword())
        return false;
    if (!OpenInternetSessionTraced())
        return false;
    FtpUrl url;
    if (!CheckAddress(url))
        return false;
    if (!url.IsSupported() || m_server.isEmpty()) {
        Trace(TRACE_ERROR, QStringLiteral("Please enter a valid FTP URL."));
        TellUser(QStringLiteral("Please enter a valid FTP URL"), IPrompts::Icon::None);
    } else {
        // A port written in the address wins over the record's.
        m_port = url.explicitPort ? url.port : m_site.port;
        ConnectWithAttempts(m_server, m_port);
    }
    if (!m_connection) {
        Trace(TRACE_ERROR, QStringLiteral("%1 connection could not be made.").arg(ProtocolLabel()));
        return false;
    }
    Trace(TRACE_SUCCESS, QStringLiteral("Successfully connected to: %1.").arg(m_server));
    EnterStartFolder(url);
    if (m_events)
        m_events->OnConnected();
    return true;
}

void CFtpSession::StartFresh(const CFtpSite& site)
{
    m_listedPath = RemotePath();
    m_homeFolder = RemotePath::Root();
    m_site = site;
    CloseNow();
    while (m_site.localPath.size() > 1
           && (m_site.localPath.endsWith(QLatin1Char('\\')) || m_site.localPath.endsWith(QLatin1Char('/'))))
        m_site.localPath.chop(1);
    m_siteRecord = m_site;
    // The folder to open after login travels in the address.
    if (!m_site.remotePath.isEmpty()) {
        QString remote = m_site.remotePath;
        remote.replace(QLatin1Char('\\'), QLatin1Char('/'));
        while (remote.startsWith(QLatin1Char('/')))
            remote.remove(0, 1);
        m_site.address += QLatin1Char('/') + remote;
    }
}

bool CFtpSession::ObtainPassword()
{
    if (!SitePasswords::NeedsPassword(m_siteRecord))
        return true;
    PasswordRequest request;
    if (SitePasswords::Fill(m_siteRecord, &request.problem)) {
        m_site.password = m_siteRecord.password;
        return true;
    }
    if (!request.problem.isEmpty())
        Trace(TRACE_ERROR, request.problem);
    request.site = m_siteRecord;
    if (m_events)
        m_events->OnRequest(request);
    if (!request.answered) {
        Trace(TRACE_ERROR, QStringLiteral("No password was given for %1; nothing was sent.").arg(m_siteRecord.login));
        return false;
    }
    m_site.password = m_siteRecord.password = request.password;
    SitePasswords::RememberForRun(m_siteRecord, request.password);
    return true;
}

bool CFtpSession::OpenInternetSessionTraced()
{
    Trace(TRACE_INFO, QStringLiteral("Opening Internet Session..."));
    if (!OpenInternetSession()) {
        Trace(TRACE_ERROR,
              QStringLiteral("Cannot open an Internet Session. Please check your internet configuration."));
        return false;
    }
    EnableStatusTrace(m_settings.statusLines);
    return true;
}

bool CFtpSession::CheckAddress(FtpUrl& url)
{
    Trace(TRACE_INFO, QStringLiteral("Checking URL..."));
    const bool schemeGiven = FtpUrl::Parse(m_site.address, url);
    if (!schemeGiven && !FtpUrl::Parse(QStringLiteral("ftp://") + m_site.address, url)) {
        Trace(TRACE_ERROR, QStringLiteral("Please enter a valid FTP URL."));
        TellUser(QStringLiteral("Please enter a valid FTP URL"), IPrompts::Icon::None);
        return false;
    }
    // A scheme written in the address says the protocol; a bare host name
    // goes by the site's. A protocol changed that way takes its own port.
    const SiteProtocol protocol = schemeGiven ? url.Protocol() : m_site.protocol;
    if (protocol != m_site.protocol) {
        m_site.protocol = protocol;
        m_site.port = DefaultPortOf(protocol, m_site.encryption);
    }
    m_server = url.server;
    if (url.SchemeEncryption() >= 0)
        m_site.encryption = url.SchemeEncryption();
    Trace(TRACE_SUCCESS, QStringLiteral("URL was successfully parsed."));
    return true;
}

void CFtpSession::ConnectWithAttempts(const QString& server, int port)
{
    for (int remaining = m_site.retries - 1; remaining >= 0; --remaining) {
        if (!ConnectOnce(server, port, m_site.retries - remaining, remaining))
            break;
    }
}

bool CFtpSession::ConnectOnce(const QString& server, int port, int attempt, int remaining)
{
    Trace(TRACE_INFO, QStringLiteral("Connecting to: %1 (Attempt %2 of %3)").arg(server).arg(attempt).arg(m_site.retries));
    // Cancel closes the internet session; no attempt may be made after that.
    if (!m_sessionOpen)
        return false;
    const std::uint32_t timeout = std::uint32_t(std::max(0, m_settings.connectionTimeoutSeconds)) * 1000;
    remote::ConnectOptions options;
    options.protocol = m_site.protocol == SiteProtocol::Sftp ? remote::Protocol::Sftp : remote::Protocol::Ftp;
    options.host = server.toStdString();
    options.port = port;
    options.user = m_site.login.toStdString();
    options.password = m_site.password.toStdString();
    options.passive = m_site.passive;
    options.encryption = static_cast<inet::Encryption>(m_site.encryption);
    options.identityFile = m_site.keyFile.toStdString();
    options.connectTimeoutMs = options.receiveTimeoutMs = options.sendTimeoutMs = timeout;
    std::shared_ptr<ConnectAttempt> pending;
    try {
        m_connection = OpenConnection(options, pending);
        return false;
    } catch (const inet::InternetError& error) {
        m_lastResponse = WithoutLineBreaks(QString::fromStdString(error.serverReply()));
        if (!m_lastResponse.isEmpty())
            Trace(TRACE_ERROR, m_lastResponse);
        const QString message = WithoutLineBreaks(QString::fromStdString(error.message()));
        Trace(TRACE_ERROR, message);
        if (!m_sessionOpen)
            return false; // cancelled by the user: no countdown, no message box
        // A refused login (530) does not get better by waiting, and servers
        // that watch for failed logins ban the address that repeats them:
        // no further attempt.
        // Nor does a host key the user refused, nor one that changed.
        const auto number = error.number();
        const bool loginRefused = number == inet::err::kIncorrectPassword || number == inet::err::kIncorrectUserName
            || number == remote::err::kAuthenticationRefused || number == remote::err::kHostKeyUnknown
            || number == remote::err::kHostKeyChanged || number == remote::err::kKeyUnusable;
        if (remaining == 0 || loginRefused) {
            TellUser(m_lastResponse.isEmpty() ? message : m_lastResponse + QStringLiteral("\r\n") + message,
                     IPrompts::Icon::Error);
            return false;
        }
        RetryCountdownRequest request{m_site.retryDelay, message};
        if (m_events)
            m_events->OnRequest(request);
        return request.retry;
    }
}

void CFtpSession::EnterStartFolder(const FtpUrl& url)
{
    // An address that names no folder means the login folder, which on
    // many servers is not "/" (a user's home without a chroot); changing
    // to "/" would lose it. A site's remote path of "/" does name the root.
    if (url.objectPath != QLatin1String("/") || !m_siteRecord.remotePath.isEmpty()) {
        try {
            m_connection->SetCurrentDirectory(url.objectPath.toUtf8().toStdString());
        } catch (const inet::InternetError& error) {
            // The login folder, then: where the server put us.
            TraceFailure(error, QStringLiteral("An error occurred opening the folder: \"%1\".").arg(url.objectPath));
        }
    }
    try {
        m_homeFolder = RemotePath::FromServer(QString::fromUtf8(m_connection->GetCurrentDirectory()));
    } catch (const inet::InternetError&) {
        // The home folder stays "/".
    }
}

bool CFtpSession::IsEncrypted() const
{
    return m_connection && m_connection->features().encrypted;
}

remote::Features CFtpSession::Features() const
{
    return m_connection ? m_connection->features() : remote::Features{};
}

QString CFtpSession::ProtocolLabel() const
{
    // The connection's own while there is one: a new site may be chosen before it closes.
    const bool sftp = m_connection ? m_connection->protocol() == remote::Protocol::Sftp
                                   : m_site.protocol == SiteProtocol::Sftp;
    return sftp ? QStringLiteral("SFTP") : QStringLiteral("FTP");
}
