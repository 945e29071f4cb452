#include "window/sites/SiteManagerDlg.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/sites/ConnectionWizard.h"
#include "window/sites/ElidedLabel.h"
#include "window/sites/PasswordPlaceChoice.h"
#include "engine/catalog/SiteImporter.h"
#include "window/sites/SiteNameValidator.h"
#include "window/sites/SiteProtocolFields.h"
#include "window/resources/Resources.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kAnonymous = QStringLiteral("anonymous");

QString NameOf(const CXmlNode* node)
{
    return node->GetAttribute(QLatin1String(CSiteCatalog::kNameAttribute));
}

kx::CatalogIcon IconFor(const CXmlNode* node)
{
    if (CSiteCatalog::IsSite(node))
        return kx::CatalogIcon::Site;
    return node->Parent() ? kx::CatalogIcon::Folder : kx::CatalogIcon::Root;
}

} // namespace

CSiteManagerDlg::CSiteManagerDlg(QWidget* owner, const QString& catalogPath)
    : QDialog(owner)
    , m_catalog(catalogPath)
{
    // The desktop adds the program's name.
    setWindowTitle(QStringLiteral("Site Manager"));
    CreateControls();
    LoadTree();
    const QString last = GetProfileString(kx::settings::LastSelected);
    if (QTreeWidgetItem* item = FindItemByPath(last); item && !last.isEmpty())
        SelectItem(item);
    else
        UpdateConnectButton();
}

CSiteManagerDlg::~CSiteManagerDlg()
{
    if (!m_saved)
        m_catalog.Write();
}

void CSiteManagerDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Told once, over the dialog, not again at every save that is refused.
    if (!m_toldProblem && m_catalog.State() == CSiteCatalog::FileState::Unreadable) {
        m_toldProblem = true;
        QTimer::singleShot(0, this, [this] { Prompts().Message(this, m_catalog.ProblemText(), IPrompts::Icon::Warning); });
    }
}

void CSiteManagerDlg::LoadTree()
{
    m_catalog.Open();
    m_savedText = m_catalog.Document().Serialize();
    RebuildTree();
}

void CSiteManagerDlg::RebuildTree()
{
    m_filling = true;
    m_tree->clear();
    m_filling = false;
    CXmlNode* root = m_catalog.Document().Root();
    QTreeWidgetItem* rootItem = AddItem(nullptr, root);
    FillTree(root, rootItem);
    rootItem->setExpanded(true);
    if (!m_filter->text().isEmpty())
        ApplyFilter(m_filter->text());
    OnSelectionChanged();
}

QTreeWidgetItem* CSiteManagerDlg::AddItem(QTreeWidgetItem* parent, CXmlNode* node)
{
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
    item->setText(0, NameOf(node));
    item->setToolTip(0, NameOf(node));
    item->setIcon(0, kx::CatalogIconFor(IconFor(node)));
    item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(node)));
    if (!parent)
        item->setFlags(item->flags() & ~Qt::ItemIsDragEnabled);
    if (CSiteCatalog::IsSite(node))
        item->setFlags(item->flags() & ~Qt::ItemIsDropEnabled);
    return item;
}

void CSiteManagerDlg::FillTree(CXmlNode* node, QTreeWidgetItem* item)
{
    // Iterative, like the document itself: a hostile catalogue nested
    // thousands of levels deep must not exhaust the stack.
    std::vector<std::pair<CXmlNode*, QTreeWidgetItem*>> pending{{node, item}};
    while (!pending.empty()) {
        auto [parentNode, parentItem] = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < parentNode->ChildCount(); ++i) {
            CXmlNode* child = parentNode->ChildAt(i);
            if (!CSiteCatalog::IsFolder(child) && !CSiteCatalog::IsSite(child))
                continue;
            QTreeWidgetItem* childItem = AddItem(parentItem, child);
            if (CSiteCatalog::IsFolder(child))
                pending.emplace_back(child, childItem);
        }
    }
}

QTreeWidgetItem* CSiteManagerDlg::FindItemByPath(const QString& path) const
{
    if (path.isEmpty())
        return nullptr;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->parent() && CSiteCatalog::PathOf(CSiteTree::NodeOf(*it)).compare(path, Qt::CaseInsensitive) == 0)
            return *it;
    }
    return nullptr;
}

CXmlNode* CSiteManagerDlg::SelectedNode() const
{
    return CSiteTree::NodeOf(m_tree->currentItem());
}

void CSiteManagerDlg::SelectItem(QTreeWidgetItem* item)
{
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
}

void CSiteManagerDlg::OnSelectionChanged()
{
    if (m_filling)
        return;
    CXmlNode* node = m_tree->selectedItems().isEmpty() ? nullptr : SelectedNode();
    ShowSite(node);
}

void CSiteManagerDlg::ResetFields()
{
    for (QLineEdit* edit : {m_host, m_login, m_password, m_remotePath, m_localPath})
        edit->clear();
    m_comment->clear();
    m_port->setText(QStringLiteral("21"));
    m_retries->setText(QStringLiteral("3"));
    m_interval->setText(QStringLiteral("10"));
    m_passive->setChecked(false);
    m_anonymous->setChecked(false);
    m_encryption->setCurrentIndex(CSiteCatalog::DefaultEncryption());
    m_protocol->SetProtocol(SiteProtocol::Ftp);
    m_keyFile->SetPath(QString());
}

void CSiteManagerDlg::ShowSite(CXmlNode* node)
{
    m_filling = true;
    const bool site = CSiteCatalog::IsSite(node);
    EnableSiteFields(site);
    m_caption->SetFullText(node ? NameOf(node) : QString());
    m_nameHint->hide();
    m_droppedCharacters.clear();
    m_name->setText(node ? NameOf(node) : QString());
    m_name->setEnabled(node != nullptr);
    if (site) {
        CXmlDocument& document = m_catalog.Document();
        const CFtpSite values = CSiteCatalog::ReadSiteValues(document, node);
        m_host->setText(values.address);
        m_passive->setChecked(values.passive);
        m_retries->setText(QString::number(values.retries));
        m_interval->setText(QString::number(values.retryDelay));
        m_port->setText(QString::number(values.port));
        m_encryption->setCurrentIndex(values.encryption);
        m_protocol->SetProtocol(values.protocol);
        m_keyFile->SetPath(values.keyFile);
        ShowProtocol(values.protocol);
        m_comment->setPlainText(values.description);
        m_localPath->setText(values.localPath);
        m_remotePath->setText(values.remotePath);
        m_login->setText(values.login);
        const QString typed = m_passwords.Typed(document, node);
        m_password->setText(typed.isNull() ? values.password : typed);
        m_password->setPlaceholderText(values.passwordPlace == PasswordPlace::Keyring ? QStringLiteral("kept in the keyring")
                                       : values.passwordPlace == PasswordPlace::Ask   ? QStringLiteral("asked when connecting")
                                                                                      : QString());
        WriteProfileString(kx::settings::LastSelected, CSiteCatalog::PathOf(node));
    } else {
        ResetFields();
    }
    m_savedLogin = m_login->text();
    m_savedPassword = m_password->text();
    const bool anonymous = m_login->text().compare(kAnonymous, Qt::CaseInsensitive) == 0;
    m_anonymous->setChecked(anonymous);
    ShowPassword(anonymous);
    m_filling = false;
    UpdateConnectButton();
}

void CSiteManagerDlg::EnableSiteFields(bool enable)
{
    for (QWidget* widget : std::as_const(m_siteWidgets))
        widget->setEnabled(enable);
}

void CSiteManagerDlg::ShowPassword(bool plain)
{
    m_password->setEchoMode(plain ? QLineEdit::Normal : QLineEdit::Password);
}

void CSiteManagerDlg::UpdateConnectButton()
{
    // An empty host is refused with a word when Connect is chosen, rather
    // than by a button that stays grey without saying why.
    m_connect->setEnabled(CSiteCatalog::IsSite(SelectedNode()));
}

void CSiteManagerDlg::OnNameEdited(const QString& text)
{
    CXmlNode* node = SelectedNode();
    if (m_filling || !node)
        return;
    m_caption->SetFullText(text);
    node->SetAttribute(QLatin1String(CSiteCatalog::kNameAttribute), CSiteCatalog::CleanName(text));
    m_tree->currentItem()->setText(0, text);
    m_tree->currentItem()->setToolTip(0, text);
    if (CSiteCatalog::IsSite(node))
        WriteProfileString(kx::settings::LastSelected, CSiteCatalog::PathOf(node));
}

void CSiteManagerDlg::OnNameCharactersDropped(const QString& dropped)
{
    // Typed one at a time, they are still named together.
    for (const QChar c : dropped) {
        if (!m_droppedCharacters.contains(c))
            m_droppedCharacters += c;
    }
    QStringList shown;
    for (const QChar c : std::as_const(m_droppedCharacters))
        shown << QString(c);
    m_nameHint->setText(QStringLiteral("Left out: %1\nA name cannot hold any of %2")
                            .arg(shown.join(QLatin1Char(' ')), CSiteNameValidator::ForbiddenCharactersText()));
    m_nameHint->show();
}

void CSiteManagerDlg::SetChild(const char* element, const QString& value)
{
    CXmlNode* node = SelectedNode();
    if (m_filling || !CSiteCatalog::IsSite(node))
        return;
    m_catalog.Document().SetChildText(node, QLatin1String(element), value);
}

void CSiteManagerDlg::OnNumberFinished(const NumberField& field)
{
    CXmlNode* node = SelectedNode();
    if (m_filling || !CSiteCatalog::IsSite(node))
        return;
    QLineEdit* edit = this->*field.edit;
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    if (ok && value >= field.minimum && value <= field.maximum) {
        SetChild(field.element, QString::number(value));
        return;
    }
    const QString stored = m_catalog.Document().GetChildText(node, QLatin1String(field.element));
    m_filling = true;
    edit->setText(QString::number(CSiteCatalog::ToInt(stored)));
    m_filling = false;
    Prompts().Message(this,
                      QStringLiteral("Enter %1 from %2 to %3. The stored value %4 was kept.")
                          .arg(QLatin1String(field.what))
                          .arg(field.minimum)
                          .arg(field.maximum)
                          .arg(CSiteCatalog::ToInt(stored)),
                      IPrompts::Icon::Warning);
}

void CSiteManagerDlg::OnLoginEdited(const QString& text)
{
    SetChild(CSiteCatalog::kLogin, text);
    if (m_filling || !CSiteCatalog::IsSite(SelectedNode()))
        return;
    if (text.compare(kAnonymous, Qt::CaseInsensitive) != 0) {
        ShowPassword(false);
        m_anonymous->setChecked(false);
    }
}

void CSiteManagerDlg::OnAnonymousClicked(bool checked)
{
    if (!CSiteCatalog::IsSite(SelectedNode()))
        return;
    m_filling = true;
    if (checked) {
        m_login->setText(kAnonymous);
        m_password->setText(GetProfileString(kx::settings::EmailAddress));
    } else {
        m_login->setText(m_savedLogin);
        m_password->setText(m_savedPassword);
    }
    ShowPassword(checked);
    m_filling = false;
    SetChild(CSiteCatalog::kLogin, m_login->text());
    OnPasswordEdited(m_password->text());
}

void CSiteManagerDlg::OnPasswordEdited(const QString& password)
{
    if (CXmlNode* node = SelectedNode(); CSiteCatalog::IsSite(node))
        m_passwords.Edited(m_catalog.Document(), node, password);
}

void CSiteManagerDlg::OnEncryptionChosen(int choice)
{
    if (!CSiteCatalog::IsSite(SelectedNode()))
        return;
    SetChild(CSiteCatalog::kEncryption, QString::number(choice));
    FollowPort(m_protocol->Protocol(), choice);
}

void CSiteManagerDlg::OnProtocolChosen(int)
{
    CXmlNode* node = SelectedNode();
    if (!CSiteCatalog::IsSite(node))
        return;
    const SiteProtocol protocol = m_protocol->Protocol();
    // Choosing FTP again must not add an element to a site of an older
    // catalogue: the file would change, and closing would ask about it.
    if (CSiteCatalog::ReadSiteValues(m_catalog.Document(), node).protocol == protocol)
        return;
    SetChild(CSiteCatalog::kProtocol, QString::number(static_cast<qint32>(protocol)));
    FollowPort(protocol, m_encryption->currentIndex());
    ShowProtocol(protocol);
}

void CSiteManagerDlg::FollowPort(SiteProtocol protocol, qint32 encryption)
{
    const QString wanted = FollowingPort(m_port->text(), protocol, encryption);
    if (wanted == m_port->text())
        return;
    m_port->setText(wanted);
    SetChild(CSiteCatalog::kPort, wanted);
}

void CSiteManagerDlg::ShowProtocol(SiteProtocol protocol)
{
    EnableFtpOnly({m_encryption, m_passive}, protocol);
    m_keyFile->setEnabled(protocol == SiteProtocol::Sftp);
}

void CSiteManagerDlg::OnBrowse()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Select a directory:"), m_localPath->text());
    if (chosen.isEmpty())
        return;
    m_localPath->setText(chosen);
    SetChild(CSiteCatalog::kLocalPath, chosen);
}

CXmlNode* CSiteManagerDlg::TargetFolder() const
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item)
        return nullptr;
    CXmlNode* node = CSiteTree::NodeOf(item);
    return CSiteCatalog::IsContainer(node) ? node : node->Parent();
}

void CSiteManagerDlg::OnNewFolder()
{
    CXmlNode* folder = TargetFolder();
    if (!folder)
        return;
    QTreeWidgetItem* parentItem = CSiteCatalog::IsContainer(SelectedNode()) ? m_tree->currentItem()
                                                                            : m_tree->currentItem()->parent();
    CXmlNode* node = CSiteCatalog::AddFolder(m_catalog.Document(), folder, QStringLiteral("New Folder"));
    SelectItem(AddItem(parentItem, node));
    m_name->setFocus();
    m_name->selectAll();
}

void CSiteManagerDlg::OnNewSite()
{
    CXmlNode* selected = SelectedNode();
    CXmlNode* folder = TargetFolder();
    if (!folder)
        return;
    QTreeWidgetItem* parentItem = CSiteCatalog::IsContainer(selected) ? m_tree->currentItem()
                                                                      : m_tree->currentItem()->parent();
    // Never a copy of the selected site: its host, login and password would
    // go along unseen into a site meant for somebody else.
    CFtpSite values = CSiteCatalog::DefaultSite();
    values.name = QStringLiteral("New Site");
    CXmlNode* node = CSiteCatalog::AddSite(m_catalog.Document(), folder, values);
    SelectItem(AddItem(parentItem, node));
    m_name->setFocus();
    m_name->selectAll();
}

void CSiteManagerDlg::OnDelete()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || !item->parent())
        return;
    const bool folder = CSiteCatalog::IsFolder(CSiteTree::NodeOf(item));
    const QString question = folder
        ? QStringLiteral("Are you sure you want to remove the folder '%1' and all its contents?").arg(item->text(0))
        : QStringLiteral("Are you sure you want to remove '%1'?").arg(item->text(0));
    const QString caption = folder ? QStringLiteral("Confirm Folder Delete") : QStringLiteral("Confirm Favorite Delete");
    if (Prompts().AskYesNo(this, question, caption) != IPrompts::Yes)
        return;
    m_passwords.Removed(m_catalog.Document(), CSiteTree::NodeOf(item));
    if (m_catalog.Document().RemoveNode(CSiteTree::NodeOf(item)))
        delete item;
}

void CSiteManagerDlg::MoveItem(QTreeWidgetItem* source, QTreeWidgetItem* target)
{
    if (!CSiteTree::AcceptsDrop(source, target) || source->parent() == target)
        return;
    CXmlDocument& document = m_catalog.Document();
    CXmlNode* from = CSiteTree::NodeOf(source);
    CXmlNode* copy = document.AddChild(CSiteTree::NodeOf(target), from->Name());
    copy->CopyFrom(*from);
    document.RemoveNode(from);
    m_filling = true;
    delete source;
    QTreeWidgetItem* moved = AddItem(target, copy);
    FillTree(copy, moved);
    m_filling = false;
    target->setExpanded(true);
    SelectItem(moved);
}

void CSiteManagerDlg::ApplyFilter(const QString& text)
{
    const QString wanted = text.trimmed();
    QTreeWidgetItem* root = m_tree->topLevelItemCount() ? m_tree->topLevelItem(0) : nullptr;
    if (!root)
        return;
    // Post-order by hand: a folder shows when one of its sites does.
    std::vector<std::pair<QTreeWidgetItem*, bool>> stack{{root, false}};
    while (!stack.empty()) {
        QTreeWidgetItem* const done = stack.back().first;
        if (!stack.back().second) {
            stack.back().second = true;
            for (int i = done->childCount() - 1; i >= 0; --i)
                stack.emplace_back(done->child(i), false);
            continue;
        }
        stack.pop_back();
        bool visible = wanted.isEmpty() || !done->parent();
        CXmlNode* node = CSiteTree::NodeOf(done);
        if (!visible && CSiteCatalog::IsSite(node)) {
            visible = done->text(0).contains(wanted, Qt::CaseInsensitive)
                || m_catalog.Document().GetChildText(node, QLatin1String(CSiteCatalog::kAddress)).contains(wanted, Qt::CaseInsensitive);
        }
        for (int i = 0; !visible && i < done->childCount(); ++i)
            visible = !done->child(i)->isHidden();
        done->setHidden(!visible);
        if (!wanted.isEmpty() && visible && done->childCount())
            done->setExpanded(true);
    }
    // The form must never show a site the tree hides: Enter would connect
    // to it. The first site left in view takes its place, or none at all.
    QTreeWidgetItem* current = m_tree->currentItem();
    bool hidden = false;
    for (QTreeWidgetItem* up = current; up && !hidden; up = up->parent())
        hidden = up->isHidden();
    if ((current && !hidden) || (!current && wanted.isEmpty()))
        return;
    if (QTreeWidgetItem* first = FirstVisibleSite()) {
        SelectItem(first);
    } else {
        m_filling = true;
        m_tree->clearSelection();
        m_tree->setCurrentItem(nullptr);
        m_filling = false;
        ShowSite(nullptr);
    }
}

QTreeWidgetItem* CSiteManagerDlg::FirstVisibleSite() const
{
    for (QTreeWidgetItemIterator it(m_tree, QTreeWidgetItemIterator::NotHidden); *it; ++it) {
        if (CSiteCatalog::IsSite(CSiteTree::NodeOf(*it)))
            return *it;
    }
    return nullptr;
}

void CSiteManagerDlg::OnWizard()
{
    // The wizard stores through the file: what was edited here must be in it
    // first, or reading the file back afterwards would lose it.
    if (!m_catalog.Write() && m_catalog.State() != CSiteCatalog::FileState::Unreadable) {
        Prompts().Message(this, m_catalog.ProblemText(), IPrompts::Icon::Error);
        return;
    }
    QString newSite;
    bool connectNow = false;
    if (!RunConnectionWizard(this, newSite, connectNow))
        return;
    LoadTree();
    if (QTreeWidgetItem* item = FindItemByPath(newSite))
        SelectItem(item);
    if (connectNow)
        OnConnect();
}

void CSiteManagerDlg::OnImport()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Import Sites"), QString(),
                                                      QStringLiteral("FileZilla site files (sitemanager.xml *.xml);;All files (*)"));
    if (!file.isEmpty())
        ImportFrom(file);
}

void CSiteManagerDlg::ImportFrom(const QString& fileName)
{
    CXmlNode* folder = TargetFolder();
    const QString folderPath = folder ? CSiteCatalog::PathOf(folder) : QString();
    const SiteImportResult result = ImportFileZillaSites(fileName, m_catalog.Document(), folder);
    if (!result.error.isEmpty()) {
        Prompts().Message(this, result.error, IPrompts::Icon::Warning);
        return;
    }
    // Like every other edit, the import reaches the file when the dialog closes.
    RebuildTree();
    if (QTreeWidgetItem* item = folder && folder->Parent() ? FindItemByPath(folderPath) : m_tree->topLevelItem(0)) {
        item->setExpanded(true);
        SelectItem(item);
    }
    Prompts().Message(this, DescribeImport(result), IPrompts::Icon::Information);
}

void CSiteManagerDlg::OnConnect()
{
    CXmlNode* node = SelectedNode();
    if (!CSiteCatalog::IsSite(node))
        return;
    if (m_host->text().trimmed().isEmpty()) {
        Prompts().Message(this, QStringLiteral("Enter the host address of \"%1\" before connecting to it.").arg(NameOf(node)),
                          IPrompts::Icon::Warning);
        m_host->setFocus();
        return;
    }
    m_chosen = CSiteCatalog::ReadSiteValues(m_catalog.Document(), node);
    m_chosen.name = NameOf(node);
    m_chosenPath = CSiteCatalog::PathOf(node);
    accept();
}

bool CSiteManagerDlg::NumberBeingTyped()
{
    CXmlNode* node = SelectedNode();
    if (!CSiteCatalog::IsSite(node))
        return false;
    for (const NumberField& field : NumberFields()) {
        QLineEdit* edit = this->*field.edit;
        if (edit->hasFocus()
            && edit->text() != QString::number(CSiteCatalog::ToInt(m_catalog.Document().GetChildText(node, QLatin1String(field.element)))))
            return true;
    }
    return false;
}

bool CSiteManagerDlg::HasChanges()
{
    return !m_passwords.IsEmpty() || NumberBeingTyped() || m_catalog.Document().Serialize() != m_savedText;
}

void CSiteManagerDlg::reject()
{
    if (!m_saved && HasChanges()) {
        const IPrompts::Answer keep =
            Prompts().AskYesNo(this, QStringLiteral("Keep the changes you made to your sites?"), QStringLiteral("Site Manager"));
        m_discard = keep != IPrompts::Yes;
    }
    QDialog::reject();
}

void CSiteManagerDlg::done(int result)
{
    if (m_discard && !m_saved) {
        // Nothing of this visit reaches the file or the keyring.
        m_saved = true;
        QDialog::done(result);
        return;
    }
    // A number half-typed when the dialog closes is refused like any other.
    if (QWidget* focus = focusWidget(); focus == m_port || focus == m_retries || focus == m_interval)
        static_cast<QLineEdit*>(focus)->clearFocus();
    if (!m_saved) {
        m_saved = true;
        const QStringList problems = m_passwords.Apply(m_catalog.Document());
        if (!problems.isEmpty())
            Prompts().Message(this, problems.join(QLatin1Char('\n')), IPrompts::Icon::Warning);
        if (!m_catalog.Write() && m_catalog.State() != CSiteCatalog::FileState::Unreadable)
            Prompts().Message(this, m_catalog.ProblemText(), IPrompts::Icon::Error);
        // Connect took the site before its typed password found its place.
        if (result == QDialog::Accepted && !m_chosenPath.isEmpty())
            if (CXmlNode* node = CSiteTree::NodeOf(FindItemByPath(m_chosenPath))) {
                const QString name = m_chosen.name;
                m_chosen = CSiteCatalog::ReadSiteValues(m_catalog.Document(), node);
                m_chosen.name = name;
            }
    }
    QDialog::done(result);
}
