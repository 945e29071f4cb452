// The dialogs of comparing and synchronising: filters, the preview, the search.
#include "engine/base/Settings.h"
#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "engine/sync/RemoteFolderLister.h"
#include "support/RemoteServers.h"
#include "support/ServerProcess.h"
#include "window/sync/FilterDlg.h"
#include "window/sync/SearchDlg.h"
#include "window/sync/SyncPreviewDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

TEST(FilterDlg, RulesAreSwitchedEditedAndKeptAndABrokenPatternSaysSo)
{
    QTemporaryDir settings;
    kx::UseSettingsFolder(settings.path());
    CFilterDlg dialog(CFileFilter::Load());
    QListWidget* list = dialog.RuleList();
    ASSERT_EQ(list->count(), 4); // the shipped rules, off
    EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
    list->item(1)->setCheckState(Qt::Checked);

    dialog.AddRule();
    auto* syntax = dialog.findChild<QComboBox*>(QStringLiteral("syntax"));
    syntax->setCurrentIndex(1);
    emit syntax->activated(1);
    QTest::keyClicks(dialog.PatternField(), QStringLiteral("(unclosed"));
    EXPECT_FALSE(dialog.ProblemLabel()->text().isEmpty());
    dialog.PatternField()->clear();
    QTest::keyClicks(dialog.PatternField(), QStringLiteral("^cache[0-9]+$"));
    EXPECT_TRUE(dialog.ProblemLabel()->text().isEmpty());
    dialog.accept();

    const CFileFilter kept = CFileFilter::Load();
    ASSERT_EQ(kept.Rules().size(), 5);
    EXPECT_TRUE(kept.Hides(QStringLiteral("cache12"), false, 1));
    EXPECT_TRUE(kept.Hides(QStringLiteral("notes.txt~"), false, 1));
    EXPECT_FALSE(kept.Hides(QStringLiteral(".git"), true, 0));
}

TEST(SyncPreviewDlg, NothingIsChosenButWhatIsTickedAndDeletionsStartUnticked)
{
    CSyncPreviewDlg dialog(QStringLiteral("/home/me/site"), QStringLiteral("/www"));
    QSignalSpy wanted(&dialog, &CSyncPreviewDlg::PlanWanted);
    EXPECT_FALSE(dialog.StartButton()->isEnabled());
    dialog.CompareButton()->click();
    EXPECT_EQ(wanted.count(), 1);

    const auto row = [](SyncItem::Action action, const char* path, quint64 size) {
        SyncItem item;
        item.action = action;
        item.path = QString::fromLatin1(path);
        item.size = size;
        item.checked = action != SyncItem::Action::Delete;
        return item;
    };
    SyncPlan plan;
    plan.items = {row(SyncItem::Action::Copy, "new.html", 10), row(SyncItem::Action::Replace, "index.html", 20),
                  row(SyncItem::Action::Delete, "old.html", 5)};
    plan.skippedByFilter = 3;
    dialog.ShowPlan(plan);
    EXPECT_TRUE(dialog.StartButton()->isEnabled());
    EXPECT_TRUE(dialog.Summary()->text().startsWith(QStringLiteral("2 to upload, 0 to delete.")))
        << dialog.Summary()->text().toStdString();
    EXPECT_TRUE(dialog.Summary()->text().contains(QStringLiteral("3 entries were skipped")));
    EXPECT_EQ(dialog.Chosen().size(), 2);

    dialog.Rows()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    dialog.Rows()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_TRUE(dialog.Summary()->text().startsWith(QStringLiteral("1 to upload, 1 to delete.")));
    const QList<SyncItem> chosen = dialog.Chosen();
    ASSERT_EQ(chosen.size(), 2);
    EXPECT_EQ(chosen[1].path, QStringLiteral("old.html"));

    // Another option makes the plan stale: asked for again, Start waits for it.
    auto* mode = dialog.findChild<QComboBox*>(QStringLiteral("mode"));
    emit mode->activated(1);
    EXPECT_EQ(wanted.count(), 2);
    EXPECT_FALSE(dialog.StartButton()->isEnabled());

    SyncPlan refused;
    refused.error = QStringLiteral("The target folder could not be listed completely");
    dialog.ShowPlan(refused);
    EXPECT_FALSE(dialog.StartButton()->isEnabled());
    EXPECT_EQ(dialog.Rows()->topLevelItemCount(), 0);
}

TEST(SearchDlg, MatchesArriveAndTheSelectedOnesGoToTheCommands)
{
    kxtest::TempDir root;
    root.Write("www/index.html", "x");
    root.Write("www/blog/post.html", "x");
    root.Write("www/blog/post.css", "x");
    auto server = kxtest::StartPyFtpd(root.path(), "anna", "secret");
    const int port = server->port();
    CSearchDlg dialog(RemotePath::FromServer(QStringLiteral("/www")), [port] {
        return std::make_unique<CRemoteFolderLister>(kxtest::ConnectFtp(port));
    });
    QTest::keyClicks(dialog.PatternField(), QStringLiteral("*.html"));
    QSignalSpy finished(&dialog.Search(), &CRemoteSearch::Finished);
    dialog.StartButton()->click();
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(dialog.Results()->topLevelItemCount(), 2);
    EXPECT_TRUE(dialog.Status()->text().startsWith(QStringLiteral("2 found in 2 folders"))) << dialog.Status()->text().toStdString();

    QSignalSpy downloads(&dialog, &CSearchDlg::DownloadRequested);
    dialog.Results()->selectAll();
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Dow&nload"))
            button->click();
    ASSERT_EQ(downloads.count(), 1);
    const auto matches = downloads.at(0).at(0).value<QList<SearchMatch>>();
    EXPECT_EQ(matches.size(), 2);
}

} // namespace
