#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace kx {

// One open key of the settings store, for code that manages its own set of
// values (the history drop-downs). Paths are relative to the application key;
// "\" and "/" both separate levels. Every operation returns a system-style
// error code so callers can tell "missing" from "failed".
class CRegistryKey {
public:
    enum : long {
        kSuccess = 0,
        kFileNotFound = 2,      // no such value
        kAccessDenied = 5,      // the store cannot be written
        kInvalidHandle = 6,     // no key is held
        kInvalidParameter = 87, // a name the store cannot hold
        kMoreData = 234,        // the value does not fit the caller's buffer
    };

    CRegistryKey();
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    long Create(const QString& subkeyPath);
    long QueryValue(QString& value, const QString& valueName) const;
    // `byteCount` is the caller's buffer size in bytes (UTF-8 with its
    // terminating zero); on kMoreData it receives the size needed.
    long QueryValue(QString& value, const QString& valueName, quint32& byteCount) const;
    long SetValue(const QString& value, const QString& valueName);
    long DeleteValue(const QString& valueName);
    void Close();
    bool IsOpen() const { return m_store != nullptr; }

private:
    QString ValueKey(const QString& valueName) const;

    std::unique_ptr<QSettings> m_store;
    QString m_group;
};

} // namespace kx
