#pragma once

#include "engine/base/WindowMessages.h"

#include <QEvent>
#include <QString>

class CTransferThread;

// A worker's progress for its row in the queue (WM_STATUS_TEXT): the name of
// the file, the status word and the percentage as fields of their own, so a
// comma in a file name stays in the name. An empty name or status leaves
// that column as it is.
class TransferStatusEvent : public QEvent {
public:
    TransferStatusEvent(CTransferThread* thread, QString name, QString status, int percent)
        : QEvent(WM_STATUS_TEXT), m_thread(thread), m_name(std::move(name)), m_status(std::move(status)),
          m_percent(percent)
    {
    }
    CTransferThread* Thread() const { return m_thread; }
    const QString& Name() const { return m_name; }
    const QString& Status() const { return m_status; }
    int Percent() const { return m_percent; }

private:
    CTransferThread* m_thread;
    QString m_name;
    QString m_status;
    int m_percent;
};

// The end of a worker's run: WM_DOWNLOAD_DONE or WM_UPLOAD_DONE. The result
// text is the success text, the cancelled text or why the run failed.
class TransferDoneEvent : public QEvent {
public:
    TransferDoneEvent(QEvent::Type type, CTransferThread* thread, QString resultText, bool failed)
        : QEvent(type), m_thread(thread), m_result(std::move(resultText)), m_failed(failed)
    {
    }
    CTransferThread* Thread() const { return m_thread; }
    const QString& ResultText() const { return m_result; }
    bool Failed() const { return m_failed; }

private:
    CTransferThread* m_thread;
    QString m_result;
    bool m_failed;
};
