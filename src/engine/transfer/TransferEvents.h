#pragma once

#include "engine/base/WindowMessages.h"
#include "engine/transfer/TransferJob.h"

#include <QEvent>
#include <QString>

class CTransferThread;

// The files a worker found for its job, once, before it moves the first one.
inline constexpr QEvent::Type WM_TRANSFER_FILES = static_cast<QEvent::Type>(QEvent::User + 136);
// One file of a job changed: started, moved on, ended.
inline constexpr QEvent::Type WM_TRANSFER_FILE = static_cast<QEvent::Type>(QEvent::User + 137);

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

class TransferFilesEvent : public QEvent {
public:
    TransferFilesEvent(CTransferThread* thread, TransferFileList files)
        : QEvent(WM_TRANSFER_FILES), m_thread(thread), m_files(std::move(files))
    {
    }
    CTransferThread* Thread() const { return m_thread; }
    const TransferFileList& Files() const { return m_files; }

private:
    CTransferThread* m_thread;
    TransferFileList m_files;
};

// `index` is the file's place in the job's list. `rate` is the job's bytes
// per second over the last moments, for the time left.
class TransferFileEvent : public QEvent {
public:
    TransferFileEvent(CTransferThread* thread, int index, TransferState state, quint64 done, quint64 size,
                      QString result, double rate)
        : QEvent(WM_TRANSFER_FILE), m_thread(thread), m_index(index), m_state(state), m_done(done), m_size(size),
          m_result(std::move(result)), m_rate(rate)
    {
    }
    CTransferThread* Thread() const { return m_thread; }
    int Index() const { return m_index; }
    TransferState State() const { return m_state; }
    quint64 Done() const { return m_done; }
    quint64 Size() const { return m_size; }
    const QString& Result() const { return m_result; }
    double Rate() const { return m_rate; }

private:
    CTransferThread* m_thread;
    int m_index;
    TransferState m_state;
    quint64 m_done;
    quint64 m_size;
    QString m_result;
    double m_rate;
};

// The end of a worker's run: WM_DOWNLOAD_DONE or WM_UPLOAD_DONE. The result
// text is the success text, the cancelled text or why the run failed.
class TransferDoneEvent : public QEvent {
public:
    TransferDoneEvent(QEvent::Type type, CTransferThread* thread, QString resultText, bool failed,
                      bool cancelled = false)
        : QEvent(type), m_thread(thread), m_result(std::move(resultText)), m_failed(failed), m_cancelled(cancelled)
    {
    }
    CTransferThread* Thread() const { return m_thread; }
    const QString& ResultText() const { return m_result; }
    bool Failed() const { return m_failed; }
    bool Cancelled() const { return m_cancelled; }

private:
    CTransferThread* m_thread;
    QString m_result;
    bool m_failed;
    bool m_cancelled;
};
