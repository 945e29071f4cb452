// The window over the queue: repaints gathered under a burst, progress in
// words, the exit question, the password prompt, and who is told when a job
// fails out of sight.
#include "engine/transfer/QueueFixture.h"
#include "window/transfers/DesktopNotifier.h"
#include "window/transfers/ExitQuestion.h"
#include "window/transfers/PasswordPrompt.h"
#include "window/transfers/TransferManagerBar.h"
#include "window/transfers/TransferProgressDlg.h"
#include "window/transfers/TransferQueueModel.h"
#include "window/transfers/TransferTexts.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "support/ClosedPort.h"

namespace {

using TransferQueueViewTest = QueueFixture;

// Clicks the named button of the next modal box as soon as it shows.
void ClickWhenShown(const QString& objectName)
{
    QTimer::singleShot(0, [objectName] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* button = top->findChild<QPushButton*>(objectName); button && top->isVisible()) {
                button->click();
                return;
            }
        }
        ClickWhenShown(objectName);
    });
}

TEST_F(TransferQueueViewTest, ABurstOfChangesEndsInAFewRepaintsWithEveryFinalState)
{
    m_remote.Write("one.txt", "1");
    auto server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret");
    auto queue = MakeQueue();
    CTransferQueueModel model(*queue);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    queue->SetParallelLimit(0);
    // Forty jobs, each against a closed port, all failing at once.
    const int closed = kxtest::ClosedPort();
    for (int i = 0; i < 40; ++i)
        queue->AddDownload({Entry(QStringLiteral("f%1").arg(i), 1)}, Local(), Site(closed), "/");
    ASSERT_EQ(model.rowCount(), 40);
    ASSERT_TRUE(Until([&] { return queue->RunningCount() == 0; }));
    ASSERT_TRUE(Until([&] { return model.ChangeSignals() > 0 && !changed.isEmpty(); }));
    QTest::qWait(CTransferQueueModel::kRepaintMs * 2);
    // Hundreds of queue changes, a handful of repaints.
    EXPECT_LE(changed.size(), 8);
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_EQ(model.index(row, CTransferQueueModel::StatusColumn).data().toString(), QStringLiteral("Failed")) << row;
    EXPECT_EQ(model.index(0, CTransferQueueModel::StatusColumn).data(Qt::ToolTipRole).toString(),
              queue->JobAt(0).result);
    EXPECT_EQ(model.headerData(CTransferQueueModel::ProgressColumn, Qt::Horizontal).toString(), QStringLiteral("Progress"));
}

TEST_F(TransferQueueViewTest, ProgressReadsAsBytesRateAndTimeLeft)
{
    EXPECT_EQ(FormatTimeLeft(3000, 100.0), QStringLiteral("0:30"));
    EXPECT_EQ(FormatTimeLeft(7507, 1.0), QStringLiteral("2:05:07"));
    EXPECT_EQ(FormatTimeLeft(10, 0.0), QString());
    TransferProgress progress{1 << 20, 4 << 20, QStringLiteral("big.iso"), 512 << 10, 2 << 20, 100 << 10};
    const QString text = DescribeProgress(progress);
    EXPECT_TRUE(text.startsWith(QStringLiteral("All: 1.0 MB of 4.0 MB, 100 KB/s, 0:31 left"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("big.iso: 512 KB of 2.0 MB"))) << text.toStdString();
    CTransferProgressDlg dialog(true, [] {});
    dialog.SetProgress(progress);
    EXPECT_EQ(dialog.ProgressText(), text);
}

TEST_F(TransferQueueViewTest, TheExitQuestionOffersStopCancelAndGoBack)
{
    const std::pair<const char*, ExitChoice> buttons[] = {
        {"stopAndKeep", ExitChoice::StopAndKeep}, {"cancelTransfers", ExitChoice::CancelThem}, {"goBack", ExitChoice::GoBack}};
    for (const auto& [name, choice] : buttons) {
        ClickWhenShown(QString::fromLatin1(name));
        EXPECT_EQ(AskExitWithTransfers(nullptr, 2), choice) << name;
    }
    // Escape never quits.
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QLatin1String("exitWithTransfers"))
                QTest::keyClick(top, Qt::Key_Escape);
        }
    });
    EXPECT_EQ(AskExitWithTransfers(nullptr, 1), ExitChoice::GoBack);
}

TEST_F(TransferQueueViewTest, ExitStopsRunningJobsAtOnceAndKeepsThem)
{
    m_remote.Write("big.bin", std::string(1 << 20, 'b'));
    auto server = kxtest::StartScriptedFtpd(m_remote.path(), {"--data-stall-after", "RETR=10000"});
    {
        auto queue = MakeQueue();
        ASSERT_TRUE(queue->UseStore(StorePath()));
        queue->AddDownload({Entry(QStringLiteral("big.bin"), 1 << 20)}, Local(), Site(server->port()), "/");
        ASSERT_TRUE(Until([&] { return SizeOf(Local("big.bin")) >= 10000; }));
        QElapsedTimer clock;
        clock.start();
        queue->StopAllForExit();
        EXPECT_LT(clock.elapsed(), 3000);
        EXPECT_EQ(queue->RunningCount(), 0);
        EXPECT_EQ(queue->JobAt(0).state, TransferState::Stopped);
    }
    auto again = MakeQueue();
    ASSERT_TRUE(again->UseStore(StorePath()));
    ASSERT_EQ(again->JobCount(), 1);
    EXPECT_EQ(again->JobAt(0).job.files[0].done, 10000u);
    // Cancel them: nothing left for next time.
    again->CancelAll();
    EXPECT_EQ(again->JobCount(), 0);
}

TEST_F(TransferQueueViewTest, APasswordIsAskedForInADialog)
{
    QWidget parent;
    CPasswordPrompt prompt(&parent);
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QInputDialog*>(top); dialog && dialog->objectName() == QLatin1String("transferPassword")) {
                EXPECT_TRUE(dialog->labelText().contains(QStringLiteral("anna"))) << dialog->labelText().toStdString();
                EXPECT_EQ(dialog->textEchoMode(), QLineEdit::Password);
                dialog->setTextValue(QStringLiteral("s3cret"));
                dialog->accept();
            }
        }
    });
    const std::optional<QString> answer = prompt.PasswordFor({1, QStringLiteral("ftp.example.org"), 21, QStringLiteral("anna"), {}});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, QStringLiteral("s3cret"));
}

TEST_F(TransferQueueViewTest, AJobFailingOutOfSightIsToldAndNoNotificationServiceIsNoTrouble)
{
    CTransferManagerBar bar;
    bar.SetShowDialogs(false);
    bar.SetProxy(kx::settings::kProxyDirect, QString());
    QSignalSpy hidden(&bar, &CTransferManagerBar::JobFailedWhileHidden);
    CDesktopNotifier notifier(bar.Queue());
    notifier.SetWindowActive([] { return false; });
    // No session bus here, or no service on it: nothing sent, nothing broken.
    notifier.SetService(QStringLiteral("org.kestrix.NoSuchNotifications"));
    bar.AddDownload({Entry(QStringLiteral("lost.txt"), 1)}, Local(), Site(kxtest::ClosedPort()), QStringLiteral("/"));
    ASSERT_TRUE(Until([&] { return bar.RunningCount() == 0; }));
    ASSERT_EQ(hidden.size(), 1);
    EXPECT_FALSE(hidden[0][0].toString().isEmpty());
    EXPECT_EQ(notifier.Sent(), 0);
    EXPECT_FALSE(notifier.Notify(QStringLiteral("x"), QStringLiteral("y")));

    // Shown, the pane itself is the news.
    bar.show();
    bar.ResubmitSelected(); // nothing selected: nothing happens
    bar.SelectAll();
    bar.ResubmitSelected();
    ASSERT_TRUE(Until([&] { return bar.RunningCount() == 0 && bar.Queue().JobAt(0).attempts == 2; }));
    EXPECT_EQ(hidden.size(), 1);
}

} // namespace
