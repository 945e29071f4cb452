#pragma once

#include <QString>

// Server certificates the user chose to trust although the system's trust
// store does not (the self-signed certificate of a small server), one per
// host and port, by their SHA-256 fingerprint. Kept in a file of their own
// beside the settings, readable by the owner only.
//
// The file is read afresh on every question, so a decision taken on the GUI
// thread holds at once for the transfer threads too. Lines that cannot be
// read are skipped, never rewritten into something else.
class CTrustedCertificates {
public:
    enum class Verdict {
        Unknown, // nothing stored for this host and port
        Trusted, // the stored fingerprint is this one
        Changed, // another certificate was trusted here: refuse, and say so
    };

    explicit CTrustedCertificates(QString path = DefaultPath());

    // "Kestrix-trusted-certificates" in the folder of the settings file.
    static QString DefaultPath();
    // Redirects DefaultPath for the rest of the process (tests); an empty
    // path restores the rule above.
    static void SetDefaultPathOverride(const QString& path);
    const QString& Path() const { return m_path; }

    // Fingerprints compare ignoring case and the colons between bytes.
    Verdict Check(const QString& host, int port, const QString& sha256) const;
    // Stores (or replaces) the host's fingerprint; the write is atomic. On
    // failure, `error` says why in words for the user.
    bool Trust(const QString& host, int port, const QString& sha256, QString* error = nullptr);

private:
    static QString Key(const QString& host, int port);
    static QString Normalized(const QString& sha256);

    QString m_path;
};
