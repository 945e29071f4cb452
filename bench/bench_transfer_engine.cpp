// One download or upload job through the real transfer engine (the worker
// thread, its connection, its copy loop and the events it posts), timed from
// Resume() to the job's end, with the process's peak resident set size. The
// shell script beside it runs this against curl and lftp on one server.
//
//   bench_transfer_engine download|upload --host H --port N [--user U]
//       [--password P] --remote-folder /x --local PATH --item NAME
//       [--item NAME...] [--folder] [--active] [--connections N]
//       [--sftp [--identity KEY]]
//
// --sftp: over SFTP; the server's host key must be in ~/.ssh/known_hosts
// (HOME may point elsewhere for that), as for a site trusted for always.
//
// download: each --item is a name inside --remote-folder, --local the
// destination folder (or file). upload: each --item is a full local path and
// --remote-folder the destination; --local is not used. --folder marks every
// item as a folder. The target of a download must not exist: nobody answers
// the engine's questions here, so it would leave an existing file alone.

#include "engine/base/FtpSite.h"
#include "engine/base/WindowMessages.h"
#include "engine/inet/InternetError.h"
#include "engine/transfer/DownloadThread.h"
#include "engine/transfer/SiteConnection.h"
#include "engine/transfer/TransferEvents.h"
#include "engine/transfer/UploadThread.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
    bool download = true;
    QString host = QStringLiteral("127.0.0.1");
    int port = 21;
    QString user;
    QString password;
    QString remoteFolder;
    QString local;
    QStringList items;
    bool folder = false;
    bool passive = true;
    int connections = 1;
    bool sftp = false;
    QString identity;
};

[[noreturn]] void Usage(const char* why)
{
    std::fprintf(stderr,
                 "bench_transfer_engine: %s\n"
                 "usage: bench_transfer_engine download|upload --host H --port N [--user U] [--password P]\n"
                 "       --remote-folder /x [--local PATH] --item NAME [--item NAME...] [--folder] [--active] [--connections N]\n"
                 "       [--sftp [--identity KEY]]\n",
                 why);
    std::exit(2);
}

Options Parse(int argc, char** argv)
{
    if (argc < 2)
        Usage("no direction");
    Options o;
    const std::string direction = argv[1];
    if (direction == "download")
        o.download = true;
    else if (direction == "upload")
        o.download = false;
    else
        Usage("the direction is download or upload");
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= argc)
                Usage(("no value after " + arg).c_str());
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (arg == "--host")
            o.host = value();
        else if (arg == "--port")
            o.port = value().toInt();
        else if (arg == "--user")
            o.user = value();
        else if (arg == "--password")
            o.password = value();
        else if (arg == "--remote-folder")
            o.remoteFolder = value();
        else if (arg == "--local")
            o.local = value();
        else if (arg == "--item")
            o.items << value();
        else if (arg == "--folder")
            o.folder = true;
        else if (arg == "--connections")
            o.connections = value().toInt();
        else if (arg == "--active")
            o.passive = false;
        else if (arg == "--sftp")
            o.sftp = true;
        else if (arg == "--identity")
            o.identity = value();
        else
            Usage(("unknown argument " + arg).c_str());
    }
    if (o.items.isEmpty())
        Usage("no --item");
    if (o.download && o.local.isEmpty())
        Usage("a download needs --local");
    return o;
}

// The sizes the window would have taken from the listing; asked before the
// clock starts, on a connection of its own, so they cost the job nothing.
quint64 RemoteSize(const TransferSite& site, const Options& o, const QString& name)
{
    try {
        const CSiteConnection connector(site, 0, 1, QString());
        auto connection = connector.Make();
        connector.Connect(*connection);
        if (!o.remoteFolder.isEmpty())
            connection->SetCurrentDirectory(o.remoteFolder.toStdString());
        return connection->GetFileSize(name.toStdString());
    } catch (const inet::InternetError& error) {
        std::fprintf(stderr, "bench_transfer_engine: no size for %s: %s\n", qPrintable(name), error.what());
        return 0;
    }
}

class DoneReceiver : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (auto* done = dynamic_cast<TransferDoneEvent*>(event)) {
            result = done->ResultText();
            failed = done->Failed();
            finished = true;
            QCoreApplication::quit();
            return true;
        }
        if (event->type() == WM_REMOTE_ITEM_ADDED)
            ++stored;
        return QObject::event(event) || event->type() >= QEvent::User;
    }

    QString result;
    bool failed = false;
    bool finished = false;
    long stored = 0;
};

long PeakRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options o = Parse(argc, argv);

    TransferJob job;
    job.site.host = o.host;
    job.site.port = o.port;
    job.site.user = o.user;
    job.site.password = o.password;
    job.remoteFolder = o.remoteFolder;
    job.localFolder = o.local;
    job.localIsFolder = o.folder || o.items.size() > 1 || QFileInfo(o.local).isDir();
    job.site.transferType = 2;
    job.site.retries = 1;
    job.site.retryDelay = 0;
    job.site.passive = o.passive;
    job.connections = o.connections;
    job.site.protocol = int(o.sftp ? SiteProtocol::Sftp : SiteProtocol::Ftp);
    job.site.keyFile = o.identity;
    job.proxyType = 1; // direct: a proxy in the environment must not sit between us and the server
    quint64 bytes = 0;
    for (const QString& item : o.items) {
        FileStatus entry;
        entry.path = item;
        entry.attribute = o.folder ? FileStatus::kFolder : 0;
        if (!o.folder)
            entry.size = o.download ? RemoteSize(job.site, o, item) : quint64(QFileInfo(item).size());
        bytes += entry.size;
        job.items.append(entry);
    }
    std::unique_ptr<CTransferThread> thread;
    if (o.download)
        thread = std::make_unique<CDownloadThread>(std::move(job));
    else
        thread = std::make_unique<CUploadThread>(std::move(job));

    DoneReceiver receiver;
    thread->SetReceiver(&receiver);
    const long rssBefore = PeakRssKiB();
    const auto start = std::chrono::steady_clock::now();
    thread->Resume();
    app.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    thread->Stop();
    const long rssPeak = PeakRssKiB();

    std::printf("engine %s: %.3f s, peak RSS %ld KiB (%ld KiB before the job)%s%s\n",
                o.download ? "download" : "upload", seconds, rssPeak, rssBefore,
                bytes ? qPrintable(QStringLiteral(", %1 MiB/s").arg(double(bytes) / 1048576.0 / seconds, 0, 'f', 1))
                      : "",
                o.download ? "" : qPrintable(QStringLiteral(", %1 items stored").arg(receiver.stored)));
    std::printf("result: %s\n", qPrintable(receiver.result));
    std::fflush(stdout);
    return receiver.finished && !receiver.failed && receiver.result == thread->SuccessText() ? 0 : 1;
}
