// The queue as the program keeps it: states, its file across restarts and
// crashes, several connections per job, and two jobs after one file.
#include "engine/transfer/QueueFixture.h"

#include "engine/base/FtpSite.h"
#include "engine/catalog/SiteCatalog.h"

#include <QFile>
#include <QProcess>

#include <csignal>
#include <filesystem>

namespace {

std::string Pattern(std::size_t size, int seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 29 + seed + i / 509) & 0xff);
    return bytes;
}

std::vector<std::string> LogLines(const std::string& log)
{
    return kxtest::WaitForLines(log, 0, std::chrono::milliseconds(0));
}

int Count(const std::vector<std::string>& lines, const std::string& prefix)
{
    return int(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

using TransferQueueTest = QueueFixture;

TEST_F(TransferQueueTest, JobsGoFromQueuedToRunningStoppedAndDoneAndFailuresStay)
{
    const std::string bytes = Pattern(1 << 20);
    m_remote.Write("a.bin", bytes);
    const std::string log = m_files.Path("commands.log");
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--data-stall-after", "RETR#1=100000", "--log", log});
    auto queue = MakeQueue();
    queue->SetParallelLimit(1);
    const qint64 a = queue->AddDownload({Entry(QStringLiteral("a.bin"), bytes.size())}, Local(), Site(server->port()), "/");
    const qint64 held = queue->AddDownload({Entry(QStringLiteral("b.bin"), 1)}, Local(), Site(server->port()), "/");
    EXPECT_EQ(queue->Find(a)->state, TransferState::Running);
    EXPECT_EQ(queue->Find(held)->state, TransferState::Queued);
    EXPECT_EQ(queue->QueuedCount(), 1);

    // A queued job is held by Stop; a running one stops where it is and stays.
    queue->Stop(held);
    EXPECT_EQ(queue->Find(held)->state, TransferState::Stopped);
    ASSERT_TRUE(Until([&] { return SizeOf(Local("a.bin")) >= 100000; }));
    queue->Stop(a);
    ASSERT_TRUE(Until([&] { return queue->RunningCount() == 0; }));
    const TransferJobRecord* stopped = queue->Find(a);
    ASSERT_NE(stopped, nullptr);
    EXPECT_EQ(stopped->state, TransferState::Stopped);
    ASSERT_EQ(stopped->job.files.size(), 1u);
    EXPECT_EQ(stopped->job.files[0].state, TransferState::Stopped);
    EXPECT_EQ(stopped->job.files[0].done, 100000u);
    EXPECT_EQ(traces.filter(QStringLiteral("stopped")).size(), 1);
    EXPECT_TRUE(traces.filter(QStringLiteral("stopped"))[0].startsWith(QStringLiteral("0 "))); // neutral

    // Resubmit goes on from the bytes on disk, without a question.
    queue->Resubmit(a);
    ASSERT_TRUE(Until([&] { return queue->Find(a) == nullptr; }));
    EXPECT_EQ(m_local.Read("a.bin"), bytes);
    const auto sent = LogLines(log);
    EXPECT_EQ(Count(sent, "REST 100000"), 1);
    // The line says where the files went.
    EXPECT_TRUE(traces.contains(QStringLiteral("1 File(s) successfully downloaded. Saved in \"%1\".")
                                    .arg(QString::fromStdString(m_local.path()))))
        << traces.join(QLatin1Char('\n')).toStdString();

    // A job that fails stays with its reason, and goes when removed.
    queue->Resubmit(held);
    ASSERT_TRUE(Until([&] { return queue->Find(held)->state == TransferState::Failed; }));
    EXPECT_TRUE(queue->Find(held)->result.contains(QStringLiteral("550"))) << queue->Find(held)->result.toStdString();
    EXPECT_EQ(failures.size(), 1);
    queue->Remove(held);
    EXPECT_EQ(queue->JobCount(), 0);

    // Cancel on a job that waits: gone, in the neutral colour, never a success.
    queue->SetParallelLimit(1);
    const qint64 first = queue->AddDownload({Entry(QStringLiteral("a.bin"), bytes.size())}, Local("x"), Site(server->port()), "/");
    const qint64 second = queue->AddDownload({Entry(QStringLiteral("a.bin"), bytes.size())}, Local("y"), Site(server->port()), "/");
    queue->Cancel(second);
    EXPECT_EQ(queue->Find(second), nullptr);
    EXPECT_EQ(traces.last(), QStringLiteral("0 a.bin: Download cancelled."));
    ASSERT_TRUE(Until([&] { return queue->Find(first) == nullptr; }));
}

TEST_F(TransferQueueTest, TheQueueComesBackAfterARestartAndAsksOnlyForPasswordsItCannotFind)
{
    const std::string bytes = Pattern(600000, 1);
    m_remote.Write("typed.bin", bytes);
    m_remote.Write("stored.bin", bytes);
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--data-stall-after", "RETR#1=50000"});
    // A catalogue site: its password is found again by its path.
    CSiteCatalog::SetDefaultPathOverride(QString::fromStdString(m_files.Path("sites.xml")));
    CFtpSite site;
    site.name = QStringLiteral("Work");
    site.address = QStringLiteral("127.0.0.1");
    site.login = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    site.port = server->port();
    ASSERT_TRUE(CSiteCatalog().SaveSite(site));

    {
        auto queue = MakeQueue();
        ASSERT_TRUE(queue->UseStore(StorePath())) << notices.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(queue->IsPersistent());
        queue->SetParallelLimit(1);
        queue->AddDownload({Entry(QStringLiteral("typed.bin"), bytes.size())}, Local(), Site(server->port()), "/");
        ASSERT_TRUE(Until([&] { return SizeOf(Local("typed.bin")) >= 50000; }));
        TransferSite catalogued = Site(server->port());
        catalogued.sitePath = QStringLiteral("Work");
        queue->AddDownload({Entry(QStringLiteral("stored.bin"), bytes.size())}, Local(), catalogued, "/");
        QThread::msleep(700); // a batch of progress reaches the file
        QCoreApplication::processEvents();
    } // the program ends: running jobs stop and are kept
    EXPECT_TRUE(notices.isEmpty()) << notices.join(QLatin1Char('\n')).toStdString();
    QFile file(StorePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("secret"));
    QFile wal(StorePath() + QStringLiteral("-wal"));
    if (wal.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(wal.readAll().contains("secret"));
    }

    auto queue = MakeQueue();
    ScriptedPasswords passwords;
    queue->SetPasswordSource(&passwords);
    ASSERT_TRUE(queue->UseStore(StorePath())) << notices.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(queue->JobCount(), 2);
    const TransferJobRecord& typed = queue->JobAt(0);
    EXPECT_EQ(typed.state, TransferState::Stopped);
    ASSERT_EQ(typed.job.files.size(), 1u);
    EXPECT_EQ(typed.job.files[0].done, 50000u);
    EXPECT_EQ(queue->RunningCount(), 0); // nothing starts by itself
    EXPECT_TRUE(notices.isEmpty()) << notices.join(QLatin1Char('\n')).toStdString();

    queue->StartAll();
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; }));
    EXPECT_EQ(m_local.Read("typed.bin"), bytes);
    EXPECT_EQ(m_local.Read("stored.bin"), bytes);
    // Only the typed address needed asking.
    EXPECT_EQ(passwords.asked, QStringList{QStringLiteral("anna@127.0.0.1:%1 ").arg(server->port())});
    CSiteCatalog::SetDefaultPathOverride(QString());

    // The setting that starts unfinished jobs at once.
    queue.reset();
    {
        std::filesystem::create_directories(m_local.Path("later"));
        auto writer = MakeQueue();
        ASSERT_TRUE(writer->UseStore(StorePath()));
        writer->SetParallelLimit(1);
        writer->AddDownload({Entry(QStringLiteral("typed.bin"), bytes.size())}, Local("later"), Site(server->port()), "/");
        writer->Stop(writer->JobAt(0).Id());
    }
    auto again = MakeQueue();
    again->SetPasswordSource(&passwords);
    ASSERT_TRUE(again->UseStore(StorePath(), true));
    ASSERT_TRUE(Until([&] { return again->JobCount() == 0; }));
    EXPECT_EQ(m_local.Read("later/typed.bin"), bytes);
}

TEST_F(TransferQueueTest, JobsKeepTheirProtocolAcrossRestartsAndOlderQueueFilesHoldFtpJobs)
{
    // The file as the release before SFTP left it: one stopped job.
    WriteQueueFile(StorePath(),
                   {kJobsTableBeforeProtocols,
                    "CREATE TABLE files (job INTEGER, idx INTEGER, remote_path TEXT, local_path TEXT, size INTEGER, "
                    "done INTEGER, modified INTEGER, state INTEGER, result TEXT, folder INTEGER, resume INTEGER, "
                    "remote_size INTEGER, exact_time INTEGER DEFAULT 0, target_check INTEGER DEFAULT 0, "
                    "target_size INTEGER DEFAULT 0, target_modified INTEGER DEFAULT -1, PRIMARY KEY (job, idx)) "
                    "WITHOUT ROWID",
                    "INSERT INTO jobs (id, direction, state, result, host, user, port, site_path, transfer_type, "
                    "retries, retry_delay, passive, encryption, remote_folder, local_folder, local_is_folder, "
                    "bytes_done, bytes_total, attempts, added, started, finished) VALUES (7, 0, 2, '', '127.0.0.1', "
                    "'anna', 2121, '', 2, 1, 0, 1, 0, '/', '/tmp', 1, 0, 10, 0, 0, 0, 0)",
                    "PRAGMA user_version=2"});

    TransferSite sftp = Site(kxtest::ClosedPort());
    sftp.protocol = int(SiteProtocol::Sftp);
    sftp.keyFile = QStringLiteral("/home/anna/.ssh/work_ed25519");
    {
        auto queue = MakeQueue();
        ASSERT_TRUE(queue->UseStore(StorePath())) << notices.join(QLatin1Char('\n')).toStdString();
        ASSERT_EQ(queue->JobCount(), 1);
        EXPECT_EQ(queue->JobAt(0).job.site.protocol, int(SiteProtocol::Ftp));
        EXPECT_EQ(queue->JobAt(0).job.site.port, 2121);
        const qint64 id = queue->AddDownload({Entry(QStringLiteral("a.bin"), 10)}, Local(), sftp, "/");
        queue->Stop(id);
        ASSERT_TRUE(Until([&] { return queue->RunningCount() == 0; }));
    }
    auto queue = MakeQueue();
    ASSERT_TRUE(queue->UseStore(StorePath())) << notices.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(queue->JobCount(), 2);
    EXPECT_EQ(queue->JobAt(0).job.site.protocol, int(SiteProtocol::Ftp));
    EXPECT_EQ(queue->JobAt(1).job.site.protocol, int(SiteProtocol::Sftp));
    EXPECT_EQ(queue->JobAt(1).job.site.keyFile, sftp.keyFile);
}

TEST_F(TransferQueueTest, ABrokenFileIsSetAsideAndASecondInstanceKeepsItsJobsInMemory)
{
    m_files.Write("queue.sqlite", std::string(4096, 'x'));
    auto queue = MakeQueue();
    ASSERT_TRUE(queue->UseStore(StorePath())) << notices.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("could not be read"))) << notices[0].toStdString();
    // The broken file is kept, untouched, beside the fresh one.
    QStringList aside;
    for (const auto& entry : std::filesystem::directory_iterator(m_files.path())) {
        if (entry.path().filename().string().find(".broken-") != std::string::npos)
            aside << QString::fromStdString(entry.path().string());
    }
    ASSERT_EQ(aside.size(), 1);
    QFile kept(aside[0]);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray(4096, 'x'));
    EXPECT_TRUE(queue->IsPersistent());

    queue->SetParallelLimit(1);
    queue->AddDownload({Entry(QStringLiteral("one.bin"), 1)}, Local(), Site(kxtest::ClosedPort(), 3), "/");
    queue->Stop(queue->JobAt(0).Id());
    queue->Flush();

    // A second program: told once, runs in memory, never writes the file.
    notices.clear();
    auto second = MakeQueue();
    EXPECT_FALSE(second->UseStore(StorePath()));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("Another running Kestrix"))) << notices[0].toStdString();
    EXPECT_FALSE(second->IsPersistent());
    second->SetParallelLimit(0);
    second->AddDownload({Entry(QStringLiteral("two.bin"), 1)}, Local(), Site(kxtest::ClosedPort()), "/");
    second.reset();
    queue.reset();
    auto reread = MakeQueue();
    ASSERT_TRUE(reread->UseStore(StorePath()));
    ASSERT_EQ(reread->JobCount(), 1);
    EXPECT_EQ(reread->JobAt(0).FirstName(), QStringLiteral("one.bin"));

    // A place that cannot hold the file: one notice, and the queue works on.
    notices.clear();
    auto nowhere = MakeQueue();
    EXPECT_FALSE(nowhere->UseStore(QStringLiteral("/dev/null/queue.sqlite")));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("kept in memory only"))) << notices[0].toStdString();
}

// A child process runs a job through a persistent queue and is killed with
// SIGKILL in the middle of the file; a fresh queue over the same file then
// finishes it, continuing from the bytes that reached the target.
class KilledQueueTest : public QueueFixture, public ::testing::WithParamInterface<TransferDirection> {};

TEST_P(KilledQueueTest, AWorkerKilledMidFileIsResumedByteExact)
{
    const bool download = GetParam() == TransferDirection::Download;
    const std::string bytes = Pattern(3 << 20, 7);
    const std::string log = m_files.Path("commands.log");
    std::unique_ptr<kxtest::ServerProcess> server;
    QString item, watched;
    if (download) {
        m_remote.Write("big.bin", bytes);
        server = kxtest::StartScriptedFtpd(m_remote.path(), {"--rate", "RETR#1=1000000", "--log", log});
        item = QStringLiteral("big.bin");
        watched = Local("big.bin");
    } else {
        m_remote.MakeDir("in");
        item = QString::fromStdString(m_local.Write("big.bin", bytes));
        server = kxtest::StartScriptedFtpd(m_remote.path(), {"--data-stall-after", "STOR#1=1000000", "--log", log});
        watched = QString::fromStdString(m_remote.Path("in/big.bin"));
    }
    QProcess child;
    child.start(QStringLiteral(KX_QUEUE_CHILD),
                {StorePath(), download ? QStringLiteral("download") : QStringLiteral("upload"),
                 QString::number(server->port()), download ? QStringLiteral("/") : QStringLiteral("/in"), Local(), item,
                 QString::number(bytes.size())});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(Until([&] { return SizeOf(watched) >= 600000; }, 30000)) << child.readAllStandardError().toStdString();
    QThread::msleep(700); // at least one batch of progress in the file
    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished());
    const qint64 atKill = SizeOf(watched);
    ASSERT_GT(atKill, 0);
    ASSERT_LT(atKill, qint64(bytes.size()));

    auto queue = MakeQueue();
    ScriptedPasswords passwords;
    queue->SetPasswordSource(&passwords);
    ASSERT_TRUE(queue->UseStore(StorePath())) << notices.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(queue->JobCount(), 1);
    const TransferJobRecord& record = queue->JobAt(0);
    EXPECT_EQ(record.state, TransferState::Stopped);
    ASSERT_EQ(record.job.files.size(), 1u);
    // The file may lag behind the disk; it never runs ahead of it.
    EXPECT_TRUE(record.job.files[0].IsPartial());
    if (download) { // an upload counts what it sent, and the server may not have it all
        EXPECT_LE(record.job.files[0].done, quint64(atKill));
    }
    queue->Resubmit(record.Id());
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; }, 30000)) << traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(passwords.asked.size(), 1);
    if (download) {
        EXPECT_TRUE(m_local.Read("big.bin") == bytes);
    } else {
        EXPECT_TRUE(m_remote.Read("in/big.bin") == bytes);
    }
    EXPECT_EQ(Count(LogLines(log), "REST " + std::to_string(atKill)), 1);
}

INSTANTIATE_TEST_SUITE_P(BothWays, KilledQueueTest,
                         ::testing::Values(TransferDirection::Download, TransferDirection::Upload),
                         [](const auto& info) { return info.param == TransferDirection::Download ? "Download" : "Upload"; });

TEST_F(TransferQueueTest, AJobSpreadsOverSeveralConnectionsEachLoggedInOnce)
{
    const std::string logins = m_files.Path("logins.log");
    for (int folder = 0; folder < 4; ++folder) {
        for (int i = 0; i < 10; ++i)
            m_remote.Write("tree/d" + std::to_string(folder) + "/f" + std::to_string(i) + ".txt",
                           Pattern(2000 + i * 97, folder * 10 + i));
    }
    // Larger than the remote ones: the replace question, not the resume one.
    m_local.Write("tree/d0/f0.txt", std::string(5000, 'o'));
    m_local.Write("tree/d3/f9.txt", std::string(5000, 'o'));
    // Replies a little late, so the job's connections overlap as on a real link.
    auto server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret", {"--logins", logins, "--reply-delay", "5"});
    auto queue = MakeQueue();
    queue->SetConnectionsPerJob(3);
    queue->SetParallelLimit(10);
    AnswerFrom(*queue);
    answers = {kAnswerYesToAll};
    queue->AddDownload({Entry(QStringLiteral("tree"), 0, true)}, Local(), Site(server->port()), "/");
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; })) << traces.join(QLatin1Char('\n')).toStdString();
    for (int folder = 0; folder < 4; ++folder) {
        for (int i = 0; i < 10; ++i) {
            const std::string rel = "tree/d" + std::to_string(folder) + "/f" + std::to_string(i) + ".txt";
            EXPECT_EQ(m_local.Read(rel), m_remote.Read(rel)) << rel;
        }
    }
    // Yes to All answered for the whole job, whichever connection came next.
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0] == QLatin1String("replace f0.txt") || questions[0] == QLatin1String("replace f9.txt"));
    const auto lines = kxtest::WaitForLines(logins, 6);
    EXPECT_EQ(Count(lines, "LOGIN"), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "LOGIN 3"), 1);

    // All jobs together stay within TransferMax connections to one server.
    const std::size_t before = kxtest::ReadLines(logins).size();
    queue->SetParallelLimit(2);
    queue->AddDownload({Entry(QStringLiteral("tree"), 0, true)}, Local("a"), Site(server->port()), "/");
    queue->AddDownload({Entry(QStringLiteral("tree"), 0, true)}, Local("b"), Site(server->port()), "/");
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; }));
    const auto later = kxtest::ReadLines(logins);
    for (std::size_t i = before; i < later.size(); ++i)
        EXPECT_TRUE(later[i] == "LOGIN 1" || later[i] == "LOGIN 2" || later[i].rfind("LOGOUT", 0) == 0) << later[i];
    EXPECT_EQ(m_local.Read("b/tree/d2/f5.txt"), m_remote.Read("tree/d2/f5.txt"));
}

TEST_F(TransferQueueTest, TwoJobsNeverWriteOneFileAtOnce)
{
    const std::string first = Pattern(1 << 20, 1), second = Pattern(1 << 20, 2);
    kxtest::TempDir otherRoot;
    m_remote.Write("data.bin", first);
    otherRoot.Write("data.bin", second);
    m_remote.MakeDir("up");
    auto one = kxtest::StartScriptedFtpd(m_remote.path(), {"--data-stall-after", "RETR#1=100000",
                                                          "--data-stall-after", "STOR#1=100000"});
    auto other = kxtest::StartPyFtpd(otherRoot.path(), "anna", "secret");
    auto queue = MakeQueue();
    AnswerFrom(*queue);
    const qint64 a = queue->AddDownload({Entry(QStringLiteral("data.bin"), first.size())}, Local(), Site(one->port()), "/");
    ASSERT_TRUE(Until([&] { return SizeOf(Local("data.bin")) >= 100000; }));
    const qint64 b = queue->AddDownload({Entry(QStringLiteral("data.bin"), second.size())}, Local(), Site(other->port()), "/");
    ASSERT_TRUE(Until([&] { return queue->Find(b)->state == TransferState::Failed; }));
    EXPECT_TRUE(queue->Find(b)->result.contains(QStringLiteral("Another transfer of this program is writing")))
        << queue->Find(b)->result.toStdString();
    // Nobody was asked about a file the first job is writing.
    EXPECT_TRUE(questions.isEmpty()) << questions.join(QLatin1Char(',')).toStdString();
    queue->Cancel(a);
    ASSERT_TRUE(Until([&] { return queue->Find(a) == nullptr; }));
    EXPECT_TRUE(m_local.Read("data.bin") == first.substr(0, 100000));

    // Once the first has ended, the second may go; it fetches its file whole.
    answers = {kAnswerNo};
    queue->Resubmit(b);
    ASSERT_TRUE(Until([&] { return queue->Find(b) == nullptr; }));
    EXPECT_TRUE(m_local.Read("data.bin") == second);

    // The same for two uploads to one remote file.
    const QString path = QString::fromStdString(m_local.Write("up.bin", first));
    const qint64 up = queue->AddUpload({Entry(path, first.size())}, Site(one->port()), "/up");
    ASSERT_TRUE(Until([&] { return SizeOf(QString::fromStdString(m_remote.Path("up/up.bin"))) >= 100000; }));
    const qint64 up2 = queue->AddUpload({Entry(path, first.size())}, Site(one->port()), "/up");
    ASSERT_TRUE(Until([&] { return queue->Find(up2)->state == TransferState::Failed; }));
    EXPECT_TRUE(queue->Find(up2)->result.contains(QStringLiteral("/up/up.bin"))) << queue->Find(up2)->result.toStdString();
    queue->Cancel(up);
    ASSERT_TRUE(Until([&] { return queue->Find(up) == nullptr; }));
}

} // namespace
