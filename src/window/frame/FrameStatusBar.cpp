#include "window/frame/FrameStatusBar.h"

#include "engine/base/SizeText.h"
#include "engine/session/FtpSession.h"
#include "window/resources/Resources.h"
#include "window/transfers/TransferManagerBar.h"
#include "window/views/FtpListView.h"

#include <QLabel>
#include <QStatusBar>

CFrameStatusBar::CFrameStatusBar(QStatusBar& bar, const CFtpSession& session, const CFtpListView& list,
                                 const CTransferManagerBar& queue)
    : QObject(&bar), m_session(session), m_list(list), m_queue(queue)
{
    m_listStatus = new QLabel(&bar);
    m_listStatus->setObjectName(QStringLiteral("listStatus"));
    bar.addWidget(m_listStatus);
    m_transferStatus = new QLabel(&bar);
    m_transferStatus->setObjectName(QStringLiteral("transferStatus"));
    bar.addPermanentWidget(m_transferStatus);
    m_lock = new QLabel(&bar);
    m_lock->setObjectName(QStringLiteral("encryptionLock"));
    m_lock->setPixmap(kx::LockIcon().pixmap(16));
    m_lock->setToolTip(QStringLiteral("The connection is encrypted (TLS)."));
    m_lock->setAccessibleName(QStringLiteral("Encrypted connection"));
    m_lock->hide();
    bar.addPermanentWidget(m_lock);
}

void CFrameStatusBar::UpdateList()
{
    if (!m_session.HasConnection() || m_session.ListedPath().IsEmpty()) {
        m_listStatus->setText(QStringLiteral("Ready"));
        return;
    }
    const QList<int> selected = m_list.SelectedRows();
    quint64 bytes = 0;
    bool files = false;
    for (const int row : selected) {
        if (!m_list.IsFolderItem(row)) {
            bytes += m_list.GetItemSize(row);
            files = true;
        }
    }
    const int rows = m_list.RowCount();
    QString text = rows == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(FormatThousands(quint64(rows)));
    // A folder's size is not known here; "1 KB" for it would be made up.
    if (!selected.isEmpty())
        text += QStringLiteral(", %1 selected").arg(FormatThousands(quint64(selected.size())))
            + (files ? QStringLiteral(" (%1)").arg(FormatSizeKB(bytes)) : QString());
    m_listStatus->setText(text);
}

void CFrameStatusBar::UpdateTransfers()
{
    const int running = m_queue.RunningCount();
    const int queued = m_queue.QueuedCount();
    if (running == 0 && queued == 0) {
        m_transferStatus->clear();
        return;
    }
    m_transferStatus->setText(QStringLiteral("Transfers: %1 running, %2 queued, %3 KB/s")
                                  .arg(running)
                                  .arg(queued)
                                  .arg(FormatThousands(quint64(m_queue.TransferRate() / 1024.0 + 0.5))));
}

void CFrameStatusBar::UpdateLock()
{
    const bool encrypted = m_session.IsEncrypted();
    m_lock->setVisible(encrypted);
    if (encrypted)
        m_lock->setToolTip(m_session.Site().protocol == SiteProtocol::Sftp
                               ? QStringLiteral("The connection is encrypted (SSH).")
                               : QStringLiteral("The connection is encrypted (TLS)."));
}
