#include "app/Prompts.h"

#include "transfer/RetryCountdownDlg.h"

#include <QMessageBox>

namespace {

class DialogPrompts final : public IPrompts {
public:
    void Message(QWidget* owner, const QString& text, Icon icon) override
    {
        QMessageBox box(ToMessageBoxIcon(icon), QStringLiteral("Kestrix"), text, QMessageBox::Ok, owner);
        box.exec();
    }

    Answer AskYesNo(QWidget* owner, const QString& text, const QString& caption) override
    {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
        return box.exec() == QMessageBox::Yes ? Yes : No;
    }

    bool RetryCountdown(QWidget* owner, int delaySeconds, const QString& errorText) override
    {
        CRetryCountdownDlg dialog(owner);
        dialog.SetDelay(delaySeconds);
        dialog.SetErrorText(errorText);
        return dialog.exec() == QDialog::Accepted;
    }

private:
    static QMessageBox::Icon ToMessageBoxIcon(Icon icon)
    {
        switch (icon) {
        case Icon::Information: return QMessageBox::Information;
        case Icon::Warning: return QMessageBox::Warning;
        case Icon::Error: return QMessageBox::Critical;
        case Icon::Question: return QMessageBox::Question;
        case Icon::None: break;
        }
        return QMessageBox::NoIcon;
    }
};

DialogPrompts g_dialogs;
IPrompts* g_prompts = &g_dialogs;

} // namespace

IPrompts& Prompts()
{
    return *g_prompts;
}

void SetPrompts(IPrompts* prompts)
{
    g_prompts = prompts ? prompts : &g_dialogs;
}
