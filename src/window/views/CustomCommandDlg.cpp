#include "window/views/CustomCommandDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CCustomCommandDlg::CCustomCommandDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Send Custom Command"));
    auto* label = new QLabel(QStringLiteral("Command:"), this);
    m_command = new QLineEdit(this);
    m_command->setObjectName(QStringLiteral("command"));
    label->setBuddy(m_command);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* send = buttons->addButton(QStringLiteral("Send"), QDialogButtonBox::AcceptRole);
    send->setObjectName(QStringLiteral("send"));
    send->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCustomCommandDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCustomCommandDlg::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_command, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    m_command->setFocus();
}

QString CCustomCommandDlg::Command() const
{
    return m_command->text();
}
