#pragma once

// A private session bus with an unlocked GNOME Keyring for the whole test
// program, started before any test touches D-Bus (the bus connection is made
// once per process). Register it with ::testing::AddGlobalTestEnvironment.
// Where no keyring can start (gnome-keyring or dbus-daemon missing), every
// test of the program is skipped with the reason.

#include "engine/catalog/Keyring.h"
#include "support/ServerProcess.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>
#include <string>

class PrivateKeyring : public ::testing::Environment {
public:
    void SetUp() override
    {
        try {
            std::string address;
            m_process = kxtest::StartPrivateKeyring(m_home.path(), address);
            qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(address));
        } catch (const std::exception& error) {
            s_problem = error.what();
        }
        CKeyring::ForgetAvailability();
    }
    void TearDown() override { m_process.reset(); }

    // In each test's SetUp: skips when there is no keyring.
    static const std::string& Problem() { return s_problem; }
    // "LOCK" or "STOP-KEYRING" (see private_keyring.py).
    static bool Command(const char* command) { return s_instance && s_instance->m_process->Command(command); }

    PrivateKeyring() { s_instance = this; }

private:
    kxtest::TempDir m_home;
    std::unique_ptr<kxtest::ServerProcess> m_process;
    static inline std::string s_problem;
    static inline PrivateKeyring* s_instance = nullptr;
};

#define SKIP_WITHOUT_KEYRING()                                                                 \
    do {                                                                                       \
        if (!PrivateKeyring::Problem().empty())                                                \
            GTEST_SKIP() << "no private keyring (gnome-keyring, dbus-daemon): "                 \
                         << PrivateKeyring::Problem();                                          \
    } while (false)
