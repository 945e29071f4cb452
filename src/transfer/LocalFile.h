#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// A local file read or written by a transfer, straight through the system
// calls (no buffering of our own beyond the caller's block). Failures of
// reads, writes and closing throw FileError with errno and the file's path.
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
    std::size_t Read(void* data, std::size_t size);
    void Write(const void* data, std::size_t size);
    void Close();
    int Descriptor() const { return m_fd; }
    const QString& Path() const { return m_path; }

private:
    [[noreturn]] void Throw(int error) const;

    int m_fd = -1;
    QString m_path;
};
