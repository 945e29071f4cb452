#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace remote {
class IFileStream;
}

// A local file read or written by a transfer, straight through the system
// calls (no buffering of our own beyond the caller's block), or straight
// between the file and an FTP stream. Failures of reads, writes and closing
// throw FileError with errno and the file's path.
class CLocalFile {
public:
    enum class Mode { Read, WriteTruncate, WriteKeep };

    CLocalFile() = default;
    ~CLocalFile();
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;

    // False (errno kept) when the file cannot be opened; WriteKeep and
    // WriteTruncate create a missing file.
    bool Open(const QString& path, Mode mode);
    void Seek(std::uint64_t offset);
    // Cuts the file back to `size` bytes and continues writing there.
    void Truncate(std::uint64_t size);
    std::size_t Read(void* data, std::size_t size);
    void Write(const void* data, std::size_t size);
    // Up to `size` bytes of a download appended to the file at its position;
    // 0 once the transfer has completed. The stream's failures throw as its
    // Read() does, the file's as FileError.
    std::size_t CopyFrom(remote::IFileStream& download, std::size_t size);
    // Up to `size` bytes of the file, from its position, sent into an upload;
    // fewer only at the file's end, 0 there. Failures as CopyFrom().
    std::size_t CopyTo(remote::IFileStream& upload, std::size_t size);
    void Close();
    int Descriptor() const { return m_fd; }
    const QString& Path() const { return m_path; }

private:
    [[noreturn]] void Throw(int error) const;

    int m_fd = -1;
    QString m_path;
};

// Gives a local file the modification time `utcSeconds` (its access time
// stays); false with errno set when the system refuses.
bool SetLocalModified(const QString& path, qint64 utcSeconds);
