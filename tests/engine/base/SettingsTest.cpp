#include "engine/base/RegistryKey.h"
#include "engine/base/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

using namespace kx;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        UseSettingsFolder(m_folder.path() + QStringLiteral("/config"));
    }

    // Writes the store file by hand, as a user editing it would.
    void WriteRawStore(const QByteArray& contents)
    {
        const QString path = SettingsFilePath();
        QFileInfo(path).absoluteDir().mkpath(QStringLiteral("."));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    static unsigned Mode(const QString& path)
    {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return 0xFFFF;
        return info.st_mode & 0777;
    }

    QTemporaryDir m_folder;
};

TEST_F(SettingsTest, FreshUserSeesEveryDefaultAndReadingCreatesNothing)
{
    EXPECT_EQ(GetProfileInt(settings::TransferType), settings::kTransferTypeBinary);
    EXPECT_EQ(GetProfileInt(settings::ViewStyle), settings::kViewLargeIcons);
    EXPECT_EQ(GetProfileInt(settings::ShowConnectionDlg), 1);
    EXPECT_EQ(GetProfileInt(settings::DeleteConfirmation), 1);
    EXPECT_EQ(GetProfileInt(settings::KeepAlive), 1);
    EXPECT_EQ(GetProfileInt(settings::Interval), 30);
    EXPECT_EQ(GetProfileInt(settings::TransferMax), 10);
    EXPECT_EQ(GetProfileInt(settings::ConnectionTimeout), 30);
    EXPECT_EQ(GetProfileInt(settings::FrameLeft), -1);
    EXPECT_EQ(GetProfileString(settings::EmailAddress), QString());
    EXPECT_EQ(GetProfileInt(settings::HideStatusCallbackInfo), 0);
    EXPECT_EQ(GetProfileInt(settings::HideStatusCallbackInfoAfterOptions), 1);
    EXPECT_FALSE(QFileInfo::exists(SettingsFilePath()));
}

TEST_F(SettingsTest, ValuesRoundTripThroughTheFile)
{
    EXPECT_TRUE(WriteProfileInt(settings::ConnectionTimeout, 45));
    EXPECT_TRUE(WriteProfileInt(settings::FrameLeft, -20));
    const QString awkward = QStringLiteral("C:\\Users\\Zoë,100%;=\"x\"");
    EXPECT_TRUE(WriteProfileString(settings::DefaultLocalPath, awkward));
    EXPECT_TRUE(WriteProfileString(settings::TransferColumnWidth, QStringLiteral("120,80,60,")));
    EXPECT_TRUE(WriteProfileInt(QLatin1String(settings::kTraceSection), QLatin1String(settings::kSizeHorzCY), 5));

    EXPECT_EQ(GetProfileInt(settings::ConnectionTimeout), 45);
    EXPECT_EQ(GetProfileInt(settings::FrameLeft), -20);
    EXPECT_EQ(GetProfileString(settings::DefaultLocalPath), awkward);
    EXPECT_EQ(GetProfileString(settings::TransferColumnWidth), QStringLiteral("120,80,60,"));
    EXPECT_EQ(GetProfileInt(QLatin1String(settings::kTraceSection), QLatin1String(settings::kSizeHorzCY), 99), 5);

    // Sections are groups of the INI file, keys keep their names.
    QSettings raw(SettingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("Settings/ConnectionTimeout")).toInt(), 45);
    EXPECT_EQ(raw.value(QStringLiteral("Trace/SizeHorzCY")).toInt(), 5);
}

TEST_F(SettingsTest, OddStoredValuesFallBackToTheDefault)
{
    WriteRawStore("[Settings]\n"
                  "Interval=abc\n"
                  "TransferMax=99999999999\n"
                  "ConnectionTimeout=\n"
                  "KeepAlive= 0 \n"
                  "ProxyName=a, b\n"
                  "DefaultRetries=-2\n");
    EXPECT_EQ(GetProfileInt(settings::Interval), 30);
    EXPECT_EQ(GetProfileInt(settings::TransferMax), 10);
    EXPECT_EQ(GetProfileInt(settings::ConnectionTimeout), 30);
    EXPECT_EQ(GetProfileInt(settings::KeepAlive), 0);
    EXPECT_EQ(GetProfileString(settings::ProxyName), QStringLiteral("a,b"));
    EXPECT_EQ(GetProfileInt(settings::DefaultRetries), -2);
}

TEST_F(SettingsTest, StoreFileIsPrivateToItsOwner)
{
    ::umask(022);
    ASSERT_TRUE(WriteProfileString(settings::ProxyName, QStringLiteral("proxy.example")));
    EXPECT_EQ(Mode(SettingsFilePath()), 0600u);
    EXPECT_EQ(Mode(QFileInfo(SettingsFilePath()).absolutePath()), 0700u);

    // A file someone loosened is tightened again by the next write.
    ::chmod(QFile::encodeName(SettingsFilePath()).constData(), 0644);
    ASSERT_TRUE(WriteProfileInt(settings::Interval, 12));
    EXPECT_EQ(Mode(SettingsFilePath()), 0600u);
}

TEST_F(SettingsTest, RegistryKeyReportsEachOutcomeWithItsCode)
{
    CRegistryKey key;
    QString value;
    EXPECT_EQ(key.QueryValue(value, QStringLiteral("GoToFolder0")), CRegistryKey::kInvalidHandle);
    EXPECT_EQ(key.SetValue(QStringLiteral("x"), QStringLiteral("GoToFolder0")), CRegistryKey::kInvalidHandle);
    EXPECT_EQ(key.Create(QString()), CRegistryKey::kInvalidParameter);

    ASSERT_EQ(key.Create(QStringLiteral("GoToFolder")), CRegistryKey::kSuccess);
    EXPECT_EQ(key.QueryValue(value, QStringLiteral("GoToFolder0")), CRegistryKey::kFileNotFound);
    EXPECT_EQ(key.SetValue(QStringLiteral("/pub/ünïcode|7"), QStringLiteral("GoToFolder0")), CRegistryKey::kSuccess);
    EXPECT_EQ(key.QueryValue(value, QStringLiteral("GoToFolder0")), CRegistryKey::kSuccess);
    EXPECT_EQ(value, QStringLiteral("/pub/ünïcode|7"));
    // The profile functions see the same value under the section of the key.
    EXPECT_EQ(GetProfileString(QStringLiteral("GoToFolder"), QStringLiteral("GoToFolder0")), value);

    QString small = QStringLiteral("untouched");
    quint32 bytes = 4;
    EXPECT_EQ(key.QueryValue(small, QStringLiteral("GoToFolder0"), bytes), CRegistryKey::kMoreData);
    EXPECT_EQ(small, QStringLiteral("untouched"));
    EXPECT_EQ(bytes, quint32(QStringLiteral("/pub/ünïcode|7").toUtf8().size() + 1));
    EXPECT_EQ(key.QueryValue(small, QStringLiteral("GoToFolder0"), bytes), CRegistryKey::kSuccess);

    EXPECT_EQ(key.SetValue(QStringLiteral("x"), QStringLiteral("a/b")), CRegistryKey::kInvalidParameter);
    EXPECT_EQ(key.SetValue(QStringLiteral("x"), QStringLiteral("a\\b")), CRegistryKey::kInvalidParameter);

    EXPECT_EQ(key.DeleteValue(QStringLiteral("GoToFolder0")), CRegistryKey::kSuccess);
    EXPECT_EQ(key.DeleteValue(QStringLiteral("GoToFolder0")), CRegistryKey::kFileNotFound);
    EXPECT_EQ(key.QueryValue(value, QStringLiteral("GoToFolder0")), CRegistryKey::kFileNotFound);

    key.Close();
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.DeleteValue(QStringLiteral("GoToFolder0")), CRegistryKey::kInvalidHandle);
}

TEST_F(SettingsTest, NestedKeyPathsUseEitherSeparator)
{
    CRegistryKey writer;
    ASSERT_EQ(writer.Create(QStringLiteral("Outer\\Inner")), CRegistryKey::kSuccess);
    ASSERT_EQ(writer.SetValue(QStringLiteral("v"), QStringLiteral("Name")), CRegistryKey::kSuccess);
    CRegistryKey reader;
    ASSERT_EQ(reader.Create(QStringLiteral("/Outer/Inner/")), CRegistryKey::kSuccess);
    QString value;
    EXPECT_EQ(reader.QueryValue(value, QStringLiteral("Name")), CRegistryKey::kSuccess);
    EXPECT_EQ(value, QStringLiteral("v"));
}

TEST(EmailName, ComesFromTheEnvironmentAndIsLeftAloneWhenUnset)
{
    const QByteArray saved = qgetenv("EMAIL");
    const bool hadEmail = qEnvironmentVariableIsSet("EMAIL");

    QString email = QStringLiteral("keep");
    ::unsetenv("EMAIL");
    EXPECT_FALSE(ReadInternetEmailName(email));
    EXPECT_EQ(email, QStringLiteral("keep"));

    ::setenv("EMAIL", "zoë@example.org", 1);
    EXPECT_TRUE(ReadInternetEmailName(email));
    EXPECT_EQ(email, QStringLiteral("zoë@example.org"));

    if (hadEmail)
        ::setenv("EMAIL", saved.constData(), 1);
    else
        ::unsetenv("EMAIL");
}

} // namespace
