#include "window/sites/AddFavoritesDlg.h"

#include "engine/catalog/SitePasswords.h"
#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "window/sites/CatalogFolderTree.h"
#include "window/sites/SiteNameValidator.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CAddFavoritesDlg::CAddFavoritesDlg(QWidget* owner)
    : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Add to Favorites"));
    setObjectName(QStringLiteral("addFavoritesDlg"));

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setValidator(new CSiteNameValidator(m_name));
    auto* nameLabel = new QLabel(QStringLiteral("Enter Name:"), this);
    nameLabel->setBuddy(m_name);

    m_tree = new CCatalogFolderTree(this);
    m_tree->setMinimumSize(240, 180);
    auto* treeLabel = new QLabel(QStringLiteral("Create &in:"), this);
    treeLabel->setBuddy(m_tree);

    m_newFolder = new QPushButton(QStringLiteral("&New Folder"), this);
    m_newFolder->setObjectName(QStringLiteral("newFolder"));
    // Enter belongs to OK even right after a folder was made.
    m_newFolder->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    m_ok->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddFavoritesDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_newFolder, &QPushButton::clicked, this, [this] {
        m_tree->setFocus();
        m_tree->NewFolder();
    });
    connect(m_tree, &CCatalogFolderTree::Modified, this, [this] { m_modified = true; });

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_newFolder);
    buttonRow->addStretch(1);
    buttonRow->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(nameLabel);
    layout->addWidget(m_name);
    layout->addSpacing(8);
    layout->addWidget(treeLabel);
    layout->addWidget(m_tree, 1);
    layout->addSpacing(4);
    layout->addLayout(buttonRow);
    setMinimumSize(360, 380);
    resize(400, 440);

    if (m_catalog.Open() == CSiteCatalog::FileState::Unreadable)
        Prompts().Message(owner, m_catalog.ProblemText(), IPrompts::Icon::Warning);
    m_tree->Populate(m_catalog.Document());
    m_name->setFocus();
}

CAddFavoritesDlg::~CAddFavoritesDlg()
{
    // The tree points into the catalogue, which would otherwise be gone
    // before the child widgets are: a label still open commits on its way out.
    delete m_tree;
}

void CAddFavoritesDlg::SetName(const QString& name)
{
    m_name->setText(CSiteCatalog::WithoutForbiddenCharacters(name));
    m_name->selectAll();
}

QString CAddFavoritesDlg::Name() const
{
    return m_name->text().trimmed();
}

QString CAddFavoritesDlg::FolderPath() const
{
    return m_tree->SelectedFolderPath();
}

bool CAddFavoritesDlg::CatalogueUnusable() const
{
    return m_writeFailed || m_catalog.State() == CSiteCatalog::FileState::Unreadable;
}

void CAddFavoritesDlg::accept()
{
    m_tree->FinishEditing();
    if (Name().isEmpty()) {
        Prompts().Message(this, QStringLiteral("You must enter a name."), IPrompts::Icon::Warning);
        m_name->setFocus();
        return;
    }
    QDialog::accept();
}

void CAddFavoritesDlg::done(int result)
{
    m_tree->FinishEditing();
    // Only folder work needs keeping; a catalogue merely looked at is left
    // as it is on disk.
    if (m_modified && m_catalog.State() != CSiteCatalog::FileState::Unreadable) {
        if (m_catalog.Write()) {
            m_modified = false;
        } else {
            m_writeFailed = true;
            Prompts().Message(this, m_catalog.ProblemText(), IPrompts::Icon::Error);
        }
    }
    QDialog::done(result);
}

bool CAddFavoritesDlg::AddSite(QWidget* owner, const CFtpSite& current, QString* storedPath)
{
    CAddFavoritesDlg dialog(owner);
    dialog.SetName(current.name);
    if (dialog.exec() != QDialog::Accepted || dialog.CatalogueUnusable())
        return false;

    CFtpSite site = current;
    site.name = dialog.Name();
    const QString folder = dialog.FolderPath();
    QString problem;
    SitePasswords::PrepareNewSite(site, &problem);
    if (!problem.isEmpty())
        Prompts().Message(owner, problem, IPrompts::Icon::Warning);
    CSiteCatalog catalog(dialog.Catalog().Path());
    if (!catalog.SaveSite(site, &folder)) {
        Prompts().Message(owner, catalog.ProblemText(), IPrompts::Icon::Error);
        return false;
    }
    if (storedPath)
        *storedPath = folder.isEmpty() ? site.name : folder + QLatin1Char('\\') + site.name;
    return true;
}
