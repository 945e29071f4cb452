// Downloads against real servers: where selections land, the questions about
// files already there, resuming, and the failures that must not pass for
// success.
#include "engine/transfer/WorkerFixture.h"

#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

std::string Pattern(std::size_t size, int seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xff);
    return bytes;
}


// A file of `size` bytes that holds `tail` at its end and nothing on disk before it.
void WriteSparse(const std::string& path, std::uint64_t size, const std::string& tail)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())), ssize_t(tail.size()));
    ::close(fd);
}

std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t size)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

class DownloadEngineTest : public WorkerFixture {
protected:
    std::unique_ptr<CDownloadThread> Job(const QString& remoteFolder, const QString& target,
                                         std::initializer_list<FileStatus> items)
    {
        return Make<CDownloadThread>(m_server->port(), remoteFolder, [&](TransferJob& job) {
            job.localFolder = target;
            // As the queue decides it: one file to a path that is no folder is that file.
            job.localIsFolder = items.size() != 1 || items.begin()->IsFolder() || QFileInfo(target).isDir();
            for (const FileStatus& item : items)
                job.items.append(item);
        });
    }
    QString Local(const std::string& rel = "") const { return QString::fromStdString(m_local.Path(rel.empty() ? "." : rel)); }
    QStringList Downloading() const
    {
        QStringList names;
        for (const StatusRecord& status : m_receiver.statuses) {
            if (status.status == QLatin1String("Downloading"))
                names << status.name;
        }
        return names;
    }

    std::unique_ptr<kxtest::ServerProcess> m_server;
};

TEST_F(DownloadEngineTest, SelectionsLandWhereTheyBelong)
{
    const std::string x = Pattern(3000, 1);
    m_remote.Write("pub/docs/top.txt", "top");
    m_remote.Write("pub/docs/a/x.txt", x);
    m_remote.Write("pub/plain.txt", "plain");
    m_remote.MakeDir("pub/empty");
    m_server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret");

    // Folders walked on the server, their own files first; a plain file from
    // the job's folder after them; an empty folder brings nothing.
    auto tree = Job(QStringLiteral("/pub"), Local("dest"),
                    {Entry("docs", 0, true), Entry("plain.txt", 5), Entry("empty", 0, true)});
    Run(*tree);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded."));
    EXPECT_EQ(Downloading(), (QStringList{QStringLiteral("top.txt"), QStringLiteral("x.txt"), QStringLiteral("plain.txt")}));
    EXPECT_EQ(m_local.Read("dest/docs/a/x.txt"), x);
    EXPECT_EQ(m_local.Read("dest/docs/top.txt"), "top");
    EXPECT_EQ(m_local.Read("dest/plain.txt"), "plain");
    EXPECT_FALSE(QFileInfo::exists(Local("dest/empty")));
    EXPECT_TRUE(m_port->Lines().contains(QStringLiteral("1 Copying 'x.txt'")));
    EXPECT_TRUE(m_port->Lines().contains(QStringLiteral("1 Closing connection to 127.0.0.1")));

    // One file to a name that is no folder: written under that name.
    m_receiver.Clear();
    auto named = Job(QStringLiteral("/pub"), Local("renamed/copy.txt"), {Entry("plain.txt", 5)});
    Run(*named);
    EXPECT_EQ(m_local.Read("renamed/copy.txt"), "plain");

    // One file into a folder that exists: under its own name.
    m_receiver.Clear();
    auto intoFolder = Job(QStringLiteral("/pub/docs"), Local("renamed"), {Entry("top.txt", 3)});
    Run(*intoFolder);
    EXPECT_EQ(m_local.Read("renamed/top.txt"), "top");

    // An empty folder alone: nothing to do, and that is a success.
    m_receiver.Clear();
    auto empty = Job(QStringLiteral("/pub"), Local("nothing"), {Entry("empty", 0, true)});
    Run(*empty);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded."));
    EXPECT_EQ(m_receiver.PercentEvents(), 0);
}

TEST_F(DownloadEngineTest, QuestionsAboutFilesAlreadyThere)
{
    const std::string whole = Pattern(5000, 2);
    m_remote.Write("in/partial.bin", whole);
    for (int i = 1; i <= 5; ++i)
        m_remote.Write("in/f" + std::to_string(i) + ".txt", "new " + std::to_string(i));
    const std::string log = m_local.Path("commands.log");
    m_server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret", {"--log", log});

    // Smaller here than there: continued from where it ends, byte for byte.
    m_local.Write("partial.bin", whole.substr(0, 1000));
    auto resume = Job(QStringLiteral("/in"), Local(), {Entry("partial.bin", 5000)});
    m_port->answers = {kAnswerYes};
    Run(*resume);
    EXPECT_EQ(m_port->Questions(), QStringList{QStringLiteral("resume partial.bin 1")});
    EXPECT_EQ(m_local.Read("partial.bin"), whole);
    const std::vector<std::string> sent = kxtest::ReadLines(log);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "REST 1000"), sent.end());

    // No on the first of five, Yes to All on the second: the rest are
    // replaced unasked, and the skipped file still counts towards 100%.
    for (int i = 1; i <= 5; ++i)
        m_local.Write("f" + std::to_string(i) + ".txt", "an older and longer copy " + std::to_string(i));
    m_receiver.Clear();
    auto five = Job(QStringLiteral("/in"), Local(),
                    {Entry("f1.txt", 5), Entry("f2.txt", 5), Entry("f3.txt", 5), Entry("f4.txt", 5), Entry("f5.txt", 5)});
    m_port->answers = {kAnswerNo, kAnswerYesToAll};
    Run(*five);
    EXPECT_EQ(m_port->Questions(), (QStringList{QStringLiteral("replace f1.txt 5"), QStringLiteral("replace f2.txt 4")}));
    EXPECT_EQ(m_local.Read("f1.txt"), "an older and longer copy 1");
    for (int i = 2; i <= 5; ++i)
        EXPECT_EQ(m_local.Read("f" + std::to_string(i) + ".txt"), "new " + std::to_string(i));
    int last = 0;
    for (const StatusRecord& status : m_receiver.statuses)
        last = status.status.isEmpty() && status.name.isEmpty() ? status.percent : last;
    EXPECT_EQ(last, 100);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded."));

    // Cancel in a question: nothing after it is fetched, and it says so.
    m_local.Write("f1.txt", "mine");
    m_local.Write("f2.txt", "mine too");
    m_receiver.Clear();
    auto cancelled = Job(QStringLiteral("/in"), Local(), {Entry("f1.txt", 5), Entry("f2.txt", 5)});
    m_port->answers = {kAnswerCancel};
    Run(*cancelled);
    EXPECT_EQ(m_receiver.result, QStringLiteral("Download cancelled."));
    EXPECT_FALSE(m_receiver.failed);
    EXPECT_EQ(m_local.Read("f2.txt"), "mine too");
}

TEST_F(DownloadEngineTest, AFileOverFourGiBResumesPastFourGiB)
{
    const std::uint64_t size = (std::uint64_t(1) << 32) + 5000;
    const std::string tail = Pattern(5000, 3);
    WriteSparse(m_remote.Path("huge.img"), size, tail);
    m_server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret");
    WriteSparse(m_local.Path("huge.img"), size - 4000, tail.substr(0, 1000));
    auto thread = Job(QStringLiteral("/"), Local(), {Entry("huge.img", size)});
    m_port->answers = {kAnswerYes};
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded."));
    EXPECT_EQ(QFileInfo(Local("huge.img")).size(), qint64(size));
    EXPECT_EQ(ReadAt(m_local.Path("huge.img"), size - 5000, 5000), tail);
    // The resumed bytes count as done: the run starts near 100%, not at 0.
    EXPECT_EQ(m_receiver.PercentEvents(), 1);
}

TEST_F(DownloadEngineTest, NamesFromTheServerNeverLeaveTheTarget)
{
    m_remote.Write("box/ok.txt", "ok");
    const std::string listing = m_files.Write("box.txt",
        "-rw-r--r--   1 ftp ftp  2 Jan 15  2024 ok.txt\r\n"
        "-rw-r--r--   1 ftp ftp  2 Jan 15  2024 ../../escaped.txt\r\n"
        "drwxr-xr-x   1 ftp ftp  0 Jan 15  2024 ..\r\n");
    m_server = kxtest::StartScriptedFtpd(m_remote.path(), {"--feat", "SIZE", "--list-file", "/box=" + listing});
    auto thread = Job(QStringLiteral("/"), Local("target"), {Entry("box", 0, true), Entry("../up.txt", 2)});
    Run(*thread);
    EXPECT_EQ(m_local.Read("target/box/ok.txt"), "ok");
    EXPECT_FALSE(QFileInfo::exists(Local("escaped.txt")));
    EXPECT_FALSE(QFileInfo::exists(Local("up.txt")));
    EXPECT_EQ(m_receiver.traces.size(), 2) << m_receiver.traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(m_receiver.failed);
}

TEST_F(DownloadEngineTest, ABrokenOrShortDownloadIsNeverASuccess)
{
    m_remote.Write("drop.bin", Pattern(200000, 4));
    m_remote.Write("short.bin", Pattern(3000, 5));
    m_remote.Write("whole.bin", Pattern(5000, 6));
    m_server = kxtest::StartScriptedFtpd(m_remote.path(), {"--drop-after", "RETR#1=10000",
                                                          "--reply", "REST=350 Restarting.\\r\\n"});
    // The data connection drops half way.
    auto dropped = Job(QStringLiteral("/"), Local(), {Entry("drop.bin", 200000)});
    Run(*dropped);
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_EQ(m_receiver.result, QStringLiteral("The data connection ended before the transfer was complete: "
                                                "426 Connection closed; transfer aborted. (error 12111)"));

    // Fewer bytes than the listing said, and the server calls it complete.
    m_receiver.Clear();
    auto shorter = Job(QStringLiteral("/"), Local(), {Entry("short.bin", 5000)});
    Run(*shorter);
    EXPECT_EQ(m_receiver.result, QStringLiteral("The download of short.bin ended after 3,000 of 5,000 bytes."));

    // A server that agrees to continue and then sends the file from its start.
    m_local.Write("whole.bin", Pattern(5000, 6).substr(0, 1000));
    m_receiver.Clear();
    auto restarted = Job(QStringLiteral("/"), Local(), {Entry("whole.bin", 5000)});
    m_port->answers = {kAnswerYes};
    Run(*restarted);
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_TRUE(m_receiver.result.startsWith(QStringLiteral("The server did not continue whole.bin at byte 1,000")))
        << m_receiver.result.toStdString();
    // The user's partial copy is as it was before the attempt.
    EXPECT_EQ(m_local.Read("whole.bin"), Pattern(5000, 6).substr(0, 1000));
}

} // namespace
