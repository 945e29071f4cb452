// The remote list's input: editing names in place, the mouse and the keys
// on the rows, files dropped from other programs, and the context menus.
#include "window/views/FtpListView.h"

#include "window/resources/CommandIds.h"
#include "window/views/NameDelegate.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

void CFtpListView::InstallDelegate(QAbstractItemView* view)
{
    auto* delegate = new CNameDelegate(view);
    delegate->created = [this](CNameDelegate* owner, QLineEdit* editor, const QModelIndex& index) {
        OnEditorCreated(owner, editor, index);
    };
    delegate->committed = [this](QWidget* editor, const QString& text) { OnNameCommitted(editor, text); };
    // The view connects to the delegate's end of edit when it gets it; ours
    // comes after, so the view has let go of the editor when we hear of it.
    view->setItemDelegate(delegate);
    connect(delegate, &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
                OnEditorClosed(editor, hint == QAbstractItemDelegate::RevertModelCache);
            });
}

// ---------------------------------------------------------------- editing

void CFtpListView::EditItem(int row)
{
    m_model->FlushPending();
    if (!m_model->Item(row))
        return;
    CancelEditing();
    m_slowClick.stop();
    QAbstractItemView* view = CurrentView();
    const QModelIndex index = m_model->index(row, 0);
    view->scrollTo(index);
    view->edit(index);
    if (m_editing && m_editIndex == index)
        emit EditingStarted(row);
}

QLineEdit* CFtpListView::Editor() const
{
    return m_editing ? m_editor.data() : nullptr;
}

void CFtpListView::OnEditorCreated(CNameDelegate* delegate, QLineEdit* editor, const QModelIndex& index)
{
    m_editing = true;
    m_editDelegate = delegate;
    m_editor = editor;
    m_editIndex = index;
    m_committed = false;
    m_committedText.clear();
    const quint64 session = ++m_editSession;
    // A view drops the editor without an end-of-edit when its row goes away;
    // the edit still has to end, as cancelled.
    connect(editor, &QObject::destroyed, this, [this, session] {
        if (m_editing && m_editSession == session)
            FinishEditing(false);
    });
}

void CFtpListView::OnNameCommitted(QWidget* editor, const QString& text)
{
    if (m_editing && editor == m_editor) {
        m_committed = true;
        m_committedText = text;
    }
}

void CFtpListView::OnEditorClosed(QWidget* editor, bool reverted)
{
    if (m_editing && editor == m_editor)
        FinishEditing(m_committed && !reverted);
}

void CFtpListView::FinishEditing(bool accepted)
{
    const int row = m_editIndex.isValid() ? m_editIndex.row() : -1;
    const QString text = accepted ? m_committedText : (m_editor ? m_editor->text() : QString());
    m_editing = false;
    m_editDelegate = nullptr;
    m_editor = nullptr;
    m_editIndex = QPersistentModelIndex();
    m_committed = false;
    m_committedText.clear();
    emit EditingFinished(row, text, accepted);
}

void CFtpListView::EndEditing()
{
    m_slowClick.stop();
    m_pressOnSoleSelection = false;
    CancelEditing();
}

void CFtpListView::CancelEditing()
{
    if (!m_editing)
        return;
    if (m_editor && m_editDelegate)
        m_editDelegate->Cancel(m_editor);
    if (m_editing)
        FinishEditing(false);
}

// ---------------------------------------------------------------- input

bool CFtpListView::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* view = nullptr;
    if (watched == m_iconView || watched == m_iconView->viewport())
        view = m_iconView;
    else if (watched == m_detailsView || watched == m_detailsView->viewport())
        view = m_detailsView;
    if (!view)
        return QWidget::eventFilter(watched, event);

    if (watched == view && event->type() == QEvent::KeyPress && !m_editing) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const QModelIndex current = m_selection->currentIndex();
        const int row = current.isValid() ? current.row() : FirstSelectedRow();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
            if (row >= 0)
                emit ItemActivated(row);
            return true;
        }
        if (key->key() == Qt::Key_F2 && modifiers == Qt::NoModifier) {
            if (row >= 0)
                EditItem(row);
            return true;
        }
    }

    // A press gives the focus before it is delivered; the focus event says
    // which press brought it.
    if (watched == view && event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        m_focusFromClick = reason == Qt::MouseFocusReason || reason == Qt::ActiveWindowFocusReason;
    }

    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop)
        return HandleFileDrop(static_cast<QDropEvent*>(event));

    if (watched == view->viewport()) {
        switch (event->type()) {

        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            m_slowClick.stop();
            const QModelIndex index = view->indexAt(mouse->position().toPoint());
            // Not the click that brought the keyboard into the list or the
            // window: that one only gives the focus.
            const bool bringsFocus = m_focusFromClick;
            m_focusFromClick = false;
            m_pressOnSoleSelection = mouse->button() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier
                && index.isValid() && !m_editing && !bringsFocus && IsSoleSelectedRow(index.row())
                && m_clickedIndex.isValid() && m_clickedIndex.row() == index.row();
            m_slowClickIndex = index;
            m_mayDrag = mouse->button() == Qt::LeftButton && index.isValid() && !m_editing
                && m_selection->isRowSelected(index.row(), index.parent());
            m_dragStart = mouse->position().toPoint();
            m_pressOnSeveral = m_mayDrag && !IsSoleSelectedRow(index.row());
            if (m_pressOnSeveral && mouse->modifiers() == Qt::NoModifier) {
                // A press on a selection of several rows may begin a drag of
                // all of them; the view would narrow the selection to this row.
                view->setFocus(Qt::MouseFocusReason);
                m_selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
                return true;
            }
            break;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (m_mayDrag && (mouse->buttons() & Qt::LeftButton)
                && (mouse->position().toPoint() - m_dragStart).manhattanLength() >= QApplication::startDragDistance()) {
                m_mayDrag = false;
                m_slowClick.stop();
                m_pressOnSoleSelection = false;
                emit DragRequested();
                return true;
            }
            if (m_mayDrag)
                return true;
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QModelIndex index = view->indexAt(mouse->position().toPoint());
            if (m_mayDrag && mouse->button() == Qt::LeftButton && index.isValid() && m_pressOnSeveral) {
                // A click on one row of a larger selection that never became
                // a drag selects just that row, as the press would have.
                m_selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            }
            m_mayDrag = false;
            if (m_pressOnSoleSelection && mouse->button() == Qt::LeftButton && index.isValid()
                && m_slowClickIndex.isValid() && index.row() == m_slowClickIndex.row())
                m_slowClick.start(QApplication::doubleClickInterval() + 50);
            m_pressOnSoleSelection = false;
            // Handled after the view's own press: the row this click left
            // selected is the one a later click may rename.
            if (mouse->button() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier && index.isValid()
                && IsSoleSelectedRow(index.row()))
                m_clickedIndex = index.sibling(index.row(), 0);
            break;
        }
        case QEvent::MouseButtonDblClick:
            m_slowClick.stop();
            m_pressOnSoleSelection = false;
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool CFtpListView::HandleFileDrop(QDropEvent* drop)
{
    // Local files from a file manager go up into the listed folder; the
    // views' own drag and drop of rows is not wanted here.
    QStringList paths;
    for (const QUrl& url : drop->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    if (!m_acceptsFiles || paths.isEmpty()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (drop->type() == QEvent::Drop)
        emit FilesDropped(paths);
    return true;
}

// ---------------------------------------------------------------- menus

void CFtpListView::SetCommandLookup(std::function<QAction*(int commandId)> lookup)
{
    m_lookup = std::move(lookup);
}

std::unique_ptr<QMenu> CFtpListView::CreateContextMenu(QWidget* parent) const
{
    if (!m_lookup)
        return nullptr;
    auto menu = std::make_unique<QMenu>(parent);
    const auto add = [this](QMenu* target, std::initializer_list<int> ids) {
        for (const int id : ids) {
            if (QAction* action = m_lookup(id))
                target->addAction(action);
        }
    };
    const auto addSubmenu = [&](const QString& title, std::initializer_list<int> ids) {
        auto* submenu = new QMenu(title, menu.get());
        add(submenu, ids);
        if (submenu->actions().isEmpty())
            delete submenu;
        else
            menu->addMenu(submenu);
    };

    const int first = FirstSelectedRow();
    if (first >= 0) {
        const bool folder = IsFolderItem(first);
        menu->setObjectName(folder ? QStringLiteral("FolderPopup") : QStringLiteral("FilePopup"));
        if (folder) {
            add(menu.get(), {cmd::ID_EXPLORE});
            menu->addSeparator();
        } else {
            add(menu.get(), {cmd::ID_OPEN_EDIT});
            menu->addSeparator();
        }
        add(menu.get(), {cmd::ID_DOWNLOAD, cmd::ID_DOWNLOAD_TO});
        menu->addSeparator();
        add(menu.get(), {cmd::ID_DELETE, cmd::ID_RENAME});
        menu->addSeparator();
        add(menu.get(), {cmd::ID_COPY_URL, cmd::ID_PERMISSIONS, cmd::ID_PROPERTIES});
    } else {
        menu->setObjectName(QStringLiteral("ListPopup"));
        add(menu.get(), {cmd::ID_UPLOAD});
        menu->addSeparator();
        addSubmenu(QStringLiteral("&View"),
                   {cmd::ID_VIEW_LARGEICON, cmd::ID_VIEW_SMALLICON, cmd::ID_VIEW_LIST, cmd::ID_VIEW_DETAILS});
        addSubmenu(QStringLiteral("Arrange &Icons by"),
                   {cmd::ID_SORT_NAME, cmd::ID_SORT_SIZE, cmd::ID_SORT_TYPE, cmd::ID_SORT_DATE});
        menu->addSeparator();
        addSubmenu(QStringLiteral("&New"), {cmd::ID_NEW_FOLDER, cmd::ID_CREATE_EMPTY_FILE});
        menu->addSeparator();
        add(menu.get(), {cmd::ID_REFRESH});
    }
    const QList<QAction*> actions = menu->actions();
    if (std::none_of(actions.cbegin(), actions.cend(), [](QAction* action) { return !action->isSeparator(); }))
        return nullptr;
    return menu;
}

void CFtpListView::ShowContextMenu(QAbstractItemView* view, const QPoint& pos)
{
    if (std::unique_ptr<QMenu> menu = CreateContextMenu(this))
        menu->exec(view->viewport()->mapToGlobal(pos));
}
