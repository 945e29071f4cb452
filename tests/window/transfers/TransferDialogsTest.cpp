// The windows of a transfer: the progress window, the two questions, and the
// port that carries a worker's calls to them.
#include "window/transfers/ConfirmFileDlg.h"
#include "window/transfers/DialogTransferPort.h"
#include "window/transfers/TransferProgressDlg.h"
#include "engine/transfer/WorkerFixture.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <future>

namespace {

FileQuestion Question(int remaining)
{
    FileQuestion question;
    question.fileName = QStringLiteral("report.pdf");
    question.remaining = remaining;
    question.existingDescription = QStringLiteral("1 KB (1,000 bytes)\r\nyesterday");
    question.newDescription = QStringLiteral("5 KB (5,000 bytes)\r\ntoday");
    return question;
}

TEST(TransferDialogs, TheLastFileIsOfferedOnlyYesAndNoInThePlacesOfNoAndCancel)
{
    CConfirmReplaceDlg many(Question(2));
    CConfirmReplaceDlg last(Question(1));
    for (QDialog* dialog : {static_cast<QDialog*>(&many), static_cast<QDialog*>(&last)}) {
        dialog->resize(520, 240);
        dialog->show();
    }
    QApplication::processEvents();
    EXPECT_EQ(many.windowTitle(), QStringLiteral("Confirm File Replace"));
    EXPECT_EQ(many.FirstLine(), QStringLiteral("This folder already contains a file named 'report.pdf'"));
    for (const FileAnswer answer : {kAnswerYes, kAnswerYesToAll, kAnswerNo, kAnswerCancel})
        EXPECT_TRUE(many.Button(answer)->isVisible()) << answer;
    EXPECT_FALSE(last.Button(kAnswerYesToAll)->isVisible());
    EXPECT_FALSE(last.Button(kAnswerCancel)->isVisible());
    EXPECT_EQ(last.Button(kAnswerYes)->geometry(), many.Button(kAnswerNo)->geometry());
    EXPECT_EQ(last.Button(kAnswerNo)->geometry(), many.Button(kAnswerCancel)->geometry());

    // Escape is Cancel, and each button answers its own number.
    QTest::keyClick(&many, Qt::Key_Escape);
    EXPECT_EQ(many.result(), kAnswerCancel);
    CConfirmResumeDlg resume(Question(3));
    QTimer::singleShot(0, [&] { resume.Button(kAnswerNo)->click(); });
    EXPECT_EQ(resume.exec(), kAnswerNo);
    EXPECT_EQ(resume.Button(kAnswerYesToAll)->isVisible(), false);
}

TEST(TransferDialogs, ProgressWindowCancelsWithoutClosingAndSharesItsMinimizedState)
{
    int cancels = 0;
    CTransferProgressDlg first(true, [&] { ++cancels; });
    first.ShowAsSettingsSay();
    first.SetRange(100);
    const std::pair<int, int> positions[] = {{0, 0}, {50, 50}, {100, 100}, {105, 5}, {250, 50}};
    for (const auto& [position, bar] : positions) {
        first.SetPos(position);
        EXPECT_EQ(first.BarValue(), bar) << position;
    }
    first.findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    QTest::keyClick(&first, Qt::Key_Escape);
    EXPECT_EQ(cancels, 2);
    EXPECT_TRUE(first.isVisible());
    const int frame = first.Animation()->Frame();
    QTest::qWait(200);
    EXPECT_NE(first.Animation()->Frame(), frame);

    first.showMinimized();
    QApplication::processEvents();
    CTransferProgressDlg second(false, {});
    second.ShowAsSettingsSay();
    EXPECT_TRUE(second.isMinimized());
    second.showNormal();
    QApplication::processEvents();
    CTransferProgressDlg third(false, {});
    third.ShowAsSettingsSay();
    EXPECT_FALSE(third.isMinimized());

    kx::WriteProfileInt(kx::settings::HideProgressDlg, 1);
    CTransferProgressDlg hidden(false, {});
    hidden.ShowAsSettingsSay();
    EXPECT_FALSE(hidden.isVisible());
    kx::WriteProfileInt(kx::settings::HideProgressDlg, 0);
}

TEST(TransferDialogs, AQuestionOnTheScreenIsAnsweredFromTheWorkersSide)
{
    CDialogTransferPort port(true, {});
    // The user answers.
    auto answered = std::async(std::launch::async, [&] { return port.AskReplace(Question(2)); });
    while (!port.Question())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(port.Question()->isVisible());
    port.Question()->Button(kAnswerYesToAll)->click();
    EXPECT_EQ(answered.get(), kAnswerYesToAll);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(port.Question(), nullptr);

    // Nobody answers: a kill gives Cancel at once, takes the question off the
    // screen, and every later question is Cancel without being shown.
    auto waiting = std::async(std::launch::async, [&] { return port.AskResume(Question(1)); });
    while (!port.Question())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    port.CancelQuestion();
    EXPECT_EQ(waiting.get(), kAnswerCancel);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(port.Question(), nullptr);
    EXPECT_EQ(port.AskReplace(Question(1)), kAnswerCancel);
}

class DialogWorkerTest : public WorkerFixture {};

TEST_F(DialogWorkerTest, StoppingAWorkerThatWaitsForAnAnswerDoesNotHang)
{
    m_remote.Write("same.txt", "remote");
    m_local.Write("same.txt", "local, and larger than the remote file");
    auto server = kxtest::StartPyFtpd(m_remote.path(), "anna", "secret");
    auto thread = Make<CDownloadThread>(server->port(), QStringLiteral("/"), [&](TransferJob& job) {
        job.items.append(FileStatus{0, 0, 0, 6, 0, QStringLiteral("same.txt")});
        job.localFolder = QString::fromStdString(m_local.path());
    });
    auto port = std::make_unique<CDialogTransferPort>(true, [t = thread.get()] { t->Kill(); });
    CDialogTransferPort* dialogs = port.get();
    thread->SetPort(std::move(port));
    ASSERT_TRUE(thread->Resume());
    while (!dialogs->Question())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(dialogs->Question()->windowTitle(), QStringLiteral("Confirm File Replace"));
    EXPECT_TRUE(dialogs->ProgressDialog()->isVisible());

    thread->Stop(); // as the window does when it closes
    EXPECT_TRUE(thread->IsDead());
    EXPECT_EQ(thread->ResultText(), QStringLiteral("Download cancelled."));
    EXPECT_EQ(m_local.Read("same.txt"), "local, and larger than the remote file");
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dialogs->Question(), nullptr);
    EXPECT_EQ(dialogs->ProgressDialog(), nullptr);
}

} // namespace
