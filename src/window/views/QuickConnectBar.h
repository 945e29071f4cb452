#pragma once

#include <QWidget>

class CHistoryComboBox;
class QLineEdit;
class QPushButton;

// The Quick Connect bar: host (with the hosts connected to before), user name,
// password and a Connect button. Picking a remembered host fills in the user
// name and password stored with it.
class CQuickConnectBar : public QWidget {
    Q_OBJECT
public:
    explicit CQuickConnectBar(QWidget* parent = nullptr);

    QString Host() const;
    QString User() const;
    QString Password() const;
    void ClearCredentials();
    // What to pass to HostHistory()->AddToHistory() for the fields as they are
    // now: host, user name and password, encoded so that any of them survives.
    QString HistoryEntry() const;
    QPushButton* ConnectButton() const { return m_connect; }
    QLineEdit* HostField() const;
    CHistoryComboBox* HostHistory() const { return m_host; }

signals:
    void ConnectRequested();

private:
    void FillCredentials(int index);

    CHistoryComboBox* m_host = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_connect = nullptr;
};
