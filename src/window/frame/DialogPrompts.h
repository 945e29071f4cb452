#pragma once

#include "engine/base/Prompts.h"

// The prompts as the user sees them: message boxes and the retry countdown.
// The program installs them at start-up (SetPrompts).
class CDialogPrompts final : public IPrompts {
public:
    void Message(QWidget* owner, const QString& text, Icon icon) override;
    Answer AskYesNo(QWidget* owner, const QString& text, const QString& caption) override;
    bool RetryCountdown(QWidget* owner, int delaySeconds, const QString& errorText) override;
    CertificateAnswer AskCertificate(QWidget* owner, const CertificateQuestion& question) override;
    CertificateAnswer AskHostKey(QWidget* owner, const HostKeyQuestion& question) override;
    bool AskPassphrase(QWidget* owner, const QString& keyFile, QString& passphrase) override;
};
