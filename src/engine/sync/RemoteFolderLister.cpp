#include "engine/sync/RemoteFolderLister.h"

#include <stdexcept>

CRemoteFolderLister::CRemoteFolderLister(std::unique_ptr<remote::IFileSystem> connection)
    : m_connection(std::move(connection))
{
}

CRemoteFolderLister::~CRemoteFolderLister() = default;

void CRemoteFolderLister::List(const RemotePath& folder, const std::function<void(const RemoteEntry&)>& onEntry)
{
    try {
        const std::string path = folder.ToString().toUtf8().toStdString();
        // A path handed to MLSD or SFTP names exactly that folder, which
        // saves the round trip of entering it; a LIST argument may be read as
        // a pattern, so LIST lists the folder it stands in.
        const bool named = m_connection->features().listsNamedFolder;
        if (!named)
            m_connection->SetCurrentDirectory(path);
        m_connection->List(named ? path : std::string(), [&](remote::Entry&& raw) {
            RemoteEntry entry;
            entry.name = QString::fromUtf8(raw.name);
            entry.size = raw.size;
            entry.modified = raw.modified;
            entry.precision = PrecisionOfListing(raw.modified, raw.timePrecision);
            entry.folder = raw.isFolder;
            onEntry(entry);
        });
    } catch (const inet::InternetError& error) {
        const std::string reply = error.serverReply();
        throw std::runtime_error(reply.empty() ? error.message() : reply);
    }
}

void CRemoteFolderLister::Cancel()
{
    m_connection->Cancel();
}
