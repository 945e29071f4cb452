#include "tools/Mirror.h"


#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Local file systems keep seconds (FAT two): a copy made to the second must
// still count as the same age.
constexpr std::int64_t kExactSlack = 2;
// A LIST time has no zone: the server's clock may stand anywhere from UTC-12
// to UTC+14, and it may name the minute or only the day.
constexpr std::int64_t kZoneSpread = 14 * 3600;
constexpr std::size_t kBufferSize = 256 * 1024;

struct Entry {
    bool folder = false;
    std::uint64_t size = 0;
    std::int64_t modified = -1; // UTC seconds
    std::int64_t slack = kExactSlack;
    // There, but not mirrored (a symbolic link): never copied, never deleted.
    bool skip = false;
};
// By path below the root ("a/b.txt"); std::map keeps parents before children.
using Tree = std::map<std::string, Entry>;

std::string Join(const std::string& folder, const std::string& name)
{
    if (name.empty())
        return folder;
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::int64_t SlackOf(inet::TimePrecision precision)
{
    switch (precision) {
    case inet::TimePrecision::Exact: return kExactSlack;
    case inet::TimePrecision::Minutes: return 60 + kZoneSpread;
    case inet::TimePrecision::Days: return 24 * 3600 + kZoneSpread;
    }
    return kExactSlack;
}

// Every entry below `root`; a line that cannot be read makes the tree
// unknown in part, which forbids deleting anything from it.
Tree ListRemote(remote::IFileSystem& files, const std::string& root, bool& incomplete)
{
    Tree tree;
    std::vector<std::string> pending{std::string()};
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        // A folder named to MLSD or SFTP costs no extra round trip; an FTP
        // LIST argument may be read as a pattern, so there the folder is
        // entered and listed where it stands.
        std::string path = Join(root, relative);
        if (!files.features().listsNamedFolder) {
            files.SetCurrentDirectory(path);
            path.clear();
        }
        files.List(
            path,
            [&](remote::Entry&& raw) {
                Entry entry;
                // What a link points at is not known (it may lead back up
                // the tree): it stays as it is, and is not entered.
                entry.skip = raw.isLink;
                entry.folder = raw.isFolder;
                entry.size = raw.isFolder ? 0 : raw.size;
                entry.modified = raw.modified;
                entry.slack = SlackOf(raw.timePrecision);
                const std::string child = Join(relative, raw.name);
                tree[child] = entry;
                if (entry.folder && !entry.skip)
                    pending.push_back(child);
            },
            [&](inet::LineKind kind, std::string_view) {
                if (kind != inet::LineKind::Ignored)
                    incomplete = true;
            });
    }
    return tree;
}

Tree ListLocal(const std::string& root)
{
    Tree tree;
    std::error_code error;
    if (!fs::is_directory(root, error))
        throw std::runtime_error("the local folder " + root + " does not exist");
    fs::recursive_directory_iterator walk(root, fs::directory_options::none, error);
    if (error)
        throw std::runtime_error("cannot read " + root + ": " + error.message());
    for (const fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error)
            throw std::runtime_error("cannot read below " + root + ": " + error.message());
        const fs::directory_entry& item = *walk;
        if (item.is_symlink(error)) {
            tree[fs::relative(item.path(), root).generic_string()].skip = true; // as uploads leave links out
            continue;
        }
        struct stat st{};
        if (::stat(item.path().c_str(), &st) != 0)
            throw std::runtime_error("cannot stat " + item.path().string() + ": " + std::strerror(errno));
        Entry entry;
        entry.folder = S_ISDIR(st.st_mode);
        entry.skip = !entry.folder && !S_ISREG(st.st_mode);
        entry.size = entry.folder ? 0 : static_cast<std::uint64_t>(st.st_size);
        entry.modified = st.st_mtime;
        tree[fs::relative(item.path(), root).generic_string()] = entry;
    }
    return tree;
}

// Why the source's file goes over the target's; empty: it does not.
const char* WhyCopy(const Entry& source, const Entry* target, bool onlyNewer)
{
    if (!target)
        return "new";
    const std::int64_t slack = std::max(source.slack, target->slack);
    const bool dated = source.modified >= 0 && target->modified >= 0;
    if (dated && source.modified - target->modified > slack)
        return "newer";
    if (onlyNewer)
        return "";
    // A target newer than the source is left alone, whatever its size.
    if (dated && target->modified - source.modified > slack)
        return "";
    return source.size != target->size ? "different size" : "";
}

class Mirror {
public:
    Mirror(remote::IFileSystem& files, const std::string& remoteRoot, const std::string& localRoot,
           const MirrorOptions& options, std::FILE* out)
        : m_files(files), m_remote(remoteRoot), m_local(localRoot), m_options(options), m_out(out)
    {
    }

    int Run()
    {
        // The listing enters each folder in turn: a root given relative to
        // where the login landed is made absolute first.
        m_files.SetCurrentDirectory(m_remote);
        m_remote = m_files.GetCurrentDirectory();
        bool remoteIncomplete = false;
        const Tree remote = ListRemote(m_files, m_remote, remoteIncomplete);
        std::error_code error;
        // A download into a folder that is not there yet: made, and known empty.
        const bool newTarget = !m_options.reverse && !fs::exists(m_local, error) && !error;
        if (newTarget)
            Act("mkdir", m_local, "", [&] {
                if (!fs::create_directories(m_local, error) && error)
                    throw std::runtime_error(error.message());
            });
        if (m_failed > 0)
            return m_failed;
        const Tree local = newTarget && m_options.dryRun ? Tree() : ListLocal(m_local);
        const Tree& source = m_options.reverse ? local : remote;
        const Tree& target = m_options.reverse ? remote : local;
        for (const auto& [path, entry] : source) {
            const auto there = target.find(path);
            const Entry* existing = there == target.end() ? nullptr : &there->second;
            if (entry.skip || (existing && existing->skip))
                continue;
            if (entry.folder) {
                if (!existing)
                    Act("mkdir", path, "", [&] { MakeFolder(path); });
                else if (!existing->folder)
                    Problem(path, "a file on the target where the source has a folder; left alone");
                continue;
            }
            if (existing && existing->folder) {
                Problem(path, "a folder on the target where the source has a file; left alone");
                continue;
            }
            if (const char* why = WhyCopy(entry, existing, m_options.onlyNewer); *why)
                Act(m_options.reverse ? "upload" : "download", path, why, [&] { Copy(path, entry); });
        }
        if (!m_options.deleteExtra)
            return m_failed;
        // A remote source read in part would have its unread files deleted here.
        if (!m_options.reverse && remoteIncomplete) {
            Problem(m_remote, "some entries could not be read: nothing is deleted");
            return m_failed;
        }
        // Deepest first, so that a folder is empty when its turn comes.
        for (auto it = target.rbegin(); it != target.rend(); ++it) {
            if (source.count(it->first) == 0 && !it->second.skip)
                Act("delete", it->first, "", [&] { Delete(it->first, it->second.folder); });
        }
        return m_failed;
    }

private:
    template <typename Work>
    void Act(const char* action, const std::string& path, const char* why, Work work)
    {
        std::fprintf(m_out, "%s%s %s%s%s%s\n", m_options.dryRun ? "would " : "", action, path.c_str(),
                     *why ? " (" : "", why, *why ? ")" : "");
        std::fflush(m_out);
        if (m_options.dryRun)
            return;
        try {
            work();
        } catch (const inet::InternetError& error) {
            if (error.number() != inet::err::kExtendedError)
                throw; // the connection itself: the rest cannot go either
            Problem(path, error.what());
        } catch (const std::runtime_error& error) {
            Problem(path, error.what());
        }
    }
    void Problem(const std::string& path, const std::string& text)
    {
        ++m_failed;
        std::fprintf(stderr, "kestrix-ftp: mirror: %s: %s\n", path.c_str(), text.c_str());
    }

    void MakeFolder(const std::string& path)
    {
        if (m_options.reverse) {
            m_files.CreateDirectory(Join(m_remote, path));
            return;
        }
        std::error_code error;
        if (!fs::create_directory(Join(m_local, path), error) && error)
            throw std::runtime_error(error.message());
    }

    void Delete(const std::string& path, bool folder)
    {
        if (m_options.reverse) {
            folder ? m_files.RemoveDirectory(Join(m_remote, path)) : m_files.RemoveFile(Join(m_remote, path));
            return;
        }
        if (::remove(Join(m_local, path).c_str()) != 0)
            throw std::runtime_error(std::strerror(errno));
    }

    void Copy(const std::string& path, const Entry& source)
    {
        const std::string remotePath = Join(m_remote, path);
        const std::string local = Join(m_local, path);
        std::unique_ptr<char[]> buffer(new char[kBufferSize]);
        if (m_options.reverse) {
            const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                throw std::runtime_error(std::strerror(errno));
            struct Closer {
                int fd;
                ~Closer() { ::close(fd); }
            } closer{fd};
            auto stream = m_files.OpenWrite(remotePath, remote::WriteMode::Replace);
            for (;;) {
                const ssize_t n = ::read(fd, buffer.get(), kBufferSize);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    throw std::runtime_error(std::strerror(errno)); // the stream's end aborts the upload
                if (n == 0)
                    break;
                stream->Write(buffer.get(), static_cast<std::size_t>(n));
            }
            stream->Close();
            // Where the server offers no way to set it, the time is what the upload gave.
            if (source.modified >= 0 && m_files.features().setModificationTime)
                m_files.SetModificationTime(remotePath, source.modified);
            return;
        }
        auto stream = m_files.OpenRead(remotePath);
        // Written beside the target and moved over it once whole: a broken
        // download never takes the place of the old copy.
        const std::string partial = local + ".kestrix-part";
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::runtime_error(std::strerror(errno));
        std::uint64_t total = 0;
        try {
            for (std::size_t n; (n = stream->Read(buffer.get(), kBufferSize)) > 0; total += n) {
                for (std::size_t written = 0; written < n;) {
                    const ssize_t w = ::write(fd, buffer.get() + written, n - written);
                    if (w < 0 && errno == EINTR)
                        continue;
                    if (w < 0)
                        throw std::runtime_error(std::strerror(errno));
                    written += static_cast<std::size_t>(w);
                }
            }
            if (::close(fd) != 0)
                throw std::runtime_error(std::strerror(errno));
        } catch (...) {
            ::close(fd);
            ::unlink(partial.c_str());
            throw;
        }
        if (total != source.size) {
            ::unlink(partial.c_str());
            throw std::runtime_error("received " + std::to_string(total) + " bytes of " + std::to_string(source.size));
        }
        std::int64_t modified = source.slack == kExactSlack ? source.modified : -1;
        if (modified < 0) {
            try {
                modified = m_files.GetModificationTime(remotePath);
            } catch (const inet::InternetError& error) {
                if (error.number() != inet::err::kExtendedError)
                    throw;
            }
        }
        if (modified >= 0) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
            ::utimensat(AT_FDCWD, partial.c_str(), times, 0);
        }
        if (::rename(partial.c_str(), local.c_str()) != 0) {
            const int error = errno;
            ::unlink(partial.c_str());
            throw std::runtime_error(std::strerror(error));
        }
    }

    remote::IFileSystem& m_files;
    std::string m_remote;
    std::string m_local;
    MirrorOptions m_options;
    std::FILE* m_out;
    int m_failed = 0;
};

} // namespace

int RunMirror(remote::IFileSystem& files, const std::string& remoteRoot, const std::string& localRoot,
              const MirrorOptions& options, std::FILE* out)
{
    return Mirror(files, remoteRoot, localRoot, options, out).Run();
}
