#include "window/frame/FtpVornicApp.h"
#include "window/chrome/CustomizableToolBar.h"
#include "window/frame/ConnectCommands.h"
#include "window/frame/MainFrame.h"
#include "engine/transfer/TransferQueue.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/frame/TracePane.h"
#include "window/local/LocalBrowserBar.h"
#include "window/frame/FreshProgramState.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/session/MessagePump.h"
#include "engine/base/WindowMessages.h"
#include "window/resources/CommandIds.h"
#include "support/Printers.h"
#include "support/ServerProcess.h"
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"
#include "window/views/QuickConnectBar.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QApplication>
#include <QDockWidget>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using namespace kx;

class SilentPrompts : public IPrompts {
public:
    void Message(QWidget*, const QString& text, Icon) override { messages << text; }
    Answer AskYesNo(QWidget*, const QString&, const QString&) override { return Yes; }
    bool RetryCountdown(QWidget*, int, const QString&) override { return false; }
    QStringList messages;
};

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPrompts(&m_prompts);
    }
    void TearDown() override
    {
        SetPrompts(nullptr);
    }

    std::unique_ptr<kxtest::ServerProcess> StartServer()
    {
        m_root.MakeDir("pub");
        m_root.Write("readme.txt", "hello");
        return kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    }

    QStringList TraceTexts(CMainFrame& frame)
    {
        QStringList texts;
        for (int i = 0; i < frame.TracePane()->count(); ++i)
            texts << frame.TracePane()->item(i)->text();
        return texts;
    }

    FreshProgramState m_state{false}; // a real first start
    kxtest::TempDir m_root;
    SilentPrompts m_prompts;
};

TEST_F(MainFrameTest, FirstStartShowsTheDefaultsAndAsksForASite)
{
    CMainFrame frame;
    int chooserCalls = 0;
    frame.ConnectCommands().SetSiteChooser([&](CFtpSite&, QString&) {
        ++chooserCalls;
        return false;
    });
    frame.show();
    PumpMessages();
    EXPECT_EQ(chooserCalls, 1); // the Connect command posted at start-up
    EXPECT_FALSE(frame.TraceDock()->isHidden());
    EXPECT_TRUE(frame.TransferManagerDock()->isHidden());
    EXPECT_TRUE(frame.LocalBrowserDock()->isHidden());
    EXPECT_TRUE(frame.QuickConnectDock()->isHidden());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Not Connected - Kestrix"));
    EXPECT_TRUE(frame.Command(cmd::ID_VIEW_LARGEICON)->isChecked());
    EXPECT_TRUE(frame.Command(cmd::ID_SORT_NAME)->isChecked());
    EXPECT_TRUE(frame.Command(cmd::ID_TRANSFER_BINARY)->isChecked());
    EXPECT_TRUE(frame.Command(cmd::ID_VIEW_TRACE)->isChecked());
    EXPECT_FALSE(frame.Command(cmd::ID_VIEW_LOCAL_BROWSER)->isChecked());
    EXPECT_TRUE(frame.Command(cmd::ID_CONNECT)->isEnabled());
    EXPECT_FALSE(frame.Command(cmd::ID_DISCONNECT)->isEnabled());
    EXPECT_FALSE(frame.Command(cmd::ID_CANCEL)->isEnabled());
    EXPECT_FALSE(frame.Command(cmd::ID_REFRESH)->isEnabled());
    EXPECT_EQ(frame.Command(cmd::ID_CONNECT)->text(), QStringLiteral("&Connect...\tCtrl+C"));
    EXPECT_TRUE(m_prompts.messages.isEmpty());

    // By itself the frame picks sites with the Site Manager.
    QString opened;
    QTimer::singleShot(200, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened = modal->windowTitle();
            modal->close();
        }
    });
    CMainFrame picking;
    picking.show();
    PumpMessages();
    QTest::qWait(400);
    EXPECT_EQ(opened, QStringLiteral("Site Manager"));
    EXPECT_EQ(picking.windowTitle(), QStringLiteral("Not Connected - Kestrix"));

    WriteProfileInt(settings::ShowConnectionDlg, 0);
    CMainFrame quiet;
    chooserCalls = 0;
    quiet.ConnectCommands().SetSiteChooser([&](CFtpSite&, QString&) {
        ++chooserCalls;
        return false;
    });
    PumpMessages();
    EXPECT_EQ(chooserCalls, 0);
}

TEST_F(MainFrameTest, PlacementComesBackAndStaysOnASmallerScreen)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    {
        CMainFrame frame;
        EXPECT_EQ(frame.RestorePlacement(), Qt::WindowNoState);
        frame.setGeometry(40, 50, 640, 480);
        frame.show();
        frame.close();
    }
    EXPECT_EQ(GetProfileInt(settings::FrameStatus), 1);
    {
        CMainFrame frame;
        frame.RestorePlacement();
        EXPECT_EQ(frame.geometry().size(), QSize(640, 480));
        EXPECT_EQ(frame.geometry().topLeft(), QPoint(40, 50));
    }
    // Saved on a screen far larger than this one.
    WriteProfileInt(settings::FrameLeft, screen.width() + 2000);
    WriteProfileInt(settings::FrameTop, screen.height() + 1000);
    WriteProfileInt(settings::FrameRight, screen.width() + 2600);
    WriteProfileInt(settings::FrameBottom, screen.height() + 1400);
    WriteProfileInt(settings::FrameStatus, 3);
    CMainFrame frame;
    EXPECT_EQ(frame.RestorePlacement(), Qt::WindowMaximized);
    EXPECT_LE(frame.geometry().left(), screen.width() - 32);
    EXPECT_LE(frame.geometry().top(), screen.height() - 32);
}

TEST_F(MainFrameTest, BarsAndViewSettingsPersist)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    {
        CMainFrame frame;
        frame.show();
        frame.Command(cmd::ID_VIEW_LOCAL_BROWSER)->trigger();
        frame.Command(cmd::ID_VIEW_TRACE)->trigger();
        frame.Command(cmd::ID_VIEW_DETAILS)->trigger();
        frame.Command(cmd::ID_SORT_DATE)->trigger();
        frame.Command(cmd::ID_TRANSFER_ASCII)->trigger();
        EXPECT_EQ(GetProfileInt(settings::ViewStyle), cmd::ID_VIEW_DETAILS); // written at once
        EXPECT_EQ(GetProfileInt(settings::TransferType), 1);
        frame.close();
    }
    EXPECT_EQ(GetProfileInt(settings::SortColumn), 3);
    CMainFrame frame;
    frame.show();
    EXPECT_FALSE(frame.LocalBrowserDock()->isHidden());
    EXPECT_TRUE(frame.TraceDock()->isHidden());
    EXPECT_TRUE(frame.Command(cmd::ID_VIEW_DETAILS)->isChecked());
    EXPECT_TRUE(frame.Command(cmd::ID_SORT_DATE)->isChecked());
    EXPECT_TRUE(frame.Command(cmd::ID_TRANSFER_ASCII)->isChecked());
}

TEST_F(MainFrameTest, ConnectAndDisconnectChangeTitleViewsAndCommands)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    WriteProfileInt(settings::HideStatusCallbackInfo, 1);
    auto server = StartServer();
    CMainFrame frame;
    frame.show();
    CQuickConnectBar* bar = frame.QuickConnectBar();
    bar->HostField()->setText(QStringLiteral("  127.0.0.1:%1 ").arg(server->port()));
    bar->findChild<QLineEdit*>(QStringLiteral("user"))->setText(QStringLiteral("anna"));
    bar->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("secret"));
    emit bar->ConnectRequested();

    ASSERT_TRUE(frame.Session().HasConnection());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("127.0.0.1:%1 - Kestrix").arg(server->port()));
    EXPECT_EQ(frame.ListView()->RowCount(), 2);
    EXPECT_EQ(frame.TreeView()->Root()->text(0), QStringLiteral("/"));
    EXPECT_TRUE(frame.Command(cmd::ID_DISCONNECT)->isEnabled());
    EXPECT_TRUE(frame.Command(cmd::ID_REFRESH)->isEnabled());
    frame.ListView()->SelectAll();
    frame.ListView()->InvertSelection();
    EXPECT_FALSE(frame.Command(cmd::ID_DELETE)->isEnabled()); // nothing selected
    frame.ListView()->SelectItem(0);
    EXPECT_TRUE(frame.Command(cmd::ID_DELETE)->isEnabled());
    EXPECT_FALSE(TraceTexts(frame).filter(QStringLiteral("] Successfully connected to: 127.0.0.1.")).isEmpty());
    EXPECT_TRUE(TraceTexts(frame).last().endsWith(QStringLiteral("Listing of \"/\" successfully received.")));

    frame.Command(cmd::ID_DISCONNECT)->trigger();
    EXPECT_FALSE(frame.Session().HasConnection());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Not Connected - Kestrix"));
    EXPECT_EQ(frame.DocumentTitle(), QStringLiteral("Not Connected"));
    EXPECT_FALSE(frame.Command(cmd::ID_DISCONNECT)->isEnabled());
    EXPECT_TRUE(TraceTexts(frame).last().endsWith(QStringLiteral("Internet session closed.")));
}

TEST_F(MainFrameTest, CatalogueSiteFromTheCommandLineNamesTheWindow)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    auto server = StartServer();
    CSiteCatalog catalog;
    catalog.Open();
    ASSERT_TRUE(catalog.Write());
    CFtpSite site;
    site.name = QStringLiteral("Demo");
    site.address = QStringLiteral("127.0.0.1");
    site.port = server->port();
    site.login = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    ASSERT_TRUE(catalog.SaveSite(site));

    CFtpVornicApp app;
    ASSERT_TRUE(app.InitInstance({QStringLiteral("Somewhere\\Else\\Demo")})); // only the last part counts
    EXPECT_TRUE(app.MainFrame()->Session().HasConnection());
    EXPECT_EQ(app.MainFrame()->windowTitle(), QStringLiteral("Demo - Kestrix"));
    EXPECT_EQ(app.MainFrame()->DocumentTitle(), QStringLiteral("Demo"));
}

TEST_F(MainFrameTest, ASiteOnTheCommandLineIsConnectedWithoutTheStartupSiteManager)
{
    ASSERT_EQ(GetProfileInt(settings::ShowConnectionDlg), 1); // a first start offers the Site Manager
    WriteProfileInt(settings::HideStatusCallbackInfo, 1);
    auto server = StartServer();
    kxtest::TempDir downloads;
    CSiteCatalog catalog;
    catalog.Open();
    CFtpSite site;
    site.name = QStringLiteral("Demo");
    site.address = QStringLiteral("127.0.0.1");
    site.port = server->port();
    site.login = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    site.localPath = QString::fromStdString(downloads.path());
    ASSERT_TRUE(catalog.SaveSite(site));

    QStringList opened;
    QTimer watch;
    watch.callOnTimeout([&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened << modal->windowTitle();
            modal->close();
        }
    });
    watch.start(20);
    CFtpVornicApp app;
    ASSERT_TRUE(app.InitInstance({QStringLiteral("Demo")}));
    PumpMessages();
    QTest::qWait(300);
    EXPECT_EQ(opened, QStringList());
    CMainFrame& frame = *app.MainFrame();
    EXPECT_TRUE(frame.Session().HasConnection());
    EXPECT_TRUE(TraceTexts(frame).filter(QStringLiteral("Another operation is running")).isEmpty());
    frame.UpdateCommandUI();
    EXPECT_TRUE(frame.Command(cmd::ID_STORE_SITE_LOCAL_PATH)->isEnabled());
    EXPECT_EQ(frame.LocalBrowser()->GetCurrentFolderPath(), site.localPath);
}

TEST_F(MainFrameTest, CommandStatesWhileAConnectAttemptWaits)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    kxtest::TempDir root;
    auto silent = kxtest::StartScriptedFtpd(root.path(), {"--stall", "GREETING"});
    CMainFrame frame;
    frame.show();
    bool connectEnabled = true;
    bool cancelEnabled = false;
    QTimer::singleShot(300, [&] {
        connectEnabled = frame.Command(cmd::ID_CONNECT)->isEnabled();
        cancelEnabled = frame.Command(cmd::ID_CANCEL)->isEnabled();
        frame.Command(cmd::ID_CANCEL)->trigger();
    });
    const QString address = QStringLiteral("127.0.0.1:%1").arg(silent->port());
    EXPECT_FALSE(frame.Connect(&address, QString(), QString()));
    EXPECT_FALSE(connectEnabled);
    EXPECT_TRUE(cancelEnabled);
    EXPECT_TRUE(frame.Command(cmd::ID_CONNECT)->isEnabled());
    EXPECT_FALSE(frame.Command(cmd::ID_CANCEL)->isEnabled());
}

TEST_F(MainFrameTest, LinesOfTheTransfersReachTheTraceAsTheyAre)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    CMainFrame frame;
    emit frame.TransferQueue().StatusLine(QStringLiteral("[1] 100% status"));
    emit frame.TransferQueue().TraceLine(TRACE_ERROR, QStringLiteral("[2] 50% failed"));
    emit frame.TransferQueue().TraceLine(TRACE_SUCCESS, QStringLiteral("[3] done"));
    PumpMessages();
    CTracePane* pane = frame.TracePane();
    ASSERT_EQ(pane->count(), 3);
    EXPECT_EQ(pane->item(0)->text(), QStringLiteral("[1] 100% status"));
    EXPECT_EQ(pane->item(1)->text(), QStringLiteral("[2] 50% failed"));
    EXPECT_EQ(pane->item(1)->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(pane->item(2)->foreground().color(), QColor(0, 130, 0));
}

} // namespace

namespace {

TEST_F(MainFrameTest, MenusAreTidyAndTheViewsHaveNames)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    CMainFrame frame;
    QMenu* file = nullptr;
    QMenu* favorites = nullptr;
    for (QAction* top : frame.menuBar()->actions()) {
        if (top->text() == QStringLiteral("&File"))
            file = top->menu();
        if (top->text() == QStringLiteral("F&avorites"))
            favorites = top->menu();
    }
    ASSERT_TRUE(file && favorites);
    // One item per mnemonic letter.
    QStringList letters;
    for (QAction* item : file->actions()) {
        const qsizetype amp = item->text().indexOf(QLatin1Char('&'));
        if (item->isSeparator() || amp < 0)
            continue;
        EXPECT_EQ(item->text().count(QLatin1Char('&')), 1) << item->text().toStdString();
        const QString letter = item->text().mid(amp + 1, 1).toLower();
        EXPECT_FALSE(letters.contains(letter)) << item->text().toStdString();
        letters << letter;
    }
    QList<QAction*> shown;
    for (QAction* item : favorites->actions()) {
        if (item->isVisible())
            shown << item;
    }
    EXPECT_FALSE(shown.last()->isSeparator()); // none before an empty list of favorites
    // Ascii and Binary are one choice.
    QAction* ascii = frame.Command(cmd::ID_TRANSFER_ASCII);
    ASSERT_NE(ascii->actionGroup(), nullptr);
    EXPECT_TRUE(ascii->actionGroup()->isExclusive());
    EXPECT_EQ(ascii->actionGroup(), frame.Command(cmd::ID_TRANSFER_BINARY)->actionGroup());
    // Screen readers and scripts find the panes by name.
    EXPECT_EQ(frame.TreeView()->accessibleName(), QStringLiteral("Remote folders"));
    EXPECT_EQ(frame.ListView()->CurrentView()->accessibleName(), QStringLiteral("Remote files"));
    EXPECT_EQ(frame.TracePane()->accessibleName(), QStringLiteral("Trace"));
    EXPECT_FALSE(frame.Command(cmd::ID_UP_ONE_LEVEL)->isEnabled());
}

} // namespace

namespace {

TEST_F(MainFrameTest, ToolbarLayoutSwitchesAndPaneSizesSurviveARestart)
{
    WriteProfileInt(settings::ShowConnectionDlg, 0);
    QList<int> layout;
    int traceHeight = 0;
    {
        CMainFrame frame;
        frame.resize(900, 700);
        frame.show();
        PumpMessages();
        CCustomizableToolBar* bar = frame.ToolBar();
        EXPECT_EQ(bar->Buttons(), bar->LoadedButtons());
        CCustomizeToolbarDlg customize(*bar);
        const auto pick = [&](QListWidget* list, const QString& text) {
            const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
            ASSERT_FALSE(found.isEmpty()) << text.toStdString();
            list->setCurrentItem(found.first());
        };
        pick(customize.Current(), QStringLiteral("Disconnect"));
        customize.Remove();
        pick(customize.Current(), QStringLiteral("Refresh"));
        customize.MoveUp();
        customize.MoveUp();
        EXPECT_FALSE(bar->Buttons().contains(cmd::ID_DISCONNECT)); // at once
        EXPECT_FALSE(customize.Available()->findItems(QStringLiteral("Disconnect"), Qt::MatchExactly).isEmpty());
        bar->SetTextLabels(false);
        bar->SetLargeIcons(false);
        layout = bar->Buttons();
        frame.resizeDocks({frame.TraceDock()}, {150}, Qt::Vertical);
        PumpMessages();
        traceHeight = frame.TraceDock()->height();
        frame.close();
    }
    EXPECT_EQ(GetProfileInt(QStringLiteral("Trace"), QStringLiteral("SizeHorzCY"), 0), traceHeight);

    CMainFrame frame;
    frame.resize(900, 700);
    frame.show();
    PumpMessages();
    CCustomizableToolBar* bar = frame.ToolBar();
    EXPECT_EQ(bar->Buttons(), layout);
    EXPECT_FALSE(bar->TextLabels());
    EXPECT_EQ(bar->iconSize(), QSize(16, 16));
    EXPECT_EQ(frame.TraceDock()->height(), traceHeight);

    std::unique_ptr<QMenu> menu(bar->CreateContextMenu(nullptr));
    QStringList entries;
    for (QAction* entry : menu->actions())
        entries << entry->text();
    EXPECT_EQ(entries, (QStringList{QStringLiteral("Customize..."), QString(), QStringLiteral("Show text labels"),
                                    QStringLiteral("Large Icons"), QString(), QStringLiteral("Reset")}));
    menu->actions().last()->trigger();
    EXPECT_EQ(bar->Buttons(), bar->LoadedButtons());
    EXPECT_TRUE(bar->TextLabels());
    EXPECT_EQ(bar->iconSize(), QSize(24, 24));
}

} // namespace
