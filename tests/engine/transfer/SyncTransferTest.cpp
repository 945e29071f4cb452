// What the workers do for comparing and synchronising, against a real server:
// modification times kept both ways, the filename filters in recursive
// transfers, a synchronisation's job that leaves a target changed since the
// preview alone, and the preview's listing that never takes a folder it
// could not list for an empty one.
#include "engine/sync/SyncComparer.h"
#include "engine/transfer/SyncJobs.h"
#include "engine/transfer/TransferStore.h"
#include "engine/transfer/WorkerFixture.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <optional>

namespace {

constexpr qint64 kJuly2017 = 1500000000;  // 2017-07-14 02:40:00 UTC
constexpr qint64 kMay2014 = 1400000000;   // 2014-05-13 16:53:20 UTC

void SetTime(const std::string& path, qint64 seconds)
{
    const struct utimbuf times{static_cast<time_t>(seconds), static_cast<time_t>(seconds)};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

qint64 TimeOf(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? qint64(st.st_mtime) : -1;
}

FileStatus Remote(const char* name, quint64 size, bool folder = false)
{
    FileStatus entry;
    entry.path = QString::fromUtf8(name);
    entry.size = size;
    entry.modified = 0; // as a pane without times would give it: the server is asked
    entry.attribute = folder ? FileStatus::kFolder : 0;
    return entry;
}

CFileFilter ShippedRulesSwitchedOn()
{
    QList<FilterRule> rules = CFileFilter::ShippedRules();
    for (FilterRule& rule : rules)
        rule.enabled = true;
    return CFileFilter(rules);
}

TransferSite SiteOf(int port)
{
    TransferSite site;
    site.host = QStringLiteral("127.0.0.1");
    site.port = port;
    site.user = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    site.passive = true;
    site.retryDelay = 0;
    return site;
}

class SyncTransferTest : public WorkerFixture {
protected:
    void SetUp() override
    {
        m_log = m_files.Path("commands.log");
        m_remote.MakeDir("pub");
    }
    void StartServer() { m_server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret", {"--log", m_log}); }
    QString Local(const std::string& rel) const { return QString::fromStdString(m_local.Path(rel)); }
    bool SentStartingWith(const std::string& prefix) const
    {
        const std::vector<std::string> lines = kxtest::ReadLines(m_log);
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    }
    std::string SentLines() const
    {
        std::string all;
        for (const std::string& line : kxtest::ReadLines(m_log))
            all += line + "\n";
        return all;
    }
    static QString ResultOf(const TransferFileList& files, const QString& remotePath)
    {
        for (const TransferFile& file : files) {
            if (file.remotePath == remotePath)
                return file.result;
        }
        return QStringLiteral("(no such file)");
    }

    std::string m_log;
    std::unique_ptr<kxtest::ServerProcess> m_server;
};

TEST_F(SyncTransferTest, DownloadsTakeTheServersTimeFromTheListingOrMdtm)
{
    SetTime(m_remote.Write("pub/picked.txt", "picked"), kJuly2017);
    SetTime(m_remote.Write("pub/tree/deep.txt", "deep"), kMay2014);
    SetTime(m_remote.Write("pub/listed.txt", "listed"), kMay2014);
    StartServer();

    // A row of an MLSD listing carries its exact time: nothing to ask.
    FileStatus listed = Remote("listed.txt", 6);
    listed.modified = kMay2014;
    listed.attribute |= FileStatus::kExactTime;
    auto kept = Make<CDownloadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.localFolder = Local("kept");
        job.localIsFolder = true;
        job.preserveTimes = true;
        job.items = {Remote("picked.txt", 6), Remote("tree", 0, true), listed};
    });
    Run(*kept);
    ASSERT_FALSE(m_receiver.failed) << m_receiver.result.toStdString();
    // A selected file's time is asked for; a folder's files have it from MLSD.
    EXPECT_EQ(TimeOf(m_local.Path("kept/picked.txt")), kJuly2017);
    EXPECT_EQ(TimeOf(m_local.Path("kept/tree/deep.txt")), kMay2014);
    EXPECT_TRUE(SentStartingWith("MDTM /pub/picked.txt"));
    EXPECT_FALSE(SentStartingWith("MDTM /pub/tree/deep.txt")) << SentLines();
    EXPECT_EQ(TimeOf(m_local.Path("kept/listed.txt")), kMay2014);
    EXPECT_FALSE(SentStartingWith("MDTM /pub/listed.txt")) << SentLines();

    // Switched off: the copies are as new as the moment they were written.
    m_receiver.Clear();
    auto fresh = Make<CDownloadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.localFolder = Local("fresh");
        job.localIsFolder = true;
        job.items = {Remote("picked.txt", 6)};
    });
    Run(*fresh);
    EXPECT_GT(TimeOf(m_local.Path("fresh/picked.txt")), kJuly2017);
}

TEST_F(SyncTransferTest, AServerWithoutExactTimesIsNotedOnceAndItsDownloadsStillSucceed)
{
    m_remote.Write("pub/one.txt", "one");
    m_remote.Write("pub/two.txt", "two");
    // LIST only, and MDTM refused: no time better than the moment of writing.
    m_server = kxtest::StartScriptedFtpd(m_remote.path(),
                                         {"--feat", "SIZE", "--reply", "MDTM=502 Command not implemented.\\r\\n"});
    auto download = Make<CDownloadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.localFolder = Local("down");
        job.localIsFolder = true;
        job.preserveTimes = true;
        job.items = {Remote("one.txt", 3), Remote("two.txt", 3)};
    });
    Run(*download);
    EXPECT_FALSE(m_receiver.failed) << m_receiver.result.toStdString();
    EXPECT_EQ(m_local.Read("down/two.txt"), "two");
    EXPECT_EQ(m_receiver.traces.filter(QStringLiteral("does not tell exact file times")).size(), 1)
        << m_receiver.traces.join(QLatin1Char('\n')).toStdString();
}

TEST_F(SyncTransferTest, UploadsSetTheRemoteTimeWithMfmtInUtc)
{
    StartServer();
    const std::string path = m_local.Write("page.html", "<p>");
    SetTime(path, kJuly2017);
    auto upload = Make<CUploadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.preserveTimes = true;
        FileStatus entry;
        entry.path = QString::fromStdString(path);
        entry.size = 3;
        entry.modified = kJuly2017;
        job.items = {entry};
    });
    Run(*upload);
    ASSERT_FALSE(m_receiver.failed) << m_receiver.result.toStdString();
    EXPECT_EQ(TimeOf(m_remote.Path("pub/page.html")), kJuly2017);
    EXPECT_TRUE(SentStartingWith("MFMT 20170714024000 /pub/page.html"));
}

TEST_F(SyncTransferTest, AServerThatCannotSetTimesIsNotedOnceAndTheUploadsStillSucceed)
{
    // SIZE only: neither MFMT nor SITE UTIME is offered.
    m_server = kxtest::StartScriptedFtpd(m_remote.path(), {"--feat", "SIZE", "--log", m_log});
    FileStatus folder;
    folder.path = QString::fromStdString(m_local.MakeDir("up"));
    folder.attribute = FileStatus::kFolder;
    for (const char* name : {"up/one.txt", "up/two.txt"})
        SetTime(m_local.Write(name, "text"), kJuly2017);
    auto upload = Make<CUploadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.preserveTimes = true;
        job.items = {folder};
    });
    Run(*upload);
    EXPECT_FALSE(m_receiver.failed) << m_receiver.result.toStdString();
    EXPECT_EQ(m_remote.Read("pub/up/two.txt"), "text");
    EXPECT_EQ(m_receiver.traces.filter(QStringLiteral("offers no way to set file times")).size(), 1)
        << m_receiver.traces.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(SentStartingWith("MFMT"));
    EXPECT_FALSE(SentStartingWith("SITE UTIME"));
}

TEST_F(SyncTransferTest, FolderTransfersLeaveOutWhatTheFiltersHideAndCountIt)
{
    m_remote.Write("pub/site/index.html", "index");
    m_remote.Write("pub/site/index.html~", "backup");
    m_remote.Write("pub/site/.git/HEAD", "ref");
    StartServer();

    auto download = Make<CDownloadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.localFolder = Local("down");
        job.localIsFolder = true;
        job.filter = ShippedRulesSwitchedOn();
        job.items = {Remote("site", 0, true)};
    });
    Run(*download);
    EXPECT_EQ(m_local.Read("down/site/index.html"), "index");
    EXPECT_FALSE(QFileInfo::exists(Local("down/site/index.html~")));
    EXPECT_FALSE(QFileInfo::exists(Local("down/site/.git")));
    EXPECT_TRUE(m_receiver.result.endsWith(QStringLiteral("2 entries were left out by the filename filters.")))
        << m_receiver.result.toStdString();

    m_receiver.Clear();
    m_local.Write("up/notes.txt", "notes");
    m_local.Write("up/Thumbs.db", "thumbs");
    auto upload = Make<CUploadThread>(m_server->port(), QStringLiteral("/pub"), [&](TransferJob& job) {
        job.filter = ShippedRulesSwitchedOn();
        FileStatus folder;
        folder.path = Local("up");
        folder.attribute = FileStatus::kFolder;
        job.items = {folder};
    });
    Run(*upload);
    EXPECT_EQ(m_remote.Read("pub/up/notes.txt"), "notes");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(m_remote.Path("pub/up/Thumbs.db"))));
    EXPECT_TRUE(m_receiver.result.endsWith(QStringLiteral("1 entry was left out by the filename filters.")))
        << m_receiver.result.toStdString();
}

TEST_F(SyncTransferTest, ASynchronisationLeavesATargetChangedSinceThePreviewAlone)
{
    m_remote.Write("pub/changed.txt", "from the server");
    m_remote.Write("pub/steady.txt", "from the server");
    m_remote.Write("pub/appeared.txt", "from the server");
    m_remote.Write("pub/new/inner.txt", "inner");
    StartServer();
    m_local.Write("changed.txt", "old");
    m_local.Write("steady.txt", "old");
    const qint64 steadyTime = TimeOf(m_local.Path("steady.txt"));

    const auto item = [](SyncItem::Action action, const char* path, quint64 size, quint64 targetSize = 0,
                         qint64 targetModified = -1) {
        SyncItem row;
        row.action = action;
        row.path = QString::fromLatin1(path);
        row.folder = action == SyncItem::Action::MakeFolder;
        row.size = size;
        row.targetSize = targetSize;
        row.targetModified = targetModified;
        return row;
    };
    const QList<SyncItem> plan{
        item(SyncItem::Action::Replace, "changed.txt", 15, 3, TimeOf(m_local.Path("changed.txt"))),
        item(SyncItem::Action::Replace, "steady.txt", 15, 3, steadyTime),
        item(SyncItem::Action::Copy, "appeared.txt", 15),
        item(SyncItem::Action::MakeFolder, "new", 0),
        item(SyncItem::Action::Copy, "new/inner.txt", 5),
    };
    // The folder's own row unticked: a ticked file inside still brings it.
    QList<SyncItem> chosen = plan;
    chosen.removeAt(3);
    TransferJob job = MakeSyncJob(chosen, plan, SyncDirection::Download, QString::fromStdString(m_local.path()),
                                  RemotePath::FromServer(QStringLiteral("/pub")), SiteOf(m_server->port()));
    ASSERT_EQ(job.files.size(), 5u);
    EXPECT_TRUE(job.files.front().folder);

    // Between the preview and the start, two targets change.
    m_local.Write("changed.txt", "edited meanwhile");
    m_local.Write("appeared.txt", "made meanwhile");

    auto sync = Make<CDownloadThread>(std::move(job));
    Run(*sync);
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_EQ(m_local.Read("changed.txt"), "edited meanwhile");
    EXPECT_EQ(m_local.Read("appeared.txt"), "made meanwhile");
    EXPECT_EQ(m_local.Read("steady.txt"), "from the server");
    EXPECT_EQ(m_local.Read("new/inner.txt"), "inner");
    const TransferFileList files = sync->Files();
    EXPECT_TRUE(ResultOf(files, QStringLiteral("/pub/changed.txt")).contains(QStringLiteral("changed after the preview")));
    EXPECT_TRUE(ResultOf(files, QStringLiteral("/pub/appeared.txt")).contains(QStringLiteral("made after the preview")));
}

TEST_F(SyncTransferTest, AnUploadingSynchronisationAsksTheServerAgainBeforeItReplaces)
{
    SetTime(m_remote.Write("pub/changed.txt", "old"), kMay2014);
    SetTime(m_remote.Write("pub/steady.txt", "old"), kMay2014);
    StartServer();
    m_local.Write("site/changed.txt", "from the disk");
    m_local.Write("site/steady.txt", "from the disk");
    m_local.Write("site/appeared.txt", "from the disk");
    QList<SyncItem> plan;
    for (const char* name : {"changed.txt", "steady.txt"}) {
        SyncItem row;
        row.action = SyncItem::Action::Replace;
        row.path = QString::fromLatin1(name);
        row.size = 13;
        row.targetSize = 3;
        row.targetModified = kMay2014;
        plan << row;
    }
    SyncItem copy;
    copy.action = SyncItem::Action::Copy;
    copy.path = QStringLiteral("appeared.txt");
    copy.size = 13;
    plan << copy;
    TransferJob job = MakeSyncJob(plan, plan, SyncDirection::Upload, Local("site"),
                                  RemotePath::FromServer(QStringLiteral("/pub")), SiteOf(m_server->port()));
    // Someone else writes to the server between the preview and the start.
    SetTime(m_remote.Write("pub/changed.txt", "new"), kJuly2017);
    m_remote.Write("pub/appeared.txt", "made meanwhile");

    auto sync = Make<CUploadThread>(std::move(job));
    Run(*sync);
    EXPECT_TRUE(m_receiver.failed);
    EXPECT_EQ(m_remote.Read("pub/changed.txt"), "new");
    EXPECT_EQ(m_remote.Read("pub/appeared.txt"), "made meanwhile");
    EXPECT_EQ(m_remote.Read("pub/steady.txt"), "from the disk");
    const TransferFileList files = sync->Files();
    EXPECT_TRUE(ResultOf(files, QStringLiteral("/pub/changed.txt")).contains(QStringLiteral("changed after the preview")));
    EXPECT_TRUE(ResultOf(files, QStringLiteral("/pub/appeared.txt")).contains(QStringLiteral("made after the preview")));
}

TEST_F(SyncTransferTest, ThePreviewNeverTakesAFolderItCouldNotListForAnEmptyOne)
{
    m_remote.Write("pub/a.txt", "remote a");
    m_remote.Write("pub/only-remote.txt", "x");
    m_remote.Write("pub/sub/b.txt", "b");
    StartServer();
    m_local.Write("root/a.txt", "local a, longer");
    m_local.Write("root/only-local.txt", "y");

    const TransferSite site = SiteOf(m_server->port());
    const auto compare = [&](const QString& remote, SyncDirection direction) {
        CSyncComparer::Request request;
        request.localRoot = Local("root");
        request.remoteRoot = RemotePath::FromServer(remote);
        request.direction = direction;
        request.openLister = [site] { return OpenFolderLister(site, 10000, kx::settings::kProxyDirect, QString()); };
        CRemoteTreeLister lister;
        const std::atomic<bool> cancel{false};
        return CSyncComparer::Compare(request, lister, cancel);
    };

    const SyncPlan upload = compare(QStringLiteral("/pub"), SyncDirection::Upload);
    ASSERT_TRUE(upload.error.isEmpty()) << upload.error.toStdString();
    QStringList rows;
    for (const SyncItem& row : upload.items)
        rows << QStringLiteral("%1 %2 %3").arg(int(row.action)).arg(row.path).arg(row.checked);
    rows.sort();
    // Replace a.txt (other size), copy only-local.txt; the target's own files
    // are offered for deletion, unticked.
    EXPECT_EQ(rows, (QStringList{QStringLiteral("1 only-local.txt 1"), QStringLiteral("2 a.txt 1"),
                                 QStringLiteral("3 only-remote.txt 0"), QStringLiteral("3 sub 0"),
                                 QStringLiteral("3 sub/b.txt 0")}));

    // A target that cannot be listed: no plan at all, least of all deletions.
    const SyncPlan missingTarget = compare(QStringLiteral("/pub/gone"), SyncDirection::Upload);
    EXPECT_FALSE(missingTarget.error.isEmpty());
    EXPECT_TRUE(missingTarget.items.isEmpty());
    // A source that cannot be listed: nothing either.
    const SyncPlan missingSource = compare(QStringLiteral("/pub/gone"), SyncDirection::Download);
    EXPECT_FALSE(missingSource.error.isEmpty());
    EXPECT_TRUE(missingSource.items.isEmpty());
    // The comparison changed nothing on either side.
    EXPECT_EQ(m_remote.Read("pub/a.txt"), "remote a");
    EXPECT_EQ(m_local.Read("root/a.txt"), "local a, longer");
    EXPECT_FALSE(QFileInfo::exists(Local("root/only-remote.txt")));
}

TEST_F(SyncTransferTest, ACancelledPreviewEndsAtOnceWithNoPlan)
{
    m_local.Write("root/a.txt", "a");
    m_server = kxtest::StartScriptedFtpd(m_remote.path(), {"--stall", "MLSD", "--stall", "LIST"});
    const TransferSite site = SiteOf(m_server->port());
    CSyncComparer comparer;
    std::optional<SyncPlan> plan;
    QObject::connect(&comparer, &CSyncComparer::Finished, [&](const SyncPlan& made) { plan = made; });
    CSyncComparer::Request request;
    request.localRoot = Local("root");
    request.remoteRoot = RemotePath::FromServer(QStringLiteral("/pub"));
    request.openLister = [site] { return OpenFolderLister(site, 10000, kx::settings::kProxyDirect, QString()); };
    ASSERT_TRUE(comparer.Start(request));
    EXPECT_FALSE(comparer.Start(request)); // one at a time
    QThread::msleep(300); // blocked on the stalled listing by now
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    comparer.Cancel();
    while (!plan && sinceCancel.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(plan.has_value());
    EXPECT_LT(sinceCancel.elapsed(), 2000);
    EXPECT_FALSE(plan->error.isEmpty());
    EXPECT_TRUE(plan->items.isEmpty());
}

TEST(TransferStoreSchema, AQueueOfTheVersionBeforeGoesOnAndTheNewFieldsChangeNothingForIt)
{
    kxtest::TempDir dir;
    const QString path = QString::fromStdString(dir.Path("queue.sqlite"));
    WriteQueueFile(path,
                   {kJobsTableBeforeProtocols,
                    "CREATE TABLE files (job INTEGER, idx INTEGER, remote_path TEXT, local_path TEXT, size INTEGER, "
                    "done INTEGER, modified INTEGER, state INTEGER, result TEXT, folder INTEGER, resume INTEGER, "
                    "remote_size INTEGER, PRIMARY KEY (job, idx)) WITHOUT ROWID",
                    "INSERT INTO jobs (id, direction, state, host, port, remote_folder, local_folder) "
                    "VALUES (7, 0, 0, '127.0.0.1', 21, '/pub', '/tmp')",
                    "INSERT INTO files VALUES (7, 0, '/pub/a.txt', '/tmp/a.txt', 5, 0, 1500000000, 0, '', 0, 0, 0)",
                    "PRAGMA user_version=1"});

    CTransferStore store(path);
    QString message;
    ASSERT_EQ(store.Open(message), CTransferStore::Opened::Existing) << message.toStdString();
    const std::vector<TransferJobRecord> jobs = store.Load();
    ASSERT_EQ(jobs.size(), 1u);
    ASSERT_EQ(jobs[0].job.files.size(), 1u);
    const TransferFile& file = jobs[0].job.files[0];
    EXPECT_EQ(file.remotePath, QStringLiteral("/pub/a.txt"));
    EXPECT_EQ(file.modified, 1500000000);
    EXPECT_FALSE(file.exactTime);
    EXPECT_EQ(file.targetCheck, TransferFile::TargetCheck::None);
    EXPECT_EQ(file.targetModified, -1);
}

} // namespace
