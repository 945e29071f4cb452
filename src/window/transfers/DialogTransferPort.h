#pragma once

#include "window/transfers/ConfirmFileDlg.h"
#include "engine/transfer/TransferPort.h"
#include "window/transfers/TransferProgressDlg.h"

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// How many workers' questions are open now (GUI thread). They leave the main
// window free to use, so the window keeps the commands that would use its
// own session off until they are answered.
class COpenTransferQuestions : public QObject {
    Q_OBJECT
public:
    static COpenTransferQuestions& Instance();
    int Count() const { return m_count; }

signals:
    void CountChanged(int count);

private:
    friend class CDialogTransferPort;
    void Add(int delta);
    int m_count = 0;
};

// A worker's progress window and questions, on the GUI thread. The worker
// calls the ITransferPort operations on its own thread; each becomes a queued
// call to this object, which lives on the GUI thread and owns the windows. A
// question waits on the worker's side only: the GUI thread shows it without
// a modal loop of its own and goes on.
//
// Make and delete it on the GUI thread, after the worker has ended (the
// thread that owns the port does this).
class CDialogTransferPort : public QObject, public ITransferPort {
    Q_OBJECT
public:
    // onCancel: the progress window's Cancel (GUI thread); it should kill the worker.
    CDialogTransferPort(bool download, std::function<void()> onCancel);
    ~CDialogTransferPort() override;

    void SetCaption(const QString& text) override;
    void SetLine1(const QString& text) override;
    void SetLine2(const QString& text) override;
    void SetRange(int high) override;
    void SetPos(int position) override;
    void SetProgress(const TransferProgress& progress) override;
    FileAnswer AskReplace(const FileQuestion& question) override;
    FileAnswer AskResume(const FileQuestion& question) override;
    void CancelQuestion() override;
    void Close() override;

    // GUI thread, for tests and the queue: the windows now shown, if any.
    CTransferProgressDlg* ProgressDialog() const { return m_dialog; }
    CConfirmFileDlg* Question() const { return m_question; }

private:
    struct Answer {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        FileAnswer value = kAnswerCancel;
        void Give(FileAnswer answer);
    };

    CTransferProgressDlg* Dialog();
    FileAnswer Ask(const FileQuestion& question, bool replace);
    void ShowQuestion(const FileQuestion& question, bool replace, const std::shared_ptr<Answer>& answer);
    template <typename Call> void OnGuiThread(Call call);

    const bool m_download;
    std::function<void()> m_onCancel;
    QPointer<CTransferProgressDlg> m_dialog;
    QPointer<CConfirmFileDlg> m_question;
    std::mutex m_mutex;
    bool m_questionsCancelled = false;
    std::shared_ptr<Answer> m_pending;
};
