#include "window/frame/ConnectCommands.h"

#include "engine/base/Prompts.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/session/FtpSession.h"
#include "engine/session/FtpUrl.h"
#include "engine/session/SessionSettings.h"
#include "window/frame/TransferCommands.h"
#include "window/local/LocalBrowserBar.h"
#include "window/sites/AddFavoritesDlg.h"
#include "window/sites/ConnectionWizard.h"
#include "window/sites/FavoritesMenu.h"
#include "window/sites/PasswordDlg.h"
#include "window/sites/SiteManagerDlg.h"
#include "window/views/HistoryComboBox.h"
#include "window/views/QuickConnectBar.h"

#include <QDir>
#include <QGuiApplication>

namespace {

// A catalogue site, or the site of a typed address: "sftp://" in the address
// makes it an SFTP site on port 22 unless the address names a port, so the
// record says what the connection is, for the session, the transfer jobs and
// Add to Favorites alike.
CFtpSite SiteOfAddress(const QString& siteOrAddress, const QString& user, const QString& password)
{
    CFtpSite site = SiteToConnect(siteOrAddress, user, password);
    FtpUrl url;
    if (site.name.isEmpty() && FtpUrl::Parse(site.address, url) && url.IsSftp()) {
        site.protocol = SiteProtocol::Sftp;
        site.port = url.port;
    }
    return site;
}

} // namespace

CConnectCommands::CConnectCommands(CFtpSession& session, CFavoritesMenu& favorites, CLocalBrowserBar& localBrowser,
                                   CQuickConnectBar& quickConnect, QWidget* window)
    : QObject(window), m_session(session), m_favorites(favorites), m_localBrowser(localBrowser),
      m_quickConnect(quickConnect), m_window(window)
{
    connect(&m_favorites, &CFavoritesMenu::SiteChosen, this, [this](const QString& sitePath) {
        if (!m_session.IsBusy())
            Connect(&sitePath, QString(), QString());
    });
    connect(&m_quickConnect, &CQuickConnectBar::ConnectRequested, this, &CConnectCommands::OnQuickConnect);
    m_chooseSite = [this](CFtpSite& chosen, QString& sitePath) { return RunSiteManager(chosen, sitePath); };
    m_askPassword = [this](const PasswordRequest& request, QString& password, bool& remember) {
        CPasswordDlg dialog(request.site, request.problem, !m_connectingPath.isEmpty() && !request.site.name.isEmpty(),
                            m_window);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        password = dialog.Password();
        remember = dialog.Remember();
        return true;
    };
    RebuildFavorites();
    m_defaultFolder = CTransferCommands::DefaultDownloadFolder();
}

bool CConnectCommands::Connect(const QString* siteOrAddress, const QString& user, const QString& password)
{
    // Asked before the Site Manager opens: a busy session would refuse the
    // connect only after the user had picked a site.
    if (!m_session.CheckIdle())
        return false;
    CFtpSite site;
    QString sitePath;
    if (siteOrAddress) {
        site = SiteOfAddress(*siteOrAddress, user, password);
        sitePath = *siteOrAddress;
    } else if (!m_chooseSite(site, sitePath)) {
        // The Site Manager may have changed the catalogue all the same.
        RebuildFavorites();
        return false;
    }
    m_session.SetSettings(SessionSettings::FromProfile());
    m_connectingPath = site.name.isEmpty() ? QString() : sitePath;
    const bool connected = m_session.Connect(site);
    m_connectingPath.clear();
    RebuildFavorites();
    m_sitePath = connected && !m_session.SiteRecord().name.isEmpty() ? sitePath : QString();
    if (connected) {
        m_lastSiteLocalPath = m_session.SiteRecord().localPath;
        OnGoSiteDownloadFolder();
        m_documentTitle = m_session.Site().name.isEmpty() ? m_session.Site().address : m_session.Site().name;
        m_session.OpenPath(nullptr, false);
    }
    emit ConnectionChanged();
    return connected;
}

void CConnectCommands::AnswerPasswordRequest(PasswordRequest& request)
{
    QString password;
    bool remember = false;
    if (!m_askPassword(request, password, remember))
        return;
    request.answered = true;
    request.password = password;
    request.remember = remember;
    if (!remember || m_connectingPath.isEmpty())
        return;
    CFtpSite site = request.site;
    QString problem;
    SitePasswords::Store(site, password, &problem);
    const qsizetype split = m_connectingPath.lastIndexOf(QLatin1Char('\\'));
    const QString folder = split < 0 ? QString() : m_connectingPath.left(split);
    CSiteCatalog catalog;
    if (!catalog.SaveSite(site, split < 0 ? nullptr : &folder))
        problem = catalog.ProblemText();
    if (!problem.isEmpty())
        Prompts().Message(m_window, problem, IPrompts::Icon::Warning);
}

bool CConnectCommands::RunSiteManager(CFtpSite& chosen, QString& sitePath)
{
    CSiteManagerDlg dialog(m_window);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    chosen = dialog.Site();
    sitePath = dialog.SitePath();
    return true;
}

void CConnectCommands::RebuildFavorites()
{
    m_favorites.Rebuild(CSiteCatalog::DefaultPath());
    emit ConnectionChanged();
}

void CConnectCommands::OnConnect()
{
    Connect(nullptr, QString(), QString());
}

void CConnectCommands::OnConnectionWizard()
{
    if (m_session.IsBusy())
        return;
    QString sitePath;
    bool connectNow = false;
    const bool stored = RunConnectionWizard(m_window, sitePath, connectNow);
    RebuildFavorites();
    if (stored && connectNow)
        Connect(&sitePath, QString(), QString());
}

void CConnectCommands::OnQuickConnect()
{
    const QString host = m_quickConnect.Host();
    if (host.isEmpty() || m_session.IsBusy())
        return;
    if (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) {
        m_quickConnect.HostHistory()->ClearHistory();
        m_quickConnect.ClearCredentials();
        return;
    }
    const QString entry = m_quickConnect.HistoryEntry();
    m_quickConnect.HostHistory()->AddToHistory(&entry);
    const QString address = m_quickConnect.Address();
    Connect(&address, m_quickConnect.User(), m_quickConnect.Password());
}

void CConnectCommands::OnAddToFavorites()
{
    if (!m_session.HasConnection() || m_session.IsBusy())
        return;
    CFtpSite site = m_session.SiteRecord();
    const QString remote = m_session.ListedPath().IsEmpty() ? site.remotePath : m_session.ListedPath().ToString();
    // The proposed name must obey the catalogue's name rules, in which "/"
    // has no place: "/pub/sub" is proposed as "[pub-sub]", the root as nothing.
    QString folder = remote;
    while (folder.startsWith(QLatin1Char('/')))
        folder.remove(0, 1);
    folder.replace(QLatin1Char('/'), QLatin1Char('-'));
    site.name = CSiteCatalog::WithoutForbiddenCharacters(site.name.isEmpty() ? site.address : site.name);
    if (!folder.isEmpty())
        site.name += QStringLiteral(" [%1]").arg(CSiteCatalog::WithoutForbiddenCharacters(folder));
    site.remotePath = remote;
    if (const QString local = m_localBrowser.GetCurrentFolderPath(); !local.isEmpty())
        site.localPath = local;
    CAddFavoritesDlg::AddSite(m_window, site);
    RebuildFavorites();
}

void CConnectCommands::OnDisconnect()
{
    m_session.Close();
    m_documentTitle = QStringLiteral("Not Connected");
    emit ConnectionChanged();
}

void CConnectCommands::OnGoSiteDownloadFolder()
{
    const QString local = m_session.HasConnection() ? m_session.SiteRecord().localPath : m_lastSiteLocalPath;
    if (local.isEmpty()) {
        OnGoDefaultDownloadFolder();
        return;
    }
    m_localBrowser.GoToPath(QDir::cleanPath(QDir(QDir::homePath()).absoluteFilePath(local)));
}

void CConnectCommands::OnGoDefaultDownloadFolder()
{
    m_defaultFolder = CTransferCommands::DefaultDownloadFolder();
    m_localBrowser.GoToPath(m_defaultFolder);
}

void CConnectCommands::OnSettingsChanged()
{
    const QString folder = CTransferCommands::DefaultDownloadFolder();
    if (folder == m_defaultFolder)
        return;
    if (m_localBrowser.GetCurrentFolderPath() == m_defaultFolder)
        m_localBrowser.GoToPath(folder);
    m_defaultFolder = folder;
}

void CConnectCommands::OnStoreSiteLocalPath()
{
    const QString folder = m_localBrowser.GetCurrentFolderPath();
    if (m_sitePath.isEmpty() || folder.isEmpty() || !m_session.HasConnection())
        return;
    CFtpSite site = m_session.SiteRecord();
    site.localPath = folder;
    const qsizetype split = m_sitePath.lastIndexOf(QLatin1Char('\\'));
    const QString catalogueFolder = split < 0 ? QString() : m_sitePath.left(split);
    CSiteCatalog catalog;
    if (!catalog.SaveSite(site, split < 0 ? nullptr : &catalogueFolder)) {
        const QString problem = catalog.ProblemText();
        Prompts().Message(m_window, problem.isEmpty() ? QStringLiteral("The site could not be stored.") : problem,
                          IPrompts::Icon::Error);
    }
}
