// Listing a folder of 100,000 entries from a local FTP server into the real
// remote views, against curl's LIST of the same folder from the same server.
// Prints the times, their ratio and the memory the rows take, and for each
// view style the time until the last row has its place and what the process
// spends in the quiet seconds after; no pass/fail.
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
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kEntries = 100000;
// A layout that has not ended by then is reported as such.
constexpr qint64 kGiveUpMs = 60000;
constexpr int kIdleMs = 5000;

struct StyleFigures {
    const char* name = "";
    bool placed = false;
    double laidOutMs = 0;
    double idleCpuMs = 0;
    int idleTimers = 0;
    int idlePaints = 0;
    bool stillPlaced = false;
};

// User and system time of the whole process, server excluded (it runs in
// its own process).
double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

bool HasPlace(QAbstractItemView* view, const QModelIndex& index)
{
    return index.isValid() && !view->visualRect(index).isEmpty();
}

// Timer events reaching a view and repaints of its viewport: an idle view
// gets neither.
class CEventCounter : public QObject {
public:
    explicit CEventCounter(QAbstractItemView* view)
        : m_view(view)
    {
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
    }
    ~CEventCounter() override
    {
        m_view->removeEventFilter(this);
        m_view->viewport()->removeEventFilter(this);
    }
    int timers = 0;
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer && watched == m_view)
            ++timers;
        else if (event->type() == QEvent::Paint && watched == m_view->viewport())
            ++paints;
        return false;
    }

private:
    QAbstractItemView* m_view;
};

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

    // Every view style, switched to and drawn once, then left alone.
    std::vector<StyleFigures> styles;
    for (const auto& [id, name] : {std::pair{cmd::ID_VIEW_LIST, "list"}, {cmd::ID_VIEW_SMALLICON, "small icons"},
                                   {cmd::ID_VIEW_DETAILS, "details"}, {cmd::ID_VIEW_LARGEICON, "large icons"}}) {
        StyleFigures figures{name};
        timer.restart();
        frame.Command(id)->trigger();
        QAbstractItemView* view = frame.ListView()->CurrentView();
        const QModelIndex last = view->model()->index(view->model()->rowCount() - 1, 0);
        // Laid out when the last row has its place: a list view knows no rect
        // for a row its layout has not reached, so a layout done in batches
        // counts only once its last batch is in. Asking runs a pending layout
        // at once, as the next repaint would.
        while (!HasPlace(view, last) && timer.elapsed() < kGiveUpMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        figures.placed = HasPlace(view, last);
        figures.laidOutMs = timer.nsecsElapsed() / 1e6;
        frame.ListView()->grab();

        // Then nothing changes: whatever the process spends now is waste.
        CEventCounter counter(view);
        const double cpuBefore = CpuMs();
        QEventLoop idle;
        QTimer::singleShot(kIdleMs, &idle, &QEventLoop::quit);
        idle.exec();
        figures.idleCpuMs = CpuMs() - cpuBefore;
        figures.idleTimers = counter.timers;
        figures.idlePaints = counter.paints;
        figures.stillPlaced = HasPlace(view, last);
        styles.push_back(figures);
    }

    const int rows = frame.ListView()->RowCount();
    std::printf("rows listed                %d\n", rows);
    std::printf("Kestrix listing into views %8.0f ms\n", listMs);
    std::printf("curl LIST (reference)      %8.0f ms   ratio %.2f\n", curlMs, listMs / curlMs);
    std::printf("sort 100,000 rows by size  %8.0f ms\n", sortMs);
    for (const StyleFigures& style : styles) {
        if (style.placed)
            std::printf("switch to %-16s %8.0f ms until the last row has its place\n", style.name, style.laidOutMs);
        else
            std::printf("switch to %-16s no place for the last row after %.0f ms\n", style.name, style.laidOutMs);
        std::printf("  then idle for %d s: CPU %6.0f ms (%.1f %% of a core), %d timer events, %d repaints%s\n",
                    kIdleMs / 1000, style.idleCpuMs, 100.0 * style.idleCpuMs / kIdleMs, style.idleTimers,
                    style.idlePaints, style.stillPlaced ? "" : ", last row lost its place");
    }
    std::printf("memory per row             %8.0f bytes (resident growth over the first listing)\n",
                rows > 0 ? (after - before) * 1024.0 / rows : 0.0);
    return 0;
}
