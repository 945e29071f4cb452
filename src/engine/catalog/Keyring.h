#pragma once

#include <QString>

// The desktop's keyring (the Secret Service: GNOME Keyring, KWallet), where
// site passwords are kept instead of the catalogue file. Each call waits for
// the keyring's answer, running the calling thread's event loop meanwhile (a
// locked keyring may show the desktop's unlock prompt); nothing is ever
// written elsewhere as a fall-back by this class.
class CKeyring {
public:
    enum class Status {
        Ok,
        NotFound,    // no entry under that key
        Unavailable, // no keyring answers (no session bus, no service)
        Refused,     // locked, denied or cancelled; the entry is untouched
    };
    struct Reply {
        Status status = Status::Unavailable;
        QString password;
        QString error; // the keyring's own words, for a message
    };

    // Whether a keyring answers in this session; asked once per process.
    static bool IsAvailable();
    static Reply Read(const QString& key);
    static Reply Write(const QString& key, const QString& password);
    static Reply Remove(const QString& key);

    // The key of a catalogue site's password: its lasting id, so renaming or
    // moving the site keeps the password.
    static QString KeyOfSite(const QString& siteId);

    // Tests start and stop keyrings: the next IsAvailable asks again.
    static void ForgetAvailability();
};
