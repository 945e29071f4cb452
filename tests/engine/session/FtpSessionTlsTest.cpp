// The session over TLS against a real server with a certificate no system
// trusts: what the user is asked, what is kept, and what a changed
// certificate gets.
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/base/TraceLevel.h"
#include "engine/base/TrustedCertificates.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/session/FtpSession.h"
#include "engine/session/SessionEvents.h"
#include "support/Printers.h"
#include "support/ServerProcess.h"
#include "support/TestCertificate.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace kx;

class CertificatePrompts : public IPrompts {
public:
    void Message(QWidget*, const QString& text, Icon) override { messages << text; }
    Answer AskYesNo(QWidget*, const QString&, const QString&) override { return Yes; }
    bool RetryCountdown(QWidget*, int, const QString&) override { return false; }
    CertificateAnswer AskCertificate(QWidget*, const CertificateQuestion& question) override
    {
        questions.push_back(question);
        return answer;
    }
    QStringList messages;
    std::vector<CertificateQuestion> questions;
    CertificateAnswer answer = CertificateAnswer::Cancel;
};

class LineEvents : public ISessionEvents {
public:
    void OnTrace(int level, const QString& text) override
    {
        lines << QStringLiteral("%1 %2").arg(level).arg(text.section(QStringLiteral("] "), 1));
    }
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnMessage(const QString& text, IPrompts::Icon icon) override { answers->Message(nullptr, text, icon); }
    void OnRequest(CertificateTrustRequest& request) override
    {
        request.answer = answers->AskCertificate(nullptr, request.question);
    }
    CertificatePrompts* answers = nullptr;
    QStringList lines;
};


class FtpSessionTlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kxtest::LoopbackCertificate().ok || !kxtest::PyFtpdCanTls())
            GTEST_SKIP() << "no test certificate (Debian package openssl) or no TLS test server (python3-openssl)";
        QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication).clear();
        CTrustedCertificates::SetDefaultPathOverride(m_config.filePath(QStringLiteral("trusted")));
        CSiteCatalog::SetDefaultPathOverride(m_config.filePath(QStringLiteral("sites.xml")));
        m_events.answers = &m_prompts;
        WriteProfileInt(settings::ConnectionTimeout, 10);
        WriteProfileInt(settings::HideStatusCallbackInfo, 1);
        WriteProfileInt(settings::DefaultRetries, 1);
        m_root.Write("pub/readme.txt", "hello");
        m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret", {"--tls", kxtest::LoopbackCertificate().keyAndCert,
                                                                          "--tls-required"});
        m_session.SetEvents(&m_events);
    }
    void TearDown() override
    {
        CSiteCatalog::SetDefaultPathOverride(QString());
        CTrustedCertificates::SetDefaultPathOverride(QString());
    }
    bool Connect()
    {
        const QString address = QStringLiteral("ftpes://127.0.0.1:%1").arg(m_server->port());
        m_session.Close();
        SessionSettings settings = SessionSettings::FromProfile();
        settings.proxyType = settings::kProxyDirect;
        m_session.SetSettings(settings);
        return m_session.Connect(SiteToConnect(address, QStringLiteral("anna"), QStringLiteral("secret")));
    }

    QTemporaryDir m_config;
    kxtest::TempDir m_root;
    std::unique_ptr<kxtest::ServerProcess> m_server;
    CertificatePrompts m_prompts;
    LineEvents m_events;
    CFtpSession m_session;
};

TEST_F(FtpSessionTlsTest, AnUntrustedCertificateIsAskedAboutOnceAndTrustedForGood)
{
    // Refused: no connection.
    EXPECT_FALSE(Connect());
    ASSERT_EQ(m_prompts.questions.size(), 1u);
    const CertificateQuestion first = m_prompts.questions[0];
    EXPECT_EQ(first.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(first.sha256.count(QLatin1Char(':')), 31);
    EXPECT_TRUE(first.subject.contains(QStringLiteral("127.0.0.1"))) << first.subject.toStdString();
    EXPECT_FALSE(first.changed);

    // Once: connected and listed over TLS, asked again next time.
    m_prompts.answer = IPrompts::CertificateAnswer::ConnectOnce;
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(m_session.IsEncrypted());
    EXPECT_EQ(m_session.AcceptedCertificates(), QStringList{first.sha256});
    EXPECT_FALSE(m_events.lines.filter(QStringLiteral("TLS connection established")).isEmpty());
    EXPECT_TRUE(m_events.lines.filter(QStringLiteral("TLS connection established")).first().startsWith(
        QString::number(TRACE_SUCCESS)));
    ASSERT_TRUE(Connect());
    EXPECT_EQ(m_prompts.questions.size(), 3u);

    // For good: stored, and never asked again.
    m_prompts.answer = IPrompts::CertificateAnswer::AlwaysTrust;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(CTrustedCertificates().Check(QStringLiteral("127.0.0.1"), m_server->port(), first.sha256),
              CTrustedCertificates::Verdict::Trusted);
    m_prompts.answer = IPrompts::CertificateAnswer::Cancel;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(m_prompts.questions.size(), 4u);

    // Another certificate where that one was trusted: refused, and said so.
    const QString other(64, QLatin1Char('a'));
    ASSERT_TRUE(CTrustedCertificates().Trust(QStringLiteral("127.0.0.1"), m_server->port(), other));
    m_prompts.answer = IPrompts::CertificateAnswer::AlwaysTrust; // the dialog offers only Cancel
    EXPECT_FALSE(Connect());
    ASSERT_EQ(m_prompts.questions.size(), 5u);
    EXPECT_TRUE(m_prompts.questions.back().changed);
}

} // namespace
