// A program that runs one job through a persistent queue until it is killed:
// the honest way to test what a SIGKILL in the middle of a transfer leaves.
//
//   transfer_queue_child STORE download|upload PORT REMOTE_FOLDER LOCAL ITEM SIZE
//
// download: ITEM is a name in REMOTE_FOLDER and LOCAL the destination folder;
// upload: ITEM is a full local path. Prints "RUNNING <id>" once the job runs.
#include "engine/base/Settings.h"
#include "engine/transfer/TransferQueue.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 8) {
        std::fprintf(stderr, "usage: transfer_queue_child STORE download|upload PORT REMOTE LOCAL ITEM SIZE\n");
        return 2;
    }
    const QStringList args = app.arguments();
    CTransferQueue queue;
    queue.SetProxy(kx::settings::kProxyDirect, QString());
    queue.SetConnectionTimeout(10);
    if (!queue.UseStore(args[1]))
        return 3;
    TransferSite site;
    site.host = QStringLiteral("127.0.0.1");
    site.port = args[3].toInt();
    site.user = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    site.passive = true;
    site.retryDelay = 0;
    FileStatus item;
    item.path = args[6];
    item.size = args[7].toULongLong();
    const qint64 id = args[2] == QLatin1String("upload") ? queue.AddUpload({item}, site, args[4])
                                                          : queue.AddDownload({item}, args[5], site, args[4]);
    std::printf("RUNNING %lld\n", static_cast<long long>(id));
    std::fflush(stdout);
    return app.exec();
}
