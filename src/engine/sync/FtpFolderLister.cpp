#include "engine/sync/FtpFolderLister.h"

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"

#include <stdexcept>

CFtpFolderLister::CFtpFolderLister(std::shared_ptr<inet::InternetSession> session,
                                   std::unique_ptr<inet::FtpConnection> connection)
    : m_session(std::move(session)), m_connection(std::move(connection))
{
}

CFtpFolderLister::~CFtpFolderLister() = default;

void CFtpFolderLister::List(const RemotePath& folder, const std::function<void(const RemoteEntry&)>& onEntry)
{
    try {
        m_connection->SetCurrentDirectory(folder.ToString().toUtf8().toStdString());
        m_connection->Enumerate(std::string(), [&](inet::DirEntry&& raw) {
            if (raw.IsDots() || !inet::IsSafeEntryName(raw.name))
                return;
            RemoteEntry entry;
            entry.name = QString::fromUtf8(raw.name);
            entry.size = raw.size;
            entry.modified = raw.modified;
            entry.folder = raw.isFolder;
            onEntry(entry);
        });
    } catch (const inet::InternetError& error) {
        const std::string reply = error.serverReply();
        throw std::runtime_error(reply.empty() ? error.message() : reply);
    }
}

void CFtpFolderLister::Cancel()
{
    m_session->Close();
}
