// Listing a folder of 100,000 entries from a local FTP server into the real
// remote views, against curl's LIST of the same folder from the same server.
// Prints the times, their ratio and the memory the rows take; no pass/fail.
#include "window/frame/MainFrame.h"
#include "engine/base/Settings.h"
#include "engine/catalog/SiteCatalog.h"
#include "window/resources/CommandIds.h"
#include "support/ServerProcess.h"
#include "window/views/FtpListView.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>
#include <QAbstractItemView>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kEntries = 100000;

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double CurlListMs(int port)
{
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--user"), QStringLiteral("anna:secret"),
                                        QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                        QStringLiteral("ftp://127.0.0.1:%1/").arg(port)});
    curl.waitForFinished(600000);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    kx::UseSettingsFolder(settings.path());
    QApplication app(argc, argv);
    kx::WriteProfileInt(kx::settings::ShowConnectionDlg, 0);
    kx::WriteProfileInt(kx::settings::HideStatusCallbackInfo, 1);
    CSiteCatalog::SetDefaultPathOverride(settings.filePath(QStringLiteral("sites.xml")));

    kxtest::TempDir root;
    std::printf("creating %d files...\n", kEntries);
    for (int i = 0; i < kEntries; ++i) {
        const std::string path = root.path() + "/file-" + std::to_string(i) + (i % 10 == 0 ? ".txt" : ".bin");
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
    }
    auto server = kxtest::StartPyFtpd(root.path(), "anna", "secret");

    const double curlFirst = CurlListMs(server->port());
    CMainFrame frame;
    frame.show();
    const QString address = QStringLiteral("127.0.0.1:%1").arg(server->port());
    const long before = ResidentKiB();
    if (!frame.Connect(&address, QStringLiteral("anna"), QStringLiteral("secret"))) {
        std::puts("could not connect");
        return 1;
    }
    const long after = ResidentKiB();
    QElapsedTimer timer;
    timer.start();
    frame.Command(cmd::ID_REFRESH)->trigger();
    const double listMs = timer.nsecsElapsed() / 1e6;
    const double curlMs = std::min(curlFirst, CurlListMs(server->port()));

    timer.restart();
    frame.ListView()->SortByColumn(1);
    const double sortMs = timer.nsecsElapsed() / 1e6;

    // Every view style, switched to and drawn once.
    std::vector<std::pair<const char*, double>> styles;
    for (const auto& [id, name] : {std::pair{cmd::ID_VIEW_LIST, "list"}, {cmd::ID_VIEW_SMALLICON, "small icons"},
                                   {cmd::ID_VIEW_DETAILS, "details"}, {cmd::ID_VIEW_LARGEICON, "large icons"}}) {
        timer.restart();
        frame.Command(id)->trigger();
        // Laid out in batches: done when the scroll ranges stop changing.
        QAbstractItemView* view = frame.ListView()->CurrentView();
        QElapsedTimer stable;
        stable.start();
        std::pair<int, int> ranges{-1, -1};
        double doneMs = 0;
        while (stable.elapsed() < 300) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const std::pair<int, int> now{view->horizontalScrollBar()->maximum(), view->verticalScrollBar()->maximum()};
            if (now != ranges) {
                ranges = now;
                stable.restart();
                doneMs = timer.nsecsElapsed() / 1e6;
            }
        }
        frame.ListView()->grab();
        styles.emplace_back(name, doneMs);
    }

    const int rows = frame.ListView()->RowCount();
    std::printf("rows listed                %d\n", rows);
    std::printf("Kestrix listing into views %8.0f ms\n", listMs);
    std::printf("curl LIST (reference)      %8.0f ms   ratio %.2f\n", curlMs, listMs / curlMs);
    std::printf("sort 100,000 rows by size  %8.0f ms\n", sortMs);
    for (const auto& [name, ms] : styles)
        std::printf("switch to %-16s %8.0f ms (laid out)\n", name, ms);
    std::printf("memory per row             %8.0f bytes (resident growth over the first listing)\n",
                rows > 0 ? (after - before) * 1024.0 / rows : 0.0);
    return 0;
}
