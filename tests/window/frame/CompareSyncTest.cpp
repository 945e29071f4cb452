// Comparing, filtering, browsing in step and synchronising the two panes of
// the window against a real server.
#include "window/frame/FrameFixture.h"
#include "engine/base/Settings.h"
#include "engine/session/FtpSession.h"
#include "window/frame/CompareCommands.h"
#include "window/frame/SyncCommands.h"
#include "window/local/LocalBrowserBar.h"
#include "window/local/LocalFileModel.h"
#include "window/resources/CommandIds.h"
#include "window/sync/CompareLegend.h"
#include "window/sync/FilterDlg.h"
#include "window/sync/SearchDlg.h"
#include "window/sync/SyncPreviewDlg.h"
#include "window/transfers/TransferManagerBar.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>
#include <QTreeWidget>

#include <sys/stat.h>
#include <utime.h>

namespace {

constexpr qint64 kNoon = 1767268800; // 2026-01-01 12:00:00 UTC

void SetTime(const std::string& path, qint64 seconds)
{
    const struct utimbuf times{static_cast<time_t>(seconds), static_cast<time_t>(seconds)};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

bool Until(const std::function<bool()>& done, int milliseconds = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class CompareSyncTest : public FrameFixture {
protected:
    QString LocalPath(const std::string& rel = "") const
    {
        return QDir::cleanPath(QString::fromStdString(m_local.Path(rel.empty() ? "." : rel)));
    }
    CLocalBrowserBar& Local() const { return *m_frame->LocalBrowser(); }
    // The Local Browser in `folder`, its rows read from the disk.
    void BrowseLocal(const QString& folder, int rows)
    {
        ASSERT_TRUE(Local().BrowseTo(folder, true));
        CLocalFileModel* model = Local().Model();
        ASSERT_TRUE(Until([&] { return model->rowCount(model->index(folder)) == rows; }))
            << folder.toStdString() << " " << model->rowCount(model->index(folder));
    }
    QVariant RemoteBackground(const QString& name) const
    {
        const int row = RowOf(name);
        return row < 0 ? QVariant(QStringLiteral("(no row)"))
                       : m_frame->ListView()->Model()->data(m_frame->ListView()->Model()->index(row, 0), Qt::BackgroundRole);
    }
    QVariant LocalBackground(const QString& name) const
    {
        CLocalFileModel* model = Local().Model();
        return model->data(model->index(Local().GetCurrentFolderPath() + QLatin1Char('/') + name), Qt::BackgroundRole);
    }
    bool LocalHidden(const QString& name) const
    {
        const QModelIndex index = Local().Model()->index(Local().GetCurrentFolderPath() + QLatin1Char('/') + name);
        return Local().DetailsView()->isRowHidden(index.row(), index.parent());
    }
    Difference DifferenceOf(const QString& name) const
    {
        const ComparedRow* row = m_frame->CompareCommands().RowOf(name);
        return row ? row->difference : Difference::Same;
    }

    kxtest::TempDir m_local;
};

TEST_F(CompareSyncTest, CompareMarksEveryCaseInBothPanesAndHidesIdenticalRowsOnRequest)
{
    SetTime(m_root.Write("pub/same.txt", "same"), kNoon);
    SetTime(m_root.Write("pub/newer-there.txt", "abc"), kNoon + 3600);
    SetTime(m_root.Write("pub/resized.txt", "longer text"), kNoon);
    SetTime(m_root.Write("pub/only-there.txt", "x"), kNoon);
    SetTime(m_local.Write("same.txt", "same"), kNoon);
    SetTime(m_local.Write("newer-there.txt", "abc"), kNoon);
    SetTime(m_local.Write("resized.txt", "short"), kNoon);
    SetTime(m_local.Write("only-here.txt", "y"), kNoon);
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    BrowseLocal(LocalPath(), 4);

    m_frame->Command(cmd::ID_COMPARE_BY_SIZE_AND_TIME)->trigger();
    m_frame->Command(cmd::ID_COMPARE_FOLDERS)->trigger();
    CCompareCommands& compare = m_frame->CompareCommands();
    ASSERT_TRUE(compare.IsComparing());
    EXPECT_EQ(DifferenceOf(QStringLiteral("same.txt")), Difference::Same);
    EXPECT_EQ(DifferenceOf(QStringLiteral("newer-there.txt")), Difference::RemoteNewer);
    EXPECT_EQ(DifferenceOf(QStringLiteral("resized.txt")), Difference::SizeDiffers);
    EXPECT_EQ(DifferenceOf(QStringLiteral("only-there.txt")), Difference::OnlyRemote);
    EXPECT_EQ(DifferenceOf(QStringLiteral("only-here.txt")), Difference::OnlyLocal);

    // Each pane in its own colours; identical rows plain.
    EXPECT_FALSE(RemoteBackground(QStringLiteral("same.txt")).isValid());
    EXPECT_FALSE(LocalBackground(QStringLiteral("same.txt")).isValid());
    EXPECT_EQ(RemoteBackground(QStringLiteral("newer-there.txt")), QVariant(MarkColour(CompareMark::NewerHere)));
    EXPECT_EQ(LocalBackground(QStringLiteral("newer-there.txt")), QVariant(MarkColour(CompareMark::OlderHere)));
    EXPECT_EQ(RemoteBackground(QStringLiteral("resized.txt")), QVariant(MarkColour(CompareMark::OtherSize)));
    EXPECT_EQ(LocalBackground(QStringLiteral("resized.txt")), QVariant(MarkColour(CompareMark::OtherSize)));
    EXPECT_EQ(RemoteBackground(QStringLiteral("only-there.txt")), QVariant(MarkColour(CompareMark::OnlyHere)));
    EXPECT_EQ(LocalBackground(QStringLiteral("only-here.txt")), QVariant(MarkColour(CompareMark::OnlyHere)));
    EXPECT_TRUE(compare.Legend()->isVisible());
    EXPECT_FALSE(compare.Legend()->Text().isEmpty());

    // By size alone the newer file is the same; the choice is kept.
    m_frame->Command(cmd::ID_COMPARE_BY_SIZE)->trigger();
    EXPECT_EQ(DifferenceOf(QStringLiteral("newer-there.txt")), Difference::Same);
    EXPECT_EQ(kx::GetProfileInt(kx::settings::CompareMode), 0);
    m_frame->Command(cmd::ID_COMPARE_BY_SIZE_AND_TIME)->trigger();
    EXPECT_EQ(DifferenceOf(QStringLiteral("newer-there.txt")), Difference::RemoteNewer);

    // Hide Identical: the identical row leaves both panes, and each says so.
    m_frame->Command(cmd::ID_HIDE_IDENTICAL)->trigger();
    EXPECT_EQ(RowOf(QStringLiteral("same.txt")), -1);
    EXPECT_GE(RowOf(QStringLiteral("resized.txt")), 0);
    EXPECT_TRUE(LocalHidden(QStringLiteral("same.txt")));
    EXPECT_FALSE(LocalHidden(QStringLiteral("resized.txt")));
    EXPECT_EQ(m_frame->ListView()->Note(), QStringLiteral("1 identical item is hidden."));
    EXPECT_EQ(Local().Note(), QStringLiteral("1 identical item is hidden."));

    // Comparing off: every row back, no marks.
    m_frame->Command(cmd::ID_COMPARE_FOLDERS)->trigger();
    EXPECT_FALSE(compare.IsComparing());
    EXPECT_GE(RowOf(QStringLiteral("same.txt")), 0);
    EXPECT_FALSE(LocalHidden(QStringLiteral("same.txt")));
    EXPECT_FALSE(RemoteBackground(QStringLiteral("resized.txt")).isValid());
    EXPECT_TRUE(m_frame->ListView()->Note().isEmpty());

    // Disconnected, a comparison has nothing to tell: no legend saying the folders are the same.
    m_frame->Command(cmd::ID_COMPARE_FOLDERS)->trigger();
    EXPECT_TRUE(compare.Legend()->isVisible());
    m_frame->Command(cmd::ID_DISCONNECT)->trigger();
    EXPECT_TRUE(Until([&] { return !compare.Legend()->isVisible(); }, 5000));
}

TEST_F(CompareSyncTest, ListTimesWithoutAZoneAreComparedWithTheirSlackAndTheLegendSaysSo)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    SetTime(m_root.Write("pub/close.txt", "same"), now - 3600);
    SetTime(m_root.Write("pub/old.txt", "same"), now - 3 * 86400);
    SetTime(m_local.Write("close.txt", "same"), now - 3600);
    SetTime(m_local.Write("old.txt", "same"), now - 3600);
    // No MLST among the features: LIST, with its zoneless times to the minute.
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE"});
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    BrowseLocal(LocalPath(), 2);
    m_frame->Command(cmd::ID_COMPARE_BY_SIZE_AND_TIME)->trigger();
    m_frame->Command(cmd::ID_COMPARE_FOLDERS)->trigger();

    const ComparedRow* close = m_frame->CompareCommands().RowOf(QStringLiteral("close.txt"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->difference, Difference::Same);
    EXPECT_TRUE(close->approximate);
    // Days apart is beyond any zone: newer, whatever the server's clock.
    EXPECT_EQ(DifferenceOf(QStringLiteral("old.txt")), Difference::LocalNewer);
    EXPECT_TRUE(m_frame->CompareCommands().Legend()->Text().contains(
        QStringLiteral("1 file compared by size only: the server's times are not exact.")))
        << m_frame->CompareCommands().Legend()->Text().toStdString();
    const QVariant tip = m_frame->ListView()->Model()->data(
        m_frame->ListView()->Model()->index(RowOf(QStringLiteral("close.txt")), 0), Qt::ToolTipRole);
    EXPECT_TRUE(tip.toString().contains(QStringLiteral("not exact"))) << tip.toString().toStdString();
}

TEST_F(CompareSyncTest, WhereTheServerOffersMdtmTheComparisonAsksItForExactTimesOnce)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    SetTime(m_root.Write("pub/edited.txt", "same"), now - 1800);
    SetTime(m_local.Write("edited.txt", "same"), now - 60);
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE", "--feat", "MDTM"});
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    BrowseLocal(LocalPath(), 1);
    m_frame->Command(cmd::ID_COMPARE_BY_SIZE_AND_TIME)->trigger();
    const int from = TraceCount();
    m_frame->Command(cmd::ID_COMPARE_FOLDERS)->trigger();

    // Half an hour is within what a zoneless LIST time leaves open; MDTM's is exact.
    const ComparedRow* edited = m_frame->CompareCommands().RowOf(QStringLiteral("edited.txt"));
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(edited->difference, Difference::LocalNewer);
    EXPECT_FALSE(edited->approximate);
    EXPECT_FALSE(m_frame->CompareCommands().Legend()->Text().contains(QStringLiteral("compared by size only")));
    m_frame->CompareCommands().Refresh();
    EXPECT_EQ(Conversation(from).filter(QStringLiteral("MDTM /pub/edited.txt")).size(), 1)
        << Conversation(from).join(QLatin1Char('\n')).toStdString();
}

TEST_F(CompareSyncTest, FiltersHideRowsInBothPanesSayingSoAndGoToTheQueue)
{
    m_root.Write("pub/index.html", "index");
    m_root.Write("pub/index.html~", "backup");
    m_local.Write("index.html", "index");
    m_local.Write("Thumbs.db", "thumbs");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    BrowseLocal(LocalPath(), 2);
    // The shipped rules are there, switched off: nothing hidden.
    EXPECT_GE(RowOf(QStringLiteral("index.html~")), 0);
    EXPECT_TRUE(m_frame->ListView()->Note().isEmpty());

    // Through the dialog: the rule for backup files ("*~") hides the backup at once, and is kept.
    WhenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<CFilterDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        QListWidget* list = dialog->RuleList();
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->text() == QLatin1String("Backup files"))
                list->item(i)->setCheckState(Qt::Checked);
        }
        dialog->accept();
    });
    m_frame->Command(cmd::ID_FILENAME_FILTERS)->trigger();
    EXPECT_EQ(RowOf(QStringLiteral("index.html~")), -1);
    EXPECT_FALSE(LocalHidden(QStringLiteral("Thumbs.db")));
    EXPECT_TRUE(CFileFilter::Load().Hides(QStringLiteral("index.html~"), false, 6));

    QList<FilterRule> rules = CFileFilter::ShippedRules();
    ASSERT_EQ(rules.size(), 4);
    for (const FilterRule& rule : rules)
        EXPECT_FALSE(rule.enabled) << rule.name.toStdString();
    for (FilterRule& rule : rules)
        rule.enabled = true;
    m_frame->CompareCommands().SetFilter(CFileFilter(rules));
    EXPECT_EQ(RowOf(QStringLiteral("index.html~")), -1);
    EXPECT_GE(RowOf(QStringLiteral("index.html")), 0);
    EXPECT_EQ(m_frame->ListView()->Note(), QStringLiteral("The filename filters hide 1 item here."));
    EXPECT_TRUE(LocalHidden(QStringLiteral("Thumbs.db")));
    EXPECT_EQ(Local().Note(), QStringLiteral("The filename filters hide 1 item here."));

    // A hidden row is never acted on, even by Select All.
    m_frame->ListView()->SelectAll();
    EXPECT_EQ(m_frame->ListView()->Selection()->selectedRows().size(), 1);

    // A folder downloaded now leaves the hidden name out.
    m_root.Write("pub/site/page.html", "page");
    m_root.Write("pub/site/page.html~", "old page");
    m_frame->Session().ListFolder(RemotePath::FromServer(QStringLiteral("/pub")), true);
    Select({QStringLiteral("site")});
    m_frame->TransferCommands().Download(LocalPath("down"));
    ASSERT_TRUE(Until([&] { return m_frame->TransferManager()->JobCount() == 0; }, 30000));
    EXPECT_EQ(m_local.Read("down/site/page.html"), "page");
    EXPECT_FALSE(QFileInfo::exists(LocalPath("down/site/page.html~")));
    EXPECT_FALSE(Trace().filter(QStringLiteral("1 entry was left out by the filename filters.")).isEmpty())
        << Trace().join(QLatin1Char('\n')).toStdString();
}

TEST_F(CompareSyncTest, BrowsingInStepFollowsBothWaysAndOffersAMissingFolder)
{
    m_root.MakeDir("pub/docs/deep");
    m_root.MakeDir("pub/extra");
    m_local.MakeDir("docs/deep");
    m_local.MakeDir("local-only");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    BrowseLocal(LocalPath(), 2);
    m_frame->Command(cmd::ID_SYNCHRONIZED_BROWSING)->trigger();
    ASSERT_TRUE(m_frame->SyncCommands().BrowsesInStep());

    // Into a folder and out again on the server: the Local Browser follows.
    DoubleClickRow(RowOf(QStringLiteral("docs")));
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/pub/docs"); }));
    EXPECT_EQ(Local().GetCurrentFolderPath(), LocalPath("docs"));
    m_frame->ItemCommands().OnUpOneLevel();
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/pub"); }));
    EXPECT_EQ(Local().GetCurrentFolderPath(), LocalPath());

    // On the disk: the server follows.
    ASSERT_TRUE(Local().BrowseTo(LocalPath("docs/deep"), true));
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/pub/docs/deep"); }));
    ASSERT_TRUE(Local().BrowseTo(LocalPath(), true));
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/pub"); }));

    // A folder the server lacks: said, and made only when the user says so.
    m_prompts.answer = IPrompts::No;
    ASSERT_TRUE(Local().BrowseTo(LocalPath("local-only"), true));
    QCoreApplication::processEvents();
    ASSERT_EQ(m_prompts.questions.size(), 1);
    EXPECT_TRUE(m_prompts.questions.first().contains(QStringLiteral("\"/pub/local-only\" does not exist")))
        << m_prompts.questions.first().toStdString();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(m_root.Path("pub/local-only"))));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/pub"));
    m_prompts.answer = IPrompts::Yes;
    ASSERT_TRUE(Local().BrowseTo(LocalPath(), true));
    ASSERT_TRUE(Local().BrowseTo(LocalPath("local-only"), true));
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/pub/local-only"); }));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(m_root.Path("pub/local-only"))).isDir());

    // A folder the disk lacks, from the server's side.
    ASSERT_TRUE(Local().BrowseTo(LocalPath(), true));
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/pub"); }));
    const qsizetype asked = m_prompts.questions.size();
    DoubleClickRow(RowOf(QStringLiteral("extra")));
    ASSERT_TRUE(Until([&] { return Local().GetCurrentFolderPath() == LocalPath("extra"); }));
    ASSERT_EQ(m_prompts.questions.size(), asked + 1);
    EXPECT_TRUE(m_prompts.questions.last().contains(QStringLiteral("local folder")));
    EXPECT_TRUE(QFileInfo(LocalPath("extra")).isDir());
}

TEST_F(CompareSyncTest, ThePreviewChangesNothingAndStartDeletesOnlyWhatWasTicked)
{
    m_root.Write("pub/stale.txt", "stale");
    m_root.Write("pub/keep-remote.txt", "keep");
    m_local.Write("new.txt", "new file");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    BrowseLocal(LocalPath(), 1);

    QStringList shown;
    bool startedWithNothingChanged = false;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<CSyncPreviewDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->CompareButton()->click();
        ASSERT_TRUE(Until([&] { return dialog->StartButton()->isEnabled(); }));
        QTreeWidget* rows = dialog->Rows();
        for (int i = 0; i < rows->topLevelItemCount(); ++i)
            shown << rows->topLevelItem(i)->text(1) + QLatin1Char(' ')
                    + (rows->topLevelItem(i)->checkState(0) == Qt::Checked ? QStringLiteral("ticked")
                                                                           : QStringLiteral("unticked"));
        // Listing and planning touched neither side.
        startedWithNothingChanged = !QFileInfo::exists(QString::fromStdString(m_root.Path("pub/new.txt")))
            && QFileInfo::exists(QString::fromStdString(m_root.Path("pub/stale.txt")));
        // One of the two deletions ticked.
        for (int i = 0; i < rows->topLevelItemCount(); ++i) {
            if (rows->topLevelItem(i)->text(1) == QLatin1String("stale.txt"))
                rows->topLevelItem(i)->setCheckState(0, Qt::Checked);
        }
        dialog->StartButton()->click();
    });
    m_frame->Command(cmd::ID_SYNCHRONIZE)->trigger();
    shown.sort();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("keep-remote.txt unticked"), QStringLiteral("new.txt ticked"),
                                  QStringLiteral("stale.txt unticked")}));
    EXPECT_TRUE(startedWithNothingChanged);
    ASSERT_TRUE(Until([&] { return m_frame->TransferManager()->JobCount() == 0; }, 30000));
    EXPECT_EQ(m_root.Read("pub/new.txt"), "new file");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(m_root.Path("pub/stale.txt"))));
    EXPECT_EQ(m_root.Read("pub/keep-remote.txt"), "keep");
}

TEST_F(CompareSyncTest, SearchMatchesAreDownloadedDeletedAndTheirFolderOpenedThroughTheWindow)
{
    m_root.Write("www/index.html", "index");
    m_root.Write("www/blog/post.html", "post");
    m_root.Write("www/blog/post.css", "css");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/www")));
    BrowseLocal(LocalPath(), 0);

    m_frame->Command(cmd::ID_SEARCH_REMOTE)->trigger();
    CSearchDlg* search = m_frame->SyncCommands().SearchDialog();
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->FolderField()->text(), QStringLiteral("/www"));
    search->PatternField()->setText(QStringLiteral("post.*"));
    QSignalSpy finished(&search->Search(), &CRemoteSearch::Finished);
    search->StartButton()->click();
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(search->Results()->topLevelItemCount(), 2);
    // The window's own connection stayed free for the user meanwhile.
    EXPECT_FALSE(m_frame->Session().IsBusy());

    search->Results()->selectAll();
    const QList<SearchMatch> matches = search->SelectedMatches();
    ASSERT_EQ(matches.size(), 2);
    emit search->DownloadRequested(matches);
    ASSERT_TRUE(Until([&] { return m_frame->TransferManager()->JobCount() == 0; }, 30000));
    EXPECT_EQ(m_local.Read("post.html"), "post");
    EXPECT_EQ(m_local.Read("post.css"), "css");

    emit search->OpenFolderRequested(RemotePath::FromServer(QStringLiteral("/www/blog")));
    ASSERT_TRUE(Until([&] { return m_frame->Session().ListedPath().ToString() == QStringLiteral("/www/blog"); }));

    // A deletion asks first; No keeps the file.
    m_prompts.answer = IPrompts::No;
    emit search->DeleteRequested({matches.first()});
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(m_root.Path(matches.first().path.ToString().mid(1).toStdString()))));
    m_prompts.answer = IPrompts::Yes;
    emit search->DeleteRequested({matches.first()});
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(m_root.Path(matches.first().path.ToString().mid(1).toStdString()))));
    EXPECT_EQ(m_prompts.questions.size(), 2);

    // Closing the dialog in the middle of a search ends it at once.
    search->PatternField()->clear();
    search->StartButton()->click();
    search->close();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(Until([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return m_frame->SyncCommands().SearchDialog() == nullptr;
    }, 5000));
    EXPECT_LT(clock.elapsed(), 5000);
}

} // namespace
