#include "window/views/QuickConnectBar.h"

#include "engine/base/Settings.h"
#include "window/views/HistoryComboBox.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kSftpField = QStringLiteral("sftp");

} // namespace

CQuickConnectBar::CQuickConnectBar(QWidget* parent)
    : QWidget(parent)
{
    m_protocol = new QComboBox(this);
    m_protocol->setObjectName(QStringLiteral("protocol"));
    m_protocol->addItems({QStringLiteral("FTP"), QStringLiteral("SFTP")});
    m_protocol->setAccessibleName(QStringLiteral("Protocol"));
    m_protocol->setToolTip(QStringLiteral("The protocol of a host typed without ftp:// or sftp://"));
    m_protocol->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_host = new CHistoryComboBox(this);
    m_host->setObjectName(QStringLiteral("host"));
    m_user = new QLineEdit(this);
    m_user->setObjectName(QStringLiteral("user"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_connect = new QPushButton(QStringLiteral("Connect"), this);
    m_connect->setObjectName(QStringLiteral("connect"));
    m_connect->setDefault(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    const auto addField = [&](const QString& label, QWidget* field, int stretch) {
        auto* text = new QLabel(label, this);
        text->setBuddy(field);
        layout->addWidget(text);
        layout->addWidget(field, stretch);
    };
    addField(QStringLiteral("Host:"), m_host, 3);
    layout->addWidget(m_protocol);
    addField(QStringLiteral("Username:"), m_user, 2);
    addField(QStringLiteral("Password:"), m_password, 2);
    layout->addWidget(m_connect);
    setTabOrder(m_host, m_protocol);
    setTabOrder(m_protocol, m_user);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_connect);

    m_host->LoadHistory(QString::fromLatin1(kx::settings::kQuickConnectSection));
    if (m_host->count() > 0) {
        m_host->setCurrentIndex(0);
        FillCredentials(0);
    }

    connect(m_connect, &QPushButton::clicked, this, &CQuickConnectBar::ConnectRequested);
    // Only a pick from the list refills the credentials: the history moving
    // its own selection while it is updated, or Enter on a remembered host
    // typed with a new password, must not overwrite what was typed.
    connect(m_host, &CHistoryComboBox::EntryPicked, this, &CQuickConnectBar::FillCredentials);
    connect(HostField(), &QLineEdit::textEdited, this, &CQuickConnectBar::FollowTypedScheme);
    for (QLineEdit* field : {HostField(), m_user, m_password})
        connect(field, &QLineEdit::returnPressed, m_connect, &QPushButton::click);
}

QLineEdit* CQuickConnectBar::HostField() const
{
    return m_host->lineEdit();
}

void CQuickConnectBar::FillCredentials(int index)
{
    const QString data = m_host->EntryData(index);
    m_user->setText(CHistoryComboBox::DataField(data, 0));
    m_password->setText(CHistoryComboBox::DataField(data, 1));
    SetProtocol(CHistoryComboBox::DataField(data, 2) == kSftpField ? SiteProtocol::Sftp : SiteProtocol::Ftp);
}

void CQuickConnectBar::FollowTypedScheme(const QString& host)
{
    // A scheme typed wins over the choice: the drop-down shows what the
    // connection will be.
    const QString text = host.trimmed();
    const qsizetype separator = text.indexOf(QLatin1String("://"));
    const QString scheme = separator > 0 ? text.left(separator).toLower() : QString();
    if (scheme == QLatin1String("sftp"))
        SetProtocol(SiteProtocol::Sftp);
    else if (scheme == QLatin1String("ftp") || scheme == QLatin1String("ftps") || scheme == QLatin1String("ftpes"))
        SetProtocol(SiteProtocol::Ftp);
}

SiteProtocol CQuickConnectBar::Protocol() const
{
    return m_protocol->currentIndex() == static_cast<int>(SiteProtocol::Sftp) ? SiteProtocol::Sftp : SiteProtocol::Ftp;
}

void CQuickConnectBar::SetProtocol(SiteProtocol protocol)
{
    m_protocol->setCurrentIndex(static_cast<int>(protocol));
}

QString CQuickConnectBar::Address() const
{
    const QString host = Host();
    if (Protocol() == SiteProtocol::Sftp && !host.isEmpty() && !host.contains(QLatin1String("://")))
        return QStringLiteral("sftp://") + host;
    return host;
}

QString CQuickConnectBar::Host() const
{
    return m_host->currentText().trimmed();
}

QString CQuickConnectBar::User() const
{
    return m_user->text();
}

QString CQuickConnectBar::Password() const
{
    return m_password->text();
}

void CQuickConnectBar::ClearCredentials()
{
    m_user->clear();
    m_password->clear();
}

QString CQuickConnectBar::HistoryEntry() const
{
    QStringList fields{User(), Password()};
    if (Protocol() == SiteProtocol::Sftp)
        fields << kSftpField;
    return CHistoryComboBox::MakeEntry(Host(), fields);
}
