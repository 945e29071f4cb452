#include "engine/remote/RemoteError.h"

namespace remote {

const char* ErrorText(std::uint32_t number)
{
    switch (number) {
    case err::kHostKeyUnknown: return "The server's host key is not known and was not accepted";
    case err::kHostKeyChanged: return "The server's host key has changed";
    case err::kAuthenticationRefused: return "The server refused every way of logging in that was tried";
    case err::kChannelClosed: return "The server closed the SFTP channel";
    case err::kSshFailed: return "The SSH connection with the server failed";
    case err::kKeyUnusable: return "The private key cannot be used";
    default: return inet::ErrorText(number);
    }
}

}  // namespace remote
