#include "window/sites/ConnectionWizard.h"

#include "engine/catalog/SitePasswords.h"
#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/sites/CatalogFolderTree.h"
#include "window/sites/PasswordPlaceChoice.h"
#include "window/sites/SiteNameValidator.h"
#include "window/sites/SiteProtocolFields.h"
#include "window/resources/Resources.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <QWizardPage>

namespace {

using namespace kx;

constexpr int kLogoSize = 48;

// A page whose Next is guarded by a check and which can refresh itself each
// time it is entered.
class CheckedPage : public QWizardPage {
public:
    using QWizardPage::QWizardPage;

    std::function<bool()> check;
    std::function<void()> enter;

    bool validatePage() override { return !check || check(); }
    void initializePage() override
    {
        if (enter)
            enter();
    }
};

CheckedPage* NewPage(QWidget* parent, const char* title, const char* subTitle)
{
    auto* page = new CheckedPage(parent);
    page->setTitle(QString::fromUtf8(title));
    page->setSubTitle(QString::fromUtf8(subTitle));
    return page;
}

QLabel* Hint(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* Field(QWidget* parent, const char* objectName)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

QLabel* FieldLabel(const char* text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

CWizardSheet::CWizardSheet(QWidget* owner)
    : QWizard(owner)
    , m_chooseFolder([](QWidget* parent, const QString& caption, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, caption, start);
    })
{
    setWindowTitle(QStringLiteral("Connection Wizard"));
    setObjectName(QStringLiteral("connectionWizard"));
    setWizardStyle(QWizard::ModernStyle);
    const QIcon icon = ProgramIcon();
    if (!icon.isNull())
        setPixmap(QWizard::LogoPixmap, icon.pixmap(kLogoSize, kLogoSize));

    m_catalog.Open();
    setPage(kNamePage, MakeNamePage());
    setPage(kHostPage, MakeHostPage());
    setPage(kLoginPage, MakeLoginPage());
    setPage(kFolderPage, MakeFolderPage());
    setPage(kFavoritesPage, MakeFavoritesPage());
    setPage(kFinishPage, MakeFinishPage());
    setStartId(kNamePage);
    setMinimumSize(560, 440);
}

CWizardSheet::~CWizardSheet()
{
    // The tree points into the catalogue, which would otherwise be gone
    // before the pages are: a label still open commits on its way out.
    delete m_tree;
}

QWizardPage* CWizardSheet::MakeNamePage()
{
    CheckedPage* page =
        NewPage(this, "Profile Name", "Enter a label that will help you identify this site at a later time.");
    m_siteName = Field(page, "siteName");
    m_siteName->setValidator(new CSiteNameValidator(m_siteName));
    page->check = [this] { return Required(m_siteName, QStringLiteral("You must enter a profile name.")); };

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(FieldLabel("Site &name:", m_siteName, page));
    layout->addWidget(m_siteName);
    layout->addSpacing(8);
    layout->addWidget(Hint(QStringLiteral("The name is shown in your favorites and in the Site Manager. "
                                          "It cannot contain any of these characters: \" * / : < > ? \\ |"),
                           page));
    layout->addStretch(1);
    return page;
}

QWizardPage* CWizardSheet::MakeHostPage()
{
    CheckedPage* page = NewPage(this, "Host Address", "Enter the address of the server you want to connect to.");
    m_host = Field(page, "host");
    m_port = Field(page, "port");
    m_port->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,5}")), m_port));
    m_port->setMaximumWidth(80);
    page->check = [this] {
        return Required(m_host, QStringLiteral("You must enter a host address.")) && CheckHostAndPort();
    };

    m_protocol = new CProtocolChoice(page);
    m_protocol->setObjectName(QStringLiteral("protocol"));
    m_encryption = new QComboBox(page);
    m_encryption->setObjectName(QStringLiteral("encryption"));
    m_encryption->addItems(SiteEncryptionChoices());
    m_encryption->setCurrentIndex(CSiteCatalog::DefaultEncryption());
    m_encryption->setToolTip(QStringLiteral("Only for FTP sites"));
    m_port->setText(QString::number(DefaultPortOf(SiteProtocol::Ftp, m_encryption->currentIndex())));
    connect(m_protocol, &QComboBox::activated, this, &CWizardSheet::OnProtocolOrEncryptionChosen);
    connect(m_encryption, &QComboBox::activated, this, &CWizardSheet::OnProtocolOrEncryptionChosen);

    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(m_host, 1);
    hostRow->addWidget(FieldLabel("P&ort:", m_port, page));
    hostRow->addWidget(m_port);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(FieldLabel("Host &address:", m_host, page));
    layout->addLayout(hostRow);
    layout->addSpacing(8);
    layout->addWidget(FieldLabel("Pro&tocol:", m_protocol, page));
    layout->addWidget(m_protocol);
    layout->addSpacing(4);
    layout->addWidget(FieldLabel("Encr&yption:", m_encryption, page));
    layout->addWidget(m_encryption);
    layout->addSpacing(8);
    layout->addWidget(Hint(QStringLiteral("A host name such as ftp.example.com, or a numeric address such as "
                                          "192.0.2.10. The port is 21 for most servers, 990 for implicit TLS, "
                                          "22 for SFTP."),
                           page));
    layout->addStretch(1);
    return page;
}

QWizardPage* CWizardSheet::MakeLoginPage()
{
    CheckedPage* page =
        NewPage(this, "Username and Password", "Enter the name and password the server knows you by.");
    m_user = Field(page, "user");
    m_password = Field(page, "password");
    m_password->setEchoMode(QLineEdit::Password);
    m_anonymous = new QCheckBox(QStringLiteral("&Anonymous"), page);
    m_anonymous->setObjectName(QStringLiteral("anonymous"));
    connect(m_anonymous, &QCheckBox::toggled, this, &CWizardSheet::SetAnonymous);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(FieldLabel("&Username:", m_user, page));
    layout->addWidget(m_user);
    layout->addSpacing(4);
    layout->addWidget(FieldLabel("&Password:", m_password, page));
    layout->addWidget(m_password);
    m_keyFile = new CKeyFileField(page);
    // Made after the host page: it starts as that page's protocol says.
    m_keyFile->setEnabled(m_protocol->Protocol() == SiteProtocol::Sftp);
    layout->addSpacing(4);
    layout->addWidget(FieldLabel("Ke&y file (SFTP):", m_keyFile, page));
    layout->addWidget(m_keyFile);
    m_passwordPlace = new CPasswordPlaceChoice(page);
    layout->addWidget(FieldLabel("Passwords &kept in:", m_passwordPlace, page));
    layout->addWidget(m_passwordPlace);
    layout->addSpacing(8);
    layout->addWidget(m_anonymous);
    layout->addWidget(Hint(QStringLiteral("Public servers usually accept anonymous logins; your e-mail address "
                                          "from the options is then sent as the password."),
                           page));
    layout->addStretch(1);
    return page;
}

QWizardPage* CWizardSheet::MakeFolderPage()
{
    CheckedPage* page = NewPage(this, "Default Download Folder",
                                "Choose where on this computer files from this site are saved.");
    m_downloadFolder = Field(page, "downloadFolder");
    m_downloadFolder->setText(GetProfileString(settings::DefaultLocalPath));
    m_browse = new QPushButton(QStringLiteral("..."), page);
    m_browse->setObjectName(QStringLiteral("browse"));
    m_browse->setAutoDefault(false);
    m_browse->setFixedWidth(m_browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    connect(m_browse, &QPushButton::clicked, this, &CWizardSheet::Browse);

    auto* row = new QHBoxLayout;
    row->addWidget(m_downloadFolder, 1);
    row->addWidget(m_browse);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(FieldLabel("Do&wnload Folder:", m_downloadFolder, page));
    layout->addLayout(row);
    layout->addSpacing(8);
    layout->addWidget(Hint(QStringLiteral("It starts out as the download path set in the options."), page));
    layout->addStretch(1);
    return page;
}

QWizardPage* CWizardSheet::MakeFavoritesPage()
{
    CheckedPage* page =
        NewPage(this, "Add to Favorites", "Choose the folder of your favorites that this site is stored in.");
    m_tree = new CCatalogFolderTree(page);
    m_tree->setMinimumHeight(140);
    m_tree->Populate(m_catalog.Document());
    connect(m_tree, &CCatalogFolderTree::Modified, this, [this] { m_catalogModified = true; });
    // A catalogue that cannot be read is said here, where folders would be
    // made in vain; Finish then tells that the site was not stored.
    const bool unreadable = m_catalog.State() == CSiteCatalog::FileState::Unreadable;
    QLabel* hint = Hint(unreadable ? m_catalog.ProblemText()
                                   : QStringLiteral("Press Insert to make a new folder in the selected one, F2 to "
                                                    "rename a folder and Delete to remove it."),
                        page);
    hint->setObjectName(QStringLiteral("favoritesHint"));

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(FieldLabel("Create &in:", m_tree, page));
    layout->addWidget(m_tree, 1);
    layout->addWidget(hint);
    return page;
}

QWizardPage* CWizardSheet::MakeFinishPage()
{
    CheckedPage* page = NewPage(this, "Completing the Connection Wizard",
                                "The site is added to your favorites when you click Finish.");
    m_connectNow = new QCheckBox(QStringLiteral("Connect Now"), page);
    m_connectNow->setObjectName(QStringLiteral("connectNow"));

    auto* summary = new QFormLayout;
    summary->setLabelAlignment(Qt::AlignLeft);
    const char* const captions[] = {"Site name:", "Host address:", "Username:", "Download folder:", "Stored in:"};
    for (std::size_t i = 0; i < m_summary.size(); ++i) {
        m_summary[i] = new QLabel(page);
        // Names come from the user and the catalogue: never markup.
        m_summary[i]->setTextFormat(Qt::PlainText);
        m_summary[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        summary->addRow(QString::fromLatin1(captions[i]), m_summary[i]);
    }
    page->enter = [this] {
        const CFtpSite site = Site();
        const QString stored = m_tree->SelectedFolderPath();
        const QString root = m_tree->RootItem()->text(0);
        const QString none = QStringLiteral("(none)");
        m_summary[0]->setText(site.name);
        m_summary[1]->setText(QStringLiteral("%1, port %2%3")
                                  .arg(site.address)
                                  .arg(site.port)
                                  .arg(site.protocol == SiteProtocol::Sftp ? QStringLiteral(", SFTP") : QString()));
        m_summary[2]->setText(site.login.isEmpty() ? none : site.login);
        m_summary[3]->setText(site.localPath.isEmpty() ? none : site.localPath);
        m_summary[4]->setText(stored.isEmpty() ? root : root + QLatin1Char('\\') + stored);
    };

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(summary);
    layout->addSpacing(12);
    layout->addWidget(m_connectNow);
    layout->addWidget(Hint(QStringLiteral("Check Connect Now to open the site as soon as the wizard closes."), page));
    layout->addStretch(1);
    return page;
}

bool CWizardSheet::Required(QLineEdit* field, const QString& message)
{
    if (!field->text().trimmed().isEmpty())
        return true;
    Prompts().Message(this, message, IPrompts::Icon::Warning);
    field->setFocus();
    return false;
}

bool CWizardSheet::CheckHostAndPort()
{
    // "host:2124" or "[2001:db8::1]:2124"; a bare IPv6 address has colons
    // of its own and no port.
    static const QRegularExpression withPort(QStringLiteral("^(\\[[^\\]]+\\]|[^:\\[\\]]+):(\\d{1,5})$"));
    const QRegularExpressionMatch match = withPort.match(m_host->text().trimmed());
    if (match.hasMatch()) {
        m_host->setText(match.captured(1));
        m_port->setText(match.captured(2));
    }
    const int port = m_port->text().toInt();
    if (port >= 1 && port <= 65535)
        return true;
    Prompts().Message(this, QStringLiteral("Enter a port number from 1 to 65535."), IPrompts::Icon::Warning);
    m_port->setFocus();
    return false;
}

void CWizardSheet::OnProtocolOrEncryptionChosen()
{
    const SiteProtocol protocol = m_protocol->Protocol();
    m_port->setText(FollowingPort(m_port->text(), protocol, m_encryption->currentIndex()));
    EnableFtpOnly({m_encryption}, protocol);
    m_keyFile->setEnabled(protocol == SiteProtocol::Sftp);
}

void CWizardSheet::SetAnonymous(bool anonymous)
{
    // The password of an anonymous login is no secret, and the user should
    // see which address goes out; a real one is masked again.
    if (anonymous) {
        m_user->setText(QStringLiteral("anonymous"));
        m_password->setText(GetProfileString(settings::EmailAddress));
        m_password->setEchoMode(QLineEdit::Normal);
    } else {
        m_password->setEchoMode(QLineEdit::Password);
    }
}

void CWizardSheet::Browse()
{
    const QString chosen = m_chooseFolder(this, QStringLiteral("Select a directory:"), m_downloadFolder->text());
    if (!chosen.isEmpty())
        m_downloadFolder->setText(chosen);
}

CFtpSite CWizardSheet::Site() const
{
    CFtpSite site = CSiteCatalog::DefaultSite();
    site.name = CSiteCatalog::WithoutForbiddenCharacters(m_siteName->text()).trimmed();
    site.address = m_host->text().trimmed();
    site.encryption = m_encryption->currentIndex();
    site.protocol = m_protocol->Protocol();
    site.port = m_port->text().toInt();
    if (site.port < 1 || site.port > 65535)
        site.port = DefaultPortOf(site.protocol, site.encryption);
    site.login = m_user->text();
    site.password = m_password->text();
    // A key typed while SFTP was chosen stays out of a site that ended up FTP.
    site.keyFile = site.protocol == SiteProtocol::Sftp ? m_keyFile->Path().trimmed() : QString();
    site.localPath = m_downloadFolder->text();
    site.remotePath.clear();
    site.description.clear();
    return site;
}

QString CWizardSheet::FolderPath() const
{
    return m_tree->SelectedFolderPath();
}

bool CWizardSheet::ConnectNow() const
{
    return m_connectNow->isChecked();
}

void CWizardSheet::done(int result)
{
    m_tree->FinishEditing();
    QWizard::done(result);
}

bool CWizardSheet::StoreSite(QString& newSitePath)
{
    newSitePath.clear();
    m_tree->FinishEditing();
    CFtpSite site = Site();
    const QString folder = FolderPath();
    // The folder chosen may be one made on the favorites page: the file must
    // hold it before the site can go into it.
    // Called once the sheet has closed: its owner is then what the user sees.
    QWidget* owner = isVisible() ? this : parentWidget();
    if (m_passwordPlace->Apply(owner, &m_catalog))
        m_catalogModified = true;
    if (m_catalogModified && m_catalog.State() != CSiteCatalog::FileState::Unreadable) {
        if (!m_catalog.Write()) {
            Prompts().Message(owner, m_catalog.ProblemText(), IPrompts::Icon::Error);
            return false;
        }
        m_catalogModified = false;
    }
    QString problem;
    SitePasswords::PrepareNewSite(site, &problem);
    if (!problem.isEmpty())
        Prompts().Message(owner, problem, IPrompts::Icon::Warning);
    CSiteCatalog catalog(m_catalog.Path());
    if (!catalog.SaveSite(site, &folder)) {
        Prompts().Message(owner, catalog.ProblemText(), IPrompts::Icon::Error);
        return false;
    }
    QString path = folder + QLatin1Char('\\') + site.name;
    while (path.startsWith(QLatin1Char('\\')))
        path.remove(0, 1);
    newSitePath = path;
    return true;
}

bool RunConnectionWizard(QWidget* owner, QString& newSitePath, bool& connectNow)
{
    newSitePath.clear();
    connectNow = false;
    CWizardSheet sheet(owner);
    if (sheet.exec() != QDialog::Accepted || !sheet.StoreSite(newSitePath))
        return false;
    connectNow = sheet.ConnectNow();
    return true;
}
