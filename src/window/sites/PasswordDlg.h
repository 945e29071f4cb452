#pragma once

#include <QDialog>

class CFtpSite;
class QCheckBox;
class QLineEdit;

// Asks for a site's password when none is stored or the keyring would not
// give it: the login and host it is for, why it is asked, and "Remember",
// which keeps it where the setting "Store passwords in" says (for a typed
// address, until the program ends).
class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    CPasswordDlg(const CFtpSite& site, const QString& problem, bool inCatalogue, QWidget* owner = nullptr);

    QString Password() const;
    bool Remember() const;

private:
    QLineEdit* m_password;
    QCheckBox* m_remember;
};
