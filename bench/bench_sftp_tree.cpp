// A folder tree down or up over SFTP through remote::SftpFileSystem, with N
// connections taking files from one list, as lftp's mirror --parallel does:
//   bench_sftp_tree --port N --user U (--password P | --identity KEY)
//                   --known-hosts FILE [--connections N] get REMOTE LOCAL | put LOCAL REMOTE
// REMOTE is the folder to copy (get) or to create (put); relative to the
// login's home. bench/sftp_transfer_bench.sh runs it against lftp.

#include "engine/remote/SftpFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Job {
    std::string remote, local;
};

remote::ConnectOptions g_options;

std::unique_ptr<remote::IFileSystem> Open()
{
    auto sftp = std::make_unique<remote::SftpFileSystem>();
    sftp->Connect(g_options);
    return sftp;
}

// Folders first (made or listed on one connection), then files from the list.
void Walk(remote::IFileSystem& sftp, const std::string& remoteFolder, const std::string& localFolder,
          std::vector<Job>& files)
{
    fs::create_directories(localFolder);
    std::vector<std::string> folders;
    sftp.List(remoteFolder, [&](remote::Entry&& e) {
        if (e.isFolder)
            folders.push_back(e.name);
        else
            files.push_back({remoteFolder + "/" + e.name, localFolder + "/" + e.name});
    });
    for (const std::string& f : folders)
        Walk(sftp, remoteFolder + "/" + f, localFolder + "/" + f, files);
}

void Get(remote::IFileSystem& sftp, const Job& job)
{
    const int fd = ::open(job.local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write " + job.local);
    auto stream = sftp.OpenRead(job.remote);
    while (stream->ReadInto(fd, 1 << 20) > 0) {
    }
    stream->Close();
    ::close(fd);
}

void Put(remote::IFileSystem& sftp, const Job& job)
{
    const int fd = ::open(job.local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot read " + job.local);
    auto stream = sftp.OpenWrite(job.remote);
    while (stream->WriteFrom(fd, 1 << 20) > 0) {
    }
    stream->Close();
    ::close(fd);
}

int Run(int argc, char** argv)
{
    int connections = 1;
    std::vector<std::string> rest;
    g_options.protocol = remote::Protocol::Sftp;
    g_options.host = "127.0.0.1";
    g_options.useAgent = false;
    g_options.useDefaultKeys = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--port") g_options.port = std::atoi(next().c_str());
        else if (a == "--user") g_options.user = next();
        else if (a == "--password") g_options.password = next();
        else if (a == "--identity") g_options.identityFile = next();
        else if (a == "--known-hosts") g_options.knownHostsFile = next();
        else if (a == "--connections") connections = std::max(1, std::atoi(next().c_str()));
        else rest.push_back(a);
    }
    if (rest.size() != 3 || (rest[0] != "get" && rest[0] != "put"))
        throw std::runtime_error("usage: see the top of bench_sftp_tree.cpp");
    const bool get = rest[0] == "get";

    std::vector<std::unique_ptr<remote::IFileSystem>> pool(static_cast<std::size_t>(connections));
    std::vector<std::thread> openers;
    for (auto& c : pool)
        openers.emplace_back([&c] { c = Open(); });
    for (auto& t : openers)
        t.join();

    std::vector<Job> files;
    if (get) {
        Walk(*pool[0], rest[1], rest[2], files);
    } else {
        const fs::path top(rest[1]);
        pool[0]->CreateDirectory(rest[2]);
        for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
            const std::string remotePath = rest[2] + "/" + fs::relative(it->path(), top).string();
            if (it->is_directory())
                pool[0]->CreateDirectory(remotePath);
            else
                files.push_back({remotePath, it->path().string()});
        }
    }

    std::atomic<std::size_t> next{0};
    std::mutex failureMutex;
    std::string failure;
    std::vector<std::thread> workers;
    for (auto& c : pool) {
        workers.emplace_back([&, conn = c.get()] {
            try {
                for (std::size_t i = next++; i < files.size(); i = next++)
                    get ? Get(*conn, files[i]) : Put(*conn, files[i]);
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> lock(failureMutex);
                failure = e.what();
            }
        });
    }
    for (auto& t : workers)
        t.join();
    if (!failure.empty())
        throw std::runtime_error(failure);
    std::printf("%zu files\n", files.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sftp_tree: %s\n", e.what());
        return 1;
    }
}
