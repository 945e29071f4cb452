#include "window/transfers/DialogTransferPort.h"

#include "window/transfers/ConfirmFileDlg.h"
#include "window/transfers/TransferProgressDlg.h"

#include <QMetaObject>
#include <QThread>

void CDialogTransferPort::Answer::Give(FileAnswer answer)
{
    {
        std::lock_guard lock(mutex);
        if (done)
            return;
        done = true;
        value = answer;
    }
    answered.notify_all();
}

CDialogTransferPort::CDialogTransferPort(bool download, std::function<void()> onCancel)
    : m_download(download), m_onCancel(std::move(onCancel))
{
}

CDialogTransferPort::~CDialogTransferPort()
{
    delete m_question;
    delete m_dialog;
}

template <typename Call>
void CDialogTransferPort::OnGuiThread(Call call)
{
    if (QThread::currentThread() == thread())
        call();
    else
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

CTransferProgressDlg* CDialogTransferPort::Dialog()
{
    if (!m_dialog) {
        m_dialog = new CTransferProgressDlg(m_download, m_onCancel);
        m_dialog->ShowAsSettingsSay();
    }
    return m_dialog;
}

void CDialogTransferPort::SetCaption(const QString& text)
{
    OnGuiThread([this, text] { Dialog()->SetCaption(text); });
}

void CDialogTransferPort::SetLine1(const QString& text)
{
    OnGuiThread([this, text] { Dialog()->SetLine1(text); });
}

void CDialogTransferPort::SetLine2(const QString& text)
{
    OnGuiThread([this, text] { Dialog()->SetLine2(text); });
}

void CDialogTransferPort::SetRange(int high)
{
    OnGuiThread([this, high] { Dialog()->SetRange(high); });
}

void CDialogTransferPort::SetPos(int position)
{
    OnGuiThread([this, position] { Dialog()->SetPos(position); });
}

void CDialogTransferPort::SetProgress(const TransferProgress& progress)
{
    OnGuiThread([this, progress] { Dialog()->SetProgress(progress); });
}

FileAnswer CDialogTransferPort::AskReplace(const FileQuestion& question)
{
    return Ask(question, true);
}

FileAnswer CDialogTransferPort::AskResume(const FileQuestion& question)
{
    return Ask(question, false);
}

FileAnswer CDialogTransferPort::Ask(const FileQuestion& question, bool replace)
{
    auto answer = std::make_shared<Answer>();
    {
        std::lock_guard lock(m_mutex);
        if (m_questionsCancelled)
            return kAnswerCancel;
        m_pending = answer;
    }
    OnGuiThread([this, question, replace, answer] { ShowQuestion(question, replace, answer); });
    std::unique_lock lock(answer->mutex);
    answer->answered.wait(lock, [&] { return answer->done; });
    return answer->value;
}

void CDialogTransferPort::ShowQuestion(const FileQuestion& question, bool replace, const std::shared_ptr<Answer>& answer)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_questionsCancelled) {
            answer->Give(kAnswerCancel);
            return;
        }
    }
    // Modal to its own progress window only: the program and the other
    // transfers go on while this one waits.
    QWidget* parent = m_dialog && m_dialog->isVisible() ? m_dialog.data() : nullptr;
    CConfirmFileDlg* dialog = replace ? static_cast<CConfirmFileDlg*>(new CConfirmReplaceDlg(question, parent))
                                      : static_cast<CConfirmFileDlg*>(new CConfirmResumeDlg(question, parent));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    connect(dialog, &QDialog::finished, this, [answer](int result) {
        answer->Give(result == kAnswerYes || result == kAnswerNo || result == kAnswerYesToAll
                         ? static_cast<FileAnswer>(result)
                         : kAnswerCancel);
    });
    m_question = dialog;
    COpenTransferQuestions::Instance().Add(1);
    connect(dialog, &QObject::destroyed, &COpenTransferQuestions::Instance(), [] { COpenTransferQuestions::Instance().Add(-1); });
    dialog->show();
}

COpenTransferQuestions& COpenTransferQuestions::Instance()
{
    static COpenTransferQuestions instance;
    return instance;
}

void COpenTransferQuestions::Add(int delta)
{
    m_count += delta;
    emit CountChanged(m_count);
}

void CDialogTransferPort::CancelQuestion()
{
    std::shared_ptr<Answer> pending;
    {
        std::lock_guard lock(m_mutex);
        m_questionsCancelled = true;
        pending = std::move(m_pending);
    }
    if (pending)
        pending->Give(kAnswerCancel);
    OnGuiThread([this] {
        if (m_question)
            m_question->close();
    });
}

void CDialogTransferPort::Close()
{
    OnGuiThread([this] {
        if (m_question)
            m_question->close();
        if (m_dialog) {
            m_dialog->hide();
            m_dialog->deleteLater();
        }
    });
}
