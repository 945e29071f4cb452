// Searching a remote tree on the search's own connection, against real servers.
#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "engine/sync/RemoteFolderLister.h"
#include "support/RemoteServers.h"
#include "engine/sync/RemoteSearch.h"
#include "support/ServerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

CRemoteSearch::ListerFactory ListerOf(int port)
{
    return [port] {
        return std::make_unique<CRemoteFolderLister>(kxtest::ConnectFtp(port));
    };
}

struct Collected {
    QStringList paths;
    QStringList skipped;
    CRemoteSearch::Outcome outcome = CRemoteSearch::Outcome::Failed;
    QString text;
    bool done = false;
};

Collected RunSearch(CRemoteSearch& search, const SearchCriteria& criteria, CRemoteSearch::ListerFactory lister,
                    const std::function<void()>& whileRunning = {})
{
    Collected result;
    QObject::connect(&search, &CRemoteSearch::Found, [&](const QList<SearchMatch>& matches) {
        for (const SearchMatch& match : matches)
            result.paths << match.path.ToString();
    });
    QObject::connect(&search, &CRemoteSearch::FolderSkipped,
                     [&](const RemotePath& folder, const QString&) { result.skipped << folder.ToString(); });
    QObject::connect(&search, &CRemoteSearch::Finished, [&](CRemoteSearch::Outcome outcome, const QString& text) {
        result.outcome = outcome;
        result.text = text;
        result.done = true;
    });
    EXPECT_TRUE(search.Start(criteria, std::move(lister)));
    QElapsedTimer timer;
    timer.start();
    while (!result.done && timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (whileRunning)
            whileRunning();
    }
    result.paths.sort();
    return result;
}

TEST(RemoteSearch, FindsByNameSizeAndDepthAndSaysWhatItCouldNotSearch)
{
    kxtest::TempDir root;
    root.Write("a/report.txt", std::string(10, 'x'));
    root.Write("a/b/Report-2.TXT", std::string(5000, 'x'));
    root.Write("a/b/c/d/deep.txt", "x");
    root.Write("a/notes.md", "x");
    root.MakeDir("a/locked");
    auto server = kxtest::StartPyFtpd(root.path(), "anna", "secret");

    SearchCriteria criteria;
    criteria.root = RemotePath::FromServer(QStringLiteral("/a"));
    criteria.pattern = QStringLiteral("*.txt");
    CRemoteSearch search;
    Collected found = RunSearch(search, criteria, ListerOf(server->port()));
    EXPECT_EQ(found.outcome, CRemoteSearch::Outcome::Completed);
    EXPECT_EQ(found.paths, (QStringList{QStringLiteral("/a/b/Report-2.TXT"), QStringLiteral("/a/b/c/d/deep.txt"),
                                        QStringLiteral("/a/report.txt")}));

    criteria.minSize = 1000;
    criteria.maxDepth = 1;
    CRemoteSearch bounded;
    found = RunSearch(bounded, criteria, ListerOf(server->port()));
    EXPECT_EQ(found.paths, QStringList{QStringLiteral("/a/b/Report-2.TXT")});
    EXPECT_TRUE(found.text.contains(QStringLiteral("deeper than 1"))) << found.text.toStdString();

    // A folder that cannot be listed is named and the search goes on.
    ::chmod(root.Path("a/locked").c_str(), 0);
    criteria = SearchCriteria{};
    criteria.root = RemotePath::FromServer(QStringLiteral("/a"));
    criteria.pattern = QStringLiteral("notes.*");
    CRemoteSearch partial;
    found = RunSearch(partial, criteria, ListerOf(server->port()));
    ::chmod(root.Path("a/locked").c_str(), 0755);
    EXPECT_EQ(found.paths, QStringList{QStringLiteral("/a/notes.md")});
    if (::geteuid() != 0) { // root reads whatever the mode says
        EXPECT_EQ(found.skipped, QStringList{QStringLiteral("/a/locked")});
    }
}

TEST(RemoteSearch, CancelStopsAStalledListingAtOnce)
{
    kxtest::TempDir root;
    root.Write("a/x.txt", "x");
    auto server = kxtest::StartScriptedFtpd(root.path(), {"--stall", "MLSD", "--stall", "LIST"});
    SearchCriteria criteria;
    criteria.root = RemotePath::Root();
    CRemoteSearch search;
    QElapsedTimer sinceCancel;
    const Collected found = RunSearch(search, criteria, ListerOf(server->port()), [&] {
        if (!sinceCancel.isValid() && search.IsRunning()) {
            QThread::msleep(300); // let it block on the stalled listing
            sinceCancel.start();
            search.Cancel();
        }
    });
    ASSERT_TRUE(found.done);
    EXPECT_EQ(found.outcome, CRemoteSearch::Outcome::Cancelled);
    EXPECT_LT(sinceCancel.elapsed(), 1000);
}

} // namespace
