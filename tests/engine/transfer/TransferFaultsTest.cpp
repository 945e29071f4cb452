// Faults found by trying to break the transfers, one case each: what the
// scripted server's misbehaviour does to a job, then what real servers do.
// (A server that accepts REST and sends from the start: DownloadEngineTest.)
#include "engine/transfer/QueueFixture.h"

#include "engine/base/TraceLevel.h"

#include <filesystem>

namespace {

std::string Pattern(std::size_t size, int seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 37 + seed + i / 131) & 0xff);
    return bytes;
}

// Text of `lines` lines ending in LF, `size` bytes in all.
std::string TextLines(std::size_t size, std::size_t lines)
{
    std::string text(size, 'a');
    for (std::size_t i = 1; i <= lines; ++i)
        text[i * size / lines - 1] = '\n';
    return text;
}

class ScriptedFaultsTest : public QueueFixture {
protected:
    // Runs one download to its end; the job's record, or null once it succeeded and left.
    const TransferJobRecord* Download(CTransferQueue& queue, int port, const FileStatusList& entries,
                                      const QString& target, int retries = 1, int transferType = 2)
    {
        TransferSite site = Site(port, retries);
        site.transferType = transferType;
        const qint64 id = queue.AddDownload(entries, target, site, QStringLiteral("/"));
        EXPECT_TRUE(Until([&] { return queue.RunningCount() == 0 && (!queue.Find(id) || queue.Find(id)->state != TransferState::Queued); }));
        return queue.Find(id);
    }
};

TEST_F(ScriptedFaultsTest, AnAsciiDownloadCutShortIsAFailure)
{
    // The listing promises twice the bytes the server then sends, with 226.
    const std::string text = TextLines(5000, 100);
    m_remote.Write("short.txt", text);
    m_remote.Write("whole.txt", text);
    const std::string listing = m_files.Write("list.txt",
        "-rw-r--r--   1 ftp ftp  10000 Jan 15  2024 short.txt\r\n"
        "-rw-r--r--   1 ftp ftp   5000 Jan 15  2024 whole.txt\r\n");
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--feat", "SIZE", "--list-file", "/=" + listing});
    auto queue = MakeQueue();
    const TransferJobRecord* cut = Download(*queue, server->port(), {Entry(QStringLiteral("short.txt"), 10000)}, Local(), 1, 1);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->state, TransferState::Failed);
    EXPECT_EQ(cut->result, QStringLiteral("The download of short.txt ended after 5,100 of 10,000 bytes (100 line ends converted)."));
    // Converted line ends alone are no shortfall.
    EXPECT_EQ(Download(*queue, server->port(), {Entry(QStringLiteral("whole.txt"), 5000)}, Local(), 1, 1), nullptr);
    EXPECT_EQ(m_local.Read("whole.txt"), text);
}

TEST_F(ScriptedFaultsTest, AFolderNestedTooDeepIsReportedNotPassedOver)
{
    std::string deep = "loop";
    for (int i = 0; i < 258; ++i)
        deep += "/d";
    m_remote.Write("loop/top.txt", "top");
    m_remote.Write(deep + "/bottom.txt", "bottom");
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {});
    auto queue = MakeQueue();
    const TransferJobRecord* job = Download(*queue, server->port(), {Entry(QStringLiteral("loop"), 0, true)}, Local());
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->state, TransferState::Failed);
    EXPECT_TRUE(job->result.contains(QStringLiteral("folders nested deeper than 256 levels"))) << job->result.toStdString();
    EXPECT_TRUE(job->result.contains(QStringLiteral("/loop/d/d/d"))) << job->result.toStdString();
    EXPECT_EQ(traces.filter(QStringLiteral("nested deeper")).size(), 2); // the red line, then the job's end
    EXPECT_TRUE(traces.filter(QStringLiteral("nested deeper"))[0].startsWith(QString::number(TRACE_ERROR)));
    EXPECT_EQ(m_local.Read("loop/top.txt"), "top");
}

TEST_F(ScriptedFaultsTest, AListedNameWithALineBreakIsSkippedInRed)
{
    m_remote.Write("box/ok.txt", "ok");
    const std::string listing = m_files.Write("box.txt",
        "-rw-r--r--   1 ftp ftp  2 Jan 15  2024 ok.txt\r\n"
        "-rw-r--r--   1 ftp ftp  2 Jan 15  2024 nl\nx.txt\r\n");
    const std::string log = m_files.Path("commands.log");
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--feat", "SIZE", "--list-file", "/box=" + listing, "--log", log});
    auto queue = MakeQueue();
    EXPECT_EQ(Download(*queue, server->port(), {Entry(QStringLiteral("box"), 0, true)}, Local()), nullptr);
    EXPECT_EQ(m_local.Read("box/ok.txt"), "ok");
    const QStringList skipped = traces.filter(QStringLiteral("nl\\nx.txt"));
    ASSERT_EQ(skipped.size(), 1) << traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(skipped[0].startsWith(QString::number(TRACE_ERROR)));
    for (const std::string& line : kxtest::ReadLines(log))
        EXPECT_EQ(line.find("RETR /box/nl"), std::string::npos) << line;
}

TEST_F(ScriptedFaultsTest, ErrorsSayWhatHappenedAndKeepTheirNumbers)
{
    m_remote.Write("a.bin", Pattern(20000));
    auto closing = kxtest::StartScriptedFtpd(m_remote.path(), {"--close-after", "RETR"});
    auto queue = MakeQueue();
    const TransferJobRecord* closed = Download(*queue, closing->port(), {Entry(QStringLiteral("a.bin"), 20000)}, Local());
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->result, QStringLiteral("The server closed the connection (error 12030)"));

    auto silent = kxtest::StartScriptedFtpd(m_remote.path(), {"--stall", "RETR"});
    queue->SetConnectionTimeout(1);
    const TransferJobRecord* slow = Download(*queue, silent->port(), {Entry(QStringLiteral("a.bin"), 20000)}, Local("t"));
    ASSERT_NE(slow, nullptr);
    EXPECT_EQ(slow->result, QStringLiteral("No answer from the server within 1 second (error 12002)"));

    // The disk is full: the system's words and the path.
    queue->SetConnectionTimeout(10);
    AnswerFrom(*queue);
    answers = {kAnswerYes}; // replace the device's "file"
    auto fine = kxtest::StartScriptedFtpd(m_remote.path(), {});
    const TransferJobRecord* full = Download(*queue, fine->port(), {Entry(QStringLiteral("a.bin"), 20000)}, QStringLiteral("/dev/full"));
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->result, QStringLiteral("No space left on device: /dev/full"));

    // A path that cannot be a folder.
    m_local.Write("plain", "a file");
    const TransferJobRecord* blocked = Download(*queue, fine->port(), {Entry(QStringLiteral("a.bin"), 20000), Entry(QStringLiteral("a.bin"), 20000)},
                                                Local("plain/sub"));
    ASSERT_NE(blocked, nullptr);
    EXPECT_TRUE(blocked->result.startsWith(QStringLiteral("The download folder cannot be made: Not a directory:")))
        << blocked->result.toStdString();
}

TEST_F(ScriptedFaultsTest, AFileBrokenOffMidwayIsContinuedByItselfOrByResubmit)
{
    const std::string bytes = Pattern(300000, 3);
    m_remote.Write("a.bin", bytes);
    m_remote.Write("b.bin", bytes);
    const std::string log = m_files.Path("commands.log");
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--drop-after", "RETR#1=100000", "--drop-after",
                                                              "RETR#3=120000", "--log", log});
    auto queue = MakeQueue();
    // With retries the job goes on by itself, from where the file stopped.
    EXPECT_EQ(Download(*queue, server->port(), {Entry(QStringLiteral("a.bin"), bytes.size())}, Local(), 2), nullptr)
        << traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_local.Read("a.bin") == bytes);
    EXPECT_EQ(traces.filter(QStringLiteral("trying again")).size(), 1);

    // Without: the job stays failed, with the partial file, and Resubmit
    // finishes it byte for byte.
    const TransferJobRecord* failed = Download(*queue, server->port(), {Entry(QStringLiteral("b.bin"), bytes.size())}, Local());
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->state, TransferState::Failed);
    EXPECT_EQ(failed->job.files[0].done, 120000u);
    queue->Resubmit(failed->Id());
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; }));
    EXPECT_TRUE(m_local.Read("b.bin") == bytes);
    const auto sent = kxtest::ReadLines(log);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "REST 100000"), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "REST 120000"), sent.end());
}

TEST_F(ScriptedFaultsTest, AConnectionLostMidJobIsMadeAgainAndTheRestGoOn)
{
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
        m_remote.Write(std::string("set/") + name, name);
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--close-after", "RETR#2"});
    auto queue = MakeQueue();
    EXPECT_EQ(Download(*queue, server->port(), {Entry(QStringLiteral("set"), 0, true)}, Local(), 2), nullptr)
        << traces.join(QLatin1Char('\n')).toStdString();
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
        EXPECT_EQ(m_local.Read(std::string("set/") + name), name);

    // Out of retries: the files not tried are named, and kept for Resubmit.
    auto closing = kxtest::StartScriptedFtpd(m_remote.path(), {"--close-after", "RETR#2"});
    const TransferJobRecord* job = Download(*queue, closing->port(), {Entry(QStringLiteral("set"), 0, true)}, Local("again"));
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->result, QStringLiteral("1 of 4 files transferred, 3 failed: The server closed the connection (error 12030)."));
    ASSERT_EQ(job->job.files.size(), 4u);
    EXPECT_EQ(job->job.files[0].state, TransferState::Completed);
    EXPECT_TRUE(job->job.files[3].result.startsWith(QStringLiteral("Not transferred:"))) << job->job.files[3].result.toStdString();
    queue->Resubmit(job->Id());
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; })) << traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_local.Read("again/set/4.txt"), "4.txt");
}

class PyftpdFaultsTest : public QueueFixture {
protected:
    void SetUp() override { m_server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret"); }
    std::unique_ptr<kxtest::ServerProcess> m_server;
};

TEST_F(PyftpdFaultsTest, AResumedUploadCountsToOneHundredPercentOfTheServersBytes)
{
    const std::string bytes = Pattern(3 << 20, 9);
    m_remote.Write("www/part.bin", bytes.substr(0, 1 << 20));
    const QString local = QString::fromStdString(m_local.Write("part.bin", bytes));
    FileStatus marked = Entry(local, 1 << 20);
    marked.attribute |= FileStatus::kResume;
    auto queue = MakeQueue();
    int highest = 0;
    quint64 doneAtEnd = 0;
    QObject::connect(queue.get(), &CTransferQueue::JobChanged, [&](qint64 id) {
        if (const TransferJobRecord* record = queue->Find(id)) {
            highest = std::max(highest, record->percent);
            EXPECT_LE(record->bytesDone, record->bytesTotal);
            doneAtEnd = record->bytesDone;
        }
    });
    queue->AddUpload({marked}, Site(m_server->port()), QStringLiteral("/www"));
    ASSERT_TRUE(Until([&] { return queue->JobCount() == 0; }));
    EXPECT_TRUE(m_remote.Read("www/part.bin") == bytes);
    EXPECT_EQ(highest, 100);
    EXPECT_EQ(doneAtEnd, bytes.size());
}

TEST_F(PyftpdFaultsTest, ADownloadFolderRemovedSinceQueuingIsMadeAgainNeverItsParent)
{
    m_remote.Write("a.txt", "alpha");
    const QString folder = Local("downloads");
    std::filesystem::create_directories(folder.toStdString());
    auto queue = MakeQueue();
    queue->SetParallelLimit(1);
    const qint64 blocker = queue->AddDownload({Entry(QStringLiteral("x"), 1)}, Local(), Site(kxtest::ClosedPort(), 5), "/");
    const qint64 id = queue->AddDownload({Entry(QStringLiteral("a.txt"), 5)}, folder, Site(m_server->port()), "/");
    std::filesystem::remove_all(folder.toStdString());
    queue->Cancel(blocker);
    ASSERT_TRUE(Until([&] { return queue->Find(id) == nullptr; }));
    EXPECT_EQ(m_local.Read("downloads/a.txt"), "alpha");
    EXPECT_FALSE(std::filesystem::is_regular_file(m_local.Path("downloads"))) << "written as a file in the parent";
}

} // namespace
