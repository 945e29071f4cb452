#include "engine/sync/SyncComparer.h"

#include <QMetaObject>

CSyncComparer::CSyncComparer(QObject* parent)
    : QObject(parent)
{
}

CSyncComparer::~CSyncComparer()
{
    Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

SyncPlan CSyncComparer::Compare(const Request& request, CRemoteTreeLister& lister, const std::atomic<bool>& cancel)
{
    TreeListing local;
    // The disk is read while the server answers.
    std::thread localSide([&] { local = ListLocalTree(request.localRoot, request.options.subfolders, cancel); });
    const TreeListing remote =
        lister.List(request.remoteRoot, request.options.subfolders, request.connections, request.openLister);
    localSide.join();

    const bool upload = request.direction == SyncDirection::Upload;
    const TreeListing& source = upload ? local : remote;
    const TreeListing& target = upload ? remote : local;
    SyncPlan plan;
    if (cancel) {
        plan.error = QStringLiteral("The comparison was cancelled; nothing is planned.");
        return plan;
    }
    if (!source.complete) {
        // What the source lacks would be offered for deletion on the target.
        plan.error = QStringLiteral("The %1 folder could not be listed completely, so nothing is planned: %2")
                         .arg(upload ? QStringLiteral("local") : QStringLiteral("remote"), source.problem);
        return plan;
    }
    plan = PlanSync(source.entries, target.entries, target.complete, request.options);
    if (!target.complete)
        plan.error += QLatin1Char(' ') + target.problem;
    return plan;
}

bool CSyncComparer::Start(Request request)
{
    if (IsRunning())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_cancel = false;
    m_finished = false;
    m_lister.Rearm();
    m_thread = std::thread([this, request = std::move(request)] {
        const SyncPlan plan = Compare(request, m_lister, m_cancel);
        m_finished = true;
        QMetaObject::invokeMethod(this, [this, plan] { emit Finished(plan); }, Qt::QueuedConnection);
    });
    return true;
}

void CSyncComparer::Cancel()
{
    m_cancel = true;
    m_lister.Cancel();
}
