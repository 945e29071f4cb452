// One behaviour for both protocols: the download and upload workers against
// pyftpdlib over FTP and OpenSSH over SFTP, each job made from the options
// the test server hands out, each file checked byte for byte.
#include "engine/transfer/WorkerFixture.h"

#include "engine/transfer/LocalPaths.h"
#include "support/RemoteServers.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace {

namespace fs = std::filesystem;
using kxtest::RandomBytes;

// Every regular file below `root`, by its path relative to it, with its bytes.
std::map<std::string, std::string> FilesBelow(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), root).string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

std::string Names(const std::map<std::string, std::string>& files)
{
    std::string names;
    for (const auto& [name, bytes] : files)
        names += name + " (" + std::to_string(bytes.size()) + ")\n";
    return names;
}

qint64 MTimeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? qint64(st.st_mtime) : -1;
}

void SetMTime(const std::string& path, qint64 seconds)
{
    const struct utimbuf times{time_t(seconds), time_t(seconds)};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

// A file named with bytes TempDir refuses to build a path from ("..\").
void WriteRaw(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

// A tree holding what trips transfers: nesting, an empty folder, an empty
// file, a file over several blocks of the copy loop, spaces and UTF-8.
const std::map<std::string, std::string>& Tree()
{
    static const std::map<std::string, std::string> tree{
        {"top.txt", "top of the tree"},
        {"zero.bin", ""},
        {"big.bin", RandomBytes(6 * 1024 * 1024 + 123, 1)},
        {"with space/file name.txt", "spaced"},
        {"Grüße/日本語 ü.txt", "utf-8 names"},
        {"a/b/c/deep.bin", RandomBytes(70000, 2)},
    };
    return tree;
}

class TransferProtocolsTest : public WorkerFixture, public ::testing::WithParamInterface<remote::Protocol> {
protected:
    void SetUp() override
    {
        std::string whyNot;
        m_server = kxtest::RemoteServer::Start(GetParam(), m_remote, whyNot);
        if (!m_server)
            GTEST_SKIP() << whyNot;
    }

    bool Sftp() const { return GetParam() == remote::Protocol::Sftp; }
    kxtest::SshServer& Ssh() const { return static_cast<kxtest::SftpServer&>(*m_server).ssh(); }

    // A path below the server's root as the server names it: SFTP shows the
    // real folder the login lands in, pyftpdlib shows the root as "/".
    QString Remote(const std::string& rel = "") const
    {
        const std::string base = Sftp() ? m_remote.path() : std::string();
        return QString::fromStdString(rel.empty() ? (Sftp() ? base : "/") : base + "/" + rel);
    }
    QString Local(const std::string& rel) const { return QString::fromStdString(m_local.Path(rel)); }
    QString HostKey() const { return Sftp() ? QString::fromStdString(Ssh().fingerprint()) : QString(); }

    // What the test made on the server's side becomes the server account's,
    // so that it may read, change and continue it.
    void HandOver() { m_server->Own(m_remote.path()); }

    TransferJob Job(const QString& remoteFolder) const { return NewJob(m_server->options, HostKey(), remoteFolder); }


    // Downloads `items` of the server's folder `remoteFolder` into the local folder `target`.
    std::unique_ptr<CDownloadThread> Download(const QString& remoteFolder, std::initializer_list<FileStatus> items,
                                              const std::string& target,
                                              const std::function<void(TransferJob&)>& edit = {})
    {
        TransferJob job = Job(remoteFolder);
        job.localFolder = Local(target);
        job.localIsFolder = true;
        for (const FileStatus& item : items)
            job.items.append(item);
        if (edit)
            edit(job);
        return Make<CDownloadThread>(std::move(job));
    }

    // Uploads the local files and folders (as the window lists them) into `remoteFolder`.
    std::unique_ptr<CUploadThread> Upload(const QString& remoteFolder, std::initializer_list<std::string> locals,
                                          const std::function<void(TransferJob&)>& edit = {})
    {
        TransferJob job = Job(remoteFolder);
        for (const std::string& rel : locals)
            job.items.append(FileStatusOfLocal(QFileInfo(Local(rel))));
        if (edit)
            edit(job);
        return Make<CUploadThread>(std::move(job));
    }

    // A file an earlier run of the job began and left (stopped, or failed
    // after some bytes): the queue hands it over with the job's files.
    TransferJob Unfinished(const QString& remotePath, const std::string& localRel, quint64 size, quint64 done) const
    {
        TransferJob job = Job(Remote());
        TransferFile file;
        file.remotePath = remotePath;
        file.localPath = Local(localRel);
        file.size = size;
        file.done = done;
        file.state = TransferState::Failed;
        file.result = QStringLiteral("The server closed the connection (error 12030)");
        EXPECT_TRUE(file.IsPartial());
        job.files.push_back(file);
        return job;
    }

    std::string Why() const
    {
        return m_receiver.result.toStdString() + "\n" + m_receiver.traces.join(QLatin1Char('\n')).toStdString();
    }

    std::unique_ptr<kxtest::RemoteServer> m_server;
};

TEST_P(TransferProtocolsTest, AFolderTreeComesDownWholeOverThreeConnections)
{
    for (const auto& [rel, bytes] : Tree())
        m_remote.Write("tree/" + rel, bytes);
    m_remote.MakeDir("tree/empty");
    m_remote.MakeDir("tree/a/hollow");
    HandOver();

    auto thread = Download(Remote(), {Entry(QStringLiteral("tree"), 0, true)}, "dest",
                           [](TransferJob& job) { job.connections = 3; });
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    EXPECT_FALSE(m_receiver.failed);
    const auto got = FilesBelow(m_local.Path("dest/tree"));
    // Files only: a download walks files, and makes the folders they need.
    EXPECT_EQ(Names(got), Names(FilesBelow(m_remote.Path("tree"))));
    EXPECT_TRUE(got == Tree()) << "the bytes differ";
    EXPECT_EQ(m_receiver.completedFiles.size(), qsizetype(Tree().size()));
    // Never more connections than the job allows. (Over SFTP the first
    // connection often moves everything before the others have logged in.)
    EXPECT_GE(thread->PeakConnections(), 1);
    EXPECT_LE(thread->PeakConnections(), 3);
}

TEST_P(TransferProtocolsTest, ALocalTreeGoesUpIntoAFolderTheServerLacks)
{
    for (const auto& [rel, bytes] : Tree())
        m_local.Write("tree/" + rel, bytes);
    m_local.MakeDir("tree/empty");
    m_remote.MakeDir("incoming");
    HandOver();

    auto thread = Upload(Remote("incoming"), {"tree"}, [](TransferJob& job) { job.connections = 3; });
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully uploaded.")) << Why();
    const auto stored = FilesBelow(m_remote.Path("incoming/tree"));
    EXPECT_EQ(Names(stored), Names(Tree()));
    EXPECT_TRUE(stored == Tree()) << "the bytes differ";
    EXPECT_TRUE(fs::is_directory(m_remote.Path("incoming/tree/empty")));
    EXPECT_TRUE(fs::is_directory(m_remote.Path("incoming/tree/a/b/c")));
    // The remote pane learns of every stored file, by the server's path.
    for (const auto& [rel, bytes] : Tree())
        EXPECT_TRUE(m_receiver.stored.contains(Remote("incoming/tree/" + rel)))
            << rel << " not announced; announced: " << m_receiver.stored.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(m_receiver.stored.contains(Remote("incoming/tree/empty")));
    EXPECT_LE(thread->PeakConnections(), 3);
}

TEST_P(TransferProtocolsTest, AFileLeftPartialByAnEarlierRunIsContinuedNotStartedAgain)
{
    const std::string whole = RandomBytes(3 * 1024 * 1024 + 17, 3);
    const quint64 had = 1024 * 1024 + 5;

    // Download: the disk holds the first bytes; nobody is asked.
    m_remote.Write("down.bin", whole);
    HandOver();
    m_local.Write("down.bin", whole.substr(0, had));
    auto down = Make<CDownloadThread>(Unfinished(Remote("down.bin"), "down.bin", whole.size(), had - 5));
    Run(*down);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    EXPECT_TRUE(m_local.Read("down.bin") == whole) << "the continued copy differs";
    EXPECT_TRUE(m_port->Questions().isEmpty()) << m_port->Questions().join(QLatin1Char(' ')).toStdString();
    // Only what was missing came over: it was continued where the disk ended.
    EXPECT_EQ(down->BytesMoved(), whole.size() - had);

    // Upload: the server holds the first bytes.
    m_receiver.Clear();
    m_local.Write("up.bin", whole);
    m_remote.Write("up.bin", whole.substr(0, had));
    HandOver();
    TransferJob job = Unfinished(Remote("up.bin"), "up.bin", whole.size(), had - 5);
    auto up = Make<CUploadThread>(std::move(job));
    Run(*up);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully uploaded.")) << Why();
    EXPECT_TRUE(m_remote.Read("up.bin") == whole) << "the continued upload differs, "
                                                  << fs::file_size(m_remote.Path("up.bin")) << " bytes";
    EXPECT_EQ(up->BytesMoved(), whole.size() - had);
}

TEST_P(TransferProtocolsTest, CancelEndsARunStuckOnAStalledServerAtOnce)
{
    // Sparse: large enough that the copy is still running when the server
    // stops, without the test writing it.
    const std::uint64_t size = std::uint64_t(512) << 20;
    {
        const int fd = ::open(m_remote.Path("huge.bin").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
        ::close(fd);
    }
    HandOver();
    auto thread = Download(Remote(), {Entry(QStringLiteral("huge.bin"), size)}, ".",
                           [](TransferJob& job) { job.timeoutMs = 60000; });
    ASSERT_TRUE(thread->Resume());
    const std::string local = m_local.Path("huge.bin");
    QElapsedTimer clock;
    clock.start();
    while ((!fs::exists(local) || fs::file_size(local) == 0) && clock.elapsed() < 30000 && !thread->IsDead())
        QThread::usleep(500);
    m_server->Stall();
    ASSERT_TRUE(fs::exists(local)) << Why();
    // What was on its way has arrived; the worker now waits on the server.
    std::uintmax_t seen = 0;
    for (int i = 0; i < 50 && fs::file_size(local) != seen; ++i) {
        seen = fs::file_size(local);
        QThread::msleep(100);
    }
    ASSERT_LT(fs::file_size(local), size) << "the file came whole before the server stopped";

    clock.restart();
    thread->Kill();
    ASSERT_TRUE(WaitForEnd(30000));
    const qint64 took = clock.elapsed();
    thread->Stop();
    m_server->Resume();
    EXPECT_LT(took, 5000) << "the receive time-out is 60 s";
    EXPECT_EQ(m_receiver.result, QStringLiteral("Download cancelled."));
    EXPECT_TRUE(m_receiver.cancelled);
    EXPECT_FALSE(m_receiver.failed);
    EXPECT_TRUE(m_receiver.completedFiles.isEmpty());
    ASSERT_EQ(thread->Files().size(), 1u);
    EXPECT_NE(thread->Files()[0].state, TransferState::Completed);
    EXPECT_LT(fs::file_size(local), size);
    std::cout << "[          ] cancelled after " << fs::file_size(local) << " bytes in " << took << " ms\n";
}

TEST_P(TransferProtocolsTest, ANameThatWouldClimbOutOfTheTargetIsSkippedInRed)
{
    m_remote.Write("target/box/ok.txt", "ok");
    // Read as a Windows path, it climbs two levels out of the target.
    WriteRaw(m_remote.Path("target/box") + "/..\\..\\escaped.txt", "out");
    HandOver();

    auto thread = Download(Remote("target"), {Entry(QStringLiteral("box"), 0, true)}, "in/here");
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    // ok.txt and nothing else, in the target or anywhere around it.
    EXPECT_EQ(Names(FilesBelow(m_local.path())), "in/here/box/ok.txt (2)\n");
    const QStringList skipped = m_receiver.redTraces.filter(QStringLiteral("Skipped an entry of"));
    ASSERT_EQ(skipped.size(), 1) << Why();
    EXPECT_TRUE(skipped[0].contains(QStringLiteral("..\\..\\escaped.txt"))) << Why();
}

// Over FTP this fails because of a fault in src/engine/inet/ListingParser.cpp
// (ListingParser::CompleteLine): a line of an MLSD listing cut by a bare LF
// is not held back as LIST lines are, so "facts; line" becomes an entry for a
// file "line" the server does not have (550 when fetched, the job fails) and
// "break.txt" is dropped as an unrecognised line, with no red trace line.
TEST_P(TransferProtocolsTest, ANameHoldingALineBreakIsSkippedInRedNotTakenForAnother)
{
    m_remote.Write("box/ok.txt", "ok");
    WriteRaw(m_remote.Path("box") + "/line\nbreak.txt", "nl");
    HandOver();

    auto thread = Download(Remote(), {Entry(QStringLiteral("box"), 0, true)}, "in");
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    EXPECT_EQ(Names(FilesBelow(m_local.path())), "in/box/ok.txt (2)\n");
    const QStringList skipped = m_receiver.redTraces.filter(QStringLiteral("Skipped an entry of"));
    ASSERT_EQ(skipped.size(), 1) << Why();
    EXPECT_TRUE(skipped[0].contains(QStringLiteral("line\\nbreak.txt"))) << Why();
}

TEST_P(TransferProtocolsTest, AHostKeyNobodyAcceptedEndsTheJobWithoutAsking)
{
    if (!Sftp())
        GTEST_SKIP() << "host keys are SSH's";
    m_remote.Write("a.txt", "alpha");
    HandOver();
    TransferJob job = Job(Remote());
    // Another server's key was accepted once; this one's was not, and
    // ~/.ssh/known_hosts cannot hold the key made for this test.
    job.site.acceptedHostKeys = {QStringLiteral("SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU")};
    job.localFolder = Local("dest");
    job.items.append(Entry(QStringLiteral("a.txt"), 5));
    auto thread = Make<CDownloadThread>(std::move(job));
    QElapsedTimer clock;
    clock.start();
    Run(*thread);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_TRUE(m_receiver.result.contains(QStringLiteral("host key"), Qt::CaseInsensitive)) << Why();
    EXPECT_TRUE(m_port->Questions().isEmpty());
    EXPECT_FALSE(fs::exists(m_local.Path("dest/a.txt")));
}

TEST_P(TransferProtocolsTest, AProtectedKeyWithItsPassphraseLogsInWhateverThePassword)
{
    if (!Sftp())
        GTEST_SKIP() << "key files are SSH's";
    m_remote.Write("a.txt", "alpha");
    HandOver();
    // The questions the job asked; its port goes with it.
    const auto withKey = [&](const char* passphrase) {
        m_receiver.Clear();
        auto thread = Download(Remote(), {Entry(QStringLiteral("a.txt"), 5)}, passphrase, [&](TransferJob& job) {
            job.site.password = QStringLiteral("not the password");
            job.site.keyFile = QString::fromStdString(Ssh().protectedKeyFile());
            job.site.keyPassphrase = QString::fromUtf8(passphrase);
        });
        Run(*thread);
        return m_port->Questions();
    };
    EXPECT_TRUE(withKey(kxtest::SshServer::kPassphrase).isEmpty());
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    EXPECT_EQ(m_local.Read(std::string(kxtest::SshServer::kPassphrase) + "/a.txt"), "alpha");

    // The wrong passphrase: the key is out and so is the password, so it
    // was the key that let the first job in.
    withKey("wrong phrase");
    EXPECT_TRUE(m_receiver.failed) << Why();
    EXPECT_FALSE(fs::exists(m_local.Path("wrong phrase/a.txt")));
}

TEST_P(TransferProtocolsTest, PreservedTimesFollowTheFilesBothWays)
{
    // Down: a file of a folder walked on the server (the listing's time), and
    // a file selected without a time (asked of the server).
    m_remote.Write("dated/inner/old.bin", RandomBytes(5000, 4));
    m_remote.Write("dated/top.txt", "top");
    HandOver();
    SetMTime(m_remote.Path("dated/inner/old.bin"), 1500000000);
    SetMTime(m_remote.Path("dated/top.txt"), 1400000007);
    auto down = Download(Remote(), {Entry(QStringLiteral("dated"), 0, true)}, "down",
                         [](TransferJob& job) { job.preserveTimes = true; });
    Run(*down);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    EXPECT_EQ(MTimeOf(m_local.Path("down/dated/inner/old.bin")), 1500000000);
    EXPECT_EQ(MTimeOf(m_local.Path("down/dated/top.txt")), 1400000007);

    m_receiver.Clear();
    auto one = Download(Remote("dated"), {Entry(QStringLiteral("top.txt"), 3)}, "one",
                        [](TransferJob& job) { job.preserveTimes = true; });
    Run(*one);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully downloaded.")) << Why();
    EXPECT_EQ(MTimeOf(m_local.Path("one/top.txt")), 1400000007);

    // Up: a tree, and the times the disk gives its files.
    m_local.Write("up/sub/a.bin", RandomBytes(7000, 5));
    m_local.Write("up/b.txt", "b");
    SetMTime(m_local.Path("up/sub/a.bin"), 1300000003);
    SetMTime(m_local.Path("up/b.txt"), 1200000001);
    m_remote.MakeDir("stored");
    HandOver();
    m_receiver.Clear();
    auto up = Upload(Remote("stored"), {"up"}, [](TransferJob& job) { job.preserveTimes = true; });
    Run(*up);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully uploaded.")) << Why();
    EXPECT_EQ(m_remote.Read("stored/up/sub/a.bin"), m_local.Read("up/sub/a.bin"));
    EXPECT_EQ(MTimeOf(m_remote.Path("stored/up/sub/a.bin")), 1300000003) << Why();
    EXPECT_EQ(MTimeOf(m_remote.Path("stored/up/b.txt")), 1200000001) << Why();
}

INSTANTIATE_TEST_SUITE_P(Protocols, TransferProtocolsTest,
                         ::testing::Values(remote::Protocol::Ftp, remote::Protocol::Sftp),
                         [](const ::testing::TestParamInfo<remote::Protocol>& info) {
                             return std::string(info.param == remote::Protocol::Ftp ? "Ftp" : "Sftp");
                         });

} // namespace
