#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;

// The Quick Connect bar: address, user name, password and a Connect button.
class CQuickConnectBar : public QWidget {
    Q_OBJECT
public:
    explicit CQuickConnectBar(QWidget* parent = nullptr);

    QString Host() const;
    QString User() const;
    QString Password() const;
    void ClearCredentials();
    QPushButton* ConnectButton() const { return m_connect; }
    QLineEdit* HostField() const { return m_host; }

signals:
    void ConnectRequested();

private:
    QLineEdit* m_host = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_connect = nullptr;
};
