// Comparing folders, the filename filter and the synchronisation plan.
#include "engine/base/Settings.h"
#include "engine/sync/FileFilter.h"
#include "engine/sync/FolderComparison.h"
#include "engine/sync/SyncPlan.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr qint64 kNoon = 1767268800; // 2026-01-01 12:00:00 UTC
constexpr qint64 kHour = 3600;

ComparedEntry File(const char* name, quint64 size, qint64 modified, TimePrecision precision = TimePrecision::Exact)
{
    return ComparedEntry{QString::fromLatin1(name), false, size, modified, precision};
}

TEST(FolderComparison, EachCaseIsToldAndTimesAreComparedInUtcWithTheirPrecision)
{
    struct Case {
        const char* what;
        ComparedEntry local, remote;
        CompareMode mode;
        Difference expected;
        bool approximate;
    };
    const Case cases[] = {
        {"identical", File("a", 10, kNoon), File("a", 10, kNoon), CompareMode::SizeAndTime, Difference::Same, false},
        {"a second apart is the same", File("a", 10, kNoon + 1), File("a", 10, kNoon), CompareMode::SizeAndTime,
         Difference::Same, false},
        {"newer here", File("a", 10, kNoon + 60), File("a", 10, kNoon), CompareMode::SizeAndTime,
         Difference::LocalNewer, false},
        {"newer there", File("a", 10, kNoon), File("a", 10, kNoon + 60), CompareMode::SizeAndTime,
         Difference::RemoteNewer, false},
        {"only the size", File("a", 10, kNoon), File("a", 11, kNoon), CompareMode::SizeAndTime,
         Difference::SizeDiffers, false},
        {"size mode ignores times", File("a", 10, kNoon + 500), File("a", 10, kNoon), CompareMode::Size,
         Difference::Same, false},
        // LIST without a zone: a two-hour gap could be the server's zone.
        {"zoneless, hours apart", File("a", 10, kNoon + 2 * kHour), File("a", 10, kNoon, TimePrecision::Minutes),
         CompareMode::SizeAndTime, Difference::Same, true},
        // Agreeing to the second proves nothing when either could be hours off.
        {"zoneless, the same minute", File("a", 10, kNoon), File("a", 10, kNoon, TimePrecision::Minutes),
         CompareMode::SizeAndTime, Difference::Same, true},
        {"zoneless, a day apart", File("a", 10, kNoon + 24 * kHour), File("a", 10, kNoon, TimePrecision::Minutes),
         CompareMode::SizeAndTime, Difference::LocalNewer, false},
        {"dated to the day", File("a", 10, kNoon + 30 * kHour), File("a", 10, kNoon, TimePrecision::Days),
         CompareMode::SizeAndTime, Difference::Same, true},
        {"no remote time", File("a", 10, kNoon), File("a", 12, -1), CompareMode::SizeAndTime,
         Difference::SizeDiffers, true},
    };
    for (const Case& c : cases) {
        const ComparedRow row = CFolderComparison::CompareOne(&c.local, &c.remote, c.mode);
        EXPECT_EQ(row.difference, c.expected) << c.what;
        EXPECT_EQ(row.approximate, c.approximate) << c.what;
    }

    const QList<ComparedRow> rows = CFolderComparison::Compare(
        {File("both", 1, kNoon), File("mine", 1, kNoon), File("Case", 1, kNoon)},
        {File("both", 1, kNoon), File("theirs", 1, kNoon), File("case", 1, kNoon)}, CompareMode::SizeAndTime);
    QStringList seen;
    for (const ComparedRow& row : rows)
        seen << QStringLiteral("%1:%2").arg(row.name).arg(int(row.difference));
    EXPECT_EQ(seen, (QStringList{QStringLiteral("both:0"), QStringLiteral("mine:1"), QStringLiteral("Case:1"),
                                 QStringLiteral("theirs:2"), QStringLiteral("case:2")}));
}

FilterRule Rule(const char* pattern, bool enabled = true)
{
    FilterRule rule;
    rule.name = QString::fromLatin1(pattern);
    rule.pattern = QString::fromLatin1(pattern);
    rule.enabled = enabled;
    return rule;
}

TEST(FileFilter, RulesMatchByPatternKindCaseAndSizeAndOnlyWhenOn)
{
    FilterRule regex = Rule("^tmp[0-9]+$");
    regex.syntax = FilterRule::Syntax::RegularExpression;
    FilterRule caseSensitive = Rule("*.LOG");
    caseSensitive.caseSensitive = true;
    FilterRule big;
    big.name = QStringLiteral("big");
    big.enabled = true;
    big.minSize = 1000;
    FilterRule folders = Rule("build");
    folders.applies = FilterRule::Applies::Folders;
    FilterRule broken = Rule("(");
    broken.syntax = FilterRule::Syntax::RegularExpression;
    const CFileFilter filter({Rule("*.o"), Rule("a?c"), regex, caseSensitive, big, folders, broken, Rule("*.tmp", false)});
    ASSERT_TRUE(filter.IsActive());

    struct Case {
        const char* name;
        bool folder;
        quint64 size;
        bool hidden;
    };
    const Case cases[] = {
        {"main.o", false, 1, true},  {"MAIN.O", false, 1, true},  {"main.c", false, 1, false},
        {"abc", false, 1, true},     {"abbc", false, 1, false},   {"tmp42", false, 1, true},
        {"tmp42x", false, 1, false}, {"x.LOG", false, 1, true},   {"x.log", false, 1, false},
        {"movie", false, 5000, true}, {"movie", true, 5000, false}, {"build", true, 0, true},
        {"build", false, 1, false},  {"x.tmp", false, 1, false},  {"(", false, 1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(filter.Hides(QString::fromLatin1(c.name), c.folder, c.size), c.hidden) << c.name;
    EXPECT_FALSE(CFileFilter::ProblemOf(broken).isEmpty());

    // The shipped rules are there, switched off, until the user saves others.
    QTemporaryDir settings;
    kx::UseSettingsFolder(settings.path());
    const CFileFilter shipped = CFileFilter::Load();
    EXPECT_EQ(shipped.Rules().size(), 4);
    EXPECT_FALSE(shipped.IsActive());
    EXPECT_FALSE(shipped.Hides(QStringLiteral(".git"), true, 0));
    QList<FilterRule> rules = shipped.Rules();
    rules[0].enabled = true;
    rules.append(big);
    CFileFilter(rules).Save();
    const CFileFilter loaded = CFileFilter::Load();
    EXPECT_EQ(loaded.Rules(), rules);
    EXPECT_TRUE(loaded.Hides(QStringLiteral(".git"), true, 0));
}

TreeEntry Entry(const char* path, quint64 size = 0, qint64 modified = kNoon, bool folder = false)
{
    return TreeEntry{QString::fromLatin1(path), folder, size, modified, TimePrecision::Exact};
}
TreeEntry Folder(const char* path)
{
    return Entry(path, 0, kNoon, true);
}

QStringList Describe(const SyncPlan& plan)
{
    QStringList lines;
    for (const SyncItem& item : plan.items)
        lines << QStringLiteral("%1 %2 %3%4").arg(int(item.action)).arg(item.path, item.reason,
                                                                         item.checked ? QString() : QStringLiteral(" (unticked)"));
    return lines;
}

TEST(SyncPlan, NewNewerAndResizedFilesAreCopiedAndDeletionsWaitForATick)
{
    const QList<TreeEntry> source = {Entry("same.txt", 5),           Entry("new.txt", 3),
                                     Entry("newer.txt", 5, kNoon + 600), Entry("older.txt", 5, kNoon - 600),
                                     Entry("resized.txt", 9),        Folder("sub"),
                                     Entry("sub/deep.txt", 1),       Folder("fresh"),
                                     Entry("fresh/inside.txt", 1),   Entry("junk.o", 1),
                                     Folder(".git"),                 Entry(".git/config", 1)};
    const QList<TreeEntry> target = {Entry("same.txt", 5),    Entry("newer.txt", 5),      Entry("older.txt", 5),
                                     Entry("resized.txt", 4), Folder("sub"),              Entry("sub/gone.txt", 1),
                                     Folder("old"),           Entry("old/stale.txt", 1)};
    SyncOptions options;
    FilterRule git = Rule(".git");
    options.filter = CFileFilter({Rule("*.o"), git});
    const SyncPlan plan = PlanSync(source, target, true, options);
    EXPECT_TRUE(plan.error.isEmpty());
    EXPECT_EQ(plan.skippedByFilter, 2); // junk.o and .git, with nothing below .git looked at
    EXPECT_EQ(Describe(plan), (QStringList{
                                  QStringLiteral("1 new.txt new"),
                                  QStringLiteral("2 newer.txt newer"),
                                  QStringLiteral("2 resized.txt different size"),
                                  QStringLiteral("0 fresh new"),
                                  QStringLiteral("1 sub/deep.txt new"),
                                  QStringLiteral("1 fresh/inside.txt new"),
                                  QStringLiteral("3 old/stale.txt only on the target (unticked)"),
                                  QStringLiteral("3 sub/gone.txt only on the target (unticked)"),
                                  QStringLiteral("3 old only on the target (unticked)"),
                              }));
    // What the target held, for the look before overwriting.
    EXPECT_EQ(plan.items[2].targetSize, 4u);

    options.subfolders = false;
    options.mode = CompareMode::Size;
    EXPECT_EQ(Describe(PlanSync(source, target, true, options)),
              (QStringList{QStringLiteral("1 new.txt new"), QStringLiteral("2 resized.txt different size"),
                           QStringLiteral("0 fresh new"), QStringLiteral("3 old only on the target (unticked)")}));

    // A target that could not be listed is never taken for an empty one.
    const SyncPlan refused = PlanSync(source, {}, false, options);
    EXPECT_TRUE(refused.items.isEmpty());
    EXPECT_FALSE(refused.error.isEmpty());
}

} // namespace
