#include "app/DialogPrompts.h"

#include "transfer/RetryCountdownDlg.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QMessageBox::Icon ToMessageBoxIcon(IPrompts::Icon icon)
{
    switch (icon) {
    case IPrompts::Icon::Information: return QMessageBox::Information;
    case IPrompts::Icon::Warning: return QMessageBox::Warning;
    case IPrompts::Icon::Error: return QMessageBox::Critical;
    case IPrompts::Icon::Question: return QMessageBox::Question;
    case IPrompts::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

// Layers below the window ask without naming an owner; the dialog then
// belongs to whichever window the user is working in.
QWidget* OwnerOr(QWidget* owner)
{
    return owner ? owner : QApplication::activeWindow();
}

} // namespace

void CDialogPrompts::Message(QWidget* owner, const QString& text, Icon icon)
{
    QMessageBox box(ToMessageBoxIcon(icon), QStringLiteral("Kestrix"), text, QMessageBox::Ok, OwnerOr(owner));
    box.exec();
}

IPrompts::Answer CDialogPrompts::AskYesNo(QWidget* owner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, OwnerOr(owner));
    return box.exec() == QMessageBox::Yes ? Yes : No;
}

bool CDialogPrompts::RetryCountdown(QWidget* owner, int delaySeconds, const QString& errorText)
{
    CRetryCountdownDlg dialog(OwnerOr(owner));
    dialog.SetDelay(delaySeconds);
    dialog.SetErrorText(errorText);
    return dialog.exec() == QDialog::Accepted;
}
