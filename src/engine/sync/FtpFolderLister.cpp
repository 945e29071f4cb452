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

namespace {

TimePrecision PrecisionOf(const inet::DirEntry& entry)
{
    if (entry.modified < 0)
        return TimePrecision::Unknown;
    switch (entry.timePrecision) {
    case inet::TimePrecision::Exact: return TimePrecision::Exact;
    case inet::TimePrecision::Minutes: return TimePrecision::Minutes;
    case inet::TimePrecision::Days: return TimePrecision::Days;
    }
    return TimePrecision::Unknown;
}

} // namespace

void CFtpFolderLister::List(const RemotePath& folder, const std::function<void(const RemoteEntry&)>& onEntry)
{
    try {
        const std::string path = folder.ToString().toUtf8().toStdString();
        // MLSD takes a path and nothing else, so it saves the round trip of a
        // CWD; a LIST argument may be read as a pattern, so LIST lists the
        // folder it stands in.
        if (!m_connection->usesMlsd())
            m_connection->SetCurrentDirectory(path);
        m_connection->Enumerate(m_connection->usesMlsd() ? path : std::string(), [&](inet::DirEntry&& raw) {
            if (raw.IsDots() || !inet::IsSafeEntryName(raw.name))
                return;
            RemoteEntry entry;
            entry.name = QString::fromUtf8(raw.name);
            entry.size = raw.size;
            entry.modified = raw.modified;
            entry.precision = PrecisionOf(raw);
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
