#include "window/frame/DialogPrompts.h"

#include "window/frame/RetryCountdownDlg.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

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

namespace {

// "Connect once", the "always" answer and Cancel (the default: nothing is
// trusted by a stray Enter) under a question about a server's identity.
CertificateAnswer AskTrust(QMessageBox& box, const QString& always)
{
    QPushButton* once = box.addButton(QStringLiteral("Connect once"), QMessageBox::AcceptRole);
    QPushButton* forGood = box.addButton(always, QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.exec();
    if (box.clickedButton() == once)
        return CertificateAnswer::ConnectOnce;
    if (box.clickedButton() == forGood)
        return CertificateAnswer::AlwaysTrust;
    return CertificateAnswer::Cancel;
}

} // namespace

IPrompts::CertificateAnswer CDialogPrompts::AskCertificate(QWidget* owner, const CertificateQuestion& question)
{
    const QString details = QStringLiteral("Subject: %1\nIssuer: %2\nValid from: %3\nValid until: %4\n"
                                           "SHA-256 fingerprint:\n%5")
                                .arg(question.subject, question.issuer, question.validFrom, question.validUntil,
                                     question.sha256);
    QMessageBox box(OwnerOr(owner));
    box.setWindowTitle(QStringLiteral("Server Certificate"));
    if (question.changed) {
        box.setIcon(QMessageBox::Critical);
        box.setText(QStringLiteral("The certificate of %1 port %2 is not the one you chose to trust before. "
                                   "Someone may be listening in between, or the server got a new certificate. "
                                   "The connection is refused.")
                        .arg(question.host)
                        .arg(question.port));
        box.setInformativeText(details);
        box.addButton(QMessageBox::Cancel);
        box.exec();
        return CertificateAnswer::Cancel;
    }
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("The certificate of %1 port %2 is not trusted: %3")
                    .arg(question.host)
                    .arg(question.port)
                    .arg(question.problem));
    box.setInformativeText(details);
    return AskTrust(box, QStringLiteral("Always trust this certificate for this host"));
}

IPrompts::CertificateAnswer CDialogPrompts::AskHostKey(QWidget* owner, const HostKeyQuestion& question)
{
    const QString details = QStringLiteral("Key type: %1\nSHA-256 fingerprint:\n%2\n\nKnown hosts file: %3")
                                .arg(question.keyType, question.fingerprint, question.knownHostsFile);
    QMessageBox box(OwnerOr(owner));
    box.setWindowTitle(QStringLiteral("Server Host Key"));
    box.setInformativeText(details);
    if (question.changed) {
        box.setIcon(QMessageBox::Critical);
        box.setText(QStringLiteral("The host key of %1 port %2 is not the one your known hosts file holds for it. "
                                   "Someone may be listening in between, or the server got a new key. "
                                   "The connection is refused; if the server's administrator confirms the new "
                                   "key, remove the old one from the known hosts file.")
                        .arg(question.host)
                        .arg(question.port));
        box.addButton(QMessageBox::Cancel);
        box.exec();
        return CertificateAnswer::Cancel;
    }
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("The host key of %1 port %2 is not known. Compare its fingerprint with the one the "
                               "server's administrator gives before you go on.")
                    .arg(question.host)
                    .arg(question.port));
    return AskTrust(box, QStringLiteral("Always trust"));
}

bool CDialogPrompts::AskPassphrase(QWidget* owner, const QString& keyFile, QString& passphrase)
{
    bool ok = false;
    const QString text = QInputDialog::getText(OwnerOr(owner), QStringLiteral("Key Passphrase"),
                                               QStringLiteral("Passphrase of the private key %1:").arg(keyFile),
                                               QLineEdit::Password, QString(), &ok);
    if (!ok)
        return false;
    passphrase = text;
    return true;
}
