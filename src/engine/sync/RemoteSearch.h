#pragma once

#include "engine/base/RemoteEntry.h"
#include "engine/base/RemotePath.h"

#include <QList>
#include <QObject>
#include <QRegularExpression>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Lists remote folders for a search, on the search's own thread and
// connection. Cancel() comes from another thread and makes a blocked List
// return (by throwing) at once.
class IFolderLister {
public:
    virtual ~IFolderLister() = default;
    // The entries of `folder`, "." and ".." left out; throws std::exception
    // (with the reason in what()) when the folder cannot be listed.
    virtual void List(const RemotePath& folder, const std::function<void(const RemoteEntry&)>& onEntry) = 0;
    virtual void Cancel() = 0;
};

struct SearchCriteria {
    RemotePath root;
    int maxDepth = 20;          // levels below the root that are entered
    QString pattern;            // empty: every name
    bool regularExpression = false; // else "*" and "?"
    bool caseSensitive = false;
    bool includeFolders = true;
    std::optional<quint64> minSize, maxSize;             // files only
    std::optional<qint64> modifiedAfter, modifiedBefore; // UTC seconds
};

struct SearchMatch {
    RemotePath path;
    RemoteEntry entry;
};

// A search through a remote folder tree on a thread of its own: matches come
// as they are found, in batches on the thread the search was made on; Cancel
// stops it within one listing; folders that cannot be listed are counted and
// named, and do not stop it.
class CRemoteSearch : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Completed, Cancelled, Failed };
    using ListerFactory = std::function<std::unique_ptr<IFolderLister>()>; // called on the search thread

    explicit CRemoteSearch(QObject* parent = nullptr);
    ~CRemoteSearch() override; // cancels and waits

    // False when the pattern does not compile (the reason in `problem`).
    bool Start(const SearchCriteria& criteria, ListerFactory openLister, QString* problem = nullptr);
    void Cancel();
    bool IsRunning() const { return m_thread.joinable() && !m_finished; }

    // The rule each entry is held against; public for the dialog's own checks.
    static bool Matches(const SearchCriteria& criteria, const QRegularExpression& name, const RemoteEntry& entry);

signals:
    void Found(const QList<SearchMatch>& matches);
    void FolderEntered(const RemotePath& folder, int foldersSearched);
    void FolderSkipped(const RemotePath& folder, const QString& reason);
    void Finished(CRemoteSearch::Outcome outcome, const QString& text);

private:
    void Run(SearchCriteria criteria, QRegularExpression name, ListerFactory openLister);

    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    std::shared_ptr<IFolderLister> m_lister; // guarded by m_listerMutex
    std::mutex m_listerMutex;
};
