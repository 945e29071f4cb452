#pragma once

#include "engine/base/FtpSite.h"

#include <QWidget>

class CHistoryComboBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The Quick Connect bar: protocol, host (with the hosts connected to before),
// user name, password and a Connect button. Picking a remembered host fills
// in the user name, password and protocol stored with it.
class CQuickConnectBar : public QWidget {
    Q_OBJECT
public:
    explicit CQuickConnectBar(QWidget* parent = nullptr);

    QString Host() const;
    // What to connect to: the host, with "sftp://" in front when SFTP is
    // chosen and the host names no scheme of its own.
    QString Address() const;
    SiteProtocol Protocol() const;
    void SetProtocol(SiteProtocol protocol);
    QString User() const;
    QString Password() const;
    void ClearCredentials();
    // What to pass to HostHistory()->AddToHistory() for the fields as they are
    // now: host, user name, password and (for SFTP only, so that FTP entries
    // read as before) the protocol, encoded so that any of them survives.
    QString HistoryEntry() const;
    QPushButton* ConnectButton() const { return m_connect; }
    QLineEdit* HostField() const;
    CHistoryComboBox* HostHistory() const { return m_host; }
    QComboBox* ProtocolBox() const { return m_protocol; }

signals:
    void ConnectRequested();

private:
    void FillCredentials(int index);
    void FollowTypedScheme(const QString& host);

    QComboBox* m_protocol = nullptr;
    CHistoryComboBox* m_host = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_connect = nullptr;
};
