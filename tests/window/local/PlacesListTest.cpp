// The "Look in" entries without a window: the fixed places of a home folder
// of the test's own, and the temporary entries of the folders shown.
#include "window/local/PlacesList.h"
#include "support/Printers.h"
#include "TempHome.h"

#include <gtest/gtest.h>

namespace {

using Kind = CPlacesList::Kind;

// "path:indent" per entry, with a "*" for a temporary one.
QStringList Layout(const CPlacesList& places)
{
    QStringList rows;
    for (const CPlacesList::Entry& entry : places.Entries())
        rows << entry.path + QStringLiteral(":%1").arg(entry.indent) + (entry.temporary ? QStringLiteral("*") : QString());
    return rows;
}

CPlacesList SamplePlaces()
{
    CPlacesList places;
    places.AddFixed(QStringLiteral("/"), QStringLiteral("/"), 0, Kind::Root);
    places.AddFixed(QStringLiteral("/home/u"), QStringLiteral("u"), 1, Kind::Home);
    places.AddFixed(QStringLiteral("/home/u/Documents"), QStringLiteral("Documents"), 2, Kind::Standard);
    places.AddFixed(QStringLiteral("/mnt/usb"), QStringLiteral("/mnt/usb"), 1, Kind::Volume);
    return places;
}

TEST(PlacesList, DeepFolderGetsItsMissingAncestorsRightAfterTheirParents)
{
    CPlacesList places = SamplePlaces();
    EXPECT_EQ(places.ShowLocation(QStringLiteral("/a/b/c/d")), 4);
    EXPECT_EQ(Layout(places), QStringList({"/:0", "/a:1*", "/a/b:2*", "/a/b/c:3*", "/a/b/c/d:4*", "/home/u:1",
                                           "/home/u/Documents:2", "/mnt/usb:1"}));
    EXPECT_EQ(places.Entries()[4].text, QStringLiteral("d"));

    // Elsewhere: the deep temporaries go, the shallow ones stay; the new
    // folder comes right after its parent, before the parent's other children.
    EXPECT_EQ(places.ShowLocation(QStringLiteral("/home/u/x")), 4);
    EXPECT_EQ(Layout(places), QStringList({"/:0", "/a:1*", "/a/b:2*", "/home/u:1", "/home/u/x:2*",
                                           "/home/u/Documents:2", "/mnt/usb:1"}));

    // A kept ancestor is a parent like any other; a fixed place adds nothing.
    EXPECT_EQ(places.ShowLocation(QStringLiteral("/a/b/c")), 3);
    EXPECT_EQ(Layout(places)[3], QStringLiteral("/a/b/c:3*"));
    EXPECT_EQ(places.ShowLocation(QStringLiteral("/mnt/usb/music")), 7);
    EXPECT_EQ(places.Entries()[7].indent, 2);
    EXPECT_EQ(places.ShowLocation(QStringLiteral("/home/u/Documents")), 5);
    EXPECT_EQ(places.Entries().size(), 8);
}

TEST(PlacesList, RootIsInsertedWhenTheListLacksIt)
{
    CPlacesList places;
    EXPECT_EQ(places.ShowLocation(QStringLiteral("/srv")), 1);
    EXPECT_EQ(Layout(places), QStringList({"/:0*", "/srv:1*"}));
}

TEST(PlacesList, PathHelpers)
{
    EXPECT_EQ(CPlacesList::Normalized(QStringLiteral("/a/b/../c/")), QStringLiteral("/a/c"));
    EXPECT_EQ(CPlacesList::Normalized(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(CPlacesList::ParentOf(QStringLiteral("/a")), QStringLiteral("/"));
    EXPECT_EQ(CPlacesList::ParentOf(QStringLiteral("/a/b c")), QStringLiteral("/a"));
    EXPECT_EQ(CPlacesList::NameOf(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(CPlacesList::NameOf(QStringLiteral("/a/B c")), QStringLiteral("B c"));
}

TEST(PlacesList, PseudoFileSystemsAreNoPlaces)
{
    EXPECT_TRUE(CPlacesList::IsBrowsableVolume(QStringLiteral("/"), "overlay"));
    EXPECT_TRUE(CPlacesList::IsBrowsableVolume(QStringLiteral("/tmp"), "tmpfs"));
    EXPECT_TRUE(CPlacesList::IsBrowsableVolume(QStringLiteral("/media/u/STICK"), "vfat"));
    EXPECT_FALSE(CPlacesList::IsBrowsableVolume(QStringLiteral("/dev/shm"), "tmpfs"));
    EXPECT_FALSE(CPlacesList::IsBrowsableVolume(QStringLiteral("/run/user/1000"), "tmpfs"));
    EXPECT_FALSE(CPlacesList::IsBrowsableVolume(QStringLiteral("/var/lib/docker/x"), "overlay"));
    EXPECT_FALSE(CPlacesList::IsBrowsableVolume(QStringLiteral("/snap/core/1"), "squashfs"));
    EXPECT_FALSE(CPlacesList::IsBrowsableVolume(QStringLiteral("/mnt/c"), "cgroup2"));
    EXPECT_FALSE(CPlacesList::IsBrowsableVolume(QStringLiteral("/proc"), "proc"));
    // A folder merely named like a pseudo one is fine.
    EXPECT_TRUE(CPlacesList::IsBrowsableVolume(QStringLiteral("/devices"), "ext4"));
}

TEST(PlacesList, SystemPlacesAreRootHomeAndTheStandardFoldersThatExist)
{
    TempHome home;
    home.Folder(QStringLiteral("home/Documents"));
    home.Folder(QStringLiteral("home/Music"));
    CPlacesList places;
    places.AddSystemPlaces();
    const QStringList rows = Layout(places);
    ASSERT_GE(rows.size(), 4);
    EXPECT_EQ(rows.mid(0, 4), QStringList({"/:0", home.Home() + ":1", home.Home() + "/Documents:2",
                                           home.Home() + "/Music:2"}));
    EXPECT_EQ(places.Entries()[1].kind, Kind::Home);
    EXPECT_EQ(places.IndexOf(home.Home() + QStringLiteral("/Desktop")), -1);
    for (const CPlacesList::Entry& entry : places.Entries().mid(4)) {
        EXPECT_EQ(entry.kind, Kind::Volume) << entry.path.toStdString();
        EXPECT_FALSE(entry.temporary);
    }
}

} // namespace
