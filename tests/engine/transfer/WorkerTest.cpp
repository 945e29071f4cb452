// A transfer thread's life: its start, its attempts, its end, and how fast
// Cancel reaches it.
#include "engine/transfer/WorkerFixture.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include "engine/base/FtpSite.h"
#include "support/ClosedPort.h"
#include "support/TestCertificate.h"

namespace {


std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xff);
    return bytes;
}

using WorkerTest = WorkerFixture;

TEST_F(WorkerTest, AJobCancelledBeforeItRanReportsOnlyItsEnd)
{
    auto thread = Make<CDownloadThread>(kxtest::ClosedPort());
    thread->Kill();
    thread->Stop(); // never started: it starts, finds the kill, ends
    EXPECT_TRUE(thread->IsDead());
    EXPECT_FALSE(thread->Resume());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(m_receiver.statuses.empty());
    EXPECT_EQ(m_receiver.doneEvents, 1);
    EXPECT_EQ(m_receiver.result, QStringLiteral("Download cancelled."));
    EXPECT_FALSE(m_receiver.failed);
}

TEST_F(WorkerTest, AttemptsAgainstAClosedPortEndWithTheLastError)
{
    auto thread = Make<CUploadThread>(kxtest::ClosedPort(), QStringLiteral("/"), [&](TransferJob& job) {
        job.site.retries = 3;
        job.site.retryDelay = 1;
    });
    Run(*thread);
    const QString host = QStringLiteral("127.0.0.1");
    const auto attempt = [&](const char* format, int k) { return QString::fromLatin1(format).arg(host).arg(k); };
    EXPECT_EQ(m_port->Lines(), (QStringList{
        QStringLiteral("caption Copying..."), QStringLiteral("2 "),
        attempt("1 Connecting to %1 (Attempt %2 of 3)", 1), attempt("1 Failed to connect to %1 (Attempt %2 of 3)", 1),
        QStringLiteral("2 Retrying after 1 seconds..."), QStringLiteral("2 "),
        attempt("1 Connecting to %1 (Attempt %2 of 3)", 2), attempt("1 Failed to connect to %1 (Attempt %2 of 3)", 2),
        QStringLiteral("2 Retrying after 1 seconds..."), QStringLiteral("2 "),
        attempt("1 Connecting to %1 (Attempt %2 of 3)", 3), QStringLiteral("closed")}));
    EXPECT_EQ(m_receiver.Words(), (QStringList{QStringLiteral("Initializing"), QStringLiteral("Connecting"),
                                               QStringLiteral("Retrying"), QStringLiteral("Retrying")}));
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_TRUE(m_receiver.result.contains(QStringLiteral("refused"), Qt::CaseInsensitive))
        << m_receiver.result.toStdString();

    // Fewer than one attempt still makes one, without a wait.
    m_receiver.Clear();
    auto once = Make<CDownloadThread>(kxtest::ClosedPort(), QStringLiteral("/"), [&](TransferJob& job) {
        job.site.retries = 0;
    });
    Run(*once);
    EXPECT_EQ(m_port->Lines().filter(QStringLiteral("Attempt")).size(), 1);
    EXPECT_FALSE(m_receiver.Words().contains(QStringLiteral("Retrying")));
    EXPECT_TRUE(m_receiver.failed);
}

TEST_F(WorkerTest, CancelDuringARetryWaitEndsTheRunAtOnce)
{
    auto thread = Make<CUploadThread>(kxtest::ClosedPort(), QStringLiteral("/"), [&](TransferJob& job) {
        job.site.retries = 2;
        job.site.retryDelay = 30;
    });
    QTimer::singleShot(300, [&] { thread->Kill(); });
    QElapsedTimer clock;
    clock.start();
    Run(*thread);
    EXPECT_LT(clock.elapsed(), 10000); // nowhere near the 30 s wait
    EXPECT_EQ(m_receiver.result, QStringLiteral("Upload cancelled."));
    EXPECT_FALSE(m_receiver.failed);
}

TEST_F(WorkerTest, CancelReachesAWorkerBlockedOnAStalledServer)
{
    m_remote.Write("big.bin", Pattern(2 << 20));
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--data-stall-after", "RETR=300000"});
    auto thread = Make<CDownloadThread>(server->port(), QStringLiteral("/"), [&](TransferJob& job) {
        job.timeoutMs = 30000;
        job.items.append(FileStatus{0, 0, 0, 2 << 20, 0, QStringLiteral("big.bin")});
        job.localFolder = QString::fromStdString(m_local.path());
    });
    ASSERT_TRUE(thread->Resume());
    // Wait until the data has stopped coming.
    const QString local = QString::fromStdString(m_local.Path("big.bin"));
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo(local).size() < 300000 && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(200);
    clock.restart();
    thread->Kill();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_LT(clock.elapsed(), 5000); // the receive time-out is 30 s
    thread->Stop();
    EXPECT_EQ(m_receiver.result, QStringLiteral("Download cancelled."));
    EXPECT_FALSE(m_receiver.failed);
    EXPECT_EQ(QFileInfo(local).size(), 300000); // kept for a later resume
}

TEST_F(WorkerTest, AWorkerRefusedPassiveModeDownloadsActivelyAndSaysSo)
{
    m_remote.Write("a.txt", "payload");
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--no-epsv", "--reply", "PASV=500 No passive.\\r\\n"});
    auto thread = Make<CDownloadThread>(server->port(), QStringLiteral("/"), [&](TransferJob& job) {
        job.items.append(FileStatus{0, 0, 0, 7, 0, QStringLiteral("a.txt")});
        job.localFolder = QString::fromStdString(m_local.path());
    });
    Run(*thread);
    EXPECT_FALSE(m_receiver.failed) << m_receiver.result.toStdString();
    EXPECT_EQ(m_local.Read("a.txt"), "payload");
    ASSERT_EQ(m_receiver.traces.size(), 1) << m_receiver.traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_receiver.traces[0].startsWith(QStringLiteral("Passive mode failed: ")));
    EXPECT_TRUE(m_receiver.traces[0].endsWith(QStringLiteral("Trying active mode.")));
}

TEST_F(WorkerTest, AWorkerOverTlsTakesOnlyTheCertificatesAcceptedForItsConnection)
{
    if (!kxtest::LoopbackCertificate().ok || !kxtest::PyFtpdCanTls())
        GTEST_SKIP() << "no test certificate (Debian package openssl) or no TLS test server (python3-openssl)";
    m_remote.Write("secret.bin", Pattern(300000));
    auto server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret",
                                      {"--tls", kxtest::LoopbackCertificate().keyAndCert, "--tls-required"});
    const auto run = [&](const QStringList& accepted) {
        m_receiver.Clear();
        auto thread = Make<CDownloadThread>(server->port(), QStringLiteral("/"), [&](TransferJob& job) {
            job.site.encryption = kExplicitTlsRequired;
            job.site.acceptedCertificates = accepted;
            job.items.append(FileStatus{0, 0, 0, 300000, 0, QStringLiteral("secret.bin")});
            job.localFolder = QString::fromStdString(m_local.path());
        });
        Run(*thread);
    };
    // Nobody to ask on a worker: an unknown certificate ends the job.
    run({});
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_TRUE(m_receiver.result.contains(QStringLiteral("certificate was refused"))) << m_receiver.result.toStdString();
    // The one the user accepted on the main connection is taken without asking.
    run({QString::fromStdString(kxtest::LoopbackCertificate().sha256)});
    EXPECT_FALSE(m_receiver.failed) << m_receiver.result.toStdString();
    EXPECT_EQ(m_local.Read("secret.bin"), Pattern(300000));
}

TEST_F(WorkerTest, AHundredMegabytesPostAtMostAHundredAndOnePercentages)
{
    const std::string bytes = Pattern(100u << 20);
    m_remote.Write("hundred.bin", bytes);
    auto server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret");
    auto thread = Make<CDownloadThread>(server->port(), QStringLiteral("/"), [&](TransferJob& job) {
        job.items.append(FileStatus{0, 0, 0, bytes.size(), 0, QStringLiteral("hundred.bin")});
        job.localFolder = QString::fromStdString(m_local.path());
    });
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded."));
    EXPECT_LE(m_receiver.PercentEvents(), 101);
    EXPECT_GE(m_receiver.PercentEvents(), 100);
    EXPECT_EQ(m_receiver.statuses.back().status, QStringLiteral("Finished"));
    EXPECT_TRUE(m_local.Read("hundred.bin") == bytes);
}

} // namespace
