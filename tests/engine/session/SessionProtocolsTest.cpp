// The window's session over both protocols: the same browsing and folder
// operations against pyftpdlib over FTP and OpenSSH over SFTP, then what
// only SSH has (host keys, key passphrases, its handshake in the Trace).

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/base/TraceLevel.h"
#include "engine/session/FtpSession.h"
#include "support/RemoteServers.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

struct Line {
    int level;
    QString text;
};

// Answers the session's questions as a script says, and keeps what it saw.
class ScriptedEvents : public ISessionEvents {
public:
    void OnTrace(int level, const QString& text) override { lines.push_back({level, text.section(QStringLiteral("] "), 1)}); }
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnRequest(RetryCountdownRequest& request) override
    {
        ++countdowns;
        request.retry = false;
    }
    void OnRequest(HostKeyRequest& request) override
    {
        hostKeys.push_back(request.question);
        request.answer = hostKeyAnswer;
    }
    void OnRequest(PassphraseRequest& request) override
    {
        passphraseAsked << request.keyFile;
        request.answered = !passphrase.isEmpty();
        request.passphrase = passphrase;
    }
    void OnListingEntry(const RemoteEntry& entry) override { listed[entry.name] = entry; }
    void OnListingStarted(const RemotePath&, bool) override { listed.clear(); }

    QString All() const
    {
        QStringList texts;
        for (const Line& line : lines)
            texts << line.text;
        return texts.join(QLatin1Char('\n'));
    }
    int LevelOf(const QString& start) const
    {
        for (const Line& line : lines) {
            if (line.text.startsWith(start))
                return line.level;
        }
        return -1;
    }

    std::vector<Line> lines;
    std::vector<HostKeyQuestion> hostKeys;
    CertificateAnswer hostKeyAnswer = CertificateAnswer::ConnectOnce;
    QStringList passphraseAsked;
    QString passphrase;
    std::map<QString, RemoteEntry> listed;
    int countdowns = 0;
};

class SessionProtocolsTest : public ::testing::TestWithParam<remote::Protocol> {
protected:
    void SetUp() override
    {
        // Known hosts, keys and agent of the machine stay out of it: a home
        // of the test's own.
        m_oldHome = qgetenv("HOME");
        m_oldAgent = qgetenv("SSH_AUTH_SOCK");
        qputenv("HOME", QByteArray::fromStdString(m_home.path()));
        qunsetenv("SSH_AUTH_SOCK");
        std::string whyNot;
        m_server = kxtest::RemoteServer::Start(GetParam(), m_root, whyNot);
        if (!m_server)
            GTEST_SKIP() << whyNot;
        m_session.SetEvents(&m_events);
        SessionSettings settings;
        settings.connectionTimeoutSeconds = 10;
        settings.proxyType = kx::settings::kProxyDirect;
        settings.statusLines = false;
        m_session.SetSettings(settings);
    }
    void TearDown() override
    {
        m_session.Cancel();
        m_session.Close();
        qputenv("HOME", m_oldHome);
        if (m_oldAgent.isEmpty())
            qunsetenv("SSH_AUTH_SOCK");
        else
            qputenv("SSH_AUTH_SOCK", m_oldAgent);
    }

    bool Sftp() const { return GetParam() == remote::Protocol::Sftp; }

    CFtpSite Site() const
    {
        CFtpSite site;
        site.address = QStringLiteral("127.0.0.1");
        site.port = m_server->options.port;
        site.protocol = Sftp() ? SiteProtocol::Sftp : SiteProtocol::Ftp;
        site.login = QString::fromStdString(m_server->options.user);
        site.password = QString::fromStdString(m_server->options.password);
        site.passive = true;
        site.retries = 3;
        site.retryDelay = 0;
        return site;
    }

    void Seed(const std::string& rel, const std::string& bytes)
    {
        m_root.Write(rel, bytes);
        m_server->Own(m_root.Path(rel.substr(0, rel.find('/'))));
    }

    RemotePath Home() const { return m_session.HomeFolder(); }
    std::string OnDisk(const std::string& rel) const { return m_root.Path(rel); }

    kxtest::TempDir m_home, m_root;
    QByteArray m_oldHome, m_oldAgent;
    std::unique_ptr<kxtest::RemoteServer> m_server;
    ScriptedEvents m_events;
    CFtpSession m_session;
};

TEST_P(SessionProtocolsTest, BrowsesAndWorksOnFoldersThroughOneConnection)
{
    Seed("docs/a.txt", "hello");
    Seed("docs/sub/deep/b.bin", std::string(70000, 'b'));
    Seed("docs/sub/c.txt", "c");
    m_root.MakeDir("empty");
    m_server->Own(m_root.Path("empty"));
    ASSERT_TRUE(m_session.Connect(Site())) << m_events.All().toStdString();
    EXPECT_TRUE(m_session.IsConnected());
    EXPECT_EQ(m_session.IsEncrypted(), Sftp());
    EXPECT_EQ(m_session.Features().rawCommands, !Sftp());

    ASSERT_TRUE(m_session.ListFolder(Home(), false));
    ASSERT_EQ(m_events.listed.size(), 2u) << m_events.All().toStdString();
    EXPECT_TRUE(m_events.listed[QStringLiteral("docs")].folder);
    EXPECT_TRUE(m_events.listed[QStringLiteral("empty")].folder);
    ASSERT_TRUE(m_session.ListFolder(Home().Child(QStringLiteral("docs")), false));
    EXPECT_EQ(m_events.listed[QStringLiteral("a.txt")].size, 5u);
    EXPECT_FALSE(m_events.listed[QStringLiteral("a.txt")].permissions.isEmpty());
    if (Sftp())
        EXPECT_FALSE(m_events.listed[QStringLiteral("a.txt")].owner.isEmpty());

    const RemotePath docs = Home().Child(QStringLiteral("docs"));
    EXPECT_TRUE(m_session.MakeFolder(Home().Child(QStringLiteral("made"))));
    EXPECT_TRUE(std::filesystem::is_directory(OnDisk("made")));
    EXPECT_TRUE(m_session.CreateEmptyFile(Home().Child(QStringLiteral("made")).Child(QStringLiteral("new.txt"))));
    EXPECT_EQ(std::filesystem::file_size(OnDisk("made/new.txt")), 0u);
    // Made by someone else since: never emptied.
    EXPECT_FALSE(m_session.CreateEmptyFile(docs.Child(QStringLiteral("a.txt"))));
    EXPECT_EQ(m_root.Read("docs/a.txt"), "hello");

    EXPECT_TRUE(m_session.Rename(docs.Child(QStringLiteral("a.txt")), docs.Child(QStringLiteral("renamed.txt"))));
    EXPECT_EQ(m_root.Read("docs/renamed.txt"), "hello");
    EXPECT_TRUE(m_session.ChangePermissions({{docs.Child(QStringLiteral("renamed.txt")), false}}, 0640,
                                            PermissionScope::ItemsOnly));
    struct stat st {};
    ASSERT_EQ(::stat(OnDisk("docs/renamed.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    quint64 size = 0;
    qint64 modified = -1;
    EXPECT_TRUE(m_session.QueryFile(docs.Child(QStringLiteral("renamed.txt")), size, modified));
    EXPECT_EQ(size, 5u);
    EXPECT_GT(modified, 0);

    // A whole tree, files before their folders, and the listed folder
    // stays the one on screen.
    m_session.DeleteItems({{docs, true}});
    EXPECT_FALSE(std::filesystem::exists(OnDisk("docs"))) << m_events.All().toStdString();
    EXPECT_TRUE(std::filesystem::exists(OnDisk("empty")));
    EXPECT_EQ(m_session.ListedPath(), docs);
}

TEST_P(SessionProtocolsTest, NamesThatCannotBeUsedSafelyAreSkippedWithARedLine)
{
    Seed("ok.txt", "fine");
    Seed("back\\slash.txt", "x");
    ASSERT_TRUE(m_session.Connect(Site())) << m_events.All().toStdString();
    ASSERT_TRUE(m_session.ListFolder(Home(), false));
    std::set<QString> names;
    for (const auto& [name, entry] : m_events.listed)
        names.insert(name);
    EXPECT_EQ(names, (std::set<QString>{QStringLiteral("ok.txt")}));
    EXPECT_EQ(m_events.LevelOf(QStringLiteral("Skipped an entry whose name cannot be used safely")), TRACE_ERROR)
        << m_events.All().toStdString();
    // "." and ".." are no such entries: nothing said of them.
    EXPECT_FALSE(m_events.All().contains(QStringLiteral("\"..\"")));
}

TEST_P(SessionProtocolsTest, FtpOnlyCommandsSayWhyOverSsh)
{
    ASSERT_TRUE(m_session.Connect(Site()));
    m_events.lines.clear();
    m_session.SendCustomCommand(QStringLiteral("SYST"));
    m_session.SendKeepAlive();
    const QString all = m_events.All();
    if (Sftp()) {
        EXPECT_TRUE(all.contains(QStringLiteral("SFTP has no raw commands; nothing was sent."))) << all.toStdString();
        EXPECT_TRUE(all.contains(QStringLiteral("The server answered."))) << all.toStdString();
    } else {
        EXPECT_TRUE(all.contains(QStringLiteral("Command: SYST"))) << all.toStdString();
        EXPECT_TRUE(all.contains(QStringLiteral("Command: NOOP"))) << all.toStdString();
    }
}

TEST_P(SessionProtocolsTest, TheSshHandshakeShowsInTheConversationsColours)
{
    if (!Sftp())
        GTEST_SKIP() << "SSH only";
    ASSERT_TRUE(m_session.Connect(Site()));
    for (const char* step : {"Connected to ", "Server version: SSH-2.0-OpenSSH", "Host key: ssh-ed25519 SHA256:",
                             "Authenticated with the password", "SFTP version 3"})
        EXPECT_EQ(m_events.LevelOf(QString::fromLatin1(step)), TRACE_REPLY) << step << "\n"
                                                                            << m_events.All().toStdString();
    EXPECT_EQ(m_events.LevelOf(QStringLiteral("Successfully connected to: 127.0.0.1.")), TRACE_SUCCESS);
    EXPECT_FALSE(m_events.All().contains(QString::fromLatin1(kxtest::SshServer::kPassword)));
}

TEST_P(SessionProtocolsTest, HostKeysFollowTheUsersAnswerAndAChangedOneIsRefused)
{
    if (!Sftp())
        GTEST_SKIP() << "SSH only";
    auto& ssh = static_cast<kxtest::SftpServer&>(*m_server).ssh();
    const QString knownHosts = QString::fromStdString(m_home.Path(".ssh/known_hosts"));

    // Cancel: no connection, and no further attempt after it.
    m_events.hostKeyAnswer = CertificateAnswer::Cancel;
    EXPECT_FALSE(m_session.Connect(Site()));
    ASSERT_EQ(m_events.hostKeys.size(), 1u);
    EXPECT_EQ(m_events.hostKeys[0].fingerprint.toStdString(), ssh.fingerprint());
    EXPECT_EQ(m_events.hostKeys[0].keyType, QStringLiteral("ssh-ed25519"));
    EXPECT_FALSE(m_events.hostKeys[0].changed);
    EXPECT_EQ(m_events.countdowns, 0);

    // Once: this connection and its transfers, nothing written.
    m_events.hostKeyAnswer = CertificateAnswer::ConnectOnce;
    ASSERT_TRUE(m_session.Connect(Site()));
    EXPECT_EQ(m_session.AcceptedHostKeys(), QStringList{QString::fromStdString(ssh.fingerprint())});
    EXPECT_FALSE(QFile::exists(knownHosts));
    m_session.Close();

    // Always: written to known_hosts, and not asked again.
    m_events.hostKeyAnswer = CertificateAnswer::AlwaysTrust;
    ASSERT_TRUE(m_session.Connect(Site()));
    m_session.Close();
    ASSERT_TRUE(QFile::exists(knownHosts));
    m_events.hostKeys.clear();
    ASSERT_TRUE(m_session.Connect(Site()));
    EXPECT_TRUE(m_events.hostKeys.empty());
    m_session.Close();

    // Another key for the same server: shown as changed, refused whatever
    // the answer, no further attempt.
    const std::string otherKey = m_home.Path("other");
    kxtest::MakeSshKey(otherKey);
    std::ifstream pub(otherKey + ".pub");
    std::string type, blob;
    pub >> type >> blob;
    std::ofstream(knownHosts.toStdString(), std::ios::trunc)
        << "[127.0.0.1]:" << m_server->options.port << " " << type << " " << blob << "\n";
    m_events.hostKeys.clear();
    EXPECT_FALSE(m_session.Connect(Site()));
    ASSERT_EQ(m_events.hostKeys.size(), 1u);
    EXPECT_TRUE(m_events.hostKeys[0].changed);
    EXPECT_EQ(m_events.countdowns, 0);
    EXPECT_EQ(m_events.LevelOf(QStringLiteral("The server's host key is not the one")), TRACE_ERROR);
}

TEST_P(SessionProtocolsTest, AProtectedKeyIsUnlockedOnceAndItsPassphraseIsNeverShown)
{
    if (!Sftp())
        GTEST_SKIP() << "SSH only";
    auto& ssh = static_cast<kxtest::SftpServer&>(*m_server).ssh();
    CFtpSite site = Site();
    site.password = QStringLiteral("not the password");
    site.keyFile = QString::fromStdString(ssh.protectedKeyFile());
    m_events.passphrase = QString::fromLatin1(kxtest::SshServer::kPassphrase);
    ASSERT_TRUE(m_session.Connect(site)) << m_events.All().toStdString();
    EXPECT_EQ(m_events.passphraseAsked, QStringList{site.keyFile});
    EXPECT_EQ(m_session.KeyPassphrase(), m_events.passphrase);
    EXPECT_FALSE(m_events.All().contains(m_events.passphrase));
    EXPECT_TRUE(m_events.All().contains(QStringLiteral("Authenticated with"))) << m_events.All().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Protocols, SessionProtocolsTest,
                         ::testing::Values(remote::Protocol::Ftp, remote::Protocol::Sftp),
                         [](const auto& info) { return std::string(remote::ProtocolName(info.param)) == "ftp" ? "Ftp" : "Sftp"; });

} // namespace
