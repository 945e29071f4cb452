#pragma once

#include <QObject>
#include <QString>

#include <functional>

struct PasswordRequest;
class CFavoritesMenu;
class CFtpSession;
class CFtpSite;
class CLocalBrowserBar;
class CQuickConnectBar;
class QWidget;

// Connecting and the site catalogue's commands: Connect (the Site Manager),
// the Connection Wizard, Quick Connect, the Favorites menu, Add to
// Favorites, Disconnect, and the Local Browser's folders of the connected
// site. It decides which site a connect goes to and with which settings, and
// remembers the connected site's catalogue path.
class CConnectCommands : public QObject {
    Q_OBJECT
public:
    CConnectCommands(CFtpSession& session, CFavoritesMenu& favorites, CLocalBrowserBar& localBrowser,
                     CQuickConnectBar& quickConnect, QWidget* window);

    // Connects to a catalogue site path or an address; a null site lets the
    // user pick one in the Site Manager. The listing of the start folder
    // follows a connection.
    bool Connect(const QString* siteOrAddress, const QString& user, const QString& password);
    // The catalogue path of the connected site; empty for a typed address.
    const QString& SitePath() const { return m_sitePath; }
    const QString& DocumentTitle() const { return m_documentTitle; }
    void RebuildFavorites();
    // How a connect without a site picks one: the Site Manager, unless a
    // test puts its own choice here. False: the user cancelled.
    using SiteChooser = std::function<bool(CFtpSite& chosen, QString& sitePath)>;
    void SetSiteChooser(SiteChooser chooser) { m_chooseSite = std::move(chooser); }
    // The session's question for a password nobody stored: the password
    // dialog (or a test's answer); a remembered password of a catalogue site
    // is stored by the setting "Store passwords in".
    void AnswerPasswordRequest(PasswordRequest& request);
    using PasswordAsker = std::function<bool(const PasswordRequest& request, QString& password, bool& remember)>;
    void SetPasswordAsker(PasswordAsker asker) { m_askPassword = std::move(asker); }

    void OnConnect();
    void OnConnectionWizard();
    void OnQuickConnect();
    void OnAddToFavorites();
    void OnDisconnect();
    // The connected site's download folder, or after a disconnect the last
    // one's; the default download folder when it has none.
    void OnGoSiteDownloadFolder();
    void OnGoDefaultDownloadFolder();
    void OnStoreSiteLocalPath();
    // The settings changed: a Local Browser still at the old default
    // download folder moves to the new one, so the next download goes there.
    void OnSettingsChanged();

signals:
    // Connected, disconnected, or the catalogue changed: title and commands follow.
    void ConnectionChanged();

private:
    // The Site Manager; false when the user cancelled.
    bool RunSiteManager(CFtpSite& chosen, QString& sitePath);

    CFtpSession& m_session;
    CFavoritesMenu& m_favorites;
    CLocalBrowserBar& m_localBrowser;
    CQuickConnectBar& m_quickConnect;
    QWidget* m_window;
    SiteChooser m_chooseSite;
    PasswordAsker m_askPassword;
    QString m_connectingPath; // the catalogue path of the site a connect runs for
    QString m_sitePath;
    QString m_lastSiteLocalPath; // of the site connected last, kept after a disconnect
    QString m_defaultFolder;     // the default download folder as last applied
    QString m_documentTitle = QStringLiteral("Not Connected");
};
