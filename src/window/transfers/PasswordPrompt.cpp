#include "window/transfers/PasswordPrompt.h"

#include <QInputDialog>
#include <QLineEdit>

std::optional<QString> CPasswordPrompt::PasswordFor(const TransferPasswordRequest& request)
{
    QInputDialog dialog(m_parent);
    dialog.setObjectName(QStringLiteral("transferPassword"));
    dialog.setWindowTitle(QStringLiteral("Password"));
    dialog.setLabelText(QStringLiteral("The queued transfer to %1 needs the password of %2 again (passwords are not "
                                       "kept in the queue):")
                            .arg(request.port == 21 ? request.host : QStringLiteral("%1:%2").arg(request.host).arg(request.port),
                                 request.user));
    dialog.setTextEchoMode(QLineEdit::Password);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}
