// The watch on files being edited, with stand-in editors: a program that
// rewrites the file in place, one that saves by rename, one that writes slowly.
#include "engine/edit/EditedFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void RunEditor(const QString& script, const QString& file)
{
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral("editor"), file});
}

// Events until `done` or the limit; true when done.
bool Until(const std::function<bool()>& done, int limitMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class EditedFilesTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("TMPDIR", m_temp.path().toUtf8()); }
    // A fetched copy being watched.
    int Open(const char* remote, const QByteArray& content)
    {
        const QString path = m_files.PrepareCopy(QStringLiteral("anna@127.0.0.1:21"),
                                                 RemotePath::FromServer(QString::fromLatin1(remote)));
        EXPECT_FALSE(path.isEmpty());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        return m_files.Watch(QStringLiteral("anna@127.0.0.1:21"), RemotePath::FromServer(QString::fromLatin1(remote)),
                             path, quint64(content.size()), 1000);
    }
    QTemporaryDir m_temp;
    // Half a second of stillness, against an editor that pauses a fifth of one.
    CEditedFiles m_files{nullptr, 500};
};

TEST_F(EditedFilesTest, CopiesArePrivateAndNeverShareAName)
{
    const int a = Open("/site1/index.html", "a");
    const int b = Open("/site2/index.html", "b");
    const QString pathA = m_files.File(a)->localPath;
    const QString pathB = m_files.File(b)->localPath;
    EXPECT_NE(pathA, pathB);
    EXPECT_EQ(QFileInfo(pathA).fileName(), QStringLiteral("index.html"));
    EXPECT_EQ(QFileInfo(pathA).permissions() & 0x0077, 0); // no group or other bits
    EXPECT_EQ(QFileInfo(QFileInfo(pathA).path()).permissions() & 0x0077, 0);
    EXPECT_TRUE(pathA.startsWith(CEditedFiles::Root()));
    // The same remote file twice is refused: one copy, one watch.
    QString problem;
    EXPECT_TRUE(m_files.PrepareCopy(QStringLiteral("anna@127.0.0.1:21"), RemotePath::FromServer(QStringLiteral("/site1/index.html")),
                                    &problem).isEmpty());
    EXPECT_FALSE(problem.isEmpty());

    m_files.StopWatching(a);
    EXPECT_FALSE(QFileInfo::exists(pathA));
    // A copy whose upload failed stays, to be found where the user was told.
    m_files.SetState(b, EditedFile::State::UploadFailed, QStringLiteral("no space"));
    EXPECT_EQ(m_files.PendingCount(), 1);
    m_files.StopWatching(b);
    EXPECT_TRUE(QFileInfo::exists(pathB));
}

TEST_F(EditedFilesTest, ASaveIsSeenOnlyOnceItIsCompleteWhateverWayTheEditorWrites)
{
    const int id = Open("/page.html", "old");
    const QString path = m_files.File(id)->localPath;
    QList<QByteArray> seenAtSave;
    QObject::connect(&m_files, &CEditedFiles::Saved, [&](int saved) {
        EXPECT_EQ(saved, id);
        seenAtSave << Contents(path);
    });

    RunEditor(QStringLiteral("printf 'in place' > \"$1\""), path);
    ASSERT_TRUE(Until([&] { return seenAtSave.size() == 1; }));
    EXPECT_EQ(seenAtSave.last(), "in place");
    EXPECT_EQ(m_files.File(id)->state, EditedFile::State::Saved);
    m_files.SetState(id, EditedFile::State::Watching);

    RunEditor(QStringLiteral("printf 'by rename' > \"$1.tmp\" && mv \"$1.tmp\" \"$1\""), path);
    ASSERT_TRUE(Until([&] { return seenAtSave.size() == 2; }));
    EXPECT_EQ(seenAtSave.last(), "by rename");

    // Half now, the rest a moment later: never taken half written.
    QProcess slow;
    slow.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                           QStringLiteral("printf 'first half,' > \"$1\"; sleep 0.2; printf ' second half' >> \"$1\""),
                                           QStringLiteral("editor"), path});
    ASSERT_TRUE(Until([&] { return seenAtSave.size() == 3; }));
    slow.waitForFinished();
    EXPECT_EQ(seenAtSave.last(), "first half, second half");

    // Saved again while the upload runs: seen once the upload is over.
    m_files.SetState(id, EditedFile::State::Uploading);
    RunEditor(QStringLiteral("printf 'during upload' > \"$1\""), path);
    Until([] { return false; }, 600);
    EXPECT_EQ(seenAtSave.size(), 3);
    m_files.SetState(id, EditedFile::State::Watching);
    ASSERT_TRUE(Until([&] { return seenAtSave.size() == 4; }));
    EXPECT_EQ(seenAtSave.last(), "during upload");
}

} // namespace
