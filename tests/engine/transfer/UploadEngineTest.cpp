// Uploads against a real server: whole trees, the base folder of a
// selection, continuing a remote file, and what every stored item announces.
#include "engine/transfer/WorkerFixture.h"

#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::string Pattern(std::size_t size, int seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 13 + seed + i / 257) & 0xff);
    return bytes;
}

class UploadEngineTest : public WorkerFixture {
protected:
    void SetUp() override
    {
        m_remote.MakeDir("www");
        m_log = m_local.Path("commands.log");
        m_server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret", {"--log", m_log});
    }

    std::unique_ptr<CUploadThread> Job(std::initializer_list<FileStatus> items)
    {
        return Make<CUploadThread>(m_server->port(), QStringLiteral("/www"), [&](TransferJob& job) {
            for (const FileStatus& item : items)
                job.items.append(item);
        });
    }
    FileStatus Local(const std::string& rel, bool folder = false, std::uint64_t size = 0) const
    {
        FileStatus entry;
        entry.path = QString::fromStdString(m_local.Path(rel));
        entry.size = folder ? 0 : (size ? size : fs::file_size(m_local.Path(rel)));
        entry.attribute = folder ? FileStatus::kFolder : 0;
        return entry;
    }
    int Sent(const std::string& line) const
    {
        const std::vector<std::string> lines = kxtest::ReadLines(m_log);
        return int(std::count(lines.begin(), lines.end(), line));
    }

    std::string m_log;
    std::unique_ptr<kxtest::ServerProcess> m_server;
};

TEST_F(UploadEngineTest, ANestedTreeArrivesWholeWithoutFollowingLinks)
{
    const std::string picture = Pattern(70000, 1);
    m_local.Write("site/index.html", "<html>");
    m_local.Write("site/img/a.png", picture);
    m_local.Write("site/img/deep/er/b.png", "b");
    m_local.MakeDir("site/empty");
    m_local.Write("outside/secret.txt", "not for the server");
    fs::create_directory_symlink(m_local.Path("outside"), m_local.Path("site/img/loop"));
    fs::create_symlink(m_local.Path("outside/secret.txt"), m_local.Path("site/secret.txt"));

    auto thread = Job({Local("site", true)});
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully uploaded."));
    EXPECT_EQ(m_remote.Read("www/site/index.html"), "<html>");
    EXPECT_EQ(m_remote.Read("www/site/img/a.png"), picture);
    EXPECT_EQ(m_remote.Read("www/site/img/deep/er/b.png"), "b");
    EXPECT_TRUE(fs::is_directory(m_remote.Path("www/site/empty")));
    EXPECT_FALSE(fs::exists(m_remote.Path("www/site/img/loop")));
    EXPECT_FALSE(fs::exists(m_remote.Path("www/site/secret.txt")));
    EXPECT_EQ(m_receiver.traces.filter(QStringLiteral("symbolic link")).size(), 2);
    // Every item is announced by its remote path; each folder is asked for once.
    EXPECT_TRUE(m_receiver.stored.contains(QStringLiteral("/www/site/img/deep/er/b.png")));
    EXPECT_TRUE(m_receiver.stored.contains(QStringLiteral("/www/site/empty")));
    EXPECT_EQ(Sent("MKD /www/site/img"), 1);
}

TEST_F(UploadEngineTest, FilesKeepTheirPlaceBelowTheSelectionsFolder)
{
    m_local.Write("docs/a.txt", "a");
    m_local.Write("docs/b.txt", "bb");
    auto thread = Job({Local("docs/a.txt"), Local("docs/b.txt")});
    Run(*thread);
    EXPECT_EQ(m_remote.Read("www/a.txt"), "a");
    EXPECT_EQ(m_remote.Read("www/b.txt"), "bb");
    EXPECT_EQ(m_receiver.stored, (QStringList{QStringLiteral("/www/a.txt"), QStringLiteral("/www/b.txt")}));
    QStringList uploading;
    for (const StatusRecord& status : m_receiver.statuses) {
        if (status.status == QLatin1String("Uploading"))
            uploading << status.name;
    }
    EXPECT_EQ(uploading, (QStringList{QString::fromStdString(m_local.Path("docs/a.txt")),
                                      QString::fromStdString(m_local.Path("docs/b.txt"))}));
}

TEST_F(UploadEngineTest, AFileMarkedForResumingContinuesTheRemoteOnePastFourGiB)
{
    // A sparse local file over 4 GiB, of which the server holds all but the
    // last 4,000 bytes.
    const std::uint64_t size = (std::uint64_t(1) << 32) + 5000;
    const std::string tail = Pattern(5000, 2);
    const auto sparse = [&](const std::string& path, std::uint64_t length, const std::string& end) {
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(length)), 0);
        ASSERT_EQ(::pwrite(fd, end.data(), end.size(), off_t(length - end.size())), ssize_t(end.size()));
        ::close(fd);
    };
    sparse(m_local.Path("disk.img"), size, tail);
    sparse(m_remote.Path("www/disk.img"), size - 4000, tail.substr(0, 1000));
    FileStatus marked = Local("disk.img", false, size - 4000);
    marked.attribute |= FileStatus::kResume;
    auto thread = Job({marked});
    Run(*thread);
    EXPECT_EQ(m_receiver.result, QStringLiteral("File(s) successfully uploaded."));
    EXPECT_EQ(Sent("REST " + std::to_string(size - 4000)), 1);
    EXPECT_EQ(fs::file_size(m_remote.Path("www/disk.img")), size);
    std::ifstream stored(m_remote.Path("www/disk.img"), std::ios::binary);
    stored.seekg(std::streamoff(size - 5000));
    std::string end(5000, '\0');
    stored.read(end.data(), 5000);
    EXPECT_TRUE(end == tail);
}

} // namespace
