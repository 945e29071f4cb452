#pragma once

#include <QHash>
#include <QString>

#include <mutex>

// The files this program's jobs are writing at this moment, across all of
// them: a second job that would write the same local file (or the same file
// on the same server) at the same time is refused for that file instead of
// interleaving its blocks with the first one's. Thread-safe.
class CTargetClaims {
public:
    static CTargetClaims& Instance();

    // The key of a local file, and of a remote one on its server.
    static QString LocalKey(const QString& path);
    static QString RemoteKey(const QString& host, int port, const QString& path);

    // False when another owner holds the key.
    bool TryClaim(const QString& key, const void* owner);
    void Release(const QString& key, const void* owner);

private:
    std::mutex m_mutex;
    QHash<QString, const void*> m_owners;
};

// How many connections all jobs together hold to each server, bounded by
// "TransferMax" (0: no bound). A job takes one slot to start and more for its
// extra connections; each is given back when its connection ends. Thread-safe.
class CConnectionBudget {
public:
    void SetLimit(int perServer);
    int Limit() const;
    static QString ServerKey(const QString& host, int port);

    // Takes up to `wanted` slots (none when the server is at its bound);
    // returns how many it took.
    int Acquire(const QString& server, int wanted);
    // A slot even past the bound: the user asked for this job to run.
    void Force(const QString& server);
    void Release(const QString& server, int count);
    int InUse(const QString& server) const;

private:
    mutable std::mutex m_mutex;
    QHash<QString, int> m_used;
    int m_limit = 0;
};
