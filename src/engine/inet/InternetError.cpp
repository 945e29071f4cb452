#include "engine/inet/InternetError.h"

#include <utility>

namespace inet {

InternetError::InternetError(std::uint32_t number, std::string message, std::string serverReply)
    : number_(number), message_(std::move(message)), serverReply_(std::move(serverReply))
{
    if (message_.empty())
        message_ = ErrorText(number_);
    what_ = message_;
    if (!serverReply_.empty()) {
        what_ += " (server: ";
        what_ += serverReply_;
        what_ += ")";
    }
}

const char* ErrorText(std::uint32_t number)
{
    switch (number) {
    case err::kInvalidParameter: return "An argument is not valid";
    case err::kTimeout: return "The operation timed out";
    case err::kExtendedError: return "The server refused the request";
    case err::kInternalError: return "An internal error occurred";
    case err::kInvalidUrl: return "The server or proxy address is not valid";
    case err::kNameNotResolved: return "The server name could not be resolved";
    case err::kInvalidOption: return "The option is not known";
    case err::kIncorrectUserName: return "The server did not accept the user name";
    case err::kIncorrectPassword: return "The server did not accept the password";
    case err::kLoginFailure: return "The login was refused";
    case err::kInvalidOperation: return "The operation is not valid now";
    case err::kOperationCancelled: return "The operation was cancelled";
    case err::kIncorrectHandleState: return "The connection can no longer be used";
    case err::kCannotConnect: return "Cannot connect to the server";
    case err::kConnectionAborted: return "The connection with the server was closed";
    case err::kConnectionReset: return "The connection with the server was reset";
    case err::kTransferInProgress: return "A transfer is still in progress on this connection";
    case err::kFtpDropped: return "The data connection was dropped before the transfer completed";
    case err::kNoPassiveMode: return "The server offers no passive mode";
    case err::kInvalidServerResponse: return "The server sent a reply that is not valid FTP";
    case err::kInvalidCertificate: return "The server's certificate was not accepted";
    case err::kTlsFailed: return "The TLS connection with the server failed";
    case err::kTlsNotAvailable: return "The server does not offer TLS, which is required";
    case err::kTlsUncleanClose: return "The server ended the TLS connection without closing it properly";
    default: return "Unknown error";
    }
}

}  // namespace inet
