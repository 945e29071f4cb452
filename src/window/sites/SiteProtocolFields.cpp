#include "window/sites/SiteProtocolFields.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

CProtocolChoice::CProtocolChoice(QWidget* parent)
    : QComboBox(parent)
{
    addItems({QStringLiteral("FTP - File Transfer Protocol"), QStringLiteral("SFTP - SSH File Transfer Protocol")});
}

SiteProtocol CProtocolChoice::Protocol() const
{
    return currentIndex() == static_cast<int>(SiteProtocol::Sftp) ? SiteProtocol::Sftp : SiteProtocol::Ftp;
}

void CProtocolChoice::SetProtocol(SiteProtocol protocol)
{
    setCurrentIndex(static_cast<int>(protocol));
}

CKeyFileField::CKeyFileField(QWidget* parent)
    : QWidget(parent)
{
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("keyFile"));
    m_edit->setToolTip(QStringLiteral("A private key tried before the SSH agent and ~/.ssh's keys"));
    m_edit->setPlaceholderText(QStringLiteral("the SSH agent and ~/.ssh's keys"));
    m_browse = new QPushButton(QStringLiteral("Browse..."), this);
    m_browse->setObjectName(QStringLiteral("browseKeyFile"));
    m_browse->setAccessibleName(QStringLiteral("Browse for the key file"));
    m_browse->setAutoDefault(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_browse);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textEdited, this, &CKeyFileField::Edited);
    connect(m_browse, &QPushButton::clicked, this, &CKeyFileField::Browse);
}

QString CKeyFileField::Path() const
{
    return m_edit->text();
}

void CKeyFileField::SetPath(const QString& path)
{
    m_edit->setText(path);
}

void CKeyFileField::Browse()
{
    // Keys live in ~/.ssh far more often than anywhere else.
    const QString current = Path().trimmed();
    const QString start = current.isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh") : current;
    QFileDialog dialog(window(), QStringLiteral("Select a private key"), start);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Keys carry no extension to filter by, and some are hidden files.
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().constFirst();
    m_edit->setText(chosen);
    emit Edited(chosen);
}

QString FollowingPort(const QString& port, SiteProtocol protocol, qint32 encryption)
{
    const QString trimmed = port.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("21") || trimmed == QLatin1String("22")
        || trimmed == QLatin1String("990"))
        return QString::number(DefaultPortOf(protocol, encryption));
    return port;
}

void EnableFtpOnly(std::initializer_list<QWidget*> controls, SiteProtocol protocol)
{
    for (QWidget* control : controls) {
        control->setEnabled(protocol == SiteProtocol::Ftp);
        control->setToolTip(QStringLiteral("Only for FTP sites"));
    }
}
