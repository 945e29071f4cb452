// The session's operations on remote folders: listing into the views,
// walking a path, changing folder, deleting, renaming, creating.
#include "ftp/FtpSession.h"

#include "ftp/MessagePump.h"
#include "ftp/WaitCursor.h"
#include "inet/FtpConnection.h"
#include "inet/InternetError.h"
#include "views/FtpListView.h"
#include "views/FtpTreeView.h"

#include <QApplication>
#include <QElapsedTimer>

#include <optional>

namespace {

// How often a listing lets the window repaint and Cancel be clicked.
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

// Control characters of a refused name, made visible for the trace.
QString Printable(std::string_view raw)
{
    QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    QString shown;
    for (const QChar c : text)
        shown += c.unicode() < 0x20 || c.unicode() == 0x7f ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : QString(c);
    return shown;
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

bool CFtpSession::ListFolder(const QString& name, QTreeWidgetItem* item, bool refresh)
{
    CWaitCursor waitCursor;
    if (!IsConnected() || name.isEmpty() || !m_listView || !m_treeView || !item)
        return false;
    m_listView->ShowBusy(true);
    if (refresh)
        m_treeView->DeleteChildren(item);
    const bool hadChildren = item->childCount() > 0;

    if (item == m_treeView->Root()) {
        m_listedPath = m_homeFolder;
    } else if (!refresh) {
        QString home = m_homeFolder;
        while (home.endsWith(QLatin1Char('/')))
            home.chop(1);
        m_listedPath = home + name;
    }
    PumpMessages();
    if (!m_connection)
        return false; // closed while the window was kept alive

    try {
        m_connection->SetCurrentDirectory(ToServer(m_listedPath));
    } catch (const inet::InternetError& error) {
        TraceFailure(error, QStringLiteral("An error occurred opening the folder: \"%1\".").arg(m_listedPath));
        m_listView->ShowBusy(false);
        return false;
    }

    m_listView->DeleteAllItems();
    Trace(TRACE_COMMAND, QStringLiteral("Receiving listing of \"%1\"...").arg(m_listedPath));
    m_listing = true;
    RefreshCommandUI();
    PumpMessages();

    // Both the entries and a slow server keep the window alive; Cancel
    // (which clears the listing flag) ends the listing at the next chance.
    QElapsedTimer sincePump;
    sincePump.start();
    const auto keepAlive = [this, &sincePump] {
        sincePump.restart();
        PumpMessages();
        if (!m_listing || !m_connection)
            throw ListingCancelled{};
    };
    inet::FtpConnection* connection = m_connection.get();
    connection->SetIdleHandler(keepAlive, kPumpIntervalMs);
    int index = 0;
    bool cancelled = false;
    std::optional<inet::InternetError> failure;
    try {
        connection->Enumerate(
            std::string(),
            [&](inet::DirEntry&& entry) {
                if (entry.IsDots())
                    return;
                if (entry.isFolder && !hadChildren)
                    m_treeView->InsertChild(item, FromServer(entry.name));
                m_listView->AddListingEntry(index++, entry);
                if (sincePump.elapsed() >= kPumpIntervalMs)
                    keepAlive();
            },
            [this](inet::LineKind kind, std::string_view line) {
                if (kind == inet::LineKind::UnsafeName)
                    Trace(TRACE_ERROR, QStringLiteral("Skipped an entry whose name cannot be used safely: \"%1\"")
                                           .arg(Printable(line)));
                else
                    Trace(TRACE_INFO, QStringLiteral("Skipped a listing line that could not be read: \"%1\"")
                                          .arg(Printable(line.substr(0, 200))));
            });
    } catch (const ListingCancelled&) {
        cancelled = true;
    } catch (const inet::InternetError& error) {
        failure = error;
    }
    if (m_connection.get() == connection)
        connection->SetIdleHandler({}, 0);
    m_listing = false;
    RefreshCommandUI();

    if (failure && index == 0) {
        m_listView->ShowBusy(false);
        if (failure->number() == inet::err::kTimeout)
            Trace(TRACE_ERROR, m_site.passive ? QStringLiteral("The request has timed out.")
                                              : QStringLiteral("The request has timed out, try connecting using PASV mode."));
        else
            TraceFailure(*failure, QStringLiteral("An error occurred listing the folder: \"%1\".").arg(m_listedPath));
        return true;
    }
    if (!failure && !cancelled && index == 0) {
        m_listView->ShowBusy(false);
        Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" is empty.").arg(m_listedPath));
        return true;
    }
    if (failure)
        TraceFailure(*failure, QStringLiteral("An error occurred listing the folder: \"%1\".").arg(m_listedPath));
    if (!m_walkingPath) {
        m_listView->SortByColumn(-1);
        m_listView->ShowBusy(false);
        m_listView->FocusList();
        m_listView->SelectItem(0);
    }
    Trace(TRACE_SUCCESS, QStringLiteral("Listing of \"%1\" succesfully received.").arg(m_listedPath));
    return true;
}

void CFtpSession::OpenPath(const QString* path, bool keepTree)
{
    CWaitCursor waitCursor;
    if (!m_treeView || !m_listView)
        return;
    if (!keepTree) {
        m_treeView->clear();
        m_listView->DeleteAllItems();
    }
    if (!m_connection)
        return;
    if (!keepTree)
        m_treeView->InsertRoot();
    QTreeWidgetItem* current = m_treeView->Root();
    if (!current)
        return;
    m_walkingPath = keepTree;
    m_treeView->setCurrentItem(current);
    current->setExpanded(true);

    if (path) {
        QString remaining = *path;
        while (!remaining.isEmpty() && current) {
            const qsizetype slash = remaining.indexOf(QLatin1Char('/'));
            if (slash == 0) {
                remaining.remove(0, 1);
                continue;
            }
            QString component;
            if (slash < 0) {
                component = remaining;
                remaining.clear();
                m_walkingPath = false;
            } else {
                component = remaining.left(slash);
                remaining = remaining.mid(slash + 1);
            }
            QTreeWidgetItem* match = nullptr;
            for (int i = 0; i < current->childCount() && !match; ++i) {
                if (current->child(i)->text(0).compare(component, Qt::CaseInsensitive) == 0)
                    match = current->child(i);
            }
            if (!match)
                break;
            m_treeView->setCurrentItem(match);
            match->setExpanded(true);
            current = match;
        }
    }
    // A walk that stopped early listed its last folder without finishing the
    // list: do that now.
    if (m_walkingPath) {
        m_walkingPath = false;
        m_listView->SortByColumn(-1);
        m_listView->ShowBusy(false);
        m_listView->SelectItem(0);
    }
    m_walkingPath = false;
}

bool CFtpSession::ChangeFolder(const QString& path)
{
    if (!RequireConnection())
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Changing folder: \"%1\"").arg(path));
    return Attempt([&] { m_connection->SetCurrentDirectory(ToServer(path)); },
                   QStringLiteral("An error occurred opening the folder: \"%1\"").arg(path));
}

bool CFtpSession::DeleteFile(const QString& name)
{
    if (!RequireConnection())
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Deleting file \"%1\"").arg(name));
    return RemoveTraced(name, false);
}

bool CFtpSession::DeleteFolder(const QString& name, bool recursive)
{
    if (!RequireConnection())
        return false;
    if (recursive)
        return DeleteFolderTree(name, 0);
    return RemoveTraced(name, true);
}

bool CFtpSession::DeleteFolderTree(const QString& name, int depth)
{
    if (!m_connection)
        return false;
    if (depth > kMaxTreeDepth) {
        Trace(TRACE_ERROR, QStringLiteral("An error occurred deleting the file or folder: \"%1\"").arg(name));
        return false;
    }
    std::string remembered;
    try {
        remembered = m_connection->GetCurrentDirectory();
        m_connection->SetCurrentDirectory(ToServer(name));
    } catch (const inet::InternetError&) {
        return false;
    }

    // Files first, as the listing names them; the subfolders are collected
    // and removed after, each with everything in it.
    std::vector<QString> subfolders;
    std::vector<QString> files;
    try {
        m_connection->Enumerate(std::string(), [&](inet::DirEntry&& entry) {
            if (entry.IsDots())
                return;
            (entry.isFolder ? subfolders : files).push_back(FromServer(entry.name));
        });
    } catch (const inet::InternetError& error) {
        TraceFailure(error, QStringLiteral("An error occurred deleting the file or folder: \"%1\"").arg(name));
        return false;
    }
    for (const QString& file : files) {
        if (!DeleteFile(file))
            return false;
    }
    for (const QString& folder : subfolders) {
        if (!DeleteFolderTree(folder, depth + 1))
            return false;
    }
    try {
        m_connection->SetCurrentDirectory(remembered);
    } catch (const inet::InternetError&) {
        return false;
    }
    Trace(TRACE_COMMAND, QStringLiteral("Deleting Folder \"%1\"").arg(name));
    return RemoveTraced(name, true);
}

bool CFtpSession::RemoveTraced(const QString& name, bool folder)
{
    if (!Attempt([&] {
            if (folder)
                m_connection->RemoveDirectory(ToServer(name));
            else
                m_connection->RemoveFile(ToServer(name));
        },
        QStringLiteral("An error occurred deleting the file or folder: \"%1\"").arg(name)))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" successfully deleted").arg(name));
    return true;
}

bool CFtpSession::Rename(const QString& oldName, const QString& newName)
{
    if (!RequireConnection())
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Renaming \"%1\" to \"%2\"").arg(oldName, newName));
    if (!Attempt([&] { m_connection->Rename(ToServer(oldName), ToServer(newName)); },
                 QStringLiteral("An error occurred renaming the file or folder: \"%1\"").arg(oldName)))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" successfully renamed").arg(oldName));
    return true;
}

bool CFtpSession::MakeFolder(const QString& name)
{
    if (!RequireConnection())
        return false;
    Trace(TRACE_COMMAND, QStringLiteral("Creating New Folder \"%1\"").arg(name));
    if (!Attempt([&] { m_connection->CreateDirectory(ToServer(name)); },
                 QStringLiteral("An error occurred creating a new folder:: \"%1\"").arg(name)))
        return false;
    Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" folder successfully created").arg(name));
    return true;
}

void CFtpSession::SendAndTraceReply(const QString& command)
{
    if (!m_connection) {
        Trace(TRACE_ERROR, QStringLiteral("Did not received any response!"));
        return;
    }
    try {
        const inet::FtpReply reply = m_connection->Command(ToServer(command));
        const QString text = WithoutLineBreaks(FromServer(reply.Text()));
        m_lastResponse = text;
        Trace(TRACE_SUCCESS, text);
    } catch (const inet::InternetError&) {
        Trace(TRACE_ERROR, QStringLiteral("Did not received any response!"));
    }
}

void CFtpSession::SendCustomCommand(const QString& command)
{
    Trace(TRACE_COMMAND, QStringLiteral("Sending custom command: %1...").arg(command));
    SendAndTraceReply(command);
}

void CFtpSession::SendKeepAlive()
{
    Trace(TRACE_COMMAND, QStringLiteral("Sending NOOP command..."));
    SendAndTraceReply(QStringLiteral("NOOP"));
}
