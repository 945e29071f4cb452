#include "engine/base/RemotePath.h"

#include <gtest/gtest.h>

namespace {

QString Str(const char* text)
{
    return QString::fromUtf8(text);
}

TEST(RemotePath, TextsFromServersAndUsersBecomeOneForm)
{
    const struct {
        const char* base;
        const char* typed;
        const char* expected;
    } cases[] = {
        {"/", "/home/user/", "/home/user"},           // PWD with a trailing slash
        {"/", "//home///user", "/home/user"},
        {"/", "", "/"},
        {"/", "home", "/home"},                       // a PWD without its leading slash
        {"/pub", "sub", "/pub/sub"},
        {"/pub", "sub/deeper/", "/pub/sub/deeper"},
        {"/pub", "/other", "/other"},
        {"/pub/sub", "..", "/pub"},
        {"/pub/sub", "../x/./y", "/pub/x/y"},
        {"/pub", "../../../..", "/"},                 // never above the root
        {"/pub", "a b/ c ", "/pub/a b/ c "},          // spaces are part of names
        {"/pub", "back\\slash", "/pub/back\\slash"},  // so is "\" on a Unix server
        {"/pub", "...", "/pub/..."},
        {"/home/ü", "100% ü", "/home/ü/100% ü"},
    };
    for (const auto& c : cases) {
        const RemotePath base = RemotePath::FromServer(Str(c.base));
        EXPECT_EQ(base.Resolve(Str(c.typed)).ToString(), Str(c.expected)) << c.base << " + " << c.typed;
    }
    EXPECT_EQ(RemotePath::FromServer(Str("/a/b/")), RemotePath::FromServer(Str("/a//b")));
    EXPECT_NE(RemotePath::FromServer(Str("/a/B")), RemotePath::FromServer(Str("/a/b")));
}

TEST(RemotePath, PartsParentsAndChildren)
{
    const RemotePath root = RemotePath::Root();
    EXPECT_TRUE(root.IsRoot());
    EXPECT_EQ(root.Name(), QString());
    EXPECT_EQ(root.Parent(), root);
    EXPECT_EQ(root.Child(Str("pub")).ToString(), Str("/pub"));

    const RemotePath file = RemotePath::FromServer(Str("/home/user/a.txt"));
    EXPECT_EQ(file.Name(), Str("a.txt"));
    EXPECT_EQ(file.Parent().ToString(), Str("/home/user"));
    EXPECT_EQ(file.Parent().Parent().Parent(), root);
    EXPECT_EQ(file.Components(), (QStringList{Str("home"), Str("user"), Str("a.txt")}));
    EXPECT_EQ(file.Parent().Child(Str("a.txt")), file);

    // A name that is a path, or a step up, names nothing rather than a place
    // outside the folder.
    for (const char* bad : {"", ".", "..", "../x", "a/b", "/etc", "x\ny", "x\rz"})
        EXPECT_TRUE(file.Parent().Child(Str(bad)).IsEmpty()) << bad;
    EXPECT_TRUE(file.Parent().Child(QString(QChar(0))).IsEmpty());
    EXPECT_TRUE(RemotePath().Child(Str("x")).IsEmpty());
    EXPECT_TRUE(RemotePath().Parent().IsEmpty());
}

TEST(RemotePath, WithinAFolderAndTheWayDown)
{
    const RemotePath home = RemotePath::FromServer(Str("/home/user"));
    const RemotePath deep = RemotePath::FromServer(Str("/home/user/a/b"));
    EXPECT_TRUE(deep.IsWithin(home));
    EXPECT_TRUE(home.IsWithin(home));
    EXPECT_TRUE(deep.IsWithin(RemotePath::Root()));
    EXPECT_FALSE(home.IsWithin(deep));
    // A sibling whose name starts the same is not inside.
    EXPECT_FALSE(RemotePath::FromServer(Str("/home/user2/a")).IsWithin(home));
    EXPECT_FALSE(RemotePath::FromServer(Str("/home/User/a")).IsWithin(home));
    EXPECT_FALSE(RemotePath().IsWithin(home));
    EXPECT_FALSE(home.IsWithin(RemotePath()));

    EXPECT_EQ(deep.ComponentsBelow(home), (QStringList{Str("a"), Str("b")}));
    EXPECT_TRUE(home.ComponentsBelow(home).isEmpty());
    EXPECT_TRUE(RemotePath::FromServer(Str("/srv")).ComponentsBelow(home).isEmpty());
    EXPECT_EQ(deep.ComponentsBelow(RemotePath::Root()), deep.Components());
}

} // namespace

namespace {

TEST(RemotePath, UrlsAreEncodedAndNeverHoldAPassword)
{
    struct Case {
        const char* path;
        const char* scheme;
        const char* user;
        const char* host;
        int port;
        const char* url;
    };
    const Case cases[] = {
        {"/pub/a b.txt", "ftp", "anna", "ftp.example.org", 21, "ftp://anna@ftp.example.org/pub/a%20b.txt"},
        {"/100%/#1?.txt", "ftp", "", "h", 2121, "ftp://h:2121/100%25/%231%3F.txt"},
        {"/caf\xc3\xa9", "sftp", "me@corp", "h", 22, "sftp://me%40corp@h/caf%C3%A9"},
        {"/x", "ftps", "anonymous", "::1", 990, "ftps://[::1]/x"},
        {"/x", "ftp", "u", "::1", 21000, "ftp://u@[::1]:21000/x"},
        {"/", "ftp", "a:b", "h", 21, "ftp://a%3Ab@h/"},
    };
    for (const Case& c : cases) {
        const RemotePath path = RemotePath::FromServer(QString::fromUtf8(c.path));
        EXPECT_EQ(path.Url(QString::fromLatin1(c.scheme), QString::fromUtf8(c.user), QString::fromLatin1(c.host), c.port),
                  QString::fromUtf8(c.url))
            << c.path;
    }
}

} // namespace
