#include "engine/transfer/LocalFile.h"

#include "engine/remote/RemoteFileSystem.h"
#include "engine/transfer/TransferThread.h"

#include <QFile>

#include <cerrno>
#include <system_error>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CLocalFile::~CLocalFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CLocalFile::Open(const QString& path, Mode mode)
{
    m_path = path;
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::WriteTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::WriteKeep: flags |= O_WRONLY | O_CREAT; break;
    }
    do
        m_fd = ::open(QFile::encodeName(path).constData(), flags, 0644);
    while (m_fd < 0 && errno == EINTR);
    return m_fd >= 0;
}

void CLocalFile::Seek(std::uint64_t offset)
{
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        Throw(errno);
}

void CLocalFile::Truncate(std::uint64_t size)
{
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        Throw(errno);
    Seek(size);
}

std::size_t CLocalFile::Read(void* data, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(m_fd, data, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            Throw(errno);
    }
}

void CLocalFile::Write(const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(m_fd, bytes, size);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            Throw(errno);
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
}

std::size_t CLocalFile::CopyFrom(remote::IFileStream& download, std::size_t size)
{
    try {
        return download.ReadInto(m_fd, size);
    } catch (const std::system_error& error) {
        // The stream tells the failures of our descriptor from its own.
        Throw(error.code().value());
    }
}

std::size_t CLocalFile::CopyTo(remote::IFileStream& upload, std::size_t size)
{
    try {
        return upload.WriteFrom(m_fd, size);
    } catch (const std::system_error& error) {
        Throw(error.code().value());
    }
}

void CLocalFile::Close()
{
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    // A full disk may only show when the file is closed.
    if (::close(fd) != 0 && errno != EINTR)
        Throw(errno);
}

void CLocalFile::Throw(int error) const
{
    throw FileError{error, m_path};
}

bool SetLocalModified(const QString& path, qint64 utcSeconds)
{
    if (utcSeconds < 0) {
        errno = EINVAL;
        return false;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(utcSeconds), 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}
