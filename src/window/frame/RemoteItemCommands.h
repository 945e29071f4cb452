#pragma once

#include "engine/base/RemotePath.h"
#include "window/views/GeneralPage.h"

#include <QObject>

class CFtpListView;
class CFtpSession;
class CRemotePresenter;
class QTreeWidgetItem;
class QWidget;

// The commands on remote items and folders: open, up, go to, refresh,
// delete, rename, new folder, new empty file, properties, permissions, copy
// URL, custom command. Each names what it
// acts on by absolute paths taken when it starts (the listed folder and the
// selected rows), never by a row read later, and hands the work to the
// session; the presenter keeps the views in step, the placeholder row of a
// new folder included. Rename and New Folder keep the in-place edit's state
// from its start to its end.
class CRemoteItemCommands : public QObject {
    Q_OBJECT
public:
    CRemoteItemCommands(CFtpSession& session, CRemotePresenter& presenter, CFtpListView& list, QWidget* window);

    void OnExplore();
    void OnUpOneLevel();
    bool CanGoUp() const;
    void OnRefresh();
    void OnDelete();
    void OnRename();
    void OnNewFolder();
    void OnProperties();
    // File Permissions: the selected items' modes as the listing gives them,
    // changed with SITE CHMOD, then the folder listed again to show them.
    void OnPermissions();
    // The selected items' addresses (or the listed folder's), one a line,
    // to the clipboard: never with the password.
    void OnCopyUrl();
    QStringList SelectedUrls() const;
    void OnCreateEmptyFile();
    void OnGoToFolder();
    void OnCustomCommand();
    // A click in the folder tree: that folder is listed, or the tree goes
    // back to the folder the list shows.
    void OnTreeSelectionChanged(QTreeWidgetItem* current);
    // Opens a typed folder: "\\" become "/", a relative path goes below the
    // listed folder; the tree is kept.
    void GoToFolder(const QString& typed);
    // What the Properties sheet shows for a list row.
    RemoteItemProperties PropertiesOf(int row) const;

signals:
    // Open on a file means download it.
    void DownloadRequested();

private:
    void OnEditingStarted(int row);
    void OnEditingFinished(int row, const QString& newText, bool accepted);
    // A name typed for the server; false, with a message, for one that would
    // not stay a single name in the listed folder.
    bool CheckTypedName(const QString& name);

    CFtpSession& m_session;
    CRemotePresenter& m_presenter;
    CFtpListView& m_list;
    QWidget* m_window;
    QString m_oldName;        // a row's name when its edit began
    RemotePath m_editFolder;  // the listed folder when that edit began
    bool m_newFolderPending = false;
    bool m_newFilePending = false;
};
