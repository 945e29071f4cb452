#pragma once

#include <QString>

class QWidget;

// A server certificate the system does not trust, as the user is shown it.
struct CertificateQuestion {
    QString host;
    int port = 0;
    QString subject;
    QString issuer;
    QString validFrom;
    QString validUntil;
    QString sha256;  // "AB:CD:..."
    QString problem; // why the system does not trust it
    // Another certificate was trusted for this host before: only Cancel.
    bool changed = false;
};

// An SSH host key the known_hosts file does not vouch for, as the user is
// shown it.
struct HostKeyQuestion {
    QString host;
    int port = 22;
    QString keyType;        // "ssh-ed25519", "ecdsa-sha2-nistp256"...
    QString fingerprint;    // "SHA256:..." as OpenSSH shows it
    QString knownHostsFile; // where "Always trust" writes it
    // known_hosts holds another key for this server: refused whatever the
    // answer, the question only warns.
    bool changed = false;
};

// The answers to an untrusted certificate or host key. Nobody to ask means no connection.
enum class CertificateAnswer { Cancel, ConnectOnce, AlwaysTrust };

// Every message box and question the program asks goes through here, so that
// tests can answer them without a person and layers without widgets can ask
// at all. The program installs the real dialogs; a null owner lets them pick
// the window the user is working in.
class IPrompts {
public:
    enum class Icon { None, Information, Warning, Error, Question };
    enum Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

    virtual ~IPrompts() = default;
    // An OK-only message.
    virtual void Message(QWidget* owner, const QString& text, Icon icon) = 0;
    // Yes/No question; returns Yes or No.
    virtual Answer AskYesNo(QWidget* owner, const QString& text, const QString& caption) = 0;
    // The countdown between two connection attempts; true: try again.
    virtual bool RetryCountdown(QWidget* owner, int delaySeconds, const QString& errorText) = 0;
    // An untrusted server certificate. Nobody to ask means no connection.
    using CertificateAnswer = ::CertificateAnswer;
    virtual CertificateAnswer AskCertificate(QWidget* owner, const CertificateQuestion& question)
    {
        (void)owner;
        (void)question;
        return CertificateAnswer::Cancel;
    }
    // An SSH host key known_hosts does not vouch for; the same answers.
    virtual CertificateAnswer AskHostKey(QWidget* owner, const HostKeyQuestion& question)
    {
        (void)owner;
        (void)question;
        return CertificateAnswer::Cancel;
    }
    // The passphrase of an SSH private key; false when none was given.
    virtual bool AskPassphrase(QWidget* owner, const QString& keyFile, QString& passphrase)
    {
        (void)owner;
        (void)keyFile;
        (void)passphrase;
        return false;
    }
};

// The prompts in force; never null.
IPrompts& Prompts();
// Installs an implementation; null restores the one that answers nothing
// (messages dropped, questions declined). The caller keeps ownership.
void SetPrompts(IPrompts* prompts);
