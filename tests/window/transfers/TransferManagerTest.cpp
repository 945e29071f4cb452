// The queue: how many jobs run, what comes back after a failure, Cancel and
// Resubmit, what the frame is told, and the columns.
#include "engine/base/TraceLevel.h"
#include "window/transfers/TransferManagerBar.h"
#include "engine/transfer/WorkerFixture.h"

#include "engine/transfer/TransferQueue.h"
#include "window/transfers/TransferQueueModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>

#include "support/ClosedPort.h"

namespace {

// What the queue tells the main window.
struct RecordingFrame {
    void Listen(CTransferQueue& queue)
    {
        QObject::connect(&queue, &CTransferQueue::TraceLine, [this](int level, const QString& text) {
            lines << QStringLiteral("%1 %2").arg(level).arg(text.section(QStringLiteral("] "), 1));
        });
        QObject::connect(&queue, &CTransferQueue::StatusLine, [this](const QString& text) {
            lines << QStringLiteral("status ") + text.section(QStringLiteral("] "), 1);
        });
    }
    QStringList lines;
};


class TransferManagerTest : public ::testing::Test {
protected:
    TransferManagerTest()
    {
        m_bar = std::make_unique<CTransferManagerBar>();
        m_frame.Listen(m_bar->Queue());
        m_bar->SetShowDialogs(false);
        m_bar->SetProxy(kx::settings::kProxyDirect, QString());
        m_bar->SetConnectionTimeout(10);
    }

    // A job that keeps running until it is cancelled: attempts against a
    // closed port with a long wait between them.
    void AddWaitingJob(const char* name, int retries = 2, int delay = 60)
    {
        TransferSite site{QStringLiteral("127.0.0.1"), QStringLiteral("anna"), QStringLiteral("secret"), 2, retries, delay,
                          m_closedPort, true, 0, {}, {}, 0, {}, {}, {}};
        FileStatus entry;
        entry.path = QString::fromUtf8(name);
        m_bar->AddDownload({entry}, QString::fromStdString(m_local.path()), site, QStringLiteral("/"));
    }
    QStringList Statuses() const
    {
        return Column(CTransferManagerBar::StatusColumn);
    }
    QStringList Names() const
    {
        return Column(CTransferManagerBar::FileColumn);
    }
    QStringList Column(int column) const
    {
        QStringList texts;
        const QAbstractItemModel* model = m_bar->List()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
        return texts;
    }
    // Lets events in until `done` holds or the time is up.
    template <typename Condition>
    bool Until(Condition done, int milliseconds = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < milliseconds)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    void Select(std::initializer_list<int> rows)
    {
        m_bar->List()->clearSelection();
        for (const int row : rows)
            m_bar->List()->selectionModel()->select(m_bar->List()->model()->index(row, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    RecordingFrame m_frame;
    kxtest::TempDir m_local;
    int m_closedPort = kxtest::ClosedPort();
    std::unique_ptr<CTransferManagerBar> m_bar;
};

TEST_F(TransferManagerTest, TheOldestQueuedJobsRunUpToTheLimit)
{
    m_bar->SetParallelLimit(2);
    for (const char* name : {"one", "two", "three", "four", "five"})
        AddWaitingJob(name);
    EXPECT_EQ(m_bar->RunningCount(), 2);
    // Both wait between their attempts.
    ASSERT_TRUE(Until([&] { return Statuses().mid(0, 2) == QStringList{"Connecting", "Connecting"}; }));
    EXPECT_EQ(Statuses().mid(2), (QStringList{"Queued", "Queued", "Queued"}));
    // A scheduling pass while the limit is reached starts nothing.
    m_bar->StartQueued();
    EXPECT_EQ(m_bar->RunningCount(), 2);

    // As one ends, the next from the top starts.
    Select({0});
    m_bar->CancelSelected();
    ASSERT_TRUE(Until([&] { return m_bar->JobCount() == 4; }));
    EXPECT_EQ(Names(), (QStringList{"two", "three", "four", "five"}));
    EXPECT_EQ(m_bar->RunningCount(), 2);
    EXPECT_TRUE(Until([&] { return Statuses()[1] == QStringLiteral("Connecting"); }));
    // Cancelled is neither success nor failure: the neutral colour.
    EXPECT_EQ(m_frame.lines.filter(QStringLiteral("Download cancelled.")),
              QStringList{QStringLiteral("%1 Download cancelled.").arg(TRACE_INFO)});

    // Cancel on a queued row: it goes, counted neither up nor down.
    Select({3});
    m_bar->CancelSelected();
    ASSERT_TRUE(Until([&] { return m_bar->JobCount() == 3; }));
    EXPECT_EQ(Names(), (QStringList{"two", "three", "four"}));
    EXPECT_EQ(m_bar->RunningCount(), 2);

    // Resubmit goes past the limit; without a limit everything runs.
    Select({2});
    m_bar->ResubmitSelected();
    EXPECT_EQ(m_bar->RunningCount(), 3);
    m_bar->SetParallelLimit(0);
    AddWaitingJob("six");
    AddWaitingJob("seven");
    EXPECT_EQ(m_bar->RunningCount(), 5);
}

TEST_F(TransferManagerTest, AJobThatFailedWhileConnectingComesBackAsFailed)
{
    m_bar->SetParallelLimit(5);
    AddWaitingJob("lost.txt", 1, 0);
    ASSERT_TRUE(Until([&] { return m_bar->JobCount() == 1 && Statuses() == QStringList{"Failed"}; }));
    EXPECT_EQ(Names(), QStringList{QStringLiteral("lost.txt")});
    EXPECT_EQ(m_bar->RunningCount(), 0);
    ASSERT_EQ(m_frame.lines.size(), 1);
    EXPECT_TRUE(m_frame.lines[0].startsWith(QStringLiteral("%1 ").arg(TRACE_ERROR))) << m_frame.lines[0].toStdString();
    // The scheduler leaves it alone; Resubmit runs it again.
    m_bar->StartQueued();
    EXPECT_EQ(m_bar->RunningCount(), 0);
    Select({0});
    m_bar->ResubmitSelected();
    EXPECT_EQ(m_bar->RunningCount(), 1);
    ASSERT_TRUE(Until([&] { return m_frame.lines.size() == 2 && m_bar->RunningCount() == 0; }));

    // Told to remove failed jobs, it does not come back.
    m_bar->SetRemoveFailed(true);
    Select({0});
    m_bar->ResubmitSelected();
    ASSERT_TRUE(Until([&] { return m_bar->JobCount() == 0; }));
}

TEST_F(TransferManagerTest, AFileThatFailsFailsAloneAndTheJobStaysToBeResubmitted)
{
    kxtest::TempDir remote;
    remote.Write("a.txt", "a");
    remote.Write("b,with comma.txt", "b");
    auto server = kxtest::StartPyFtpd(remote.path(), "anna", "secret");
    TransferSite site{QStringLiteral("127.0.0.1"), QStringLiteral("anna"), QStringLiteral("secret"), 2, 1, 0,
                      server->port(), true, 0, {}, {}, 0, {}, {}, {}};
    FileStatusList entries;
    for (const char* name : {"a.txt", "c.txt", "b,with comma.txt"}) {
        FileStatus entry;
        entry.path = QString::fromUtf8(name);
        entry.size = 1;
        entries << entry;
    }
    m_bar->AddDownload(entries, QString::fromStdString(m_local.path()), site, QStringLiteral("/"));
    // The name with a comma stays whole in its column and in the trace.
    ASSERT_TRUE(Until([&] { return m_frame.lines.contains(QStringLiteral("status Downloading: \"b,with comma.txt\"")); }));
    ASSERT_TRUE(Until([&] { return m_bar->RunningCount() == 0; }));
    // The missing file did not stop the one after it.
    EXPECT_EQ(m_local.Read("b,with comma.txt"), "b");
    EXPECT_EQ(Statuses(), QStringList{QStringLiteral("Failed")});
    const QString end = m_frame.lines.last();
    EXPECT_EQ(end, QStringLiteral("%1 2 of 3 files transferred, 1 failed.").arg(TRACE_ERROR)) << end.toStdString();
    EXPECT_EQ(m_frame.lines.filter(QStringLiteral("/c.txt: Unable to open remote file c.txt")).size(), 1)
        << m_frame.lines.join(QLatin1Char('\n')).toStdString();
    const TransferJobRecord& record = m_bar->Queue().JobAt(0);
    ASSERT_EQ(record.job.files.size(), 3u);
    EXPECT_EQ(record.job.files[1].state, TransferState::Failed);
    EXPECT_TRUE(record.job.files[1].result.contains(QStringLiteral("550"))) << record.job.files[1].result.toStdString();

    // Once the file is there, Resubmit moves only what is missing.
    remote.Write("c.txt", "c");
    m_local.Write("a.txt", "kept");
    Select({0});
    m_bar->ResubmitSelected();
    ASSERT_TRUE(Until([&] { return m_bar->JobCount() == 0; }));
    EXPECT_EQ(m_local.Read("c.txt"), "c");
    EXPECT_EQ(m_local.Read("a.txt"), "kept");
}

TEST_F(TransferManagerTest, ColumnWidthsComeBackAndAnEmptySettingKeepsTheDefaults)
{
    const QString defaults = m_bar->ColumnWidthsText();
    const int widths[] = {120, 80, 150, 150, 70, 90};
    for (int column = 0; column < CTransferManagerBar::ColumnCount; ++column)
        m_bar->List()->header()->resizeSection(column, widths[column]);
    m_bar.reset(); // saves them
    EXPECT_EQ(kx::GetProfileString(kx::settings::TransferColumnWidth), QStringLiteral("120,80,150,150,70,90,"));
    CTransferManagerBar again;
    EXPECT_EQ(again.ColumnWidthsText(), QStringLiteral("120,80,150,150,70,90,"));

    kx::WriteProfileString(kx::settings::TransferColumnWidth, QString());
    CTransferManagerBar fresh;
    EXPECT_EQ(fresh.ColumnWidthsText(), defaults);
}

} // namespace
