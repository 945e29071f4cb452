#pragma once

// The transfer queue against real servers: a queue with its signals
// recorded, a port that answers from a script, and a password source.
#include "engine/transfer/TransferQueue.h"
#include "engine/transfer/WorkerFixture.h"
#include "support/ClosedPort.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <optional>

class ScriptedPasswords : public ITransferPasswords {
public:
    std::optional<QString> PasswordFor(const TransferPasswordRequest& request) override
    {
        asked << QStringLiteral("%1@%2:%3 %4").arg(request.user, request.host).arg(request.port).arg(request.sitePath);
        return answer;
    }
    QStringList asked;
    std::optional<QString> answer = QStringLiteral("secret");
};

class QueueFixture : public ::testing::Test {
protected:
    std::unique_ptr<CTransferQueue> MakeQueue()
    {
        auto queue = std::make_unique<CTransferQueue>();
        queue->SetProxy(kx::settings::kProxyDirect, QString());
        queue->SetConnectionTimeout(10);
        queue->SetConnectionsPerJob(1);
        QObject::connect(queue.get(), &CTransferQueue::Notice, [this](const QString& text) { notices << text; });
        QObject::connect(queue.get(), &CTransferQueue::TraceLine, [this](int level, const QString& text) {
            traces << QStringLiteral("%1 %2").arg(level).arg(text.section(QStringLiteral("] "), 1));
        });
        QObject::connect(queue.get(), &CTransferQueue::JobFailed, [this](qint64, const QString& text) { failures << text; });
        return queue;
    }
    // Every job's questions are answered from `answers`, shared by all.
    void AnswerFrom(CTransferQueue& queue)
    {
        queue.SetPortFactory([this](const TransferJobRecord&, std::function<void()>) {
            auto port = std::make_unique<SharedAnswers>(*this);
            return port;
        });
    }
    static TransferSite Site(int port, int retries = 1)
    {
        return TransferSite{QStringLiteral("127.0.0.1"), QStringLiteral("anna"), QStringLiteral("secret"), 2, retries, 0,
                            port, true, 0, {}, {}, 0, {}, {}, {}};
    }
    QString Local(const std::string& rel = ".") const { return QString::fromStdString(m_local.Path(rel)); }
    QString StorePath() const { return QString::fromStdString(m_files.Path("queue.sqlite")); }
    template <typename Condition>
    static bool Until(Condition done, int milliseconds = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < milliseconds)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    static qint64 SizeOf(const QString& path) { return QFileInfo(path).size(); }

    struct SharedAnswers : ScriptedPort {
        explicit SharedAnswers(QueueFixture& fixture) : fixture(fixture) {}
        FileAnswer AskReplace(const FileQuestion& question) override { return Take(QStringLiteral("replace "), question); }
        FileAnswer AskResume(const FileQuestion& question) override { return Take(QStringLiteral("resume "), question); }
        FileAnswer Take(const QString& kind, const FileQuestion& question)
        {
            std::lock_guard lock(fixture.answerMutex);
            fixture.questions << kind + question.fileName;
            if (fixture.answers.empty())
                return kAnswerCancel;
            const FileAnswer answer = fixture.answers.front();
            fixture.answers.pop_front();
            return answer;
        }
        QueueFixture& fixture;
    };

    std::mutex answerMutex;
    std::deque<FileAnswer> answers;
    QStringList questions;
    QStringList notices;
    QStringList traces;
    QStringList failures;
    kxtest::TempDir m_remote;
    kxtest::TempDir m_local;
    kxtest::TempDir m_files;
};
