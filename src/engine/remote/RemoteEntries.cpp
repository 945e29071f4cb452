#include "engine/remote/RemoteEntries.h"

#include "engine/remote/FtpFileSystem.h"
#include "engine/remote/SftpFileSystem.h"

#include <utility>

namespace remote {

const char* ProtocolName(Protocol protocol)
{
    return protocol == Protocol::Sftp ? "sftp" : "ftp";
}

int DefaultPort(Protocol protocol)
{
    return protocol == Protocol::Sftp ? 22 : 21;
}

std::unique_ptr<IFileSystem> CreateFileSystem(Protocol protocol)
{
    if (protocol == Protocol::Sftp)
        return std::make_unique<SftpFileSystem>();
    return std::make_unique<FtpFileSystem>();
}

std::string PermissionText(std::uint32_t mode)
{
    std::string s = "---------";
    static const char kLetters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i))
            s[i] = kLetters[i];
    if (mode & 04000u)
        s[2] = (mode & 0100u) ? 's' : 'S';
    if (mode & 02000u)
        s[5] = (mode & 010u) ? 's' : 'S';
    if (mode & 01000u)
        s[8] = (mode & 01u) ? 't' : 'T';
    return s;
}

std::optional<std::uint32_t> ModeFromText(std::string_view text)
{
    if (text.size() == 10)
        text.remove_prefix(1);  // the type letter of ls -l
    if (text.size() != 9)
        return std::nullopt;
    std::uint32_t mode = 0;
    static const char kLetters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        const char c = text[static_cast<std::size_t>(i)];
        const std::uint32_t bit = 0400u >> i;
        if (c == kLetters[i]) {
            mode |= bit;
        } else if ((i == 2 || i == 5) && (c == 's' || c == 'S')) {
            mode |= (i == 2 ? 04000u : 02000u) | (c == 's' ? bit : 0);
        } else if (i == 8 && (c == 't' || c == 'T')) {
            mode |= 01000u | (c == 't' ? bit : 0);
        } else if (c != '-') {
            return std::nullopt;
        }
    }
    return mode;
}

Entry FromDirEntry(inet::DirEntry&& e)
{
    Entry out;
    out.name = std::move(e.name);
    out.size = e.size;
    out.modified = e.modified;
    out.timePrecision = e.timePrecision;
    out.isFolder = e.isFolder;
    out.isLink = e.isLink;
    out.linkTarget = std::move(e.linkTarget);
    out.mode = ModeFromText(e.permissions);
    out.permissions = std::move(e.permissions);
    out.owner = std::move(e.owner);
    out.group = std::move(e.group);
    return out;
}

}  // namespace remote
