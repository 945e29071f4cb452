// Sorting 100,000 rows of the remote file list by each column in both
// directions, against std::sort of the same records with the same ordering.
// The model's sort also carries every selected row and the current row along
// (persistent indexes), which std::sort does not have to; the ratio shows what
// that costs. Prints the times and their ratio; no pass/fail.
#include "window/views/FileTypes.h"
#include "window/views/FtpListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 100000;
constexpr int kRounds = 5;

std::vector<FtpListItem> RandomRecords()
{
    std::mt19937_64 random(0x6b657374);
    const char* const extensions[] = {".txt", ".tar.gz", ".jpg", ".iso", ".c", ".pdf", ".kxq", ""};
    const char* const stems[] = {"report", "Backup", "IMG_", "readme", "data", "Archive", "log", "setup"};
    std::vector<FtpListItem> records;
    records.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        FtpListItem item;
        item.folder = random() % 8 == 0;
        item.name = QString::fromLatin1(stems[random() % 8]) + QString::number(random() % 10000000);
        if (!item.folder)
            item.name += QString::fromLatin1(extensions[random() % 8]);
        item.size = item.folder ? 4096 : random() >> (random() % 64);
        (void)item.Type(); // types are part of what is sorted, not of the timing
        item.modified = static_cast<qint64>(random() % 1700000000);
        records.push_back(std::move(item));
    }
    return records;
}

double Milliseconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Best of several rounds, each from the same unsorted order.
double ReferenceSort(const std::vector<FtpListItem>& records, int column, bool ascending)
{
    double best = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<FtpListItem> copy = records;
        QElapsedTimer timer;
        timer.start();
        std::sort(copy.begin(), copy.end(), [&](const FtpListItem& a, const FtpListItem& b) {
            return CFtpListModel::LessThan(a, b, column, ascending);
        });
        best = std::min(best, Milliseconds(timer));
    }
    return best;
}

double ModelSort(const std::vector<FtpListItem>& records, int column, bool ascending, int selectEvery)
{
    double best = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        CFtpListModel model;
        QItemSelectionModel selection(&model);
        model.SetItems(records);
        if (selectEvery > 0) {
            QItemSelection rows;
            for (int row = 0; row < kRows; row += selectEvery)
                rows.select(model.index(row, 0), model.index(row, CFtpListModel::ColumnCount - 1));
            selection.select(rows, QItemSelectionModel::Select);
            selection.setCurrentIndex(model.index(kRows / 2, 0), QItemSelectionModel::NoUpdate);
        }
        QElapsedTimer timer;
        timer.start();
        model.Sort(column, ascending);
        best = std::min(best, Milliseconds(timer));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<FtpListItem> records = RandomRecords();
    const char* const columns[] = {"Name", "Size", "Type", "Date"};

    std::printf("Sorting %d rows (best of %d rounds, milliseconds)\n\n", kRows, kRounds);
    std::printf("%-6s %-5s %12s %12s %8s %16s %8s\n", "column", "order", "std::sort", "model", "ratio",
                "model+1% sel.", "ratio");
    for (int column = 0; column < CFtpListModel::ColumnCount; ++column) {
        for (const bool ascending : {true, false}) {
            const double reference = ReferenceSort(records, column, ascending);
            const double model = ModelSort(records, column, ascending, 0);
            const double selected = ModelSort(records, column, ascending, 100);
            std::printf("%-6s %-5s %12.1f %12.1f %8.2f %16.1f %8.2f\n", columns[column], ascending ? "asc" : "desc",
                        reference, model, model / reference, selected, selected / reference);
        }
    }
    return 0;
}
