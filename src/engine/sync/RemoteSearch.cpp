#include "engine/sync/RemoteSearch.h"

#include <QMetaObject>

#include <deque>

namespace {

// Matches travel to the window in batches: one signal per file would flood
// the GUI thread on a large tree.
constexpr int kBatch = 200;

QRegularExpression NameExpression(const SearchCriteria& criteria)
{
    if (criteria.pattern.isEmpty())
        return QRegularExpression();
    const QString pattern = criteria.regularExpression ? criteria.pattern
                                                       : QRegularExpression::wildcardToRegularExpression(criteria.pattern);
    return QRegularExpression(pattern, criteria.caseSensitive ? QRegularExpression::NoPatternOption
                                                              : QRegularExpression::CaseInsensitiveOption);
}

} // namespace

CRemoteSearch::CRemoteSearch(QObject* parent)
    : QObject(parent)
{
}

CRemoteSearch::~CRemoteSearch()
{
    Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

bool CRemoteSearch::Matches(const SearchCriteria& criteria, const QRegularExpression& name, const RemoteEntry& entry)
{
    if (entry.folder && !criteria.includeFolders)
        return false;
    if (!criteria.pattern.isEmpty() && !name.match(entry.name).hasMatch())
        return false;
    if (!entry.folder && ((criteria.minSize && entry.size < *criteria.minSize) || (criteria.maxSize && entry.size > *criteria.maxSize)))
        return false;
    // A date bound needs a date: an entry the server did not date is no match.
    if ((criteria.modifiedAfter || criteria.modifiedBefore) && entry.modified < 0)
        return false;
    if ((criteria.modifiedAfter && entry.modified < *criteria.modifiedAfter)
        || (criteria.modifiedBefore && entry.modified > *criteria.modifiedBefore))
        return false;
    return true;
}

bool CRemoteSearch::Start(const SearchCriteria& criteria, ListerFactory openLister, QString* problem)
{
    if (IsRunning())
        return false;
    const QRegularExpression name = NameExpression(criteria);
    if (!criteria.pattern.isEmpty() && !name.isValid()) {
        if (problem)
            *problem = name.errorString();
        return false;
    }
    if (m_thread.joinable())
        m_thread.join();
    m_cancel = false;
    m_finished = false;
    m_thread = std::thread(&CRemoteSearch::Run, this, criteria, name, std::move(openLister));
    return true;
}

void CRemoteSearch::Cancel()
{
    m_cancel = true;
    std::lock_guard lock(m_listerMutex);
    if (m_lister)
        m_lister->Cancel();
}

void CRemoteSearch::Run(SearchCriteria criteria, QRegularExpression name, ListerFactory openLister)
{
    const auto post = [this](auto&& call) { QMetaObject::invokeMethod(this, std::forward<decltype(call)>(call), Qt::QueuedConnection); };
    const auto finish = [&](Outcome outcome, const QString& text) {
        m_finished = true;
        post([this, outcome, text] { emit Finished(outcome, text); });
    };
    std::shared_ptr<IFolderLister> lister;
    try {
        lister = openLister();
    } catch (const std::exception& error) {
        finish(m_cancel ? Outcome::Cancelled : Outcome::Failed, QString::fromUtf8(error.what()));
        return;
    }
    {
        std::lock_guard lock(m_listerMutex);
        m_lister = lister;
        if (m_cancel)
            lister->Cancel();
    }
    // Breadth first: matches near the top come first, as a user expects.
    std::deque<std::pair<RemotePath, int>> folders{{criteria.root, 0}};
    QList<SearchMatch> batch;
    int searched = 0;
    int found = 0;
    int skipped = 0;
    bool depthReached = false;
    while (!folders.empty() && !m_cancel) {
        const auto [folder, depth] = folders.front();
        folders.pop_front();
        ++searched;
        post([this, folder = folder, searched] { emit FolderEntered(folder, searched); });
        try {
            lister->List(folder, [&](const RemoteEntry& entry) {
                const RemotePath path = folder.Child(entry.name);
                if (path.IsEmpty())
                    return; // a name that is no single name leads nowhere
                if (entry.folder && depth < criteria.maxDepth)
                    folders.emplace_back(path, depth + 1);
                else if (entry.folder)
                    depthReached = true;
                if (!Matches(criteria, name, entry))
                    return;
                batch.append({path, entry});
                ++found;
                if (batch.size() >= kBatch) {
                    post([this, matches = std::move(batch)] { emit Found(matches); });
                    batch.clear();
                }
            });
        } catch (const std::exception& error) {
            if (m_cancel)
                break;
            ++skipped;
            post([this, folder = folder, reason = QString::fromUtf8(error.what())] { emit FolderSkipped(folder, reason); });
        }
    }
    if (!batch.isEmpty())
        post([this, matches = std::move(batch)] { emit Found(matches); });
    {
        std::lock_guard lock(m_listerMutex);
        m_lister.reset();
    }
    lister.reset();
    QString text = QStringLiteral("%1 found in %2 folders").arg(found).arg(searched);
    if (skipped > 0)
        text += QStringLiteral(", %1 could not be searched").arg(skipped);
    if (depthReached)
        text += QStringLiteral("; folders deeper than %1 levels were not entered").arg(criteria.maxDepth);
    finish(m_cancel ? Outcome::Cancelled : Outcome::Completed, text + QLatin1Char('.'));
}
