#pragma once

#include "engine/base/FtpSite.h"

#include <QComboBox>
#include <QString>
#include <QWidget>

#include <initializer_list>

class QLineEdit;
class QPushButton;

// The "Protocol" drop-down of the Site Manager and the Connection Wizard,
// its items in SiteProtocol order.
class CProtocolChoice : public QComboBox {
    Q_OBJECT
public:
    explicit CProtocolChoice(QWidget* parent = nullptr);

    SiteProtocol Protocol() const;
    void SetProtocol(SiteProtocol protocol);
};

// An SFTP site's private key file: the path and a "Browse..." button.
class CKeyFileField : public QWidget {
    Q_OBJECT
public:
    explicit CKeyFileField(QWidget* parent = nullptr);

    QString Path() const;
    // Not reported by Edited: the program filling the form.
    void SetPath(const QString& path);
    QLineEdit* Edit() const { return m_edit; }
    QPushButton* BrowseButton() const { return m_browse; }

signals:
    // The user typed a path or chose a file.
    void Edited(const QString& path);

private:
    void Browse();

    QLineEdit* m_edit = nullptr;
    QPushButton* m_browse = nullptr;
};

// What a port field shows once the site's protocol or encryption changed:
// the new standard port while it held a standard one (21, 22, 990) or none,
// otherwise the port the user typed, which is left alone.
QString FollowingPort(const QString& port, SiteProtocol protocol, qint32 encryption);

// Controls that mean nothing to an SFTP site (encryption, passive mode)
// are greyed out for one, and say why.
void EnableFtpOnly(std::initializer_list<QWidget*> controls, SiteProtocol protocol);
