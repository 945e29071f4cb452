// The transfer commands of the window against a real server: where
// downloads go, what an upload shows at once, and closing while jobs run.
#include "window/frame/FrameFixture.h"
#include "engine/base/Settings.h"
#include "engine/session/MessagePump.h"
#include "window/resources/CommandIds.h"
#include "window/local/LocalBrowserBar.h"
#include "window/local/RemoteDragOut.h"
#include "window/local/LocalFileModel.h"
#include "window/local/TempHome.h"
#include "window/options/OptionsSheet.h"
#include "window/transfers/ConfirmFileDlg.h"
#include "window/transfers/DialogTransferPort.h"
#include "window/transfers/TransferManagerBar.h"

#include <QPushButton>

#include <QAction>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeView>
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
    EXPECT_TRUE(QFileInfo(CTransferCommands::DefaultDownloadFolder()).isAbsolute());
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QStringLiteral("relative"));
    EXPECT_NE(CTransferCommands::DefaultDownloadFolder(), QFileInfo(QStringLiteral("relative")).absoluteFilePath());
}

TEST_F(TransferCommandsTest, DownloadsGoWhereTheLocalBrowserIsAndANewDefaultFolderAppliesAtOnce)
{
    TempHome home; // a fresh account: no Downloads folder yet
    m_root.Write("pub/a.txt", "alpha");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    m_frame = std::make_unique<CMainFrame>();
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    // Nothing set and no Downloads folder: home, not the working folder.
    EXPECT_EQ(CTransferCommands::DefaultDownloadFolder(), home.Home());
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), home.Home());
    const QString downloadsFolder = home.Folder(QStringLiteral("home/Downloads"));
    EXPECT_EQ(CTransferCommands::DefaultDownloadFolder(), downloadsFolder);

    // Options > Connection > Download Path, OK: the next download goes there.
    const QString chosen = home.Folder(QStringLiteral("home/chosen"));
    m_frame->Command(cmd::ID_GO_DEFAULT_DOWNLOAD_FOLDER)->trigger();
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), downloadsFolder);
    WhenModal([&](QWidget* modal) {
        auto* sheet = qobject_cast<COptionsSheet*>(modal);
        ASSERT_NE(sheet, nullptr);
        sheet->Pages()->setCurrentWidget(sheet->Connection());
        sheet->Connection()->m_localPath->setText(chosen);
        sheet->accept();
    });
    m_frame->Command(cmd::ID_OPTIONS)->trigger();
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), chosen);
    Select({QStringLiteral("a.txt")});
    m_frame->Command(cmd::ID_DOWNLOAD)->trigger();
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_TRUE(QFileInfo::exists(chosen + QStringLiteral("/a.txt")));

    // A folder the user browsed to is theirs: a new default leaves it alone.
    const QString mine = home.Folder(QStringLiteral("home/mine"));
    m_frame->LocalBrowser()->GoToPath(mine);
    kx::WriteProfileString(kx::settings::DefaultLocalPath, downloadsFolder);
    m_frame->OnOptionsConfirmed();
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), mine);
}

TEST_F(TransferCommandsTest, TheSitesDownloadFolderIsStillKnownAfterADisconnect)
{
    TempHome home;
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    CFtpSite site;
    site.name = QStringLiteral("Mirror");
    site.address = QStringLiteral("127.0.0.1");
    site.port = m_server->port();
    site.login = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    site.localPath = home.Folder(QStringLiteral("home/mirror"));
    CSiteCatalog catalog;
    catalog.Open();
    ASSERT_TRUE(catalog.SaveSite(site));
    m_frame = std::make_unique<CMainFrame>();
    m_frame->show();
    const QString sitePath = QStringLiteral("Mirror");
    ASSERT_TRUE(m_frame->Connect(&sitePath, QString(), QString()));
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), site.localPath);
    m_frame->Command(cmd::ID_DISCONNECT)->trigger();
    m_frame->Command(cmd::ID_GO_DEFAULT_DOWNLOAD_FOLDER)->trigger();
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), home.Home());
    m_frame->Command(cmd::ID_GO_SITE_DOWNLOAD_FOLDER)->trigger();
    EXPECT_EQ(m_frame->LocalBrowser()->GetCurrentFolderPath(), site.localPath);
}

TEST_F(TransferCommandsTest, UploadFolderAndTheLocalBrowsersUploadSendWholeFolders)
{
    m_root.MakeDir("www");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/www")));
    kxtest::TempDir local;
    local.Write("site/index.html", "<html>");
    local.Write("site/img/logo.png", "png");
    local.Write("loose/notes.txt", "notes");
    QList<bool> asked;
    m_frame->TransferCommands().SetUploadChooser([&](bool folder) {
        asked << folder;
        return folder ? QStringList{QString::fromStdString(local.Path("site"))} : QStringList();
    });
    m_frame->UpdateCommandUI();
    ASSERT_TRUE(m_frame->Command(cmd::ID_UPLOAD_FOLDER)->isEnabled());
    m_frame->Command(cmd::ID_UPLOAD_FOLDER)->trigger();
    m_frame->Command(cmd::ID_UPLOAD)->trigger(); // cancelled: nothing
    EXPECT_EQ(asked, (QList<bool>{true, false}));
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_EQ(m_root.Read("www/site/img/logo.png"), "png");
    EXPECT_EQ(m_root.Read("www/site/index.html"), "<html>");

    // The Local Browser's menu: what it has selected goes up.
    CLocalBrowserBar* browser = m_frame->LocalBrowser();
    browser->GoToPath(QString::fromStdString(local.Path("loose")));
    const QModelIndex notes = browser->Model()->index(QString::fromStdString(local.Path("loose/notes.txt")));
    browser->DetailsView()->selectionModel()->select(notes, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_EQ(browser->SelectedPaths(), QStringList{QString::fromStdString(local.Path("loose/notes.txt"))});
    m_frame->Command(cmd::ID_UPLOAD_LOCAL_SELECTION)->trigger();
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_EQ(m_root.Read("www/notes.txt"), "notes");
}

TEST_F(TransferCommandsTest, FilesAJobWroteAreReadAgainInTheLocalBrowser)
{
    m_frame->show();
    kxtest::TempDir local;
    local.Write("in/big.bin", "x");
    local.Write("in/sub/deep.bin", "x");
    CLocalBrowserBar* browser = m_frame->LocalBrowser();
    browser->GoToPath(QString::fromStdString(local.Path("in")));
    const QString big = QString::fromStdString(local.Path("in/big.bin"));
    QModelIndex row;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        row = browser->Model()->index(big);
        return row.isValid() && row.siblingAtColumn(1).data().toString() == QStringLiteral("1 KB");
    }));
    local.Write("in/big.bin", std::string(5 * 1024, 'b'));
    local.Write("in/sub/deep.bin", std::string(5 * 1024, 'd'));
    QSignalSpy changed(browser->Model(), &QAbstractItemModel::dataChanged);
    m_frame->TransferCommands().ShowLocalFilesWritten(
        {big, QString::fromStdString(local.Path("in/sub/deep.bin")), QString::fromStdString(m_downloads.Path("x"))});
    EXPECT_EQ(row.siblingAtColumn(1).data().toString(), QStringLiteral("5 KB"));
    ASSERT_EQ(changed.size(), 2); // the file, and the folder the deeper one went into
    EXPECT_EQ(browser->Model()->filePath(changed[1].at(0).value<QModelIndex>()), QString::fromStdString(local.Path("in/sub")));
}

TEST_F(TransferCommandsTest, WhileAWorkerAsksAboutAFileTheSessionsCommandsWait)
{
    m_root.Write("pub/same.txt", "remote");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    m_downloads.Write("same.txt", "a local file longer than the remote one");
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QString::fromStdString(m_downloads.path()));
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    Select({QStringLiteral("same.txt")});
    m_frame->Command(cmd::ID_DOWNLOAD)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([] { return COpenTransferQuestions::Instance().Count() == 1; }, 20000));
    // The question leaves the window free to use, but not its session.
    for (const int id : {cmd::ID_CUSTOM_COMMAND, cmd::ID_REFRESH, cmd::ID_DISCONNECT, cmd::ID_CONNECT, cmd::ID_DELETE,
                         cmd::ID_GO_TO_FOLDER, cmd::ID_UPLOAD, cmd::ID_DOWNLOAD})
        EXPECT_FALSE(m_frame->Command(id)->isEnabled()) << id;
    EXPECT_FALSE(m_frame->Command(cmd::ID_CANCEL)->isEnabled()); // the session runs nothing to cancel
    CConfirmFileDlg* question = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<CConfirmFileDlg*>(top); dialog && dialog->isVisible())
            question = dialog;
    }
    ASSERT_NE(question, nullptr);
    question->Button(kAnswerNo)->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return COpenTransferQuestions::Instance().Count() == 0; }));
    EXPECT_TRUE(m_frame->Command(cmd::ID_CUSTOM_COMMAND)->isEnabled());
    EXPECT_TRUE(m_frame->Command(cmd::ID_REFRESH)->isEnabled());
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_EQ(m_downloads.Read("same.txt"), "a local file longer than the remote one");
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
    // Several connections announce what they stored in the order they finish.
    QStringList rows = Rows();
    rows.sort();
    EXPECT_EQ(rows, (QStringList{QStringLiteral("page.html"), QStringLiteral("sub")}));
    EXPECT_TRUE(m_frame->ListView()->IsFolderItem(RowOf(QStringLiteral("sub"))));
    EXPECT_EQ(Children(NodeAt(QStringLiteral("/www"))), QStringList{QStringLiteral("sub")});
    EXPECT_FALSE(Trace().filter(QStringLiteral("File(s) successfully uploaded.")).isEmpty());
}

TEST_F(TransferCommandsTest, RowsDraggedOutArriveWhereTheyWereDropped)
{
    m_root.Write("pub/a.bin", std::string(300000, 'a'));
    m_root.Write("pub/dir/b.txt", "bee");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    kxtest::TempDir elsewhere, browsed;
    const QString elsewherePath = QString::fromStdString(elsewhere.path());
    m_frame->LocalBrowser()->GoToPath(elsewherePath);
    Select({QStringLiteral("a.bin"), QStringLiteral("dir")});

    // Another program's folder: it copies the placeholder, which is taken
    // away again, and the rows chosen when the drag began come down there.
    QByteArray offered;
    m_frame->TransferCommands().SetDragRunner([&](QMimeData* data) {
        EXPECT_TRUE(data->hasFormat(QLatin1String(CLocalBrowserBar::kRemoteRowsMimeType)));
        EXPECT_FALSE(m_frame->ListView()->AcceptsFiles()); // the list never takes its own rows
        const QString placeholder = data->urls().value(0).toLocalFile();
        QFile file(placeholder);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        offered = file.readAll();
        Select({QStringLiteral("a.bin")}); // later changes do not count
        EXPECT_TRUE(QFile::copy(placeholder, elsewherePath + QStringLiteral("/deleteme.!!!")));
        return Qt::CopyAction;
    });
    m_frame->TransferCommands().DragSelectionOut();
    EXPECT_EQ(offered.size(), 66);
    EXPECT_EQ(offered, CRemoteDragOut::PlaceholderContent());
    EXPECT_TRUE(offered.startsWith("This file is created by Kestrix. You can safely remove this file."));
    EXPECT_EQ(m_frame->TransferManager()->JobCount(), 1);
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_FALSE(QFileInfo::exists(elsewherePath + QStringLiteral("/deleteme.!!!")));
    EXPECT_EQ(elsewhere.Read("a.bin"), std::string(300000, 'a'));
    EXPECT_EQ(elsewhere.Read("dir/b.txt"), "bee");
    EXPECT_TRUE(m_frame->ListView()->AcceptsFiles());

    // Onto the Local Browser: straight into the folder under the cursor,
    // with no wait for a placeholder.
    Select({QStringLiteral("a.bin")});
    const QString browsedPath = QString::fromStdString(browsed.path());
    m_frame->TransferCommands().SetDragRunner([&](QMimeData*) {
        emit m_frame->LocalBrowser()->RemoteRowsDropped(browsedPath);
        return Qt::CopyAction;
    });
    QElapsedTimer clock;
    clock.start();
    m_frame->TransferCommands().DragSelectionOut();
    EXPECT_LT(clock.elapsed(), CRemoteDragOut::kDropWaitMs);
    ASSERT_TRUE(UntilQueueIsEmpty());
    EXPECT_EQ(browsed.Read("a.bin"), std::string(300000, 'a'));

    // Escape or a refused drop: nothing is queued, and a file of that name
    // that is not our placeholder stays where it is.
    elsewhere.Write("deleteme.!!!", "mine");
    m_frame->TransferCommands().SetDragRunner([](QMimeData*) { return Qt::IgnoreAction; });
    m_frame->TransferCommands().DragSelectionOut();
    m_frame->TransferCommands().SetDragRunner([](QMimeData*) { return Qt::CopyAction; });
    m_frame->TransferCommands().DragSelectionOut();
    EXPECT_EQ(m_frame->TransferManager()->JobCount(), 0);
    EXPECT_EQ(elsewhere.Read("deleteme.!!!"), "mine");
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
    // The program asks, then ends as it would with no transfer: the
    // progress windows neither keep it running nor call the quitting off.
    bool stillRunning = false;
    QString asked;
    WhenModal([&](QWidget* modal) {
        asked = modal->objectName();
        if (auto* keep = modal->findChild<QPushButton*>(QStringLiteral("stopAndKeep")))
            keep->click();
    });
    QTimer::singleShot(0, m_frame.get(), [this] { m_frame->close(); });
    QTimer::singleShot(15000, qApp, [&] {
        stillRunning = true;
        QCoreApplication::exit(1); // leaves the loop without asking the windows
    });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(stillRunning);
    EXPECT_EQ(asked, QStringLiteral("exitWithTransfers"));
    m_frame.reset();
    EXPECT_EQ(std::filesystem::file_size(m_downloads.Path("a.bin")), 100000u);
    EXPECT_EQ(std::filesystem::file_size(m_downloads.Path("b.bin")), 100000u);
}

} // namespace
