#include "views/QuickConnectBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CQuickConnectBar::CQuickConnectBar(QWidget* parent)
    : QWidget(parent)
{
    m_host = new QLineEdit(this);
    m_host->setObjectName(QStringLiteral("host"));
    m_host->setPlaceholderText(QStringLiteral("ftp.example.org"));
    m_user = new QLineEdit(this);
    m_user->setObjectName(QStringLiteral("user"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_connect = new QPushButton(QStringLiteral("&Connect"), this);
    m_connect->setObjectName(QStringLiteral("connect"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    const auto addField = [&](const QString& label, QLineEdit* field, int stretch) {
        auto* text = new QLabel(label, this);
        text->setBuddy(field);
        layout->addWidget(text);
        layout->addWidget(field, stretch);
    };
    addField(QStringLiteral("&Address:"), m_host, 3);
    addField(QStringLiteral("&User Name:"), m_user, 2);
    addField(QStringLiteral("&Password:"), m_password, 2);
    layout->addWidget(m_connect);

    connect(m_connect, &QPushButton::clicked, this, &CQuickConnectBar::ConnectRequested);
    for (QLineEdit* field : {m_host, m_user, m_password})
        connect(field, &QLineEdit::returnPressed, this, &CQuickConnectBar::ConnectRequested);
}

QString CQuickConnectBar::Host() const
{
    return m_host->text().trimmed();
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
