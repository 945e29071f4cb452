// The transfer commands of the window against a real server: where
// downloads go, what an upload shows at once, and closing while jobs run.
#include "app/FrameFixture.h"
#include "base/Settings.h"
#include "ftp/MessagePump.h"
#include "resources/CommandIds.h"
#include "transfer/TransferManagerBar.h"

#include <QAction>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>

namespace {

class TransferCommandsTest : public FrameFixture {
protected:
    bool UntilQueueIsEmpty(int milliseconds = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_frame->TransferManager()->JobCount() > 0 && clock.elapsed() < milliseconds)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return m_frame->TransferManager()->JobCount() == 0;
    }
    kxtest::TempDir m_downloads;
};

TEST_F(TransferCommandsTest, ADoubleClickedFileGoesToTheDefaultDownloadFolder)
{
    m_root.Write("pub/report.pdf", std::string(70000, 'r'));
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QString::fromStdString(m_downloads.path()));
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    DoubleClickRow(RowOf(QStringLiteral("report.pdf")));
    EXPECT_EQ(m_frame->TransferManager()->JobCount(), 1);
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_EQ(m_downloads.Read("report.pdf"), std::string(70000, 'r'));
    EXPECT_FALSE(Trace().filter(QStringLiteral("File(s) successfully downloaded.")).isEmpty());

    // Nothing set: the user's Downloads folder, never the working folder.
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QString());
    EXPECT_TRUE(QFileInfo(CMainFrame::DefaultDownloadFolder()).isAbsolute());
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QStringLiteral("relative"));
    EXPECT_NE(CMainFrame::DefaultDownloadFolder(), QFileInfo(QStringLiteral("relative")).absoluteFilePath());
}

TEST_F(TransferCommandsTest, UploadsShowInTheListAndTheTreeAtOnce)
{
    m_root.MakeDir("www");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/www")));
    kxtest::TempDir local;
    local.Write("page.html", "<html>");
    local.Write("sub/deeper/pic.png", "png");
    // Dropped from a file manager onto the list.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(local.Path("page.html"))),
                   QUrl::fromLocalFile(QString::fromStdString(local.Path("sub")))});
    QWidget* viewport = m_frame->ListView()->CurrentView()->viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    EXPECT_EQ(m_frame->TransferManager()->JobCount(), 1);
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_EQ(m_root.Read("www/sub/deeper/pic.png"), "png");
    // Added at the end, as they were stored; the next listing sorts them.
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("page.html"), QStringLiteral("sub")}));
    EXPECT_TRUE(m_frame->ListView()->IsFolderItem(RowOf(QStringLiteral("sub"))));
    EXPECT_EQ(Children(m_frame->TreeView()->Root()), QStringList{QStringLiteral("sub")});
    EXPECT_FALSE(Trace().filter(QStringLiteral("File(s) successfully uploaded.")).isEmpty());
}

TEST_F(TransferCommandsTest, ClosingTheWindowStopsRunningJobsAndKeepsWhatTheyWrote)
{
    m_root.Write("a.bin", std::string(1 << 20, 'a'));
    m_root.Write("b.bin", std::string(1 << 20, 'b'));
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--data-stall-after", "RETR=100000"});
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QString::fromStdString(m_downloads.path()));
    kx::WriteProfileInt(kx::settings::ForceParallelTransfers, 1);
    m_frame = std::make_unique<CMainFrame>();
    ASSERT_TRUE(Connect());
    Select({QStringLiteral("a.bin"), QStringLiteral("b.bin")});
    m_frame->Command(cmd::ID_DOWNLOAD)->trigger();
    EXPECT_EQ(m_frame->TransferManager()->JobCount(), 2);
    QElapsedTimer clock;
    clock.start();
    while ((QFileInfo(QString::fromStdString(m_downloads.Path("a.bin"))).size() < 100000
            || QFileInfo(QString::fromStdString(m_downloads.Path("b.bin"))).size() < 100000)
           && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(m_frame->TransferManager()->RunningCount(), 2);
    // The program ends as it would with no transfer: the progress windows
    // neither keep it running nor call the quitting off.
    bool stillRunning = false;
    QTimer::singleShot(0, m_frame.get(), [this] { m_frame->close(); });
    QTimer::singleShot(15000, qApp, [&] {
        stillRunning = true;
        QCoreApplication::exit(1); // leaves the loop without asking the windows
    });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(stillRunning);
    m_frame.reset();
    EXPECT_EQ(std::filesystem::file_size(m_downloads.Path("a.bin")), 100000u);
    EXPECT_EQ(std::filesystem::file_size(m_downloads.Path("b.bin")), 100000u);
}

} // namespace
