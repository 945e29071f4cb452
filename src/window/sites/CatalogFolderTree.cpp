#include "window/sites/CatalogFolderTree.h"

#include "engine/base/Prompts.h"
#include "engine/catalog/SiteCatalog.h"
#include "window/sites/SiteNameValidator.h"
#include "window/resources/Resources.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>

#include <utility>
#include <vector>

namespace {

const QString kNameAttribute = QLatin1String(CSiteCatalog::kNameAttribute);

class FolderItem : public QTreeWidgetItem {
public:
    explicit FolderItem(CXmlNode* folder)
        : QTreeWidgetItem(UserType)
        , node(folder)
    {
    }
    CXmlNode* const node;
};

bool IsPlainKey(const QKeyEvent* event)
{
    return (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

class CCatalogFolderTree::LabelDelegate : public QStyledItemDelegate {
public:
    explicit LabelDelegate(CCatalogFolderTree* tree)
        : QStyledItemDelegate(tree)
        , m_tree(tree)
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        auto* editor = new QLineEdit(parent);
        editor->setObjectName(QStringLiteral("folderLabelEditor"));
        editor->setValidator(new CSiteNameValidator(editor));
        m_tree->m_editor = editor;
        return editor;
    }

    // The name goes to the document rather than the model: the item only
    // mirrors it.
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        if (auto* edit = qobject_cast<QLineEdit*>(editor))
            m_tree->ApplyLabel(m_tree->itemFromIndex(index), edit->text());
    }

private:
    CCatalogFolderTree* m_tree;
};

CCatalogFolderTree::CCatalogFolderTree(QWidget* parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("folderTree"));
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setUniformRowHeights(true);
    setItemDelegate(new LabelDelegate(this));
}

void CCatalogFolderTree::Populate(CXmlDocument& document)
{
    m_editor = nullptr;
    clear();
    m_document = &document;
    CXmlNode* root = document.Root();
    QString rootName = root->GetAttribute(kNameAttribute);
    if (rootName.isEmpty())
        rootName = QLatin1String(CSiteCatalog::kRootDisplayName);
    auto* rootItem = new FolderItem(root);
    rootItem->setText(0, rootName);
    rootItem->setIcon(0, kx::CatalogIconFor(kx::CatalogIcon::Root));
    rootItem->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    addTopLevelItem(rootItem);

    // A loop, not recursion: a catalogue may nest folders a thousand deep.
    std::vector<std::pair<CXmlNode*, QTreeWidgetItem*>> pending{{root, rootItem}};
    while (!pending.empty()) {
        const auto [node, item] = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < node->ChildCount(); ++i) {
            CXmlNode* child = node->ChildAt(i);
            if (CSiteCatalog::IsFolder(child))
                pending.emplace_back(child, AddItem(item, child));
        }
    }
    rootItem->setExpanded(true);
    setCurrentItem(rootItem);
}

QTreeWidgetItem* CCatalogFolderTree::AddItem(QTreeWidgetItem* parent, CXmlNode* node)
{
    auto* item = new FolderItem(node);
    item->setText(0, node->GetAttribute(kNameAttribute));
    item->setIcon(0, kx::CatalogIconFor(kx::CatalogIcon::Folder));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable);
    parent->addChild(item);
    return item;
}

QTreeWidgetItem* CCatalogFolderTree::RootItem() const
{
    return topLevelItem(0);
}

CXmlNode* CCatalogFolderTree::NodeOf(const QTreeWidgetItem* item)
{
    if (!item || item->type() != QTreeWidgetItem::UserType)
        return nullptr;
    return static_cast<const FolderItem*>(item)->node;
}

QTreeWidgetItem* CCatalogFolderTree::SelectedOrRoot() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? RootItem() : selected.first();
}

QTreeWidgetItem* CCatalogFolderTree::NewFolder()
{
    QTreeWidgetItem* parent = SelectedOrRoot();
    if (!m_document || !parent)
        return nullptr;
    FinishEditing();
    CXmlNode* node = CSiteCatalog::AddFolder(*m_document, NodeOf(parent), QStringLiteral("New Folder"));
    QTreeWidgetItem* item = AddItem(parent, node);
    parent->setExpanded(true);
    setCurrentItem(item);
    scrollToItem(item);
    emit Modified();
    editItem(item, 0);
    return item;
}

void CCatalogFolderTree::RenameSelected()
{
    QTreeWidgetItem* item = SelectedOrRoot();
    if (!item || item == RootItem())
        return;
    scrollToItem(item);
    editItem(item, 0);
}

bool CCatalogFolderTree::DeleteSelected()
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.first();
    CXmlNode* node = NodeOf(item);
    if (!m_document || !node || item == RootItem())
        return false;
    const QString question =
        QStringLiteral("Are you sure you want to remove the folder '") + item->text(0) + QStringLiteral("' and all its contents?");
    if (Prompts().AskYesNo(this, question, QStringLiteral("Confirm Folder Delete")) != IPrompts::Yes)
        return false;
    FinishEditing();
    m_document->RemoveNode(node, node->Parent());
    QTreeWidgetItem* parent = item->parent();
    delete item;
    setCurrentItem(parent);
    emit Modified();
    return true;
}

void CCatalogFolderTree::FinishEditing()
{
    if (!m_editor)
        return;
    QWidget* editor = m_editor;
    m_editor = nullptr;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void CCatalogFolderTree::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // The editor is deleted only later; until then it must not count as open.
    if (editor == m_editor)
        m_editor = nullptr;
    QTreeWidget::closeEditor(editor, hint);
}

void CCatalogFolderTree::ApplyLabel(QTreeWidgetItem* item, const QString& typed)
{
    CXmlNode* node = NodeOf(item);
    if (!node || item == RootItem())
        return;
    // Names may come in pasted or set around the validator; a folder without
    // a name could never be found by its path, so the old one stays.
    const QString name = CSiteCatalog::WithoutForbiddenCharacters(typed).trimmed();
    if (name.isEmpty() || name == node->GetAttribute(kNameAttribute))
        return;
    node->SetAttribute(kNameAttribute, name);
    item->setText(0, name);
    emit Modified();
}

QString CCatalogFolderTree::SelectedFolderPath() const
{
    return CSiteCatalog::PathOf(NodeOf(SelectedOrRoot()));
}

bool CCatalogFolderTree::SelectFolderPath(const QString& path)
{
    QTreeWidgetItem* item = RootItem();
    if (!item)
        return false;
    const QStringList names = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        QTreeWidgetItem* found = nullptr;
        for (int i = 0; i < item->childCount() && !found; ++i) {
            if (NodeOf(item->child(i))->GetAttribute(kNameAttribute).compare(name, Qt::CaseInsensitive) == 0)
                found = item->child(i);
        }
        if (!found)
            return false;
        item = found;
    }
    for (QTreeWidgetItem* above = item->parent(); above; above = above->parent())
        above->setExpanded(true);
    setCurrentItem(item);
    scrollToItem(item);
    return true;
}

void CCatalogFolderTree::keyPressEvent(QKeyEvent* event)
{
    if (state() != QAbstractItemView::EditingState && IsPlainKey(event)) {
        switch (event->key()) {
        case Qt::Key_Delete:
            DeleteSelected();
            event->accept();
            return;
        case Qt::Key_F2:
            RenameSelected();
            event->accept();
            return;
        case Qt::Key_Insert:
            NewFolder();
            event->accept();
            return;
        default:
            break;
        }
    }
    QTreeWidget::keyPressEvent(event);
}
