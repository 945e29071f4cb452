// Certificates trusted by the user: what a second look at the same host
// finds, and what a hostile or broken file cannot do.
#include "engine/base/TrustedCertificates.h"
#include "support/Printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kFingerprint = QStringLiteral(
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89");
const QString kOther = QString(64, QLatin1Char('1'));

TEST(TrustedCertificatesTest, ATrustedCertificateIsKnownAgainAndAChangedOneIsNot)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/trusted"));
    CTrustedCertificates store(path);
    using Verdict = CTrustedCertificates::Verdict;
    EXPECT_EQ(store.Check(QStringLiteral("ftp.example.test"), 21, kFingerprint), Verdict::Unknown);

    QString error;
    ASSERT_TRUE(store.Trust(QStringLiteral("FTP.Example.test"), 21, kFingerprint, &error)) << error.toStdString();
    ASSERT_TRUE(store.Trust(QStringLiteral("::1"), 990, kOther, &error)) << error.toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another object, as a transfer thread would have: the file decides.
    CTrustedCertificates again(path);
    const QString plain = kFingerprint.toLower().remove(QLatin1Char(':'));
    EXPECT_EQ(again.Check(QStringLiteral("ftp.example.test"), 21, plain), Verdict::Trusted);
    EXPECT_EQ(again.Check(QStringLiteral("ftp.example.test"), 21, kOther), Verdict::Changed);
    EXPECT_EQ(again.Check(QStringLiteral("ftp.example.test"), 2121, kFingerprint), Verdict::Unknown);
    EXPECT_EQ(again.Check(QStringLiteral("::1"), 990, kOther), Verdict::Trusted);

    // Trusting the new certificate replaces the old one, and only that one.
    ASSERT_TRUE(again.Trust(QStringLiteral("ftp.example.test"), 21, kOther));
    EXPECT_EQ(store.Check(QStringLiteral("ftp.example.test"), 21, kOther), Verdict::Trusted);
    EXPECT_EQ(store.Check(QStringLiteral("::1"), 990, kOther), Verdict::Trusted);
}

TEST(TrustedCertificatesTest, HostileNamesAndBrokenFilesTrustNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trusted"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("garbage line\n[a]:21\n\xff\xfe binary [b]:21 x\n");
    }
    CTrustedCertificates store(path);
    EXPECT_EQ(store.Check(QStringLiteral("a"), 21, kFingerprint), CTrustedCertificates::Verdict::Unknown);

    // A name that would start a line of its own, for a host of its choosing.
    QString error;
    const QString planted = QStringLiteral("x]:21 %1\n[victim").arg(kOther);
    EXPECT_FALSE(store.Trust(planted, 21, kFingerprint, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(store.Check(QStringLiteral("victim"), 21, kFingerprint), CTrustedCertificates::Verdict::Unknown);
    EXPECT_FALSE(store.Trust(QStringLiteral("host"), 21, QStringLiteral("not hex"), &error));

    // A folder where the file should be: told, and nothing trusted.
    CTrustedCertificates blocked(dir.path());
    EXPECT_FALSE(blocked.Trust(QStringLiteral("host"), 21, kFingerprint, &error));
    EXPECT_TRUE(error.contains(dir.path())) << error.toStdString();
    EXPECT_EQ(blocked.Check(QStringLiteral("host"), 21, kFingerprint), CTrustedCertificates::Verdict::Unknown);
}

} // namespace
