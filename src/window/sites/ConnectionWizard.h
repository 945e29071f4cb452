#pragma once

#include "engine/catalog/SiteCatalog.h"

#include <QString>
#include <QWizard>

#include <array>
#include <functional>

class CCatalogFolderTree;
class CKeyFileField;
class CProtocolChoice;
class CFtpSite;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Connection Wizard": a new site's name, host and port, login, download folder and
// favorites folder, one page each, then whether to connect at once. The
// favorites page works on its own copy of the catalogue; StoreSite writes the
// folders made there before it stores the site in one of them.
class CWizardSheet : public QWizard {
    Q_OBJECT
public:
    enum PageId { kNamePage, kHostPage, kLoginPage, kFolderPage, kFavoritesPage, kFinishPage };
    // Asks for a folder: (parent, caption, folder to start in) -> the folder
    // chosen, empty when the user cancelled.
    using FolderChooser = std::function<QString(QWidget*, const QString&, const QString&)>;

    explicit CWizardSheet(QWidget* owner = nullptr);
    ~CWizardSheet() override;

    // The record the pages describe: the settings' defaults for a new site
    // with the name, host, login and download folder typed.
    CFtpSite Site() const;
    // The favorites folder chosen ("" for the top).
    QString FolderPath() const;
    bool ConnectNow() const;
    // Stores Site() in the chosen folder, updating a site of the same name
    // there; `newSitePath` gets its site path. False, with the user told why,
    // when the catalogue could not be written.
    bool StoreSite(QString& newSitePath);

    // Replaces the folder dialog behind the "..." button.
    void SetFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    QLineEdit* SiteNameEdit() const { return m_siteName; }
    QLineEdit* HostEdit() const { return m_host; }
    QLineEdit* PortEdit() const { return m_port; }
    CProtocolChoice* ProtocolBox() const { return m_protocol; }
    CKeyFileField* KeyFileField() const { return m_keyFile; }
    QComboBox* EncryptionBox() const { return m_encryption; }
    QLineEdit* UserEdit() const { return m_user; }
    QLineEdit* PasswordEdit() const { return m_password; }
    QCheckBox* AnonymousBox() const { return m_anonymous; }
    QLineEdit* DownloadFolderEdit() const { return m_downloadFolder; }
    QPushButton* BrowseButton() const { return m_browse; }
    CCatalogFolderTree* FolderTree() const { return m_tree; }
    QCheckBox* ConnectNowBox() const { return m_connectNow; }
    CSiteCatalog& Catalog() { return m_catalog; }

    void done(int result) override;

private:
    QWizardPage* MakeNamePage();
    QWizardPage* MakeHostPage();
    QWizardPage* MakeLoginPage();
    QWizardPage* MakeFolderPage();
    QWizardPage* MakeFavoritesPage();
    QWizardPage* MakeFinishPage();
    bool Required(QLineEdit* field, const QString& message);
    // Next on the host page: a typed "host:port" goes into both fields, and
    // the port must be one.
    bool CheckHostAndPort();
    // The port follows the protocol and the encryption; SFTP greys out
    // the encryption and offers the key file.
    void OnProtocolOrEncryptionChosen();
    void SetAnonymous(bool anonymous);
    void Browse();

    CSiteCatalog m_catalog;
    FolderChooser m_chooseFolder;
    QLineEdit* m_siteName = nullptr;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_port = nullptr;
    CProtocolChoice* m_protocol = nullptr;
    QComboBox* m_encryption = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    CKeyFileField* m_keyFile = nullptr;
    class CPasswordPlaceChoice* m_passwordPlace = nullptr;
    QCheckBox* m_anonymous = nullptr;
    QLineEdit* m_downloadFolder = nullptr;
    QPushButton* m_browse = nullptr;
    CCatalogFolderTree* m_tree = nullptr;
    QCheckBox* m_connectNow = nullptr;
    // Site name, host, user, download folder, favorites folder.
    std::array<QLabel*, 5> m_summary{};
    bool m_catalogModified = false;
};

// Runs the wizard; on Finish stores the new site and gives its site path and
// whether to connect now. False when cancelled or the site could not be
// stored (the user has been told why); `newSitePath` is then empty.
bool RunConnectionWizard(QWidget* owner, QString& newSitePath, bool& connectNow);
