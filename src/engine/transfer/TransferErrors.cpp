#include "engine/transfer/TransferErrors.h"

#include "engine/inet/InternetError.h"
#include "engine/inet/InternetSession.h"
#include "engine/remote/RemoteError.h"

#include <cerrno>
#include <cstring>

namespace {

QString ReplyLine(const std::string& reply)
{
    QString text = QString::fromUtf8(reply);
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.remove(QLatin1Char('\r'));
    return text.trimmed();
}

} // namespace

QString DescribeInternetError(const inet::InternetError& error, int timeoutMs)
{
    namespace err = inet::err;
    const auto number = error.number();
    QString words;
    switch (number) {
    case err::kConnectionAborted: words = QStringLiteral("The server closed the connection"); break;
    case err::kConnectionReset: words = QStringLiteral("The server reset the connection"); break;
    case err::kTimeout: {
        const int ms = timeoutMs > 0 ? timeoutMs : int(inet::InternetSession::kDefaultReceiveTimeoutMs);
        const int seconds = std::max(1, (ms + 500) / 1000);
        words = QStringLiteral("No answer from the server within %1 second%2").arg(seconds).arg(seconds == 1 ? "" : "s");
        break;
    }
    case err::kFtpDropped:
        words = QStringLiteral("The data connection ended before the transfer was complete");
        break;
    case err::kExtendedError: words = QStringLiteral("The server refused"); break;
    case err::kCannotConnect: words = QStringLiteral("Cannot connect to the server"); break;
    case err::kIncorrectHandleState: words = QStringLiteral("The connection to the server was lost"); break;
    default: words = QString::fromUtf8(remote::ErrorText(number)); break;
    }
    // The library's own message says more than the generic text where it has
    // one (how many bytes of how many came, for instance).
    const QString message = QString::fromStdString(error.message());
    if (!message.isEmpty() && message != QString::fromUtf8(remote::ErrorText(number)) && number != err::kTimeout
        && number != err::kConnectionAborted)
        words += QStringLiteral(": ") + message;
    const QString reply = ReplyLine(error.serverReply());
    if (!reply.isEmpty())
        words += QStringLiteral(": ") + reply;
    return QStringLiteral("%1 (error %2)").arg(words).arg(number);
}

QString DescribeFileError(int cause, const QString& path)
{
    return QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(std::strerror(cause)), path);
}

bool StopsTheJob(int cause)
{
    return cause == ENOSPC || cause == EDQUOT || cause == EROFS;
}

bool IsConnectionProblem(const inet::InternetError& error)
{
    namespace err = inet::err;
    switch (error.number()) {
    case err::kTimeout:
    case err::kConnectionAborted:
    case err::kConnectionReset:
    case err::kFtpDropped:
    case err::kIncorrectHandleState:
    case err::kCannotConnect:
    case err::kOperationCancelled:
    case err::kInvalidServerResponse:
    case err::kTlsFailed:
    case err::kTlsUncleanClose:
    case err::kTransferInProgress:
    case remote::err::kChannelClosed:
        return true;
    default:
        return false;
    }
}
