#pragma once

#include <QObject>

class CFtpListView;
class CFtpSession;
class CTransferManagerBar;
class QLabel;
class QStatusBar;

// The status bar's fields: the listed folder's items and selection, the
// transfers running and queued with their rate, and the lock shown while the
// control connection is encrypted.
class CFrameStatusBar : public QObject {
    Q_OBJECT
public:
    CFrameStatusBar(QStatusBar& bar, const CFtpSession& session, const CFtpListView& list,
                    const CTransferManagerBar& queue);

    void UpdateList();
    void UpdateTransfers();
    void UpdateLock();

private:
    const CFtpSession& m_session;
    const CFtpListView& m_list;
    const CTransferManagerBar& m_queue;
    QLabel* m_listStatus;
    QLabel* m_transferStatus;
    QLabel* m_lock;
};
