// The session's operations on remote folders: listing, opening a path,
// changing folder, deleting, renaming, creating.
#include "engine/session/FtpSession.h"

#include "engine/session/MessagePump.h"
#include "engine/inet/InternetError.h"

#include <QDateTime>
#include <QRegularExpression>

#include <optional>

namespace {

// How often a running operation lets the window repaint and Cancel be clicked.
constexpr int kPumpIntervalMs = 30;
// A server that nests folders deeper than this is not to be followed.
constexpr int kMaxTreeDepth = 256;

QString FromServer(const std::string& text)
{
    return QString::fromUtf8(text);
}

std::string ToServer(const QString& text)
{
    return text.toUtf8().toStdString();
}

std::string ToServer(const RemotePath& path)
{
    return ToServer(path.ToString());
}

// Control characters of a refused name, made visible for the trace.
QString Printable(std::string_view raw)
{
    QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    QString shown;
    for (const QChar c : text)
        shown += c.unicode() < 0x20 || c.unicode() == 0x7f ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : QString(c);
    return shown;
}

RemoteEntry ToRemoteEntry(const remote::Entry& entry)
{
    RemoteEntry result;
    result.name = FromServer(entry.name);
    result.size = entry.size;
    result.modified = entry.modified;
    result.precision = PrecisionOfListing(entry.modified, entry.timePrecision);
    result.folder = entry.isFolder;
    result.permissions = FromServer(entry.permissions);
    result.owner = FromServer(entry.owner);
    result.group = FromServer(entry.group);
    return result;
}

QString DeleteFailedLine(const RemotePath& path)
{
    return QStringLiteral("An error occurred deleting the file or folder: \"%1\"").arg(path.Name());
}

// Thrown from inside a listing when the user cancelled it.
struct ListingCancelled {};

} // namespace

void CFtpSession::TraceFailure(const inet::InternetError& error, const QString& line)
{
    QString first = FromServer(error.serverReply());
    if (first.isEmpty())
        first = FromServer(error.message());
    first = WithoutLineBreaks(first);
    m_lastResponse = first;
    Trace(TRACE_ERROR, first);
    Trace(TRACE_ERROR, line);
}

bool CFtpSession::StopForCancel()
{
    if (!m_cancelRequested)
        return false;
    if (!m_cancelTraced) {
        m_cancelTraced = true;
        Trace(TRACE_ERROR, QStringLiteral("Cancelled; the remaining items were not touched."));
    }
    return true;
}

bool CFtpSession::Attempt(const std::function<void()>& operation, const QString& failureLine)
{
    try {
        operation();
        return true;
    } catch (const inet::InternetError& error) {
        TraceFailure(error, failureLine);
        return false;
    }
}

bool CFtpSession::RequireConnection()
{
    if (m_connection)
        return true;
    Trace(TRACE_ERROR, QStringLiteral("Not connected."));
    return false;
}

bool CFtpSession::CanActOn(const RemotePath& path)
{
    if (!RequireConnection())
        return false;
    // What a name that is no single name leaves behind (RemotePath::Child):
    // nothing to send.
    if (path.IsEmpty() || path.IsRoot()) {
        Trace(TRACE_ERROR, QStringLiteral("No remote item is named; nothing was sent."));
        return false;
    }
    return true;
}

void CFtpSession::KeepWindowAlive()
{
    if (m_sincePump.isValid() && m_sincePump.elapsed() < kPumpIntervalMs)
        return;
    m_sincePump.start();
    PumpMessages();
}

void CFtpSession::RestoreServerFolder()
{
    if (!m_connection || m_listedPath.IsEmpty())
        return;
    try {
        m_connection->SetCurrentDirectory(ToServer(m_listedPath));
    } catch (const inet::InternetError&) {
        // The next listing enters its folder itself; every other operation
        // names absolute paths, so nothing depends on this having worked.
    }
}

bool CFtpSession::ListFolder(const RemotePath& folder, bool refresh)
{
    Operation operation(*this);
    return operation.Started() && ListFolderNow(folder, refresh);
}

bool CFtpSession::ListFolderNow(const RemotePath& folder, bool refresh)
{
    if (!CheckConnection() || folder.IsEmpty())
        return false;
    KeepWindowAlive();
    if (!m_connection)
        return false;

    try {
        m_connection->SetCurrentDirectory(ToServer(folder));
    } catch (const inet::InternetError& error) {
        TraceFailure(error, QStringLiteral("An error occurred opening the folder: \"%1\".").arg(folder.ToString()));
        if (m_events)
            m_events->OnListingRefused(folder);
        return false;
    }

    // Only a folder the server has entered becomes the listed one: Refresh,
    // Properties and relative paths go on using the folder on screen.
    m_listedPath = folder;
    if (m_events)
        m_events->OnListingStarted(folder, refresh);
    Trace(TRACE_COMMAND, QStringLiteral("Receiving listing of \"%1\"...").arg(folder.ToString()));
    m_listing = true;
    KeepWindowAlive();

    int count = 0;
    std::optional<inet::InternetError> failure;
    const bool cancelled = !ReceiveListing(count, failure);
    m_listing = false;
    const ListingOutcome outcome = failure ? ListingOutcome::Failed
        : cancelled                        ? ListingOutcome::Cancelled
                                           : ListingOutcome::Complete;
    TraceListingEnd(folder, outcome, count, failure);
    if (m_events)
        m_events->OnListingFinished(folder, outcome);
    return true;
}

bool CFtpSession::ReceiveListing(int& count, std::optional<inet::InternetError>& failure)
{
    // Both the entries and a slow server keep the window alive; Cancel
    // (which clears the listing flag) ends the listing at the next chance.
    const auto keepAlive = [this] {
        KeepWindowAlive();
        if (!m_listing || !m_connection)
            throw ListingCancelled{};
    };
    remote::IFileSystem* connection = m_connection.get();
    connection->SetIdleHandler([this, &keepAlive] {
        m_sincePump.invalidate();
        keepAlive();
    }, kPumpIntervalMs);
    bool cancelled = !m_listing;
    try {
        if (!cancelled) {
            connection->List(
                std::string(),
                [&](remote::Entry&& entry) {
                    ++count;
                    if (m_events)
                        m_events->OnListingEntry(ToRemoteEntry(entry));
                    keepAlive();
                },
                [this](inet::LineKind kind, std::string_view line) {
                    if (kind == inet::LineKind::Ignored)
                        return; // the folder's own "." and ".."
                    if (kind == inet::LineKind::UnsafeName)
                        Trace(TRACE_ERROR, QStringLiteral("Skipped an entry whose name cannot be used safely: \"%1\"")
                                               .arg(Printable(line)));
                    else
                        Trace(TRACE_INFO, QStringLiteral("Skipped a listing line that could not be read: \"%1\"")
                                              .arg(Printable(line.substr(0, 200))));
                });
        }
    } catch (const ListingCancelled&) {
        cancelled = true;
    } catch (const inet::InternetError& error) {
        failure = error;
    }
    if (m_connection.get() == connection)
        connection->SetIdleHandler({}, 0);
    return !cancelled;
}

void CFtpSession::TraceListingEnd(const RemotePath& folder, ListingOutcome outcome, int count,
                                  const std::optional<inet::InternetError>& failure)
{
    const QString shown = folder.ToString();
    if (failure && count == 0) {
        if (failure->number() == inet::err::kTimeout)
            // Passive mode is FTP's alone.
            Trace(TRACE_ERROR, m_site.passive || !Features().asciiTransfers ? QStringLiteral("The request has timed out.")
                                              : QStringLiteral("The request has timed out, try connecting using PASV mode."));
        else
            TraceFailure(*failure, QStringLiteral("An error occurred listing the folder: \"%1\".").arg(shown));
    } else if (outcome == ListingOutcome::Complete && count == 0) {
        Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" is empty.").arg(shown));
    } else if (outcome == ListingOutcome::Complete) {
        Trace(TRACE_SUCCESS, QStringLiteral("Listing of \"%1\" successfully received.").arg(shown));
    } else {
        // Part of a folder must not pass for all of it.
        if (failure)
            TraceFailure(*failure, QStringLiteral("An error occurred listing the folder: \"%1\".").arg(shown));
        Trace(TRACE_ERROR, QStringLiteral("Listing of \"%1\" %2: the list shows only part of the folder.")
                               .arg(shown, outcome == ListingOutcome::Cancelled ? QStringLiteral("cancelled")
                                                                                : QStringLiteral("broken off")));
    }
}

void CFtpSession::OpenPath(const RemotePath* path, bool keepTree)
{
    Operation operation(*this);
    if (!operation.Started())
        return;
    if (!keepTree && m_events)
        m_events->OnFolderTreeReset();
    if (!m_connection)
        return;
    const RemotePath target = path && !path->IsEmpty() ? *path : m_homeFolder;
    if (!ListFolderNow(target, false))
        RestoreServerFolder();
}

bool CFtpSession::ChangeFolder(const QString& path)
{
    Operation operation(*this);
    if (!operation.Started() || !RequireConnection())
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Changing folder: \"%1\"").arg(path));
    return Attempt([&] { m_connection->SetCurrentDirectory(ToServer(path)); },
                   QStringLiteral("An error occurred opening the folder: \"%1\"").arg(path));
}

bool CFtpSession::DeleteFile(const RemotePath& file)
{
    Operation operation(*this);
    return operation.Started() && DeleteFileNow(file);
}

bool CFtpSession::DeleteFolder(const RemotePath& folder, bool recursive)
{
    Operation operation(*this);
    return operation.Started() && DeleteFolderNow(folder, recursive);
}

void CFtpSession::DeleteItems(const QList<RemoteItem>& items)
{
    Operation operation(*this);
    if (!operation.Started())
        return;
    for (const RemoteItem& item : items) {
        if (StopForCancel())
            break;
        KeepWindowAlive();
        if (item.folder)
            DeleteFolderNow(item.path, true); // a folder that stays does not stop the rest
        else if (!DeleteFileNow(item.path))
            break;
    }
}

bool CFtpSession::DeleteFileNow(const RemotePath& file)
{
    if (!CanActOn(file))
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Deleting file \"%1\"").arg(file.Name()));
    return RemoveTraced(file, false);
}

bool CFtpSession::DeleteFolderNow(const RemotePath& folder, bool recursive)
{
    if (!CanActOn(folder))
        return false;
    if (!recursive)
        return RemoveTraced(folder, true);
    const bool deleted = DeleteFolderTree(folder, 0);
    RestoreServerFolder();
    return deleted;
}

bool CFtpSession::DeleteFolderTree(const RemotePath& folder, int depth)
{
    if (!m_connection)
        return false;
    if (depth > kMaxTreeDepth) {
        Trace(TRACE_ERROR, DeleteFailedLine(folder));
        return false;
    }
    if (StopForCancel())
        return false;

    std::vector<QString> subfolders;
    std::vector<QString> files;
    if (!ListNamesIn(folder, files, subfolders, false, DeleteFailedLine(folder)))
        return false;
    // Files first, as the listing named them; then each subfolder with
    // everything in it.
    for (const QString& file : files) {
        KeepWindowAlive();
        if (StopForCancel())
            return false;
        if (!DeleteFileNow(folder.Child(file)))
            return false;
    }
    for (const QString& subfolder : subfolders) {
        if (!DeleteFolderTree(folder.Child(subfolder), depth + 1))
            return false;
    }
    // Some servers will not remove the folder they are in.
    try {
        m_connection->SetCurrentDirectory(ToServer(folder.Parent()));
    } catch (const inet::InternetError& error) {
        TraceFailure(error, DeleteFailedLine(folder));
        return false;
    }
    Trace(TRACE_COMMAND, QStringLiteral("Deleting Folder \"%1\"").arg(folder.Name()));
    return RemoveTraced(folder, true);
}

bool CFtpSession::ListNamesIn(const RemotePath& folder, std::vector<QString>& files, std::vector<QString>& subfolders,
                              bool skipLinks, const QString& failureLine)
{
    // Entered, then listed without an argument: a name in a LIST argument
    // is a pattern to some servers, and "[" or "*" are valid in names. A name
    // that is no single name cannot be addressed, so it is not listed.
    try {
        m_connection->SetCurrentDirectory(ToServer(folder));
        m_connection->List(std::string(), [&](remote::Entry&& entry) {
            if (skipLinks && entry.isLink)
                return;
            (entry.isFolder ? subfolders : files).push_back(FromServer(entry.name));
        });
        return true;
    } catch (const inet::InternetError& error) {
        TraceFailure(error, failureLine);
        return false;
    }
}

bool CFtpSession::RemoveTraced(const RemotePath& path, bool folder)
{
    if (!Attempt([&] {
            if (folder)
                m_connection->RemoveDirectory(ToServer(path));
            else
                m_connection->RemoveFile(ToServer(path));
        },
        DeleteFailedLine(path)))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" successfully deleted").arg(path.Name()));
    if (m_events)
        m_events->OnItemRemoved(path);
    return true;
}

bool CFtpSession::Rename(const RemotePath& from, const RemotePath& to)
{
    Operation operation(*this);
    if (!operation.Started() || !CanActOn(from) || !CanActOn(to))
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Renaming \"%1\" to \"%2\"").arg(from.Name(), to.Name()));
    if (!Attempt([&] { m_connection->Rename(ToServer(from), ToServer(to)); },
                 QStringLiteral("An error occurred renaming the file or folder: \"%1\"").arg(from.Name())))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" successfully renamed").arg(from.Name()));
    if (m_events)
        m_events->OnItemRenamed(from, to);
    return true;
}

bool CFtpSession::MakeFolder(const RemotePath& folder)
{
    Operation operation(*this);
    if (!operation.Started() || !CanActOn(folder))
        return false;
    const QString name = folder.Name();
    Trace(TRACE_COMMAND, QStringLiteral("Creating New Folder \"%1\"").arg(name));
    if (!Attempt([&] { m_connection->CreateDirectory(ToServer(folder)); },
                 QStringLiteral("An error occurred creating a new folder:: \"%1\"").arg(name)))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" folder successfully created").arg(name));
    if (m_events) {
        RemoteEntry entry;
        entry.name = name;
        entry.folder = true;
        entry.modified = QDateTime::currentSecsSinceEpoch();
        m_events->OnItemAdded(folder, entry);
    }
    return true;
}

QHash<QString, qint64> CFtpSession::ExactTimes(const RemotePath& folder, const QStringList& names)
{
    QHash<QString, qint64> times;
    Operation operation(*this);
    if (!operation.Started() || !RequireConnection() || !m_connection->features().fileTimes)
        return times;
    for (const QString& name : names) {
        const RemotePath file = folder.Child(name);
        if (file.IsEmpty())
            continue;
        try {
            times.insert(name, m_connection->GetModificationTime(ToServer(file)));
        } catch (const inet::InternetError& error) {
            // A file the server gives no time for keeps the listing's.
            if (error.number() == inet::err::kExtendedError || error.number() == inet::err::kInvalidServerResponse)
                continue;
            TraceFailure(error, QStringLiteral("Could not read the exact times of the files"));
            break;
        }
        KeepWindowAlive();
    }
    return times;
}

void CFtpSession::SendAndTraceReply(const QString& command)
{
    if (!m_connection) {
        Trace(TRACE_ERROR, QStringLiteral("Did not received any response!"));
        return;
    }
    try {
        const inet::FtpReply reply = m_connection->RawCommand(ToServer(command));
        const QString text = FromServer(reply.Text());
        m_lastResponse = WithoutLineBreaks(text);
        // SITE HELP, STAT, FEAT: one line of the pane for each of the reply's.
        for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r"))))
            if (!line.isEmpty())
                Trace(TRACE_SUCCESS, line);
        if (text.isEmpty())
            Trace(TRACE_SUCCESS, QString());
    } catch (const inet::InternetError&) {
        Trace(TRACE_ERROR, QStringLiteral("Did not received any response!"));
    }
}

void CFtpSession::SendCustomCommand(const QString& command)
{
    Operation operation(*this);
    if (!operation.Started())
        return;
    if (m_connection && !m_connection->features().rawCommands) {
        Trace(TRACE_ERROR, QStringLiteral("%1 has no raw commands; nothing was sent.").arg(ProtocolLabel()));
        return;
    }
    Trace(TRACE_COMMAND, QStringLiteral("Sending custom command: %1...").arg(command));
    SendAndTraceReply(command);
}

void CFtpSession::SendKeepAlive()
{
    Operation operation(*this);
    if (!operation.Started())
        return;
    if (m_connection && !m_connection->features().rawCommands) {
        Trace(TRACE_COMMAND, QStringLiteral("Sending keep-alive..."));
        if (Attempt([&] { m_connection->KeepAlive(); }, QStringLiteral("The server did not answer the keep-alive.")))
            Trace(TRACE_SUCCESS, QStringLiteral("The server answered."));
        return;
    }
    Trace(TRACE_COMMAND, QStringLiteral("Sending NOOP command..."));
    SendAndTraceReply(QStringLiteral("NOOP"));
}

bool CFtpSession::CreateEmptyFile(const RemotePath& file)
{
    Operation operation(*this);
    if (!operation.Started() || !CanActOn(file))
        return false;
    const QString name = file.Name();
    Trace(TRACE_COMMAND, QStringLiteral("Creating empty file \"%1\"").arg(name));
    // Another client may have made it since the folder was listed: an empty
    // file written over it would empty it. A server without SIZE, or one that
    // has no such file, answers with an error, and the file is made.
    try {
        m_connection->GetFileSize(ToServer(file));
        Trace(TRACE_ERROR, QStringLiteral("\"%1\" exists already on the server; nothing was created.").arg(name));
        return false;
    } catch (const inet::InternetError&) {
    }
    if (!Attempt([&] { m_connection->OpenWrite(ToServer(file))->Close(); },
                 QStringLiteral("An error occurred creating the file: \"%1\"").arg(name)))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" successfully created").arg(name));
    if (m_events) {
        RemoteEntry entry;
        entry.name = name;
        entry.modified = QDateTime::currentSecsSinceEpoch();
        m_events->OnItemAdded(file, entry);
    }
    return true;
}

bool CFtpSession::QueryFile(const RemotePath& file, quint64& size, qint64& modified)
{
    Operation operation(*this);
    if (!operation.Started() || !CanActOn(file))
        return false;
    const std::string path = ToServer(file);
    if (!Attempt([&] { size = m_connection->GetFileSize(path); },
                 QStringLiteral("The size of \"%1\" on the server could not be read.").arg(file.ToString())))
        return false;
    try {
        modified = m_connection->GetModificationTime(path);
    } catch (const inet::InternetError&) {
        // Servers without MDTM still tell the size, which is most of it.
        modified = -1;
    }
    return true;
}

bool CFtpSession::ChmodOne(const RemotePath& path, int mode, bool& unsupported)
{
    try {
        m_connection->SetPermissions(ToServer(path), std::uint32_t(mode));
        return true;
    } catch (const inet::InternetError& error) {
        // FTP's SITE CHMOD is a server's option: 500, 502 or 504 say it has none.
        const std::string reply = error.serverReply();
        unsupported = error.number() == inet::err::kInvalidOperation
            || (error.number() == inet::err::kExtendedError
                && (reply.rfind("500", 0) == 0 || reply.rfind("502", 0) == 0 || reply.rfind("504", 0) == 0));
        if (!unsupported) {
            TraceFailure(error, QStringLiteral("The permissions of \"%1\" could not be changed.").arg(path.Name()));
            return false;
        }
        m_lastResponse = WithoutLineBreaks(FromServer(reply.empty() ? error.message() : reply));
        Trace(TRACE_ERROR, m_lastResponse);
        Trace(TRACE_ERROR, QStringLiteral("This server does not change permissions (it does not know SITE CHMOD)."));
        return false;
    }
}

bool CFtpSession::ChmodTree(const RemotePath& folder, int mode, PermissionScope scope, int depth, bool& unsupported)
{
    if (depth > kMaxTreeDepth) {
        Trace(TRACE_ERROR, QStringLiteral("\"%1\" lies deeper than %2 folders; nothing below it was changed.")
                               .arg(folder.ToString()).arg(kMaxTreeDepth));
        return false;
    }
    std::vector<QString> subfolders;
    std::vector<QString> files;
    // A link's target may lie anywhere: it is not followed, nor changed.
    if (!ListNamesIn(folder, files, subfolders, true,
                     QStringLiteral("\"%1\" could not be listed; nothing below it was changed.").arg(folder.ToString())))
        return false;
    const bool changeFiles = scope == PermissionScope::FilesBelow || scope == PermissionScope::AllBelow;
    const bool changeFolders = scope == PermissionScope::FoldersBelow || scope == PermissionScope::AllBelow;
    for (const QString& name : files) {
        KeepWindowAlive();
        if (StopForCancel())
            return false;
        if (changeFiles && !ChmodOne(folder.Child(name), mode, unsupported) && unsupported)
            return false;
    }
    for (const QString& name : subfolders) {
        if (StopForCancel())
            return false;
        if (changeFolders && !ChmodOne(folder.Child(name), mode, unsupported) && unsupported)
            return false;
        if (!ChmodTree(folder.Child(name), mode, scope, depth + 1, unsupported) && (unsupported || m_cancelRequested))
            return false;
    }
    return true;
}

bool CFtpSession::ChangePermissions(const QList<RemoteItem>& items, int mode, PermissionScope scope)
{
    Operation operation(*this);
    if (!operation.Started())
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Changing permissions to %1").arg(mode, 3, 8, QLatin1Char('0')));
    bool unsupported = false;
    bool allChanged = true;
    for (const RemoteItem& item : items) {
        if (StopForCancel() || !CanActOn(item.path))
            return false;
        if (!ChmodOne(item.path, mode, unsupported)) {
            allChanged = false;
            if (unsupported)
                return false;
        }
        if (item.folder && scope != PermissionScope::ItemsOnly) {
            allChanged = ChmodTree(item.path, mode, scope, 0, unsupported) && allChanged;
            RestoreServerFolder();
            if (unsupported)
                return false;
        }
    }
    if (allChanged)
        Trace(TRACE_SUCCESS, QStringLiteral("Permissions successfully changed"));
    return allChanged;
}
