// A drag of remote rows out to other programs, by X Direct Save and by the
// placeholder, without a window system to drag on: what the drag offers and
// what a target's answer makes of it.
#include "window/local/DirectSave.h"
#include "window/local/LocalBrowserBar.h"
#include "window/local/RemoteDragOut.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace {

TEST(RemoteDragOut, DirectSaveOffersNoFileAndTakesTheFolderTheTargetNames)
{
    QTemporaryDir drop;
    CRemoteDragOut out({}, CRemoteDragOut::Way::DirectSave);
    const std::unique_ptr<QMimeData> data(out.MakeMimeData(QStringLiteral("report.pdf")));
    EXPECT_TRUE(data->formats().contains(QStringLiteral("XdndDirectSave0")));
    EXPECT_TRUE(data->hasFormat(QLatin1String(CLocalBrowserBar::kRemoteRowsMimeType)));
    // No file a program without Direct Save could take: it refuses the drop
    // and nothing is left behind.
    EXPECT_FALSE(data->hasUrls());
    EXPECT_FALSE(out.HasPlaceholder());

    EXPECT_EQ(out.AnswerDirectSave(QUrl::fromLocalFile(drop.filePath(QStringLiteral("report.pdf"))).toString()), "S");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(out.WaitForDrop(), QDir(drop.path()).absolutePath());
    EXPECT_LT(clock.elapsed(), 500); // answered already: no wait
    EXPECT_EQ(out.AnswerDirectSave(QStringLiteral("file:///elsewhere/x")), "S"); // one drop, one answer
    EXPECT_EQ(out.WaitForDrop(), QDir(drop.path()).absolutePath());
}

TEST(RemoteDragOut, AnAddressOfAnotherComputerIsNotSavedTo)
{
    CRemoteDragOut out({}, CRemoteDragOut::Way::DirectSave);
    const std::unique_ptr<QMimeData> data(out.MakeMimeData(QStringLiteral("x")));
    EXPECT_EQ(out.AnswerDirectSave(QStringLiteral("sftp://server/home/anna/x")), "F");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(out.WaitForDrop(), QString());
    EXPECT_LT(clock.elapsed(), 500);
}

TEST(RemoteDragOut, OnlyFoldersOfThisComputerCount)
{
    QTemporaryDir drop;
    const QString folder = QDir(drop.path()).absolutePath();
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("file://%1/a.txt").arg(folder)), folder);
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("file://localhost%1/a.txt").arg(folder)), folder);
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("file://%1%2/a.txt").arg(QString::fromLocal8Bit(host), folder)), folder);
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("file://other.example%1/a.txt").arg(folder)), QString());
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("file://%1/missing/a.txt").arg(folder)), QString());
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("smb://nas/share/a.txt")), QString());
    EXPECT_EQ(DirectSave::LocalFolderOf(QString()), QString());
    // A name with a space, written as a file manager writes it.
    QDir(folder).mkdir(QStringLiteral("with space"));
    EXPECT_EQ(DirectSave::LocalFolderOf(QStringLiteral("file://%1/with%20space/a.txt").arg(folder)),
              folder + QStringLiteral("/with space"));
}

TEST(RemoteDragOut, WithoutDirectSaveThePlaceholderIsOffered)
{
    // Offscreen there is no X server: the placeholder is the way.
    ASSERT_FALSE(DirectSave::IsAvailable());
    CRemoteDragOut out({});
    EXPECT_EQ(out.Using(), CRemoteDragOut::Way::Placeholder);
    const std::unique_ptr<QMimeData> data(out.MakeMimeData(QStringLiteral("x")));
    ASSERT_TRUE(data->hasUrls());
    EXPECT_TRUE(data->urls().first().toLocalFile().endsWith(QLatin1String(CRemoteDragOut::kPlaceholderName)));
    EXPECT_FALSE(data->formats().contains(QStringLiteral("XdndDirectSave0")));
}

} // namespace
