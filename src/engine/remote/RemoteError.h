#pragma once

// Error numbers of the remote file systems beyond the FTP library's own.
// Every failure is still an inet::InternetError: the FTP numbers keep their
// meaning for both protocols (12002 time-out, 12003 the server refused, with
// its words in serverReply(), 12017 cancelled or closed, 12030 connection
// dropped...), and SSH adds the few failures FTP does not have.

#include "engine/inet/InternetError.h"

#include <cstdint>

namespace remote::err {

// The server's host key is not in known_hosts and was not accepted (the
// host-key callback answered Cancel, or there is none).
inline constexpr std::uint32_t kHostKeyUnknown = 12240;
// known_hosts holds another key of the same type for this server: refused
// whatever the callback answers (someone may be in the middle).
inline constexpr std::uint32_t kHostKeyChanged = 12241;
// No authentication method the server offers succeeded (password, keyboard-
// interactive, keys from the agent, the default key files, the named key).
inline constexpr std::uint32_t kAuthenticationRefused = 12242;
// The SFTP channel closed (the server's sftp-server ended, or the server
// closed the channel) while a request or a transfer was under way.
inline constexpr std::uint32_t kChannelClosed = 12243;
// The SSH handshake failed (no common algorithm, a broken packet) or the
// server offers no SFTP subsystem.
inline constexpr std::uint32_t kSshFailed = 12244;
// A named key file cannot be read or is not a private key; or its passphrase
// was not given or is wrong.
inline constexpr std::uint32_t kKeyUnusable = 12245;

}  // namespace remote::err

namespace remote {

// Plain-English text for a number, the FTP library's numbers included.
const char* ErrorText(std::uint32_t number);

}  // namespace remote
