#pragma once

#include <cstdlib>

// No test reaches the desktop's real keyring (or anything else on the
// user's session bus): every test program starts with a session bus address
// nobody listens on. A test that needs a keyring starts a private bus and
// keyring of its own and points the variable at them before first use.
inline void UseNoSessionBus()
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestrix-tests-have-no-session-bus", 1);
}
