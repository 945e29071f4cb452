#pragma once

#include "engine/base/RemotePath.h"
#include "engine/edit/EditedFiles.h"
#include "engine/transfer/TransferJob.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class CFtpListView;
class CFtpSession;
class CRemotePresenter;
class CTransferCommands;
class CTransferQueue;
class QWidget;

// Open and Edit: a remote file downloaded through the queue into a private
// copy, opened with the program set for its extension (or the desktop's),
// and watched. Each complete save is offered back to the server (unless
// "always for this file" or "EditUploadWithoutAsking"), after a look at
// whether the server's file changed since it was fetched, and goes up
// through the queue. The list of files being edited, and the question when
// the window closes with changes not uploaded, are here too.
//
// The session is asked only while it is free: a save heard during an
// operation waits for its end.
class CEditCommands : public QObject {
    Q_OBJECT
public:
    CEditCommands(CFtpSession& session, CRemotePresenter& presenter, CFtpListView& list, CTransferQueue& queue,
                  CTransferCommands& transfers, QWidget* window);
    ~CEditCommands() override;

    // The selected files (folders are left out), each into its copy.
    void OnOpenAndEdit();
    // "Files Being Edited".
    void OnEditedFiles();
    // Closing with copies changed and not uploaded: asks; false when the
    // user goes back to the window.
    bool ConfirmClose();

    CEditedFiles& Files() { return m_files; }

private:
    // What a copy needs to go back: the connection it came over.
    struct Origin {
        TransferSite site;
        bool refreshRemote = false; // the server's size and time to be read again
    };
    // A copy on its way down.
    struct Download {
        QString siteKey;
        RemotePath remotePath;
        QString localPath;
        TransferSite site;
        quint64 remoteSize = 0;
        qint64 remoteModified = -1;
    };
    struct Waiting {
        int id;
        bool ask; // a save: the upload question comes first; Upload Now: it does not
    };

    QString SiteKeyOfSession() const;
    bool SessionIsOn(const QString& siteKey) const;
    void Open(const RemotePath& path, quint64 listedSize);
    // Starts the program for the copy; says so when none could be started.
    void Launch(const QString& localPath);
    void OnSaved(int id);
    void Enqueue(int id, bool ask);
    // Works through the waiting saves once the session is free.
    void HandleWaiting();
    void OfferUpload(int id, bool ask);
    // True when the server's file is as it was fetched or the user wants
    // it replaced all the same.
    bool ServerCopyMayBeReplaced(const EditedFile& file);
    void Upload(int id);
    void RefreshRemoteStates();
    void OnJobLeaving(int row);
    void OnJobFailed(qint64 job, const QString& text);
    void OnDownloadEnded(const Download& download, bool done, const QString& text);
    void OnUploadEnded(int id, bool done, bool failed, const QString& text);

    CFtpSession& m_session;
    CRemotePresenter& m_presenter;
    CFtpListView& m_list;
    QPointer<CTransferQueue> m_queue;
    CTransferCommands& m_transfers;
    QWidget* m_window;
    CEditedFiles m_files;
    QHash<int, Origin> m_origins;      // by the copy's id
    QHash<qint64, Download> m_downloads; // by job
    QHash<qint64, int> m_uploads;        // job -> the copy's id
    QList<Waiting> m_waiting;
    bool m_handling = false;
};
