#include "window/sites/PasswordDlg.h"

#include "engine/base/FtpSite.h"
#include "engine/catalog/SitePasswords.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CPasswordDlg::CPasswordDlg(const CFtpSite& site, const QString& problem, bool inCatalogue, QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("passwordDialog"));
    setWindowTitle(QStringLiteral("Password"));
    auto* layout = new QVBoxLayout(this);
    const QString where = site.name.isEmpty() ? site.address : QStringLiteral("%1 (%2)").arg(site.name, site.address);
    auto* intro = new QLabel(QStringLiteral("Enter the password of %1 on %2.").arg(site.login.toHtmlEscaped(), where.toHtmlEscaped()), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    if (!problem.isEmpty()) {
        auto* why = new QLabel(problem, this);
        why->setObjectName(QStringLiteral("problem"));
        why->setWordWrap(true);
        layout->addWidget(why);
    }
    auto* form = new QFormLayout;
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&Password:"), m_password);
    layout->addLayout(form);
    const PasswordPlace place = SitePasswords::PlaceForNewPasswords();
    m_remember = new QCheckBox(inCatalogue && place != PasswordPlace::Ask ? QStringLiteral("&Remember the password")
                                                                        : QStringLiteral("&Remember until Kestrix ends"),
                               this);
    m_remember->setObjectName(QStringLiteral("remember"));
    if (inCatalogue && place != PasswordPlace::Ask)
        m_remember->setToolTip(QStringLiteral("Kept in %1.").arg(SitePasswords::PlaceName(place)));
    m_remember->setChecked(true);
    layout->addWidget(m_remember);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString CPasswordDlg::Password() const
{
    return m_password->text();
}

bool CPasswordDlg::Remember() const
{
    return m_remember->isChecked();
}
