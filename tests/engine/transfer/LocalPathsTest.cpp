#include "support/Printers.h"
#include "engine/transfer/DownloadThread.h"
#include "engine/transfer/LocalPaths.h"

#include <gtest/gtest.h>

namespace {

TEST(LocalPaths, LongFoldersAreShortenedFromTheMiddle)
{
    const struct {
        const char* path;
        int maximum;
        bool keepName;
        const char* shown;
    } cases[] = {
        {"/home/user/a.txt", 50, true, "/home/user/a.txt"},                              // fits
        {"/home/user/projects/2026/reports/", 20, true, "/home/user/.../"},            // a folder: no name to keep
        {"/home/user/projects/2026/reports/q4.pdf", 30, true, "/home/user/.../reports/q4.pdf"},
        {"/home/user/projects/2026/reports/q4.pdf", 36, true, "/home/user/.../2026/reports/q4.pdf"},
        {"/home/user/projects/2026/reports/q4.pdf", 25, true, "/home/user/.../q4.pdf"},
        {"/home/user/a-rather-long-file-name.txt", 12, true, "a-rather-long-file-name.txt"}, // nothing else fits
        {"/home/user/a-rather-long-file-name.txt", 12, false, ""},
        {"/very-long-volume-name/x/y/z.txt", 20, true, "z.txt"},                        // not even the volume
    };
    for (const auto& c : cases)
        EXPECT_EQ(AbbreviatePath(QString::fromUtf8(c.path), c.maximum, c.keepName), QString::fromUtf8(c.shown))
            << c.path << " " << c.maximum;
}

TEST(LocalPaths, RemotePathsBelowTheJobsFolder)
{
    TransferJob job;
    job.remoteFolder = QStringLiteral("/pub");
    CDownloadThread thread(job);
    EXPECT_EQ(thread.RelativeRemotePath(QStringLiteral("/pub/docs/a/x.txt")), QStringLiteral("/docs/a/x.txt"));
    EXPECT_EQ(thread.RelativeRemotePath(QStringLiteral("plain.txt")), QStringLiteral("plain.txt"));
    // Only whole names count: /public is no folder of /pub.
    EXPECT_EQ(thread.RelativeRemotePath(QStringLiteral("/public/x")), QStringLiteral("/public/x"));
    EXPECT_EQ(thread.RelativeRemotePath(QStringLiteral("/PUB/x")), QStringLiteral("/PUB/x"));
    EXPECT_EQ(WithSingleSlashes(QStringLiteral("/a//b///c")), QStringLiteral("/a/b/c"));
}

} // namespace
