#include "window/frame/RemoteItemCommands.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/session/FtpSession.h"
#include "window/frame/RemotePresenter.h"
#include "window/views/CustomCommandDlg.h"
#include "window/views/FtpListView.h"
#include "window/views/GoToFolderDlg.h"
#include "window/views/PermissionsDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMap>

CRemoteItemCommands::CRemoteItemCommands(CFtpSession& session, CRemotePresenter& presenter, CFtpListView& list,
                                         QWidget* window)
    : QObject(window), m_session(session), m_presenter(presenter), m_list(list), m_window(window)
{
    connect(&m_list, &CFtpListView::ItemActivated, this, [this] { OnExplore(); });
    connect(&m_list, &CFtpListView::EditingStarted, this, &CRemoteItemCommands::OnEditingStarted);
    connect(&m_list, &CFtpListView::EditingFinished, this, &CRemoteItemCommands::OnEditingFinished);
}

void CRemoteItemCommands::OnTreeSelectionChanged(QTreeWidgetItem* current)
{
    // Only the user's own clicks arrive here: the presenter moves the
    // selection without announcing it.
    if (!current)
        return;
    // Refused while busy, or the folder would not open: the tree goes back
    // to the folder the list shows.
    if (!m_session.ListFolder(m_presenter.PathOfNode(current), false))
        m_presenter.ShowListedFolderInTree();
}

void CRemoteItemCommands::OnRefresh()
{
    m_session.ListFolder(m_session.ListedPath(), true);
}

void CRemoteItemCommands::OnExplore()
{
    const int row = m_list.FirstSelectedRow();
    if (row < 0 || m_session.IsBusy())
        return;
    if (!m_list.IsFolderItem(row)) {
        emit DownloadRequested();
        return;
    }
    const QString name = m_list.ItemName(row);
    m_session.Trace(TRACE_COMMAND, QStringLiteral("Changing Folder: \"%1\"").arg(name));
    m_session.ListFolder(m_session.ListedPath().Child(name), false);
}

bool CRemoteItemCommands::CanGoUp() const
{
    // Up to the server's root, as the tree shows it.
    const RemotePath& listed = m_session.ListedPath();
    return !listed.IsEmpty() && !listed.IsRoot();
}

void CRemoteItemCommands::OnUpOneLevel()
{
    if (CanGoUp())
        m_session.ListFolder(m_session.ListedPath().Parent(), false);
}

void CRemoteItemCommands::OnDelete()
{
    const QList<int> rows = m_list.SelectedRows();
    if (rows.isEmpty())
        return;
    if (kx::GetProfileInt(kx::settings::DeleteConfirmation)) {
        QString question;
        QString caption;
        if (rows.size() > 1) {
            question = QStringLiteral("Are you sure you want to delete these %1 items?").arg(rows.size());
            caption = QStringLiteral("Confirm Multiple File Delete");
        } else if (m_list.IsFolderItem(rows.first())) {
            question = QStringLiteral("Are you sure you want to remove the folder '%1' and all its contents?")
                           .arg(m_list.ItemName(rows.first()));
            caption = QStringLiteral("Confirm Folder Delete");
        } else {
            question = QStringLiteral("Are you sure you want to delete '%1'?").arg(m_list.ItemName(rows.first()));
            caption = QStringLiteral("Confirm File Delete");
        }
        if (Prompts().AskYesNo(m_window, question, caption) != IPrompts::Yes)
            return;
    }
    // Named now, in the folder on screen now: whatever the views do while the
    // delete runs cannot change what it deletes.
    const RemotePath folder = m_session.ListedPath();
    QList<RemoteItem> items;
    for (const int row : rows)
        items.append({folder.Child(m_list.ItemName(row)), m_list.IsFolderItem(row)});
    m_session.DeleteItems(items);
}

void CRemoteItemCommands::OnRename()
{
    const int row = m_list.FirstSelectedRow();
    if (!m_session.HasConnection() || row < 0)
        return;
    m_oldName = m_list.ItemName(row);
    m_editFolder = m_session.ListedPath();
    m_list.FocusList();
    m_list.EditItem(row);
}

void CRemoteItemCommands::OnNewFolder()
{
    const int row = m_presenter.AddNewFolderRow();
    if (row < 0)
        return;
    m_list.SelectItem(row);
    m_list.FocusList();
    m_newFolderPending = true;
    m_editFolder = m_session.ListedPath();
    m_list.EditItem(row);
    if (QLineEdit* editor = m_list.Editor()) {
        editor->setText(QStringLiteral("New Folder"));
        editor->selectAll();
    }
}

void CRemoteItemCommands::OnCreateEmptyFile()
{
    const int row = m_presenter.AddNewFileRow();
    if (row < 0)
        return;
    m_list.SelectItem(row);
    m_list.FocusList();
    m_newFilePending = true;
    m_editFolder = m_session.ListedPath();
    m_list.EditItem(row);
    if (QLineEdit* editor = m_list.Editor()) {
        // The name ready to be typed over, the extension kept.
        editor->setText(QStringLiteral("New File.txt"));
        editor->setSelection(0, int(QStringLiteral("New File").size()));
    }
}

void CRemoteItemCommands::OnEditingStarted(int row)
{
    if (!m_newFolderPending && !m_newFilePending) {
        m_oldName = m_list.ItemName(row);
        m_editFolder = m_session.ListedPath();
    }
}

bool CRemoteItemCommands::CheckTypedName(const QString& name)
{
    if (RemotePath::IsValidName(name))
        return true;
    // Said before anything goes to the server: "../x" or "a/b" would make
    // the folder somewhere else than the row claims.
    Prompts().Message(m_window,
                      QStringLiteral("\"%1\" cannot be used as a name. A name may not be \".\" or \"..\", "
                                     "nor hold \"/\" or a line break.").arg(name),
                      IPrompts::Icon::Warning);
    return false;
}

void CRemoteItemCommands::OnEditingFinished(int row, const QString& newText, bool accepted)
{
    const bool pending = m_newFolderPending;
    m_newFolderPending = false;
    const bool newFile = m_newFilePending;
    m_newFilePending = false;
    const bool haveText = accepted && !newText.isEmpty();
    if (!haveText || !m_session.HasConnection() || !CheckTypedName(newText)) {
        if (pending || newFile)
            m_presenter.RemoveNewFolderRow(row);
        return;
    }
    if (newFile) {
        // An empty file written over one that exists would empty it.
        const int existing = m_list.FindRow(newText);
        if (existing >= 0 && existing != row) {
            m_presenter.RemoveNewFolderRow(row);
            Prompts().Message(m_window, QStringLiteral("\"%1\" exists already; nothing was created.").arg(newText),
                              IPrompts::Icon::Warning);
            return;
        }
        m_presenter.NameNewFolderRow(row, newText);
        if (!m_session.CreateEmptyFile(m_editFolder.Child(newText)))
            m_presenter.RemoveNewFolderRow(row);
        return;
    }
    if (pending) {
        m_presenter.NameNewFolderRow(row, newText);
        if (!m_session.MakeFolder(m_editFolder.Child(newText)))
            m_presenter.RemoveNewFolderRow(row);
    } else {
        m_session.Rename(m_editFolder.Child(m_oldName), m_editFolder.Child(newText));
    }
}

RemoteItemProperties CRemoteItemCommands::PropertiesOf(int row) const
{
    RemoteItemProperties item;
    item.folder = m_list.IsFolderItem(row);
    item.name = m_list.ItemName(row);
    item.sizeText = m_list.ItemText(row, 1);
    item.bytes = m_list.GetItemSize(row);
    item.type = m_list.ItemText(row, 2);
    item.date = m_list.ItemText(row, 3);
    item.location = m_session.ListedPath().Child(item.name).ToString();
    if (const FtpListItem* listed = m_list.Item(row)) {
        item.owner = listed->owner;
        item.group = listed->group;
        item.permissions = listed->permissions;
    }
    return item;
}

void CRemoteItemCommands::OnProperties()
{
    const int row = m_list.FirstSelectedRow();
    if (row >= 0)
        CPropertiesSheet(PropertiesOf(row), m_window).exec();
}

void CRemoteItemCommands::OnPermissions()
{
    const QList<int> rows = m_list.SelectedRows();
    if (rows.isEmpty() || !m_session.HasConnection() || m_session.IsBusy())
        return;
    const RemotePath folder = m_session.ListedPath();
    QStringList names;
    QList<int> modes;
    QList<RemoteItem> items;
    bool anyFolder = false;
    for (const int row : rows) {
        const FtpListItem* listed = m_list.Item(row);
        names << m_list.ItemName(row);
        modes << (listed ? ModeOfPermissionText(listed->permissions) : -1);
        items.append({folder.Child(m_list.ItemName(row)), m_list.IsFolderItem(row)});
        anyFolder = anyFolder || m_list.IsFolderItem(row);
    }
    CPermissionsDlg dialog(names, modes, anyFolder, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // A box left half ticked keeps each item's own bit: the items go in
    // groups of the mode each ends up with.
    const int mixed = dialog.MixedBits();
    QMap<int, QList<RemoteItem>> byMode;
    for (qsizetype i = 0; i < items.size(); ++i)
        byMode[dialog.Mode() | (modes[i] >= 0 ? modes[i] & mixed : 0)].append(items[i]);
    for (auto group = byMode.cbegin(); group != byMode.cend(); ++group) {
        if (m_session.ChangePermissions(group.value(), group.key(), dialog.Scope()))
            continue;
        // A server that does not know the command is told so once.
        const QString reply = m_session.GetLastResponse();
        if (!m_session.HasConnection() || reply.startsWith(QLatin1String("500")) || reply.startsWith(QLatin1String("502"))
            || reply.startsWith(QLatin1String("504")))
            break;
    }
    // The modes as the server has them now.
    if (m_session.HasConnection() && m_session.ListedPath() == folder)
        m_session.ListFolder(folder, true);
}

QStringList CRemoteItemCommands::SelectedUrls() const
{
    const QString scheme = UrlSchemeOf(m_session.Site());
    const QString& user = m_session.Site().login;
    const RemotePath folder = m_session.ListedPath();
    QList<RemotePath> paths;
    for (const int row : m_list.SelectedRows())
        paths << folder.Child(m_list.ItemName(row));
    if (paths.isEmpty())
        paths << folder;
    QStringList urls;
    for (const RemotePath& path : std::as_const(paths))
        urls << path.Url(scheme, user, m_session.Server(), m_session.Port());
    return urls;
}

void CRemoteItemCommands::OnCopyUrl()
{
    if (!m_session.HasConnection() || m_session.ListedPath().IsEmpty())
        return;
    QApplication::clipboard()->setText(SelectedUrls().join(QLatin1Char('\n')));
}

void CRemoteItemCommands::OnGoToFolder()
{
    CGoToFolderDlg dialog(m_window);
    if (dialog.exec() == QDialog::Accepted)
        GoToFolder(dialog.Path());
}

void CRemoteItemCommands::GoToFolder(const QString& typed)
{
    if (typed.isEmpty())
        return;
    QString path = typed;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const RemotePath& listed = m_session.ListedPath();
    const RemotePath target = (listed.IsEmpty() ? m_session.HomeFolder() : listed).Resolve(path);
    if (m_session.IsBusy())
        return;
    if (m_session.ChangeFolder(target.ToString())) {
        m_session.OpenPath(&target, true);
        if (m_session.ListedPath() == target)
            return;
    }
    if (!m_session.HasConnection())
        return;
    // The user looked at the dialog, not at the Trace: the answer goes where
    // they are looking.
    const QString reply = m_session.GetLastResponse();
    Prompts().Message(m_window,
                      QStringLiteral("The folder \"%1\" could not be opened.").arg(target.ToString())
                          + (reply.isEmpty() ? QString() : QStringLiteral("\n\nThe server said: %1").arg(reply)),
                      IPrompts::Icon::Warning);
}

void CRemoteItemCommands::OnCustomCommand()
{
    CCustomCommandDlg dialog(m_window);
    if (dialog.exec() == QDialog::Accepted)
        m_session.SendCustomCommand(dialog.Command());
}
