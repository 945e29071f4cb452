#include "engine/transfer/TransferStore.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace {

// Raised when the tables change shape; an older file is set aside, never
// read with the wrong meaning, unless it is one the program knows how to
// bring forward (below).
constexpr int kSchemaVersion = 3;
// Version 2 added to each file how exact its time is and what a
// synchronisation expects to find at its target.
const char* const kFileColumnsOfVersion2[] = {"exact_time INTEGER DEFAULT 0", "target_check INTEGER DEFAULT 0",
                                              "target_size INTEGER DEFAULT 0", "target_modified INTEGER DEFAULT -1"};
// Version 3 added each job's protocol and the site's key file: the jobs
// before it are FTP.
const char* const kJobColumnsOfVersion3[] = {"protocol INTEGER DEFAULT 0", "key_file TEXT DEFAULT ''"};

QString NextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("kestrix-transfer-queue-%1").arg(++counter);
}

QByteArray PackItems(const FileStatusList& items)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << qint32(items.size());
    for (const FileStatus& item : items)
        out << item.path << item.size << item.modified << item.created << item.accessed << item.attribute;
    return bytes;
}

FileStatusList UnpackItems(const QByteArray& bytes)
{
    FileStatusList items;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    qint32 count = 0;
    in >> count;
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        FileStatus item;
        in >> item.path >> item.size >> item.modified >> item.created >> item.accessed >> item.attribute;
        if (in.status() == QDataStream::Ok)
            items << item;
    }
    return items;
}

TransferState StateOf(int value)
{
    return value >= 0 && value <= int(TransferState::Cancelled) ? TransferState(value) : TransferState::Stopped;
}

} // namespace

CTransferStore::CTransferStore(QString path)
    : m_path(std::move(path)), m_connection(NextConnectionName())
{
}

CTransferStore::~CTransferStore()
{
    CloseDatabase();
}

void CTransferStore::CloseDatabase()
{
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
}

bool CTransferStore::Exec(const QString& statement)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(statement))
        return true;
    m_error = query.lastError().text();
    return false;
}

bool CTransferStore::OpenDatabase(QString& error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!db.open()) {
        error = db.lastError().text();
        return false;
    }
    // A file that is not a database opens fine; the first statement tells.
    QSqlQuery check(db);
    if (!check.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !check.next()) {
        error = check.lastError().text();
        return false;
    }
    // An unfinished read holds a transaction open: no journal change then.
    check.finish();
    return true;
}

bool CTransferStore::MakeSchema(QString& error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA user_version"));
    const int version = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    QSqlQuery tables(db);
    tables.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table'"));
    const int tableCount = tables.next() ? tables.value(0).toInt() : 0;
    tables.finish();
    if (tableCount > 0 && version != kSchemaVersion && version != 1 && version != 2) {
        error = QStringLiteral("it was written by another version of the program");
        return false;
    }
    if (tableCount > 0 && version == 1) {
        // The jobs of the version before go on: their files gain the new
        // columns with the values that change nothing.
        for (const char* column : kFileColumnsOfVersion2) {
            if (!Exec(QStringLiteral("ALTER TABLE files ADD COLUMN %1").arg(QLatin1String(column)))) {
                error = m_error;
                return false;
            }
        }
    }
    if (tableCount > 0 && version < 3) {
        for (const char* column : kJobColumnsOfVersion3) {
            if (!Exec(QStringLiteral("ALTER TABLE jobs ADD COLUMN %1").arg(QLatin1String(column)))) {
                error = m_error;
                return false;
            }
        }
    }
    // Writes land in the log first: a crash never leaves a half-written page,
    // and the batches cost one sync each.
    const QStringList statements = {
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=NORMAL"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS jobs (id INTEGER PRIMARY KEY, direction INTEGER, state INTEGER, "
                       "result TEXT, host TEXT, user TEXT, port INTEGER, site_path TEXT, transfer_type INTEGER, "
                       "retries INTEGER, retry_delay INTEGER, passive INTEGER, encryption INTEGER, "
                       "remote_folder TEXT, local_folder TEXT, local_is_folder INTEGER, items BLOB, "
                       "bytes_done INTEGER, bytes_total INTEGER, attempts INTEGER, added INTEGER, started INTEGER, "
                       "finished INTEGER, protocol INTEGER DEFAULT 0, key_file TEXT DEFAULT '')"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS files (job INTEGER, idx INTEGER, remote_path TEXT, local_path TEXT, "
                       "size INTEGER, done INTEGER, modified INTEGER, state INTEGER, result TEXT, folder INTEGER, "
                       "resume INTEGER, remote_size INTEGER, exact_time INTEGER DEFAULT 0, target_check INTEGER DEFAULT 0, "
                       "target_size INTEGER DEFAULT 0, target_modified INTEGER DEFAULT -1, PRIMARY KEY (job, idx)) "
                       "WITHOUT ROWID"),
        QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion),
    };
    for (const QString& statement : statements) {
        if (!Exec(statement)) {
            error = m_error;
            return false;
        }
    }
    return true;
}

CTransferStore::Opened CTransferStore::Open(QString& message)
{
    message.clear();
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        message = QStringLiteral("The transfer queue cannot be kept in %1: the folder cannot be made. Transfers are "
                                 "kept in memory only and are forgotten when the program ends.")
                      .arg(m_path);
        return Opened::Refused;
    }
    m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // a lock whose process is gone is stale, however young
    if (!m_lock->tryLock(0)) {
        const bool held = m_lock->error() == QLockFile::LockFailedError;
        m_lock.reset();
        message = held ? QStringLiteral("Another running Kestrix keeps the transfer queue (%1). The transfers of this "
                                        "window are kept in memory only and are forgotten when it closes.")
                             .arg(m_path)
                       : QStringLiteral("The transfer queue cannot be kept in %1: its lock file cannot be written. "
                                        "Transfers are kept in memory only and are forgotten when the program ends.")
                             .arg(m_path);
        return Opened::Refused;
    }

    const bool existed = info.exists() && info.size() > 0;
    QString error;
    if (OpenDatabase(error) && MakeSchema(error)) {
        m_open = true;
        return existed ? Opened::Existing : Opened::Fresh;
    }
    CloseDatabase();
    if (!existed || !QFileInfo(m_path).isWritable() || !QFileInfo(info.absolutePath()).isWritable()) {
        message = QStringLiteral("The transfer queue cannot be kept in %1: %2. Transfers are kept in memory only and "
                                 "are forgotten when the program ends.")
                      .arg(m_path, error);
        m_lock.reset();
        return Opened::Refused;
    }
    // Unreadable: kept aside for whoever wants to look, and a fresh start.
    const QString aside =
        m_path + QStringLiteral(".broken-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    bool moved = QFile::rename(m_path, aside);
    for (const char* suffix : {"-wal", "-shm"}) {
        if (QFile::exists(m_path + QLatin1String(suffix)))
            QFile::rename(m_path + QLatin1String(suffix), aside + QLatin1String(suffix));
    }
    QString again;
    if (moved && OpenDatabase(again) && MakeSchema(again)) {
        m_open = true;
        message = QStringLiteral("The transfer queue file %1 could not be read (%2). It was kept as %3 and a new, "
                                 "empty queue was started.")
                      .arg(m_path, error, aside);
        return Opened::SetAside;
    }
    CloseDatabase();
    m_lock.reset();
    message = QStringLiteral("The transfer queue file %1 could not be read (%2) nor replaced. Transfers are kept in "
                             "memory only and are forgotten when the program ends.")
                  .arg(m_path, error);
    return Opened::Refused;
}

std::vector<TransferJobRecord> CTransferStore::Load()
{
    std::vector<TransferJobRecord> records;
    if (!m_open)
        return records;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery jobs(db);
    jobs.setForwardOnly(true);
    if (!jobs.exec(QStringLiteral("SELECT id, direction, state, result, host, user, port, site_path, transfer_type, "
                                  "retries, retry_delay, passive, encryption, remote_folder, local_folder, "
                                  "local_is_folder, items, bytes_done, bytes_total, attempts, added, started, finished, "
                                  "protocol, key_file FROM jobs ORDER BY id"))) {
        m_error = jobs.lastError().text();
        return records;
    }
    QHash<qint64, std::size_t> byId;
    while (jobs.next()) {
        TransferJobRecord record;
        record.job.id = jobs.value(0).toLongLong();
        record.direction = jobs.value(1).toInt() == 1 ? TransferDirection::Upload : TransferDirection::Download;
        record.state = StateOf(jobs.value(2).toInt());
        record.result = jobs.value(3).toString();
        TransferSite& site = record.job.site;
        site.host = jobs.value(4).toString();
        site.user = jobs.value(5).toString();
        site.port = jobs.value(6).toInt();
        site.sitePath = jobs.value(7).toString();
        site.transferType = jobs.value(8).toInt();
        site.retries = jobs.value(9).toInt();
        site.retryDelay = jobs.value(10).toInt();
        site.passive = jobs.value(11).toInt() != 0;
        site.encryption = jobs.value(12).toInt();
        record.job.remoteFolder = jobs.value(13).toString();
        record.job.localFolder = jobs.value(14).toString();
        record.job.localIsFolder = jobs.value(15).toInt() != 0;
        record.job.items = UnpackItems(jobs.value(16).toByteArray());
        record.bytesDone = jobs.value(17).toULongLong();
        record.bytesTotal = jobs.value(18).toULongLong();
        record.attempts = jobs.value(19).toInt();
        record.added = jobs.value(20).toLongLong();
        record.started = jobs.value(21).toLongLong();
        record.finished = jobs.value(22).toLongLong();
        site.protocol = jobs.value(23).toInt();
        site.keyFile = jobs.value(24).toString();
        record.passwordKnown = false;
        byId.insert(record.job.id, records.size());
        records.push_back(std::move(record));
    }
    QSqlQuery files(db);
    files.setForwardOnly(true);
    if (!files.exec(QStringLiteral("SELECT job, idx, remote_path, local_path, size, done, modified, state, result, "
                                   "folder, resume, remote_size, exact_time, target_check, target_size, "
                                   "target_modified FROM files ORDER BY job, idx"))) {
        m_error = files.lastError().text();
        return records;
    }
    while (files.next()) {
        const auto found = byId.constFind(files.value(0).toLongLong());
        if (found == byId.constEnd())
            continue;
        TransferFileList& list = records[found.value()].job.files;
        const int index = files.value(1).toInt();
        if (index != int(list.size()))
            continue; // a gap would shift every later file: leave the rest out
        TransferFile file;
        file.remotePath = files.value(2).toString();
        file.localPath = files.value(3).toString();
        file.size = files.value(4).toULongLong();
        file.done = files.value(5).toULongLong();
        file.modified = files.value(6).toLongLong();
        file.state = StateOf(files.value(7).toInt());
        file.result = files.value(8).toString();
        file.folder = files.value(9).toInt() != 0;
        file.resume = files.value(10).toInt() != 0;
        file.remoteSize = files.value(11).toULongLong();
        file.exactTime = files.value(12).toInt() != 0;
        const int check = files.value(13).toInt();
        file.targetCheck = check == 1 ? TransferFile::TargetCheck::Absent
            : check == 2              ? TransferFile::TargetCheck::AsListed
                                      : TransferFile::TargetCheck::None;
        file.targetSize = files.value(14).toULongLong();
        file.targetModified = files.value(15).toLongLong();
        list.push_back(std::move(file));
    }
    return records;
}

bool CTransferStore::Begin()
{
    if (!m_open)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (db.transaction())
        return true;
    m_error = db.lastError().text();
    return false;
}

bool CTransferStore::Commit()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (db.commit())
        return true;
    m_error = db.lastError().text();
    db.rollback();
    return false;
}

void CTransferStore::Rollback()
{
    QSqlDatabase::database(m_connection, false).rollback();
}

bool CTransferStore::SaveJob(const TransferJobRecord& record)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO jobs (id, direction, state, result, host, user, port, site_path, "
                                 "transfer_type, retries, retry_delay, passive, encryption, remote_folder, local_folder, "
                                 "local_is_folder, items, bytes_done, bytes_total, attempts, added, started, finished, "
                                 "protocol, key_file) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const TransferSite& site = record.job.site;
    const QVariantList values = {record.job.id,
                                 record.direction == TransferDirection::Upload ? 1 : 0,
                                 int(record.state),
                                 record.result,
                                 site.host,
                                 site.user,
                                 site.port,
                                 site.sitePath,
                                 site.transferType,
                                 site.retries,
                                 site.retryDelay,
                                 site.passive ? 1 : 0,
                                 site.encryption,
                                 record.job.remoteFolder,
                                 record.job.localFolder,
                                 record.job.localIsFolder ? 1 : 0,
                                 PackItems(record.job.items),
                                 qint64(record.bytesDone),
                                 qint64(record.bytesTotal),
                                 record.attempts,
                                 record.added,
                                 record.started,
                                 record.finished,
                                 site.protocol,
                                 site.keyFile};
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    m_error = query.lastError().text();
    return false;
}

bool CTransferStore::SaveFiles(qint64 jobId, const TransferFileList& files)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery remove(db);
    remove.prepare(QStringLiteral("DELETE FROM files WHERE job = ?"));
    remove.addBindValue(jobId);
    if (!remove.exec()) {
        m_error = remove.lastError().text();
        return false;
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO files (job, idx, remote_path, local_path, size, done, modified, state, "
                                  "result, folder, resume, remote_size, exact_time, target_check, target_size, "
                                  "target_modified) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TransferFile& file = files[i];
        insert.bindValue(0, jobId);
        insert.bindValue(1, int(i));
        insert.bindValue(2, file.remotePath);
        insert.bindValue(3, file.localPath);
        insert.bindValue(4, qint64(file.size));
        insert.bindValue(5, qint64(file.done));
        insert.bindValue(6, file.modified);
        insert.bindValue(7, int(file.state));
        insert.bindValue(8, file.result);
        insert.bindValue(9, file.folder ? 1 : 0);
        insert.bindValue(10, file.resume ? 1 : 0);
        insert.bindValue(11, qint64(file.remoteSize));
        insert.bindValue(12, file.exactTime ? 1 : 0);
        insert.bindValue(13, int(file.targetCheck));
        insert.bindValue(14, qint64(file.targetSize));
        insert.bindValue(15, file.targetModified);
        if (!insert.exec()) {
            m_error = insert.lastError().text();
            return false;
        }
    }
    return true;
}

bool CTransferStore::SaveFile(qint64 jobId, int index, const TransferFile& file)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("UPDATE files SET size = ?, done = ?, state = ?, result = ? WHERE job = ? AND idx = ?"));
    query.addBindValue(qint64(file.size));
    query.addBindValue(qint64(file.done));
    query.addBindValue(int(file.state));
    query.addBindValue(file.result);
    query.addBindValue(jobId);
    query.addBindValue(index);
    if (query.exec())
        return true;
    m_error = query.lastError().text();
    return false;
}

bool CTransferStore::RemoveJob(qint64 jobId)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    for (const QString& statement : {QStringLiteral("DELETE FROM files WHERE job = ?"),
                                     QStringLiteral("DELETE FROM jobs WHERE id = ?")}) {
        QSqlQuery query(db);
        query.prepare(statement);
        query.addBindValue(jobId);
        if (!query.exec()) {
            m_error = query.lastError().text();
            return false;
        }
    }
    return true;
}

qint64 CTransferStore::LastId()
{
    if (!m_open)
        return 0;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    qint64 last = 0;
    if (query.exec(QStringLiteral("SELECT max(id) FROM jobs")) && query.next())
        last = query.value(0).toLongLong();
    query.finish();
    return last;
}
