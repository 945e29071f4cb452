#include "engine/transfer/TransferThread.h"

#include "engine/base/WindowMessages.h"
#include "engine/base/ThreadId.h"
#include "engine/base/TraceLevel.h"
#include "engine/base/TrustedCertificates.h"
#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetError.h"
#include "engine/inet/InternetSession.h"
#include "engine/transfer/TransferEvents.h"
#include "engine/transfer/TransferPort.h"

#include <QCoreApplication>

#include <chrono>

namespace {

constexpr char kAgent[] = "Kestrix";

// How the run ends early; caught once, in Run().
struct RunFailure {
    QString text;
};
struct RunCancelled {};

QString OneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.remove(QLatin1Char('\r'));
    return text;
}

} // namespace

// Without a window nobody answers: nothing is shown, and no file is replaced
// or continued on a question nobody saw.
struct CTransferThread::NullPort final : ITransferPort {
    void SetCaption(const QString&) override {}
    void SetLine1(const QString&) override {}
    void SetLine2(const QString&) override {}
    void SetRange(int) override {}
    void SetPos(int) override {}
    FileAnswer AskReplace(const FileQuestion&) override { return kAnswerCancel; }
    FileAnswer AskResume(const FileQuestion&) override { return kAnswerCancel; }
    void CancelQuestion() override {}
    void Close() override {}
};

CTransferThread::CTransferThread(Direction direction)
    : m_direction(direction), m_port(std::make_unique<NullPort>())
{
}

CTransferThread::~CTransferThread()
{
    if (IsStarted())
        Stop();
}

void CTransferThread::SetPort(std::unique_ptr<ITransferPort> port)
{
    m_port = port ? std::move(port) : std::make_unique<NullPort>();
}

QString CTransferThread::SuccessText() const
{
    return m_direction == Direction::Download ? QStringLiteral("File(s) successfully downloaded.")
                                              : QStringLiteral("File(s) successfully uploaded.");
}

QString CTransferThread::CancelledText() const
{
    return m_direction == Direction::Download ? QStringLiteral("Download cancelled.")
                                              : QStringLiteral("Upload cancelled.");
}

bool CTransferThread::Resume()
{
    std::lock_guard lock(m_mutex);
    if (m_started)
        return false;
    m_started = true;
    m_thread = std::thread(&CTransferThread::ThreadMain, this);
    return true;
}

bool CTransferThread::IsStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

void CTransferThread::Kill()
{
    {
        std::lock_guard lock(m_mutex);
        m_kill.Set();
        if (m_session)
            m_session->Close();
    }
    m_port->CancelQuestion();
}

bool CTransferThread::IsKilled() const
{
    return const_cast<CSyncEvent&>(m_kill).TryWait();
}

void CTransferThread::Stop()
{
    Kill();
    Resume();
    m_dead.Wait(std::chrono::hours(24 * 365));
    if (m_thread.joinable())
        m_thread.join();
}

bool CTransferThread::IsDead() const
{
    return const_cast<CSyncEvent&>(m_dead).TryWait();
}

QString CTransferThread::ResultText() const
{
    std::lock_guard lock(m_mutex);
    return m_result;
}

bool CTransferThread::Failed() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

long CTransferThread::ThreadId() const
{
    std::lock_guard lock(m_mutex);
    return m_threadId;
}

void CTransferThread::SetResult(QString text, bool failed)
{
    std::lock_guard lock(m_mutex);
    m_result = std::move(text);
    m_failed = failed;
}

void CTransferThread::Fail(const QString& text)
{
    throw RunFailure{text};
}

void CTransferThread::Cancelled()
{
    throw RunCancelled{};
}

void CTransferThread::Post(QEvent* event)
{
    if (m_receiver)
        QCoreApplication::postEvent(m_receiver, event);
    else
        delete event;
}

void CTransferThread::PostStatus(const QString& name, const QString& status, int percent)
{
    Post(new TransferStatusEvent(this, name, status, percent));
}

void CTransferThread::PostTrace(int level, const QString& text)
{
    Post(new TraceLineEvent(WM_TRACE_LINE, level, QStringLiteral("[%1] ").arg(CurrentThreadId()) + text));
}

void CTransferThread::ThreadMain()
{
    {
        std::lock_guard lock(m_mutex);
        m_threadId = CurrentThreadId();
    }
    Run();
    // What the thread opened goes with it, before anybody may delete the object.
    m_connection.reset();
    {
        std::lock_guard lock(m_mutex);
        if (m_session)
            m_session->Close();
        m_session.reset();
    }
    m_dead.Set();
}

void CTransferThread::Run()
{
    QString text;
    bool cancelled = IsKilled();
    if (!cancelled) {
        PostStatus(QString(), QStringLiteral("Initializing"), 0);
        try {
            OpenSession();
            ConnectWithAttempts();
            Transfer();
            m_port->SetLine1(QStringLiteral("Closing connection to %1").arg(Host()));
            PostStatus(QString(), QStringLiteral("Finished"), 0);
        } catch (const RunFailure& failure) {
            text = failure.text;
        } catch (const RunCancelled&) {
            cancelled = true;
        } catch (const FileError& error) {
            text = QStringLiteral("File Error %1 %2").arg(error.cause).arg(error.fileName);
        } catch (const inet::InternetError& error) {
            if (IsKilled() && error.number() == inet::err::kOperationCancelled) {
                cancelled = true; // the kill closed the session under a running call
            } else {
                text = QStringLiteral("Internet Exception Error %1").arg(error.number());
                // The reply follows the number after a space: run together,
                // "12003" and "550" would read as one number.
                if (error.number() == inet::err::kExtendedError && !error.serverReply().empty())
                    text += QLatin1Char(' ') + QString::fromUtf8(error.serverReply());
            }
        } catch (const std::exception& error) {
            // Not to be taken for a success.
            text = QStringLiteral("Unexpected error: %1").arg(QString::fromLocal8Bit(error.what()));
        }
    }
    text = OneLine(text);
    const bool failed = !text.isEmpty();
    if (!failed)
        text = cancelled || IsKilled() ? CancelledText() : SuccessText();
    SetResult(text, failed);
    m_port->Close();
    Post(new TransferDoneEvent(m_direction == Direction::Download ? WM_DOWNLOAD_DONE : WM_UPLOAD_DONE, this, text,
                               failed));
}

void CTransferThread::OpenSession()
{
    inet::AccessType access;
    switch (m_job.proxyType) {
    case 0: access = inet::AccessType::Preconfigured; break;
    case 1: access = inet::AccessType::Direct; break;
    case 2: access = inet::AccessType::NamedProxy; break;
    default:
        Fail(QStringLiteral("Cannot open an Internet Session. Please check your internet configuration."));
    }
    auto session = std::make_shared<inet::InternetSession>(
        kAgent, access, access == inet::AccessType::NamedProxy ? m_job.proxyName.toStdString() : std::string());
    if (m_job.timeoutMs > 0) {
        const auto timeout = static_cast<std::uint32_t>(m_job.timeoutMs);
        session->SetConnectTimeout(timeout);
        session->SetReceiveTimeout(timeout);
        session->SetSendTimeout(timeout);
    }
    std::vector<std::string> accepted;
    for (const QString& fingerprint : std::as_const(m_job.acceptedCertificates))
        accepted.push_back(fingerprint.toStdString());
    session->SetPinnedCertificates(std::move(accepted));
    session->SetCertificateCallback([host = m_job.host, port = m_job.port](const inet::CertificateInfo& info) {
        return CTrustedCertificates().Check(host, port, QString::fromStdString(info.sha256Fingerprint))
            == CTrustedCertificates::Verdict::Trusted;
    });
    // Of the conversation only the notes reach the Trace: every file's own
    // commands and replies, from several workers at once, would push the
    // session's lines out of the pane within seconds.
    session->SetConversationCallback([this](inet::Talk kind, std::string_view line) {
        if (kind == inet::Talk::Note)
            PostTrace(TRACE_ERROR, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    });
    std::lock_guard lock(m_mutex);
    m_session = session;
    // A kill that came before the session existed still has to reach it.
    if (IsKilled())
        m_session->Close();
}

void CTransferThread::ConnectWithAttempts()
{
    m_port->SetCaption(QStringLiteral("Copying..."));
    m_port->SetPos(0);
    m_port->SetLine2(QString());
    PostStatus(QString(), QStringLiteral("Connecting"), 0);

    // Fewer than one attempt would go on without a connection.
    const int attempts = std::max(1, m_job.retries);
    for (int attempt = 1; !m_connection; ++attempt) {
        m_port->SetLine1(QStringLiteral("Connecting to %1 (Attempt %2 of %3)").arg(Host()).arg(attempt).arg(attempts));
        try {
            m_connection = m_session->Connect(m_job.host.toStdString(), m_job.port, m_job.user.toStdString(),
                                              m_job.password.toStdString(), m_job.passive,
                                              static_cast<inet::Encryption>(m_job.encryption));
        } catch (const inet::InternetError& error) {
            if (IsKilled())
                Cancelled();
            const QString message = QString::fromStdString(error.message()).left(1024);
            if (attempt >= attempts)
                Fail(message);
            m_port->SetLine1(
                QStringLiteral("Failed to connect to %1 (Attempt %2 of %3)").arg(Host()).arg(attempt).arg(attempts));
            m_port->SetLine2(QStringLiteral("Retrying after %1 seconds...").arg(m_job.retryDelay));
            if (m_kill.Wait(std::chrono::seconds(std::max(0, m_job.retryDelay))))
                Cancelled();
            PostStatus(QString(), QStringLiteral("Retrying"), 0);
            m_port->SetLine2(QString());
        }
    }
    if (!m_job.remoteFolder.isEmpty()) {
        try {
            m_connection->SetCurrentDirectory(m_job.remoteFolder.toUtf8().toStdString());
        } catch (const inet::InternetError&) {
            if (IsKilled())
                Cancelled();
            Fail(LastReply());
        }
    }
    m_port->SetLine1(QStringLiteral("Finding files in sub directories..."));
}

QString CTransferThread::LastReply() const
{
    QString reply = QString::fromUtf8(m_connection ? m_connection->lastReplyText() : std::string());
    reply.remove(QLatin1Char('\r'));
    reply.remove(QLatin1Char('\n'));
    return reply;
}

void CTransferThread::UpdatePercent(quint64 bytesOfFile)
{
    // A smaller count than last time is the next file starting.
    if (bytesOfFile >= m_lastFileBytes)
        m_moved.fetch_add(bytesOfFile - m_lastFileBytes, std::memory_order_relaxed);
    m_lastFileBytes = bytesOfFile;
    if (m_totalBytes == 0) {
        m_port->SetPos(0);
        return;
    }
    const int percent = static_cast<int>(double(m_bytesDone + bytesOfFile) / double(m_totalBytes) * 100.0);
    if (percent == m_lastPercent)
        return;
    m_port->SetPos(percent);
    PostStatus(QString(), QString(), percent);
    m_lastPercent = percent;
}
