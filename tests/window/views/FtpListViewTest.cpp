#include "window/resources/CommandIds.h"
#include "window/views/FileTypes.h"
#include "window/views/FtpListModel.h"
#include "window/views/FtpListView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMimeDatabase>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>
#include <random>
#include <set>

namespace {

RemoteEntry Entry(const std::string& name, std::uint64_t size, bool folder, std::int64_t modified)
{
    RemoteEntry entry;
    entry.name = QString::fromUtf8(name.data(), qsizetype(name.size()));
    entry.size = size;
    entry.folder = folder;
    entry.modified = modified;
    return entry;
}

void Fill(CFtpListView& view, const std::vector<RemoteEntry>& entries)
{
    view.DeleteAllItems();
    int index = 0;
    for (const RemoteEntry& entry : entries)
        view.AddListingEntry(index++, entry);
}

QStringList Names(const CFtpListView& view)
{
    QStringList names;
    for (int row = 0; row < view.RowCount(); ++row)
        names << view.ItemName(row);
    return names;
}

QStringList SelectedNames(const CFtpListView& view)
{
    QStringList names;
    for (const int row : view.SelectedRows())
        names << view.ItemName(row);
    names.sort();
    return names;
}

int RowOf(const CFtpListView& view, const QString& name)
{
    return static_cast<int>(Names(view).indexOf(name));
}

// Shown and laid out, so clicks land where the rows and header sections are.
void ShowForInput(QWidget& widget)
{
    widget.resize(640, 420);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
}

void ClickHeader(CFtpListView& view, int column)
{
    QHeaderView* header = view.DetailsView()->header();
    const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
}

QPoint RowCentre(CFtpListView& view, int row)
{
    return view.CurrentView()->visualRect(view.Model()->index(row, 0)).center();
}

// The rows as the list's sort rules demand them: names whose order among
// themselves is free (equal keys) share a group.
using Groups = std::vector<QStringList>;

void ExpectGroups(const QStringList& names, const Groups& groups)
{
    qsizetype at = 0;
    for (const QStringList& group : groups) {
        QStringList got = names.mid(at, group.size());
        QStringList want = group;
        got.sort();
        want.sort();
        EXPECT_EQ(got, want) << "rows " << at << ".. of " << names.join(QLatin1Char(' ')).toStdString();
        at += group.size();
    }
    EXPECT_EQ(at, names.size());
}

// ---------------------------------------------------------------- texts

TEST(FileTypes, SizeInKilobytes)
{
    const struct {
        quint64 bytes;
        const char* text;
    } cases[] = {
        {0, "1 KB"},
        {1, "1 KB"},
        {1023, "1 KB"},
        {1024, "1 KB"},
        {1025, "2 KB"},
        {2048, "2 KB"},
        {2049, "3 KB"},
        {999 * 1024, "999 KB"},
        {999 * 1024 + 1, "1,000 KB"},
        {1048576, "1,024 KB"},
        {5368709120ULL, "5,242,880 KB"},          // 5 GiB: past 32 bits
        {1024ULL * 1000000000ULL, "1,000,000,000 KB"},
        {std::numeric_limits<quint64>::max(), "18,014,398,509,481,984 KB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSizeKB(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
}

TEST(FileTypes, TypeNames)
{
    const QMimeDatabase mime;
    const QString gzipTar = mime.mimeTypeForName(QStringLiteral("application/x-compressed-tar")).comment();
    const QString archive = GetShellTypeName(QStringLiteral("archive.tar.gz"));
    EXPECT_TRUE(archive == QStringLiteral("GZ File") || (!gzipTar.isEmpty() && archive == gzipTar))
        << archive.toStdString();

    // Whatever the MIME database makes of a whole name, a name without an
    // extension is a plain file.
    const struct {
        const char* name;
        const char* type;
    } fallbacks[] = {
        {"Makefile", "File"},
        {"core", "File"},
        {"README", "File"},
        {"notes.", "File"},
        {"x.qqqzz", "QQQZZ File"},
        {"X.QqQzZ", "QQQZZ File"},
        {"a.b.qqqzz", "QQQZZ File"},
        {".kxhidden", "KXHIDDEN File"},
        {"dir.d/noext", "File"},
    };
    for (const auto& c : fallbacks)
        EXPECT_EQ(GetShellTypeName(QString::fromLatin1(c.name)), QString::fromLatin1(c.type)) << c.name;

    // A type the database knows gets its description, not the fallback.
    const QString plain = mime.mimeTypeForName(QStringLiteral("text/plain")).comment();
    if (!plain.isEmpty()) {
        EXPECT_EQ(GetShellTypeName(QStringLiteral("notes.txt")), plain);
    }
}

TEST(FileTypes, IconsFallBackToTheStyle)
{
    for (const QString& name : {QStringLiteral("a.txt"), QStringLiteral("Makefile"), QStringLiteral("x.qqqzz")})
        EXPECT_FALSE(GetShellIcon(name, false, false).isNull()) << name.toStdString();
    EXPECT_FALSE(GetShellIcon(QStringLiteral("pub"), true, false).isNull());
    EXPECT_FALSE(GetShellIcon(QStringLiteral("pub"), true, true).isNull());
}

TEST(FileTypes, OneCachedIconPerTypeForEveryView)
{
    const auto key = [](const char* name, bool folder = false, bool open = false) {
        return GetShellIcon(QString::fromLatin1(name), folder, open).cacheKey();
    };
    EXPECT_EQ(key("a.txt"), key("pub/b.txt"));
    EXPECT_EQ(key("pub", true), key("etc", true));
    EXPECT_NE(key("pub", true), key("pub", true, true));
    EXPECT_NE(key("pub", true), key("Makefile"));
    EXPECT_EQ(key("Makefile"), key("x.qqqzz")); // no known type: the standard icon
    CFtpListView view;
    Fill(view, {Entry("one.txt", 1, false, 1)});
    ASSERT_EQ(view.RowCount(), 1);
    EXPECT_EQ(view.Model()->data(view.Model()->index(0, 0), Qt::DecorationRole).value<QIcon>().cacheKey(), key("a.txt"));

    // A theme with images for plain text and JPEG pictures, and nothing else.
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("t/16"));
    QFile index(root.filePath(QStringLiteral("t/index.theme")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nDirectories=16\n[16]\nSize=16\n");
    index.close();
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    for (const char* icon : {"text-plain", "image-jpeg"})
        image.save(root.filePath(QStringLiteral("t/16/%1.png").arg(QLatin1String(icon))));
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({root.path()});
    QIcon::setThemeName(QStringLiteral("t"));
    EXPECT_EQ(key("a.txt"), key("b.txt"));
    EXPECT_NE(key("a.txt"), key("a.jpg"));
    EXPECT_NE(key("a.txt"), key("Makefile"));
    EXPECT_EQ(key("a.tar.gz"), key("Makefile"));
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
    EXPECT_EQ(key("a.txt"), key("Makefile"));
}

TEST(FileTypes, TypesAreToldByTheWholeSuffixAndItsCase)
{
    // In this order, types kept by the last extension alone would give the
    // tarball the type of ".gz" and C++ sources the type of C ones.
    for (const auto& [name, type] : {std::pair{"b.gz", "application/gzip"}, {"b.tar.gz", "application/x-compressed-tar"},
                                     {"v1.2.3.tar.gz", "application/x-compressed-tar"}, {"m.c", "text/x-csrc"},
                                     {"m.C", "text/x-c++src"}}) {
        const QString comment = QMimeDatabase().mimeTypeForName(QLatin1String(type)).comment();
        EXPECT_TRUE(comment.isEmpty() || GetShellTypeName(QLatin1String(name)) == comment) << name;
    }
}

class ZoneAndLocale {
public:
    ZoneAndLocale(const char* zone, const QLocale& locale)
        : m_hadZone(std::getenv("TZ") != nullptr)
        , m_zone(m_hadZone ? std::getenv("TZ") : "")
        , m_locale(QLocale())
    {
        setenv("TZ", zone, 1);
        tzset();
        QLocale::setDefault(locale);
    }
    ~ZoneAndLocale()
    {
        if (m_hadZone)
            setenv("TZ", m_zone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        QLocale::setDefault(m_locale);
    }

private:
    bool m_hadZone;
    std::string m_zone;
    QLocale m_locale;
};

TEST(FileTypes, DateIsLocalShortDateAndTimeWithoutSeconds)
{
    constexpr qint64 kThursday = 1614863137; // 2021-03-04 13:05:37 UTC
    const struct {
        const char* zone;
        QLocale locale;
        const char* text;
    } cases[] = {
        {"KXT-2", QLocale::c(), "4 Mar 2021 15:05"}, // the C locale's short time has seconds
        {"KXT-2", QLocale(QLocale::English, QLocale::UnitedStates), "3/4/21 3:05 PM"},
        {"KXT-2", QLocale(QLocale::German, QLocale::Germany), "04.03.21 15:05"},
        {"KXT-2", QLocale(QLocale::Finnish, QLocale::Finland), "4.3.2021 15.05"},
        {"KXT+14", QLocale(QLocale::German, QLocale::Germany), "03.03.21 23:05"}, // the day before
    };
    for (const auto& c : cases) {
        ZoneAndLocale scope(c.zone, c.locale);
        EXPECT_EQ(FormatShortDateTime(kThursday), QString::fromLatin1(c.text)) << c.zone << " " << c.text;
    }
    ZoneAndLocale scope("UTC", QLocale::c());
    EXPECT_EQ(FormatShortDateTime(-1), QString()); // unknown
    EXPECT_EQ(FormatShortDateTime(std::numeric_limits<qint64>::max()), QString());
    EXPECT_EQ(FormatShortDateTime(std::numeric_limits<qint64>::min()), QString());
    EXPECT_EQ(FormatShortDateTime(0), QStringLiteral("1 Jan 1970 00:00"));
}

// ---------------------------------------------------------------- rows

TEST(FtpListView, RowsShowTheirRecords)
{
    ZoneAndLocale scope("UTC", QLocale::c());
    CFtpListView view;
    Fill(view, {Entry("pub", 4096, true, 0), Entry("empty.kxq", 0, false, 60), Entry("big.iso", 5368709120ULL, false, -1),
                Entry(".", 0, true, 0), Entry("..", 0, true, 0)});
    ASSERT_EQ(view.RowCount(), 3); // "." and ".." are never rows

    const struct {
        int row;
        const char* name;
        const char* size;
        const char* type;
        const char* date;
    } rows[] = {
        {0, "pub", "", "Folder", "1 Jan 1970 00:00"},
        {1, "empty.kxq", "1 KB", "KXQ File", "1 Jan 1970 00:01"},
        {2, "big.iso", "5,242,880 KB", nullptr, ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(view.ItemText(r.row, 0), QString::fromLatin1(r.name));
        EXPECT_EQ(view.ItemText(r.row, 1), QString::fromLatin1(r.size)) << r.name;
        if (r.type) {
            EXPECT_EQ(view.ItemText(r.row, 2), QString::fromLatin1(r.type)) << r.name;
        }
        EXPECT_EQ(view.ItemText(r.row, 3), QString::fromLatin1(r.date)) << r.name;
    }
    EXPECT_TRUE(view.IsFolderItem(0));
    EXPECT_FALSE(view.IsFolderItem(1));
    EXPECT_EQ(view.GetItemSize(2), 5368709120ULL);
    EXPECT_EQ(view.ItemModified(1), 60);

    const CFtpListModel* model = view.Model();
    const QStringList headers = {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Type"),
                                 QStringLiteral("Date Modified")};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(model->headerData(column, Qt::Horizontal).toString(), headers[column]);
    EXPECT_EQ(model->data(model->index(1, 1), Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(model->data(model->index(1, 2), Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
    const QHeaderView* header = view.DetailsView()->header();
    EXPECT_EQ((QList<int>{header->sectionSize(0), header->sectionSize(1), header->sectionSize(2), header->sectionSize(3)}),
              (QList<int>{180, 100, 100, 100}));
    EXPECT_FALSE(model->data(model->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
}

TEST(FtpListView, HostileNamesAndIndexesAreHarmless)
{
    CFtpListView view;
    const std::string longName(20000, 'n');
    Fill(view, {Entry("line\nbreak\r.txt", 1, false, 0), Entry(std::string("nul\0inside", 10), 1, false, 0),
                Entry("\xff\xfe\x80.bin", 1, false, 0), Entry("", 1, false, 0), Entry(longName, 1, false, 0),
                Entry("tab\there.q\x01q", 1, false, std::numeric_limits<std::int64_t>::max())});
    view.AddListingEntry(1000, Entry("far.kxq", 1, false, 0)); // past the end: appended
    view.AddListingEntry(-7, Entry("negative.kxq", 1, false, 0));
    ASSERT_EQ(view.RowCount(), 8);
    EXPECT_EQ(view.ItemName(0), QStringLiteral("line\nbreak\r.txt")); // the record keeps what was sent
    for (int row = 0; row < view.RowCount(); ++row) {
        for (int column = 0; column < 4; ++column) {
            const QString text = view.ItemText(row, column);
            EXPECT_FALSE(std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20; }))
                << row << "," << column;
        }
    }
    EXPECT_EQ(view.ItemName(6), QStringLiteral("far.kxq"));
    EXPECT_EQ(view.ItemName(7), QStringLiteral("negative.kxq"));
    EXPECT_EQ(view.ItemText(5, 3), QString());

    for (const int row : {-1, 8, 1 << 30}) {
        EXPECT_EQ(view.ItemName(row), QString());
        EXPECT_FALSE(view.IsFolderItem(row));
        EXPECT_EQ(view.GetItemSize(row), 0u);
        EXPECT_EQ(view.ItemText(row, 0), QString());
        view.SetItemName(row, QStringLiteral("x"));
        view.RemoveItem(row);
        view.SelectItem(row);
        view.EditItem(row);
    }
    EXPECT_EQ(view.ItemText(0, 9), QString());
    EXPECT_EQ(view.RowCount(), 8);
    EXPECT_FALSE(view.IsEditing());
    EXPECT_TRUE(view.SelectedRows().isEmpty());
    for (const int column : {0, 1, 2, 3, -1})
        view.SortByColumn(column);
    view.SortByColumn(CFtpListModel::ColumnCount);
    view.SortByColumn(-2);
    EXPECT_EQ(view.SortColumn(), 3);
}

TEST(FtpListView, HiddenColumnsSettingKeepsOnlyColumnsThatCanHide)
{
    CFtpListView view;
    // A hand-edited value: the name column, numbers out of range and words are left out.
    view.RestoreHiddenColumns(QStringLiteral("x,0,99,-1,2, 5 ,"));
    EXPECT_EQ(view.HiddenColumnsText(), QStringLiteral("2,5,"));
    EXPECT_FALSE(view.IsColumnShown(CFtpListModel::TypeColumn));
    EXPECT_TRUE(view.IsColumnShown(CFtpListModel::NameColumn));
    view.SetColumnHidden(CFtpListModel::NameColumn, true);
    EXPECT_TRUE(view.IsColumnShown(CFtpListModel::NameColumn));
    // Permissions show once a row has them, unless hidden.
    EXPECT_FALSE(view.IsColumnShown(CFtpListModel::PermissionsColumn));
    RemoteEntry entry;
    entry.name = QStringLiteral("a.txt");
    entry.permissions = QStringLiteral("rw-r--r--");
    entry.owner = QStringLiteral("anna");
    view.AddListingEntry(-1, entry);
    EXPECT_TRUE(view.IsColumnShown(CFtpListModel::PermissionsColumn));
    EXPECT_FALSE(view.IsColumnShown(CFtpListModel::OwnerColumn)); // hidden by the user
    EXPECT_FALSE(view.IsColumnShown(CFtpListModel::GroupColumn)); // no row has one
    view.SetColumnHidden(CFtpListModel::OwnerColumn, false);
    EXPECT_TRUE(view.IsColumnShown(CFtpListModel::OwnerColumn));
    view.DeleteAllItems();
    EXPECT_FALSE(view.IsColumnShown(CFtpListModel::PermissionsColumn));
}

TEST(FtpListView, AddOrUpdateEntryUpdatesByNameOrInserts)
{
    CFtpListView view;
    Fill(view, {Entry("pub", 0, true, 5), Entry("Readme.TXT", 10, false, 5), Entry("z.kxq", 20, false, 5)});

    FileStatus existing;
    existing.path = QStringLiteral("README.txt");
    existing.size = 6000000000ULL;
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    EXPECT_EQ(view.AddOrUpdateEntry(0, existing), -1);
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(view.RowCount(), 3);
    EXPECT_EQ(view.ItemName(1), QStringLiteral("Readme.TXT"));
    EXPECT_EQ(view.GetItemSize(1), 6000000000ULL);
    EXPECT_GE(view.ItemModified(1), before); // the time of the call, not the file's
    EXPECT_LE(view.ItemModified(1), after);

    FileStatus folder;
    folder.path = QStringLiteral("redloF weN");
    folder.attribute = FileStatus::kFolder;
    FileStatus file;
    file.path = QStringLiteral("new.kxa");
    file.size = 2049;
    FileStatus last;
    last.path = QStringLiteral("last.kxa");
    FileStatus tail;
    tail.path = QStringLiteral("tail.kxa");
    const struct {
        const FileStatus* status;
        int position;
        int row;
        bool folder;
        const char* size;
        const char* type;
    } inserts[] = {
        {&folder, 0, 0, true, "", "Folder"},
        {&file, 2, 2, false, "3 KB", "KXA File"},
        {&last, 99, 5, false, "1 KB", "KXA File"},
        {&tail, -1, 6, false, "1 KB", "KXA File"},
    };
    for (const auto& c : inserts) {
        const int count = view.RowCount();
        EXPECT_EQ(view.AddOrUpdateEntry(c.position, *c.status), c.row) << c.status->path.toStdString();
        EXPECT_EQ(view.RowCount(), count + 1);
        EXPECT_EQ(view.ItemName(c.row), c.status->path);
        EXPECT_EQ(view.IsFolderItem(c.row), c.folder);
        EXPECT_EQ(view.ItemText(c.row, 1), QString::fromLatin1(c.size));
        EXPECT_EQ(view.ItemText(c.row, 2), QString::fromLatin1(c.type));
        EXPECT_GE(view.ItemModified(c.row), before);
    }
    // Not re-sorted: the rows stay where they were put.
    EXPECT_EQ(Names(view), (QStringList{QStringLiteral("redloF weN"), QStringLiteral("pub"), QStringLiteral("new.kxa"),
                                        QStringLiteral("Readme.TXT"), QStringLiteral("z.kxq"),
                                        QStringLiteral("last.kxa"), QStringLiteral("tail.kxa")}));
}

TEST(FtpListView, RenameAndRemoveRows)
{
    CFtpListView view;
    Fill(view, {Entry("pub", 0, true, 5), Entry("notes.kxa", 10, false, 5), Entry("gone.kxa", 1, false, 5)});
    view.SetItemName(1, QStringLiteral("notes.kxb"));
    EXPECT_EQ(view.ItemName(1), QStringLiteral("notes.kxb"));
    EXPECT_EQ(view.ItemText(1, 2), QStringLiteral("KXB File")); // the type follows the name
    view.SetItemName(0, QStringLiteral("pub.kxa"));
    EXPECT_EQ(view.ItemText(0, 2), QStringLiteral("Folder"));
    view.RemoveItem(2);
    EXPECT_EQ(Names(view), (QStringList{QStringLiteral("pub.kxa"), QStringLiteral("notes.kxb")}));
    view.DeleteAllItems();
    EXPECT_EQ(view.RowCount(), 0);
}

// ---------------------------------------------------------------- sorting

class SortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShowForInput(m_view);
        m_view.SetViewStyle(cmd::ID_VIEW_DETAILS);
        Fill(m_view, {Entry("beta", 4096, true, 300), Entry("Echo.kxa", 10, false, 400),
                      Entry("charlie.kxc", 5000000000ULL, false, 50), Entry("Alpha", 512, true, 100),
                      Entry("delta.kxb", 2048, false, 200)});
        ASSERT_EQ(m_view.ItemText(RowOf(m_view, QStringLiteral("Echo.kxa")), 2), QStringLiteral("KXA File"));
    }

    // Reaches (column, direction) the way a user does: the sort key, then a
    // click on the column's header to turn the direction round.
    void SortTo(int column, bool ascending)
    {
        m_view.SortByColumn(column);
        if (m_view.SortAscending() != ascending)
            ClickHeader(m_view, column);
        ASSERT_EQ(m_view.SortColumn(), column);
        ASSERT_EQ(m_view.SortAscending(), ascending);
    }

    CFtpListView m_view;
};

TEST_F(SortTest, EveryColumnBothWays)
{
    const auto L = [](std::initializer_list<const char*> names) {
        QStringList list;
        for (const char* name : names)
            list << QString::fromLatin1(name);
        return list;
    };
    const struct {
        int column;
        bool ascending;
        Groups order;
    } cases[] = {
        {0, true, {L({"Alpha"}), L({"beta"}), L({"charlie.kxc"}), L({"delta.kxb"}), L({"Echo.kxa"})}},
        {0, false, {L({"Echo.kxa"}), L({"delta.kxb"}), L({"charlie.kxc"}), L({"beta"}), L({"Alpha"})}},
        {1, true, {L({"Alpha"}), L({"beta"}), L({"Echo.kxa"}), L({"delta.kxb"}), L({"charlie.kxc"})}},
        {1, false, {L({"charlie.kxc"}), L({"delta.kxb"}), L({"Echo.kxa"}), L({"beta"}), L({"Alpha"})}},
        {2, true, {L({"Alpha", "beta"}), L({"Echo.kxa"}), L({"delta.kxb"}), L({"charlie.kxc"})}},
        {2, false, {L({"Alpha", "beta"}), L({"charlie.kxc"}), L({"delta.kxb"}), L({"Echo.kxa"})}},
        {3, true, {L({"charlie.kxc"}), L({"Alpha"}), L({"delta.kxb"}), L({"beta"}), L({"Echo.kxa"})}},
        {3, false, {L({"Echo.kxa"}), L({"beta"}), L({"delta.kxb"}), L({"Alpha"}), L({"charlie.kxc"})}},
    };
    QSignalSpy sorted(&m_view, &CFtpListView::SortChanged);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "column " << c.column << (c.ascending ? " ascending" : " descending"));
        SortTo(c.column, c.ascending);
        ExpectGroups(Names(m_view), c.order);
        const QHeaderView* header = m_view.DetailsView()->header();
        EXPECT_EQ(header->sortIndicatorSection(), c.column);
        EXPECT_EQ(header->sortIndicatorOrder(), c.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        ASSERT_FALSE(sorted.isEmpty());
        EXPECT_EQ(sorted.last().at(0).toInt(), c.column);
        EXPECT_EQ(sorted.last().at(1).toBool(), c.ascending);
    }
}

TEST_F(SortTest, HeaderClicksToggleOrStartAscending)
{
    m_view.SortByColumn(0);
    ASSERT_TRUE(m_view.SortAscending());
    ClickHeader(m_view, 0); // names descending: every folder after every file
    EXPECT_FALSE(m_view.SortAscending());
    ExpectGroups(Names(m_view), {{QStringLiteral("Echo.kxa"), QStringLiteral("delta.kxb"), QStringLiteral("charlie.kxc")},
                                 {QStringLiteral("beta"), QStringLiteral("Alpha")}});
    EXPECT_EQ(Names(m_view).mid(3), (QStringList{QStringLiteral("beta"), QStringLiteral("Alpha")}));

    ClickHeader(m_view, 2); // another column starts ascending
    EXPECT_EQ(m_view.SortColumn(), 2);
    EXPECT_TRUE(m_view.SortAscending());
    ClickHeader(m_view, 2); // types descending: the folders stay in front
    EXPECT_FALSE(m_view.SortAscending());
    ExpectGroups(Names(m_view), {{QStringLiteral("Alpha"), QStringLiteral("beta")},
                                 {QStringLiteral("charlie.kxc")},
                                 {QStringLiteral("delta.kxb")},
                                 {QStringLiteral("Echo.kxa")}});
}

TEST_F(SortTest, SortKeyKeepsTheDirectionAndMovesTheArrow)
{
    SortTo(0, false);
    m_view.SortByColumn(1); // "Arrange Icons by Size" while descending
    EXPECT_EQ(m_view.SortColumn(), 1);
    EXPECT_FALSE(m_view.SortAscending());
    EXPECT_EQ(m_view.DetailsView()->header()->sortIndicatorSection(), 1);
    EXPECT_EQ(m_view.DetailsView()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(Names(m_view).first(), QStringLiteral("charlie.kxc"));
}

TEST_F(SortTest, ResortKeepsColumnDirectionAndArrow)
{
    SortTo(3, false);
    FileStatus late;
    late.path = QStringLiteral("fresh.kxa"); // modified now: newer than every row
    ASSERT_EQ(m_view.AddOrUpdateEntry(m_view.RowCount(), late), 5);
    m_view.SortByColumn(-1);
    EXPECT_EQ(m_view.SortColumn(), 3);
    EXPECT_FALSE(m_view.SortAscending());
    EXPECT_EQ(m_view.DetailsView()->header()->sortIndicatorSection(), 3);
    EXPECT_EQ(m_view.DetailsView()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(Names(m_view).first(), QStringLiteral("fresh.kxa"));
}

TEST_F(SortTest, SelectionAndCurrentRowFollowTheirRows)
{
    m_view.SortByColumn(0);
    m_view.SelectItem(RowOf(m_view, QStringLiteral("delta.kxb")));
    m_view.Selection()->select(m_view.Model()->index(RowOf(m_view, QStringLiteral("Alpha")), 0),
                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QStringList selected = SelectedNames(m_view);
    ASSERT_EQ(selected, (QStringList{QStringLiteral("Alpha"), QStringLiteral("delta.kxb")}));
    for (const int column : {1, 2, 3, 0}) {
        m_view.SortByColumn(column);
        ClickHeader(m_view, column);
        EXPECT_EQ(SelectedNames(m_view), selected) << column;
        EXPECT_EQ(m_view.ItemName(m_view.Selection()->currentIndex().row()), QStringLiteral("delta.kxb"));
    }
}

// ---------------------------------------------------------------- styles

TEST(FtpListView, ViewStylesShareOneSelection)
{
    CFtpListView view;
    ShowForInput(view);
    Fill(view, {Entry("a.kxa", 1, false, 1), Entry("b.kxa", 1, false, 1), Entry("c.kxa", 1, false, 1),
                Entry("d.kxa", 1, false, 1)});
    EXPECT_EQ(view.ViewStyle(), cmd::ID_VIEW_LARGEICON);
    view.SelectItem(1);
    view.Selection()->select(view.Model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

    const struct {
        int id;
        bool details;
        QListView::ViewMode mode;
        QListView::Flow flow;
    } styles[] = {
        {cmd::ID_VIEW_DETAILS, true, QListView::ListMode, QListView::TopToBottom},
        {cmd::ID_VIEW_SMALLICON, false, QListView::ListMode, QListView::LeftToRight},
        {cmd::ID_VIEW_LIST, false, QListView::ListMode, QListView::TopToBottom},
        {cmd::ID_VIEW_LARGEICON, false, QListView::IconMode, QListView::LeftToRight},
        {cmd::ID_VIEW_DETAILS, true, QListView::ListMode, QListView::TopToBottom},
    };
    for (const auto& style : styles) {
        view.SetViewStyle(style.id);
        EXPECT_EQ(view.ViewStyle(), style.id);
        EXPECT_TRUE(view.CurrentView()->isVisible());
        EXPECT_EQ(view.CurrentView() == view.DetailsView(), style.details) << style.id;
        if (!style.details) {
            EXPECT_EQ(view.IconView()->viewMode(), style.mode) << style.id;
            EXPECT_EQ(view.IconView()->flow(), style.flow) << style.id;
            EXPECT_TRUE(view.IconView()->uniformItemSizes());
        }
        EXPECT_EQ(view.CurrentView()->selectionModel(), view.Selection());
        EXPECT_EQ(view.SelectedRows(), (QList<int>{1, 3})) << style.id;
        EXPECT_EQ(view.Selection()->currentIndex().row(), 1);
    }
    view.SetViewStyle(4242);
    EXPECT_EQ(view.ViewStyle(), cmd::ID_VIEW_DETAILS);
}

// ---------------------------------------------------------------- layout

constexpr int kManyRows = 3000;

// Thousands of rows as the frame leaves a listing: focused, first row current.
void ListMany(CFtpListView& view, QSize size, int style)
{
    view.resize(size);
    view.show();
    for (int i = 0; i < kManyRows; ++i)
        view.AddListingEntry(i, Entry("f" + std::to_string(100000 + i), 0, false, 0));
    view.FocusList();
    view.SelectItem(0);
    view.SetViewStyle(style);
}

QRect Place(CFtpListView& view, int row)
{
    return view.CurrentView()->visualRect(view.Model()->index(row, 0));
}

int Press(CFtpListView& view, Qt::Key key)
{
    QTest::keyClick(view.CurrentView(), key);
    return view.Selection()->currentIndex().row();
}

// Timers and repaints reaching a view that should be at rest.
struct Activity : QObject {
    int events = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        events += event->type() == QEvent::Timer || event->type() == QEvent::Paint;
        return false;
    }
};

TEST(FtpListView, EveryStyleLaysOutThousandsOfRowsAndComesToRest)
{
    // The sizes put the end of Qt's first batch of 100 rows on both sides of
    // a scroll bar's threshold, where a layout in batches started over.
    for (const int style : {cmd::ID_VIEW_LIST, cmd::ID_VIEW_SMALLICON, cmd::ID_VIEW_LARGEICON, cmd::ID_VIEW_DETAILS}) {
        for (const QSize size : {QSize(640, 420), QSize(900, 420), QSize(1000, 420), QSize(640, 700)}) {
            SCOPED_TRACE(testing::Message() << style << " at " << size.width() << "x" << size.height());
            CFtpListView view;
            ListMany(view, size, style);
            int passes = 0;
            while (Place(view, kManyRows - 1).isEmpty() && ++passes < 200)
                QCoreApplication::processEvents();
            ASSERT_LT(passes, 200);
            for (int pass = 0; pass < 20; ++pass) // the first paints
                QCoreApplication::processEvents();
            Activity activity;
            view.CurrentView()->installEventFilter(&activity);
            view.CurrentView()->viewport()->installEventFilter(&activity);
            for (int pass = 0; pass < 200; ++pass)
                QCoreApplication::processEvents();
            EXPECT_EQ(activity.events, 0);
            EXPECT_EQ(Press(view, Qt::Key_End), kManyRows - 1);
        }
    }
}

TEST(FtpListView, ListStyleFlowsDownThenAcrossAndKeysReachEveryRow)
{
    CFtpListView view;
    ListMany(view, QSize(900, 420), cmd::ID_VIEW_LIST);
    Press(view, Qt::Key_End);
    EXPECT_EQ(Press(view, Qt::Key_Home), 0);
    int perColumn = 1;
    for (; perColumn < kManyRows && Place(view, perColumn).x() == Place(view, 0).x(); ++perColumn)
        ASSERT_GT(Place(view, perColumn).y(), Place(view, perColumn - 1).y());
    ASSERT_LT(perColumn, kManyRows);
    EXPECT_EQ(Place(view, perColumn).y(), Place(view, 0).y());

    // Right along the top to the last column, then down it to the last row.
    const int lastColumn = (kManyRows - 1) / perColumn;
    for (int column = 1; column <= lastColumn; ++column)
        ASSERT_EQ(Press(view, Qt::Key_Right), column * perColumn);
    EXPECT_EQ(Press(view, Qt::Key_Right), lastColumn * perColumn);
    for (int row = lastColumn * perColumn + 1; row < kManyRows; ++row)
        ASSERT_EQ(Press(view, Qt::Key_Down), row);
    EXPECT_EQ(Press(view, Qt::Key_Down), kManyRows - 1);
    EXPECT_EQ(Press(view, Qt::Key_Left), kManyRows - 1 - perColumn);
    EXPECT_EQ(Press(view, Qt::Key_Up), kManyRows - 2 - perColumn);
}

// ---------------------------------------------------------------- selection

TEST(FtpListView, SelectAllInvertAndSelectOne)
{
    CFtpListView view;
    Fill(view, {Entry("a", 1, true, 1), Entry("b", 1, false, 1), Entry("c", 1, false, 1), Entry("d", 1, false, 1),
                Entry("e", 1, false, 1)});
    QSignalSpy changed(&view, &CFtpListView::SelectionChanged);
    EXPECT_EQ(view.FirstSelectedRow(), -1);
    view.SelectAll();
    EXPECT_EQ(view.SelectedRows(), (QList<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(view.Selection()->currentIndex().row(), 4); // the last row ends focused
    view.InvertSelection();
    EXPECT_TRUE(view.SelectedRows().isEmpty());
    view.SelectItem(1);
    view.Selection()->select(view.Model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view.InvertSelection();
    EXPECT_EQ(view.SelectedRows(), (QList<int>{0, 2, 4}));
    EXPECT_EQ(view.FirstSelectedRow(), 0);
    view.SelectItem(2);
    EXPECT_EQ(view.SelectedRows(), (QList<int>{2}));
    EXPECT_EQ(view.Selection()->currentIndex().row(), 2);
    EXPECT_GE(changed.count(), 5);
    const auto before = changed.count();
    view.DeleteAllItems();
    EXPECT_EQ(changed.count(), before + 1); // the frame hears that nothing is selected now
    EXPECT_EQ(view.FirstSelectedRow(), -1);
    view.SelectAll();
    view.InvertSelection();
    EXPECT_TRUE(view.SelectedRows().isEmpty());
}

TEST(FtpListView, TheNameColumnNeverStartsNarrowerThanItsDefault)
{
    // A first folder of short names must not leave the column too narrow
    // for the next folder's long ones.
    CFtpListView view;
    view.resize(800, 400);
    view.show();
    Fill(view, {Entry("pub", 0, true, 1), Entry("a.txt", 1, false, 1)});
    view.FitColumnsOnce();
    QHeaderView* header = view.DetailsView()->header();
    EXPECT_GE(header->sectionSize(0), 180);
    // Long names widen it.
    CFtpListView other;
    Fill(other, {Entry(std::string(60, 'n') + ".txt", 1, false, 1)});
    other.FitColumnsOnce();
    EXPECT_GT(other.DetailsView()->header()->sectionSize(0),
              other.DetailsView()->fontMetrics().horizontalAdvance(QString(60, QLatin1Char('n'))));
}

// ---------------------------------------------------------------- editing

class EditingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_list = new CFtpListView(&m_window);
        m_window.setCentralWidget(m_list);
        // The window's commands, bound to the keys a name editor also needs.
        const struct {
            QKeySequence key;
            const char* name;
        } commands[] = {
            {QKeySequence(Qt::Key_Delete), "delete"}, {QKeySequence(Qt::Key_Backspace), "up"},
            {QKeySequence(Qt::Key_Return), "explore"}, {QKeySequence(Qt::Key_F2), "rename"},
            {QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll"},
        };
        for (const auto& command : commands) {
            auto* action = new QAction(QString::fromLatin1(command.name), &m_window);
            action->setShortcut(command.key);
            m_window.addAction(action);
            QObject::connect(action, &QAction::triggered, [this, action] { m_triggered << action->text(); });
        }
        m_window.resize(640, 420);
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
        Fill(*m_list, {Entry("pub", 0, true, 1), Entry("file-name.txt", 10, false, 1), Entry("other.kxa", 1, false, 1)});
        m_list->SelectItem(1);
        m_list->FocusList();
    }

    QMainWindow m_window;
    CFtpListView* m_list = nullptr;
    QStringList m_triggered;
};

TEST_F(EditingTest, KeysGoToTheNameEditorNotToTheWindow)
{
    // Outside editing, the window's commands get their keys.
    QTest::keyClick(m_list->CurrentView(), Qt::Key_Delete);
    ASSERT_EQ(m_triggered, QStringList{QStringLiteral("delete")});
    m_triggered.clear();

    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* textAfter;   // null: unchanged
        bool stillEditing;
    } keys[] = {
        {Qt::Key_Delete, Qt::NoModifier, "filename.txt", true},
        {Qt::Key_Backspace, Qt::NoModifier, "fil-name.txt", true},
        {Qt::Key_F2, Qt::NoModifier, nullptr, true},
        {Qt::Key_A, Qt::ControlModifier, nullptr, true},
        {Qt::Key_Return, Qt::NoModifier, nullptr, false},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(QKeySequence(k.key | k.modifiers).toString().toStdString());
        QSignalSpy started(m_list, &CFtpListView::EditingStarted);
        QSignalSpy finished(m_list, &CFtpListView::EditingFinished);
        m_list->EditItem(1);
        ASSERT_EQ(started.count(), 1);
        QLineEdit* editor = m_list->Editor();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), QStringLiteral("file-name.txt"));
        editor->deselect();
        editor->setCursorPosition(4);
        QTest::keyClick(editor, k.key, k.modifiers);
        EXPECT_TRUE(m_triggered.isEmpty()) << m_triggered.join(QLatin1Char(',')).toStdString();
        EXPECT_EQ(m_list->IsEditing(), k.stillEditing);
        if (k.stillEditing) {
            EXPECT_EQ(editor->text(), k.textAfter ? QString::fromLatin1(k.textAfter) : QStringLiteral("file-name.txt"));
            if (k.key == Qt::Key_A) {
                EXPECT_EQ(editor->selectedText(), QStringLiteral("file-name.txt"));
            }
            QTest::keyClick(editor, Qt::Key_Escape);
        }
        ASSERT_EQ(finished.count(), 1);
        EXPECT_EQ(finished.first().at(0).toInt(), 1);
        EXPECT_EQ(finished.first().at(2).toBool(), !k.stillEditing); // Enter accepts, Esc does not
        EXPECT_FALSE(m_list->IsEditing());
        EXPECT_EQ(m_list->Editor(), nullptr);
        EXPECT_EQ(m_list->ItemName(1), QStringLiteral("file-name.txt")); // only the frame renames
        m_triggered.clear();
    }
}

TEST_F(EditingTest, EnterHandsTheNewNameToTheFrame)
{
    QSignalSpy finished(m_list, &CFtpListView::EditingFinished);
    m_list->EditItem(1);
    ASSERT_NE(m_list->Editor(), nullptr);
    m_list->Editor()->setText(QStringLiteral("renamed.kxb"));
    QTest::keyClick(m_list->Editor(), Qt::Key_Enter);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.first().at(1).toString(), QStringLiteral("renamed.kxb"));
    EXPECT_TRUE(finished.first().at(2).toBool());
    m_list->SetItemName(finished.first().at(0).toInt(), finished.first().at(1).toString());
    EXPECT_EQ(m_list->ItemName(1), QStringLiteral("renamed.kxb"));
    EXPECT_TRUE(m_triggered.isEmpty());
}

TEST_F(EditingTest, EditEndsCancelledWhenItsRowGoes)
{
    for (int how = 0; how < 4; ++how) {
        SCOPED_TRACE(how);
        QSignalSpy finished(m_list, &CFtpListView::EditingFinished);
        m_list->EditItem(1);
        ASSERT_TRUE(m_list->IsEditing());
        if (how == 0)
            m_list->RemoveItem(1);
        else if (how == 1)
            m_list->DeleteAllItems();
        else if (how == 2)
            m_list->SetViewStyle(m_list->ViewStyle() == cmd::ID_VIEW_DETAILS ? cmd::ID_VIEW_LIST : cmd::ID_VIEW_DETAILS);
        else
            m_list->EditItem(0); // another row: the first edit ends
        ASSERT_GE(finished.count(), 1);
        EXPECT_FALSE(finished.first().at(2).toBool());
        if (how == 3) {
            EXPECT_TRUE(m_list->IsEditing());
            QTest::keyClick(m_list->Editor(), Qt::Key_Escape);
        }
        EXPECT_FALSE(m_list->IsEditing());
        QCoreApplication::processEvents();
        EXPECT_EQ(finished.count(), how == 3 ? 2 : 1); // the editor's later deletion adds nothing
        Fill(*m_list, {Entry("pub", 0, true, 1), Entry("file-name.txt", 10, false, 1)});
    }
}

TEST_F(EditingTest, ClickOnTheSelectedRowRenamesDoubleClickExplores)
{
    m_list->SetViewStyle(cmd::ID_VIEW_DETAILS);
    QWidget* viewport = m_list->CurrentView()->viewport();
    QSignalSpy started(m_list, &CFtpListView::EditingStarted);
    QSignalSpy activated(m_list, &CFtpListView::ItemActivated);

    // What a double-click delivers: press, release, double-click, release.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 1));
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 1));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 1));
    ASSERT_EQ(activated.count(), 1);
    EXPECT_EQ(activated.first().at(0).toInt(), 1);
    QTest::qWait(QApplication::doubleClickInterval() * 2 + 200);
    EXPECT_EQ(started.count(), 0); // half of a double-click renames nothing

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 1));
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(started.first().at(0).toInt(), 1);
    QTest::keyClick(m_list->Editor(), Qt::Key_Escape);

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 2)); // not yet selected
    QTest::qWait(QApplication::doubleClickInterval() * 2 + 200);
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(m_list->SelectedRows(), QList<int>{2});
}

TEST_F(EditingTest, ARowTheProgramSelectedNeedsTwoClicksToRename)
{
    // As after a listing: the first row selected, the list focused, by the program.
    m_list->SetViewStyle(cmd::ID_VIEW_DETAILS);
    m_list->SelectItem(0);
    m_list->FocusList();
    QWidget* viewport = m_list->CurrentView()->viewport();
    QSignalSpy started(m_list, &CFtpListView::EditingStarted);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 0));
    QTest::qWait(QApplication::doubleClickInterval() * 2 + 200);
    EXPECT_EQ(started.count(), 0);

    // Clicked once already, by the user: the next slow click renames.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 0));
    ASSERT_TRUE(started.wait(5000));
    ASSERT_TRUE(m_list->IsEditing());

    // A command that runs ends the edit, unsaved.
    QSignalSpy finished(m_list, &CFtpListView::EditingFinished);
    m_list->Editor()->setText(QStringLiteral("half"));
    m_list->EndEditing();
    EXPECT_FALSE(m_list->IsEditing());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_FALSE(finished.first().at(2).toBool());

    // A rename a click was about to start is called off too.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 0));
    m_list->EndEditing();
    QTest::qWait(QApplication::doubleClickInterval() * 2 + 200);
    EXPECT_EQ(started.count(), 1);

    // The click that brings the keyboard into the list renames nothing.
    m_list->SelectItem(1);
    m_list->SelectItem(0);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 0));
    m_list->CurrentView()->clearFocus();
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCentre(*m_list, 0));
    QTest::qWait(QApplication::doubleClickInterval() * 2 + 200);
    EXPECT_EQ(started.count(), 1);
}

TEST(FtpListView, EnterActivatesTheCurrentRow)
{
    CFtpListView view;
    ShowForInput(view);
    Fill(view, {Entry("pub", 0, true, 1), Entry("a.kxa", 1, false, 1)});
    QSignalSpy activated(&view, &CFtpListView::ItemActivated);
    view.SelectItem(0);
    view.FocusList();
    QTest::keyClick(view.CurrentView(), Qt::Key_Return);
    ASSERT_EQ(activated.count(), 1);
    EXPECT_EQ(activated.first().at(0).toInt(), 0);
}

// ---------------------------------------------------------------- menus

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const int ids[] = {cmd::ID_EXPLORE, cmd::ID_DOWNLOAD, cmd::ID_DOWNLOAD_TO, cmd::ID_DELETE, cmd::ID_RENAME,
                           cmd::ID_PROPERTIES, cmd::ID_UPLOAD, cmd::ID_VIEW_SMALLICON, cmd::ID_VIEW_LARGEICON,
                           cmd::ID_VIEW_LIST, cmd::ID_VIEW_DETAILS, cmd::ID_SORT_NAME, cmd::ID_SORT_SIZE,
                           cmd::ID_SORT_TYPE, cmd::ID_SORT_DATE, cmd::ID_NEW_FOLDER, cmd::ID_REFRESH};
        for (const int id : ids) {
            auto* action = new QAction(QString::number(id), &m_owner);
            action->setData(id);
            m_actions[id] = action;
        }
        m_view.SetCommandLookup([this](int id) -> QAction* {
            auto found = m_actions.find(id);
            return found == m_actions.end() || m_missing.count(id) ? nullptr : found->second;
        });
        Fill(m_view, {Entry("pub", 0, true, 1), Entry("a.kxa", 1, false, 1)});
    }

    static QList<int> Ids(const QMenu* menu)
    {
        QList<int> ids;
        for (QAction* action : menu->actions()) {
            if (action->menu())
                ids << -1;
            else if (!action->isSeparator())
                ids << action->data().toInt();
        }
        return ids;
    }

    QObject m_owner;
    std::map<int, QAction*> m_actions;
    std::set<int> m_missing;
    CFtpListView m_view;
};

TEST_F(MenuTest, FolderFileAndListPopups)
{
    using namespace cmd;
    m_view.SelectItem(0);
    std::unique_ptr<QMenu> menu = m_view.CreateContextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->objectName(), QStringLiteral("FolderPopup"));
    EXPECT_EQ(Ids(menu.get()),
              (QList<int>{ID_EXPLORE, ID_DOWNLOAD, ID_DOWNLOAD_TO, ID_DELETE, ID_RENAME, ID_PROPERTIES}));

    m_view.SelectItem(1);
    menu = m_view.CreateContextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->objectName(), QStringLiteral("FilePopup"));
    EXPECT_EQ(Ids(menu.get()), (QList<int>{ID_DOWNLOAD, ID_DOWNLOAD_TO, ID_DELETE, ID_RENAME, ID_PROPERTIES}));

    m_view.Selection()->clearSelection();
    menu = m_view.CreateContextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->objectName(), QStringLiteral("ListPopup"));
    EXPECT_EQ(Ids(menu.get()), (QList<int>{ID_UPLOAD, -1, -1, -1, ID_REFRESH}));
    QList<QMenu*> submenus;
    QStringList titles;
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            submenus << action->menu();
            titles << action->text();
        }
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("&View"), QStringLiteral("Arrange &Icons by"), QStringLiteral("&New")}));
    ASSERT_EQ(submenus.size(), 3);
    EXPECT_EQ(Ids(submenus[0]), (QList<int>{ID_VIEW_LARGEICON, ID_VIEW_SMALLICON, ID_VIEW_LIST, ID_VIEW_DETAILS}));
    EXPECT_EQ(Ids(submenus[1]), (QList<int>{ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_TYPE, ID_SORT_DATE}));
    EXPECT_EQ(Ids(submenus[2]), (QList<int>{ID_NEW_FOLDER}));
}

TEST_F(MenuTest, EntriesAreTheFramesActions)
{
    using namespace cmd;
    m_missing = {ID_PROPERTIES, ID_NEW_FOLDER};
    m_actions[ID_DELETE]->setEnabled(false);
    QSignalSpy downloads(m_actions[ID_DOWNLOAD], &QAction::triggered);

    m_view.SelectItem(0);
    std::unique_ptr<QMenu> menu = m_view.CreateContextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(Ids(menu.get()), (QList<int>{ID_EXPLORE, ID_DOWNLOAD, ID_DOWNLOAD_TO, ID_DELETE, ID_RENAME}));
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() == ID_DELETE) {
            EXPECT_FALSE(action->isEnabled());
        }
        if (action->data().toInt() == ID_DOWNLOAD)
            action->trigger();
    }
    EXPECT_EQ(downloads.count(), 1);

    m_view.Selection()->clearSelection();
    menu = m_view.CreateContextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(Ids(menu.get()), (QList<int>{ID_UPLOAD, -1, -1, ID_REFRESH})); // no empty "New" submenu

    for (auto& [id, action] : m_actions)
        m_missing.insert(id);
    EXPECT_FALSE(m_view.CreateContextMenu());
    CFtpListView bare;
    EXPECT_FALSE(bare.CreateContextMenu());
}

TEST_F(MenuTest, RightClickPicksTheRowAndShowsItsMenu)
{
    ShowForInput(m_view);
    m_view.SetViewStyle(cmd::ID_VIEW_DETAILS);
    m_view.SelectItem(0);
    QWidget* viewport = m_view.CurrentView()->viewport();
    const QPoint at = RowCentre(m_view, 1);
    QString shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            shown = popup->objectName();
            popup->close();
        }
    });
    closer.start(10);
    QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, at);
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &request);
    QTest::mouseRelease(viewport, Qt::RightButton, Qt::NoModifier, at);
    EXPECT_EQ(m_view.SelectedRows(), QList<int>{1});
    EXPECT_EQ(shown, QStringLiteral("FilePopup"));
}

// ---------------------------------------------------------------- busy, colours

TEST(FtpListView, BusyPanelCoversTheListWhileItFills)
{
    QWidget host;
    auto& view = *new CFtpListView(&host);
    view.resize(500, 300);
    ShowForInput(host);
    EXPECT_FALSE(view.IsBusy());
    view.ShowBusy(true);
    view.ShowBusy(true);
    ASSERT_TRUE(view.IsBusy());
    EXPECT_EQ(view.findChildren<QWidget*>(QStringLiteral("busyPanel")).size(), 1);
    QWidget* panel = view.BusyPanel();
    EXPECT_EQ(panel->geometry(), view.rect());
    EXPECT_TRUE(panel->isVisible());
    auto* bar = panel->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->maximum(), 0); // running, not measuring
    view.resize(300, 200);
    EXPECT_EQ(panel->geometry(), view.rect());

    // Rows added while busy are all there once it ends.
    view.DeleteAllItems();
    for (int i = 0; i < 3; ++i)
        view.AddListingEntry(i, Entry("r" + std::to_string(i), 1, false, 1));
    EXPECT_TRUE(view.Model()->HasPending());
    view.ShowBusy(false);
    EXPECT_FALSE(view.IsBusy());
    EXPECT_EQ(view.BusyPanel(), nullptr);
    EXPECT_EQ(view.Model()->rowCount(), 3);
}

TEST(FtpListView, DisabledLookGreysButStaysUsable)
{
    CFtpListView view;
    const QPalette normal = QApplication::palette(view.CurrentView());
    view.ShowDisabled();
    EXPECT_FALSE(view.IsShownEnabled());
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(view.IconView()),
                                 static_cast<QAbstractItemView*>(view.DetailsView())}) {
        EXPECT_EQ(v->palette().color(QPalette::Base), normal.color(QPalette::Button));
        EXPECT_EQ(v->palette().color(QPalette::Text), normal.color(QPalette::Disabled, QPalette::Text));
        EXPECT_TRUE(v->isEnabled());
    }
    view.ShowEnabled();
    EXPECT_TRUE(view.IsShownEnabled());
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(view.IconView()),
                                 static_cast<QAbstractItemView*>(view.DetailsView())}) {
        EXPECT_EQ(v->palette().color(QPalette::Base), normal.color(QPalette::Base));
        EXPECT_EQ(v->palette().color(QPalette::Text), normal.color(QPalette::Text));
    }
}

// ---------------------------------------------------------------- large lists

// Sorted as the list demands: folders placed by the column's rule, and the
// key in order among folders and among files.
void ExpectSorted(const CFtpListView& view, int column, bool ascending)
{
    const CFtpListModel* model = view.Model();
    const int count = model->rowCount();
    int misplacedFolders = 0;
    int misordered = 0;
    for (int row = 1; row < count; ++row) {
        const FtpListItem& a = *model->Item(row - 1);
        const FtpListItem& b = *model->Item(row);
        if (a.folder != b.folder) {
            const bool folderFirst = column == 2 || (column != 3 && ascending);
            if (column != 3 && a.folder != folderFirst)
                ++misplacedFolders;
            if (column != 3)
                continue;
        }
        int order = 0;
        if (column == 0)
            order = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        else if (column == 1)
            order = a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
        else if (column == 2)
            order = QString::compare(a.Type(), b.Type(), Qt::CaseInsensitive);
        else
            order = a.modified < b.modified ? -1 : (a.modified > b.modified ? 1 : 0);
        if (ascending ? order > 0 : order < 0)
            ++misordered;
    }
    EXPECT_EQ(misplacedFolders, 0);
    EXPECT_EQ(misordered, 0);
}

TEST(FtpListView, HundredThousandRowsArriveInBatchesAndSort)
{
    constexpr int kRows = 100000;
    CFtpListView view;
    view.SetViewStyle(cmd::ID_VIEW_DETAILS);
    ShowForInput(view);
    view.ShowBusy(true);
    QSignalSpy batches(view.Model(), &QAbstractItemModel::rowsInserted);

    std::mt19937_64 random(20240611);
    const char* const extensions[] = {".txt", ".kxa", ".tar.gz", ".jpg", "", ".KXB", ".c", ".pdf"};
    std::uint64_t totalSize = 0;
    for (int i = 0; i < kRows; ++i) {
        const bool folder = random() % 7 == 0;
        std::string name = (random() % 2 ? "File" : "file") + std::to_string(random() % 1000000);
        if (!folder)
            name += extensions[random() % 8];
        const std::uint64_t size = random() >> (random() % 64);
        totalSize += size;
        view.AddListingEntry(i, Entry(name, size, folder, static_cast<std::int64_t>(random() % 2000000000)));
        QCoreApplication::processEvents();
        if (i == 0) {
            EXPECT_EQ(view.Model()->rowCount(), 1); // the first row shows at once
        }
    }
    view.ShowBusy(false);
    ASSERT_EQ(view.RowCount(), kRows);
    EXPECT_LT(batches.count(), kRows / 20); // announced in batches, not row by row

    for (int row = 0; row < kRows; row += 997)
        view.Selection()->select(view.Model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QStringList selected = SelectedNames(view);

    for (const int column : {0, 1, 2, 3}) {
        for (const bool ascending : {true, false}) {
            SCOPED_TRACE(testing::Message() << "column " << column << (ascending ? " ascending" : " descending"));
            view.SortByColumn(column);
            if (view.SortAscending() != ascending)
                ClickHeader(view, column);
            ASSERT_EQ(view.SortAscending(), ascending);
            ExpectSorted(view, column, ascending);
        }
    }
    std::uint64_t sortedSize = 0;
    for (int row = 0; row < kRows; ++row)
        sortedSize += view.GetItemSize(row);
    EXPECT_EQ(sortedSize, totalSize);
    EXPECT_EQ(SelectedNames(view), selected);
}

} // namespace

namespace {

// Answers from a list, Cancel when it runs out, and remembers what it was asked.
class ScriptedQuestions : public IFileQuestions {
public:
    FileAnswer AskReplace(const FileQuestion& question) override { return Next(QStringLiteral("replace "), question); }
    FileAnswer AskResume(const FileQuestion& question) override { return Next(QStringLiteral("resume "), question); }
    QList<FileAnswer> answers;
    QStringList asked;

private:
    FileAnswer Next(const QString& kind, const FileQuestion& question)
    {
        asked << kind + question.fileName + QStringLiteral(" %1").arg(question.remaining);
        return answers.isEmpty() ? kAnswerCancel : answers.takeFirst();
    }
};

FileStatus Chosen(const char* path, quint64 size, bool folder = false)
{
    FileStatus file;
    file.path = QString::fromUtf8(path);
    file.size = size;
    file.attribute = folder ? FileStatus::kFolder : 0;
    return file;
}

TEST(FtpListView, UploadsAreConfirmedAgainstTheRowsOfTheListedFolder)
{
    CFtpListView view;
    Fill(view, {Entry("small.txt", 100, false, 5), Entry("big.iso", 5000, false, 5), Entry("docs", 0, true, 5),
                Entry("same.txt", 10, false, 5)});
    const FileStatusList chosen = {Chosen("/home/u/small.txt", 50), Chosen("/home/u/big.iso", 9000),
                                   Chosen("/home/u/new.txt", 1), Chosen("/home/u/BIG.ISO", 1),
                                   Chosen("/home/u/docs", 0, true), Chosen("/home/u/same.txt", 10)};

    // Replace No leaves a file out; resume Yes marks it with the remote size;
    // names match exactly; a folder merges without a question.
    FileStatusList files = chosen;
    ScriptedQuestions questions;
    questions.answers = {kAnswerNo, kAnswerYes, kAnswerYes};
    ASSERT_TRUE(view.ConfirmUploads(files, questions));
    EXPECT_EQ(questions.asked, (QStringList{QStringLiteral("replace small.txt 6"), QStringLiteral("resume big.iso 5"),
                                            QStringLiteral("replace same.txt 1")}));
    ASSERT_EQ(files.size(), 5);
    EXPECT_EQ(files[0].path, QStringLiteral("/home/u/big.iso"));
    EXPECT_TRUE(files[0].IsResume());
    EXPECT_EQ(files[0].size, 5000u);
    EXPECT_EQ(files[1].path, QStringLiteral("/home/u/new.txt"));
    EXPECT_FALSE(files[1].IsResume());

    // Yes to All asks nothing more; Cancel leaves the list as it was.
    files = chosen;
    questions = ScriptedQuestions();
    questions.answers = {kAnswerYesToAll};
    ASSERT_TRUE(view.ConfirmUploads(files, questions));
    EXPECT_EQ(questions.asked.size(), 1);
    EXPECT_EQ(files.size(), chosen.size());
    EXPECT_FALSE(files[1].IsResume());

    files = chosen;
    questions = ScriptedQuestions();
    questions.answers = {kAnswerYes};
    EXPECT_FALSE(view.ConfirmUploads(files, questions));
    EXPECT_EQ(files.size(), chosen.size());
    EXPECT_FALSE(files[1].IsResume());
    FileStatusList none;
    EXPECT_FALSE(view.ConfirmUploads(none, questions));
}

} // namespace
