// One behaviour for both protocols: every test here runs against pyftpdlib
// over FTP and against OpenSSH over SFTP, through remote::IFileSystem only.

#include "engine/remote/RemoteFileSystem.h"
#include "support/RemoteServers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kxtest::ErrorOf;
using kxtest::Join;
using kxtest::RandomBytes;
namespace ierr = inet::err;

class RemoteFileSystemTest : public ::testing::TestWithParam<remote::Protocol> {
protected:
    void SetUp() override
    {
        std::string whyNot;
        server_ = kxtest::RemoteServer::Start(GetParam(), root_, whyNot);
        if (!server_)
            GTEST_SKIP() << whyNot;
    }

    // Writes a file on the server's side, owned by the server's account.
    void Seed(const std::string& rel, const std::string& bytes)
    {
        root_.Write(rel, bytes);
        server_->Own(root_.Path(rel.substr(0, rel.find('/'))));
    }

    std::string ReadAll(remote::IFileStream& stream, std::size_t piece = 65536)
    {
        std::string out, buffer(piece, '\0');
        while (std::size_t n = stream.Read(buffer.data(), buffer.size()))
            out.append(buffer.data(), n);
        return out;
    }

    std::map<std::string, remote::Entry> List(remote::IFileSystem& fs, const std::string& path,
                                              std::vector<std::string>* unsafe = nullptr)
    {
        std::map<std::string, remote::Entry> entries;
        fs.List(
            path, [&](remote::Entry&& e) { entries[e.name] = std::move(e); },
            [&](inet::LineKind kind, std::string_view text) {
                if (kind == inet::LineKind::Ignored)
                    return;
                if (unsafe && kind == inet::LineKind::UnsafeName)
                    unsafe->emplace_back(text);
                else
                    ADD_FAILURE() << "listing problem: " << text;
            });
        return entries;
    }

    kxtest::TempDir root_, local_;
    std::unique_ptr<kxtest::RemoteServer> server_;
};

TEST_P(RemoteFileSystemTest, BrowsesFromTheHomeFolder)
{
    Seed("a.txt", "hello");
    Seed("sub/inner.bin", std::string(1000, 'i'));
    root_.MakeDir("empty");
    server_->Own(root_.Path("empty"));
    const std::int64_t when = 1609556645;  // 2021-01-02 03:04:05 UTC
    utimbuf times{when, when};
    ASSERT_EQ(::utime(root_.Path("a.txt").c_str(), &times), 0);

    auto fs = server_->Connect();
    EXPECT_EQ(fs->protocol(), GetParam());
    const std::string home = fs->GetHomeDirectory();
    EXPECT_EQ(fs->GetCurrentDirectory(), home);

    auto entries = List(*fs, "");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries["a.txt"].size, 5u);
    EXPECT_EQ(entries["a.txt"].modified, when);
    EXPECT_FALSE(entries["a.txt"].isFolder);
    EXPECT_TRUE(entries["sub"].isFolder);
    EXPECT_TRUE(entries["empty"].isFolder);
    EXPECT_EQ(entries.count("."), 0u);
    EXPECT_EQ(entries.count(".."), 0u);

    fs->SetCurrentDirectory("sub");
    EXPECT_EQ(fs->GetCurrentDirectory(), Join(home, "sub"));
    auto inner = List(*fs, "");
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner["inner.bin"].size, 1000u);
    EXPECT_EQ(fs->GetFileSize("inner.bin"), 1000u);

    fs->SetCurrentDirectory(home);
    EXPECT_EQ(fs->GetCurrentDirectory(), home);
    EXPECT_EQ(List(*fs, Join(home, "sub")).count("inner.bin"), 1u);
    EXPECT_EQ(fs->GetFileSize("sub/inner.bin"), 1000u);
    EXPECT_EQ(fs->GetModificationTime("a.txt"), when);

    EXPECT_EQ(ErrorOf([&] { fs->SetCurrentDirectory("missing"); }), ierr::kExtendedError);
    EXPECT_EQ(ErrorOf([&] { fs->SetCurrentDirectory("a.txt"); }), ierr::kExtendedError);
    EXPECT_EQ(fs->GetCurrentDirectory(), home);
    fs->KeepAlive();
}

TEST_P(RemoteFileSystemTest, CreatesRenamesAndDeletes)
{
    Seed("a.txt", "hello");
    auto fs = server_->Connect();

    fs->CreateDirectory("made");
    struct stat st{};
    ASSERT_EQ(::stat(root_.Path("made").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(ErrorOf([&] { fs->CreateDirectory("made"); }), ierr::kExtendedError);

    fs->Rename("a.txt", "made/b.txt");
    EXPECT_NE(::stat(root_.Path("a.txt").c_str(), &st), 0);
    EXPECT_EQ(root_.Read("made/b.txt"), "hello");
    EXPECT_EQ(ErrorOf([&] { fs->RemoveDirectory("made"); }), ierr::kExtendedError) << "not empty";

    fs->RemoveFile("made/b.txt");
    EXPECT_NE(::stat(root_.Path("made/b.txt").c_str(), &st), 0);
    fs->RemoveDirectory("made");
    EXPECT_NE(::stat(root_.Path("made").c_str(), &st), 0);

    EXPECT_EQ(ErrorOf([&] { fs->RemoveFile("missing.txt"); }), ierr::kExtendedError);
    EXPECT_EQ(ErrorOf([&] { fs->RemoveDirectory("missing"); }), ierr::kExtendedError);
    EXPECT_EQ(ErrorOf([&] { fs->Rename("missing.txt", "x.txt"); }), ierr::kExtendedError);
    EXPECT_TRUE(List(*fs, "").empty()) << "the connection is still usable after refusals";
}

TEST_P(RemoteFileSystemTest, TransfersAreByteExactBothWays)
{
    const std::string data = RandomBytes(3 * 1024 * 1024 + 17, 7);
    Seed("data.bin", data);
    auto fs = server_->Connect();

    auto down = fs->OpenRead("data.bin");
    EXPECT_FALSE(down->isUpload());
    EXPECT_EQ(ReadAll(*down, 100000), data);
    EXPECT_EQ(down->bytesTransferred(), data.size());
    down->Close();

    // Into a local descriptor (the workers' way).
    const std::string copy = local_.Path("copy.bin");
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    auto down2 = fs->OpenRead("data.bin");
    while (down2->ReadInto(out, 1 << 20) > 0) {
    }
    down2->Close();
    ::close(out);
    EXPECT_EQ(local_.Read("copy.bin"), data);

    auto up = fs->OpenWrite("up.bin");
    EXPECT_TRUE(up->isUpload());
    for (std::size_t at = 0; at < data.size(); at += 100000)
        up->Write(data.data() + at, std::min<std::size_t>(100000, data.size() - at));
    up->Close();
    EXPECT_EQ(root_.Read("up.bin"), data);

    const int in = ::open(copy.c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    auto up2 = fs->OpenWrite("up2.bin");
    while (up2->WriteFrom(in, 1 << 20) > 0) {
    }
    up2->Close();
    ::close(in);
    EXPECT_EQ(root_.Read("up2.bin"), data);

    // Replacing a longer file leaves nothing of it behind.
    auto shorter = fs->OpenWrite("up.bin");
    shorter->Write("short", 5);
    shorter->Close();
    EXPECT_EQ(root_.Read("up.bin"), "short");
}

// A folder tree down and up, the way the workers walk one: a listing per
// folder, a stream per file.
TEST_P(RemoteFileSystemTest, TreesGoDownAndUpWhole)
{
    std::map<std::string, std::string> files;
    for (int i = 0; i < 24; ++i) {
        const std::string rel = "tree/level " + std::to_string(i % 3) + (i % 2 ? "/deeper" : "") + "/f" +
                                std::to_string(i) + (i % 4 ? ".bin" : " with spaces.txt");
        files[rel] = RandomBytes(static_cast<std::size_t>(1000 + i * 7919), static_cast<std::uint64_t>(i));
        root_.Write(rel, files[rel]);
    }
    root_.MakeDir("tree/empty");
    server_->Own(root_.Path("tree"));
    auto fs = server_->Connect();

    std::function<void(const std::string&, const std::string&)> download = [&](const std::string& remote,
                                                                              const std::string& local) {
        local_.MakeDir(local);
        for (auto& [name, entry] : List(*fs, remote)) {
            if (entry.isFolder) {
                download(remote + "/" + name, local + "/" + name);
                continue;
            }
            auto in = fs->OpenRead(remote + "/" + name);
            local_.Write(local + "/" + name, ReadAll(*in));
        }
    };
    download("tree", "tree");
    for (const auto& [rel, bytes] : files)
        EXPECT_TRUE(local_.Read(rel) == bytes) << rel;
    struct stat st{};
    EXPECT_EQ(::stat(local_.Path("tree/empty").c_str(), &st), 0);

    fs->CreateDirectory("copy");
    std::function<void(const std::string&, const std::string&)> upload = [&](const std::string& local,
                                                                            const std::string& remote) {
        for (const auto& item : std::filesystem::directory_iterator(local_.Path(local))) {
            const std::string name = item.path().filename().string();
            if (item.is_directory()) {
                fs->CreateDirectory(remote + "/" + name);
                upload(local + "/" + name, remote + "/" + name);
                continue;
            }
            auto out = fs->OpenWrite(remote + "/" + name);
            const std::string bytes = local_.Read(local + "/" + name);
            out->Write(bytes.data(), bytes.size());
            out->Close();
        }
    };
    upload("tree", "copy");
    for (const auto& [rel, bytes] : files)
        EXPECT_TRUE(root_.Read("copy" + rel.substr(4)) == bytes) << rel;
    EXPECT_EQ(::stat(root_.Path("copy/empty").c_str(), &st), 0);
}

TEST_P(RemoteFileSystemTest, ResumesAreByteExactBothWays)
{
    const std::string data = RandomBytes(2 * 1024 * 1024 + 5, 11);
    Seed("data.bin", data);
    const std::size_t offset = 1024 * 1024 + 7;
    Seed("half.bin", data.substr(0, offset));
    Seed("start.bin", data.substr(0, 12345));
    auto fs = server_->Connect();

    auto down = fs->OpenRead("data.bin", offset);
    EXPECT_EQ(ReadAll(*down), data.substr(offset));
    down->Close();

    auto up = fs->OpenWrite("half.bin", remote::WriteMode::Restart, offset);
    up->Write(data.data() + offset, data.size() - offset);
    up->Close();
    EXPECT_EQ(root_.Read("half.bin"), data);

    auto append = fs->OpenWrite("start.bin", remote::WriteMode::Append);
    append->Write(data.data() + 12345, data.size() - 12345);
    append->Close();
    EXPECT_EQ(root_.Read("start.bin"), data);

    // The end of the file: nothing more, and no error.
    auto atEnd = fs->OpenRead("data.bin", data.size());
    EXPECT_EQ(ReadAll(*atEnd), "");
}

TEST_P(RemoteFileSystemTest, WhileAStreamIsOpenOtherCallsWait)
{
    Seed("data.bin", RandomBytes(300000, 3));
    auto fs = server_->Connect();
    {
        auto down = fs->OpenRead("data.bin");
        char byte;
        ASSERT_EQ(down->Read(&byte, 1), 1u);
        EXPECT_EQ(ErrorOf([&] { fs->GetFileSize("data.bin"); }), ierr::kTransferInProgress);
        down->Close();  // abandoned half-way
    }
    EXPECT_EQ(fs->GetFileSize("data.bin"), 300000u) << "usable again after an abandoned download";
    {
        auto down = fs->OpenRead("data.bin");
        char byte;
        ASSERT_EQ(down->Read(&byte, 1), 1u);
    }  // destroyed without Close
    EXPECT_EQ(fs->GetFileSize("data.bin"), 300000u);
    EXPECT_EQ(ErrorOf([&] { fs->OpenRead("missing.bin"); }), ierr::kExtendedError);
    root_.MakeDir("folder");
    server_->Own(root_.Path("folder"));
    EXPECT_EQ(ErrorOf([&] { fs->OpenRead("folder"); }), ierr::kExtendedError) << "a folder is no file";
    EXPECT_EQ(List(*fs, "").size(), 2u);
}

TEST_P(RemoteFileSystemTest, CancelEndsAStalledDownloadWithinASecond)
{
    Seed("big.bin", RandomBytes(24 * 1024 * 1024, 5));
    auto fs = server_->Connect();
    auto down = fs->OpenRead("big.bin");
    std::string buffer(65536, '\0');
    ASSERT_GT(down->Read(buffer.data(), buffer.size()), 0u);
    server_->Stall();

    std::atomic<Clock::rep> cancelledAt{0};
    std::thread canceller([&] {
        std::this_thread::sleep_for(300ms);
        cancelledAt = Clock::now().time_since_epoch().count();
        fs->Cancel();
    });
    const std::uint32_t error = ErrorOf([&] {
        while (down->Read(buffer.data(), buffer.size()) > 0) {
        }
    });
    const auto returnedAt = Clock::now();
    canceller.join();
    EXPECT_EQ(error, ierr::kOperationCancelled);
    ASSERT_NE(cancelledAt.load(), 0);
    EXPECT_LT(returnedAt - Clock::time_point(Clock::duration(cancelledAt.load())), 1s);

    // Every later call says so, until a new connection.
    EXPECT_EQ(ErrorOf([&] { fs->GetCurrentDirectory(); }), ierr::kOperationCancelled);
    down.reset();
    server_->Resume();
    fs->Connect(server_->options, server_->callbacks);
    EXPECT_EQ(List(*fs, "").count("big.bin"), 1u);
}

TEST_P(RemoteFileSystemTest, AStalledServerTimesOut)
{
    Seed("big.bin", RandomBytes(24 * 1024 * 1024, 5));
    server_->options.receiveTimeoutMs = 700;
    auto fs = server_->Connect();
    auto down = fs->OpenRead("big.bin");
    std::string buffer(65536, '\0');
    ASSERT_GT(down->Read(buffer.data(), buffer.size()), 0u);
    server_->Stall();
    const auto start = Clock::now();
    const std::uint32_t error = ErrorOf([&] {
        while (down->Read(buffer.data(), buffer.size()) > 0) {
        }
    });
    EXPECT_EQ(error, ierr::kTimeout);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_P(RemoteFileSystemTest, TheIdleHandlerRunsWhileWaitingAndMayGiveUp)
{
    struct GaveUp {};
    Seed("big.bin", RandomBytes(24 * 1024 * 1024, 5));
    Seed("small.txt", "small");
    auto fs = server_->Connect();
    int calls = 0;
    bool giveUp = false;
    fs->SetIdleHandler([&] {
        ++calls;
        if (giveUp)
            throw GaveUp{};
    }, 50);
    EXPECT_EQ(List(*fs, "").size(), 2u);

    auto down = fs->OpenRead("big.bin");
    std::string buffer(65536, '\0');
    ASSERT_GT(down->Read(buffer.data(), buffer.size()), 0u);
    server_->Stall();
    calls = 0;
    giveUp = true;
    const auto start = Clock::now();
    bool gaveUp = false;
    try {
        while (down->Read(buffer.data(), buffer.size()) > 0) {
        }
    } catch (const GaveUp&) {
        gaveUp = true;
    }
    EXPECT_TRUE(gaveUp);
    EXPECT_GE(calls, 1);
    EXPECT_LT(Clock::now() - start, 2s);
    server_->Resume();
    giveUp = false;
    down.reset();
    // Given up (FTP: the transfer aborted; SFTP: its replies dropped as they come): still usable.
    EXPECT_EQ(fs->GetFileSize("small.txt"), 5u);
    EXPECT_EQ(List(*fs, "").size(), 2u);
}

TEST_P(RemoteFileSystemTest, CancelEndsALongUploadFromAnotherThread)
{
    auto fs = server_->Connect();
    auto up = fs->OpenWrite("endless.bin");
    const std::string block = RandomBytes(256 * 1024, 9);
    std::atomic<Clock::rep> cancelledAt{0};
    std::thread canceller([&] {
        std::this_thread::sleep_for(300ms);
        cancelledAt = Clock::now().time_since_epoch().count();
        fs->Cancel();
    });
    std::uint64_t sent = 0;
    const std::uint32_t error = ErrorOf([&] {
        // Bounded: far more than 300 ms can carry here.
        while (sent < 16ull * 1024 * 1024 * 1024) {
            up->Write(block.data(), block.size());
            sent += block.size();
        }
        up->Close();
    });
    const auto returnedAt = Clock::now();
    canceller.join();
    EXPECT_EQ(error, ierr::kOperationCancelled);
    EXPECT_GT(sent, 0u);
    EXPECT_LT(returnedAt - Clock::time_point(Clock::duration(cancelledAt.load())), 1s);
}

TEST_P(RemoteFileSystemTest, CancelEndsAStalledLogin)
{
    server_->StallLogins();
    auto fs = remote::CreateFileSystem(GetParam());
    std::thread canceller([&] {
        std::this_thread::sleep_for(300ms);
        fs->Cancel();
    });
    const auto start = Clock::now();
    const std::uint32_t error = ErrorOf([&] {
        fs->Connect(server_->options, server_->callbacks);
    });
    canceller.join();
    EXPECT_EQ(error, ierr::kOperationCancelled);
    EXPECT_LT(Clock::now() - start, 3s);
}

TEST_P(RemoteFileSystemTest, TimesAndPermissionsWhereTheProtocolHasThem)
{
    Seed("a.txt", "hello");
    auto fs = server_->Connect();
    const remote::Features features = fs->features();
    struct stat st{};
    if (features.setModificationTime) {
        fs->SetModificationTime("a.txt", 1500000000);
        ASSERT_EQ(::stat(root_.Path("a.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1500000000);
        EXPECT_EQ(fs->GetModificationTime("a.txt"), 1500000000);
    } else {
        EXPECT_EQ(ErrorOf([&] { fs->SetModificationTime("a.txt", 1500000000); }), ierr::kInvalidOperation);
    }
    if (features.setPermissions) {
        fs->SetPermissions("a.txt", 0640);
        ASSERT_EQ(::stat(root_.Path("a.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        // MLSD gives its own "perm" fact rather than the mode bits: those only where a listing has them.
        const remote::Entry listed = List(*fs, "")["a.txt"];
        if (listed.mode) {
            EXPECT_EQ(*listed.mode, 0640u);
            EXPECT_EQ(listed.permissions, "rw-r-----");
        }
    }
    if (features.rawCommands) {
        EXPECT_EQ(fs->RawCommand("NOOP").code, 200);
    } else {
        EXPECT_EQ(ErrorOf([&] { fs->RawCommand("NOOP"); }), ierr::kInvalidOperation);
    }
    if (!features.asciiTransfers) {
        EXPECT_EQ(ErrorOf([&] { fs->OpenRead("a.txt", 0, inet::TransferType::Ascii); }), ierr::kInvalidOperation);
    }
    fs->Close();
    EXPECT_FALSE(fs->IsConnected());
    EXPECT_EQ(ErrorOf([&] { fs->GetCurrentDirectory(); }), ierr::kOperationCancelled);
}

INSTANTIATE_TEST_SUITE_P(Protocols, RemoteFileSystemTest,
                         ::testing::Values(remote::Protocol::Ftp, remote::Protocol::Sftp),
                         [](const ::testing::TestParamInfo<remote::Protocol>& info) {
                             return std::string(info.param == remote::Protocol::Ftp ? "Ftp" : "Sftp");
                         });

}  // namespace
