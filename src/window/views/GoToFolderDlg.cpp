#include "window/views/GoToFolderDlg.h"

#include "engine/base/Settings.h"
#include "window/views/HistoryComboBox.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QVBoxLayout>

CGoToFolderDlg::CGoToFolderDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Go To Folder"));
    auto* prompt = new QLabel(QStringLiteral("Type the path of the folder you want to open."), this);
    m_path = new CHistoryComboBox(this);
    m_path->setObjectName(QStringLiteral("path"));
    prompt->setBuddy(m_path);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGoToFolderDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGoToFolderDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_path);
    layout->addWidget(buttons);

    m_path->LoadHistory(QString::fromLatin1(kx::settings::kGoToFolderSection));
    // The remembered folders are offered in the list; the path starts empty.
    m_path->setCurrentIndex(-1);
    m_path->setEditText(QString());
    m_path->setFocus();
}

QString CGoToFolderDlg::Path() const
{
    return m_path->currentText();
}

bool CGoToFolderDlg::ShiftHeld() const
{
    if (m_shiftOverride)
        return *m_shiftOverride;
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void CGoToFolderDlg::accept()
{
    if (ShiftHeld())
        m_path->ClearHistory();
    else
        m_path->AddToHistory();
    QDialog::accept();
}
