#include "window/frame/CommandTable.h"

#include "window/resources/CommandIds.h"

#include <QAction>
#include <QKeySequence>

namespace CommandTable {

namespace {

using namespace cmd;
constexpr QStyle::StandardPixmap kNoIcon = QStyle::SP_CustomBase;
constexpr KeyScope kWindow = KeyScope::Window;
constexpr KeyScope kViews = KeyScope::Views;

} // namespace

const QList<Entry>& Entries()
{
    // Letters are unique within each menu, keys within the window. Download
    // and Upload take Ctrl+S ("save it here") and Ctrl+U, which nothing else
    // uses and a text field that has the focus keeps for itself, as it does
    // Ctrl+C.
    static const QList<Entry> entries{
        {ID_CONNECT, "&Connect...", "Ctrl+C", kWindow, "Connects to a site chosen in the Site Manager", QStyle::SP_DriveNetIcon},
        {ID_DISCONNECT, "&Disconnect", "Ctrl+D", kWindow, "Closes the connection to the server", QStyle::SP_DialogCloseButton},
        {ID_CANCEL, "C&ancel", "Esc", kWindow, "Stops the operation that is running", QStyle::SP_BrowserStop},
        {ID_CONNECTION_WIZARD, "Connection &Wizard...", "", kWindow, "Adds a new site step by step", QStyle::SP_ComputerIcon},
        {ID_DOWNLOAD, "Dow&nload", "Ctrl+S", kWindow, "Downloads the selected files and folders into the Local Browser's folder",
         QStyle::SP_ArrowDown},
        {ID_DOWNLOAD_TO, "Download &to...", "", kWindow, "Downloads the selected files and folders into a folder you choose",
         QStyle::SP_DialogSaveButton},
        {ID_UPLOAD, "&Upload...", "Ctrl+U", kWindow, "Uploads files you choose into the folder on display", QStyle::SP_ArrowUp},
        {ID_UPLOAD_FOLDER, "Upload &Folder...", "", kWindow, "Uploads a folder you choose, with everything in it, into the folder on display",
         QStyle::SP_DirIcon},
        {ID_UPLOAD_LOCAL_SELECTION, "&Upload", "", kWindow, "Uploads the selected files and folders into the remote folder on display",
         kNoIcon},
        {ID_NEW_FOLDER, "N&ew Folder", "", kWindow, "Makes a new folder in the folder on display", QStyle::SP_FileDialogNewFolder},
        {ID_RENAME, "&Rename", "F2", kViews, "Renames the selected file or folder", kNoIcon},
        {ID_DELETE, "De&lete", "Del", kViews, "Deletes the selected files and folders from the server", QStyle::SP_TrashIcon},
        {ID_EXPLORE, "&Explore", "Return", kViews, "Opens the selected folder, or downloads the selected file", kNoIcon},
        {ID_CUSTOM_COMMAND, "&Custom Command...", "", kWindow, "Sends a command you type to the server", QStyle::SP_CommandLink},
        {ID_UP_ONE_LEVEL, "Go &Up One Level", "Backspace", kViews, "Shows the folder above the one on display",
         QStyle::SP_FileDialogToParent},
        {ID_REFRESH, "&Refresh", "F5", kWindow, "Lists the folder on display again", QStyle::SP_BrowserReload},
        {ID_GO_TO_FOLDER, "&Go To Folder...", "", kWindow, "Opens a folder by its path", QStyle::SP_DirOpenIcon},
        {ID_SELECT_ALL, "Select &All", "Ctrl+A", kViews, "Selects every file and folder in the list", kNoIcon},
        {ID_INVERT_SELECTION, "In&vert Selection", "", kWindow, "Selects what is not selected, and the other way round", kNoIcon},
        {ID_PROPERTIES, "&Properties", "", kWindow, "Shows the size, date, owner and permissions of the selected item",
         QStyle::SP_FileDialogInfoView},
        {ID_OPEN_EDIT, "&Open and Edit", "F4", kViews,
         "Opens the selected files in their programs and uploads them again when they are saved", QStyle::SP_FileIcon},
        {ID_EDITED_FILES, "Files Being &Edited...", "", kWindow,
         "Lists the files opened for editing: upload them now, stop watching them, delete their copies", kNoIcon},
        {ID_PERMISSIONS, "File Perm&issions...", "", kWindow, "Changes who may read, write and run the selected items",
         kNoIcon},
        {ID_COPY_URL, "&Copy URL", "", kWindow, "Copies the addresses of the selected items, without the password",
         kNoIcon},
        {ID_CREATE_EMPTY_FILE, "Create E&mpty File", "", kWindow, "Makes a new empty file in the folder on display",
         kNoIcon},
        {ID_VIEW_SMALLICON, "S&mall Icons", "", kWindow, "Shows the files as small icons", kNoIcon},
        {ID_VIEW_LARGEICON, "Large Ic&ons", "", kWindow, "Shows the files as large icons", kNoIcon},
        {ID_VIEW_LIST, "&List", "", kWindow, "Shows the files as a list of names", kNoIcon},
        {ID_VIEW_DETAILS, "&Details", "", kWindow, "Shows the files with their size, type and date", QStyle::SP_FileDialogDetailedView},
        {ID_SORT_NAME, "&Name", "", kWindow, "Sorts the files by name", kNoIcon},
        {ID_SORT_SIZE, "&Size", "", kWindow, "Sorts the files by size", kNoIcon},
        {ID_SORT_TYPE, "&Type", "", kWindow, "Sorts the files by type", kNoIcon},
        {ID_SORT_DATE, "&Date", "", kWindow, "Sorts the files by the date they were changed", kNoIcon},
        {ID_NEXT_PANE, "Next &Pane", "F6", kWindow, "Moves the keyboard to the next pane", kNoIcon},
        {ID_PREVIOUS_PANE, "Previous Pa&ne", "Shift+F6", kWindow, "Moves the keyboard to the pane before", kNoIcon},
        {ID_ADD_TO_FAVORITES, "&Add to Favorites...", "Ctrl+F", kWindow, "Keeps the connected site and folder among your favorites",
         QStyle::SP_DialogYesButton},
        {ID_ORGANIZE_FAVORITES, "&Organize Favorites...", "Ctrl+E", kWindow, "Opens the Site Manager to arrange your sites",
         kNoIcon},
        {ID_TRANSFER_ASCII, "&Ascii", "", kWindow, "Transfers files as text, with the line ends of the other side", kNoIcon},
        {ID_TRANSFER_BINARY, "&Binary", "", kWindow, "Transfers files byte for byte", kNoIcon},
        {ID_OPTIONS, "&Options...", "", kWindow, "Changes the program's settings", kNoIcon},
        {ID_GO_SITE_DOWNLOAD_FOLDER, "Go to &site's download folder", "", kWindow,
         "Shows the download folder of the site (the last one after a disconnect) in the Local Browser", kNoIcon},
        {ID_GO_DEFAULT_DOWNLOAD_FOLDER, "Go to de&fault download folder", "", kWindow,
         "Shows the default download folder in the Local Browser", kNoIcon},
        {ID_STORE_SITE_LOCAL_PATH, "S&tore as the site's download folder", "", kWindow,
         "Makes the Local Browser's folder the connected site's download folder", kNoIcon},
        {ID_VIEWS_DROPDOWN, "Views", "", kWindow, "Chooses how the files are shown", QStyle::SP_FileDialogListView},
        {ID_COMPARE_FOLDERS, "&Compare Folders", "Ctrl+O", kWindow,
         "Marks the files that differ between the Local Browser's folder and the remote one",
         QStyle::SP_TitleBarNormalButton},
        {ID_COMPARE_BY_SIZE, "&Size", "", kWindow, "Compares files by their size alone", kNoIcon},
        {ID_COMPARE_BY_SIZE_AND_TIME, "Size and &Time", "", kWindow,
         "Compares files by their size and the time they were changed", kNoIcon},
        {ID_HIDE_IDENTICAL, "&Hide Identical Files", "", kWindow,
         "Shows only the files that differ while the folders are compared", kNoIcon},
        {ID_SYNCHRONIZED_BROWSING, "Synchronized &Browsing", "Ctrl+Y", kWindow,
         "Opening a folder on one side opens the same folder on the other side", QStyle::SP_DirLinkIcon},
        {ID_FILENAME_FILTERS, "&Filename Filters...", "Ctrl+I", kWindow,
         "Chooses the files and folders the panes, transfers and synchronisation leave out", kNoIcon},
        {ID_SYNCHRONIZE, "Synchroni&ze...", "Ctrl+Shift+S", kWindow,
         "Brings one folder up to date with the other, after a preview of every change", QStyle::SP_MediaSeekForward},
        {ID_SEARCH_REMOTE, "Searc&h Remote Files...", "Ctrl+Shift+F", kWindow,
         "Finds files by name, size and date in the remote folders", QStyle::SP_FileDialogContentsView},
        {ID_APP_EXIT, "E&xit", "", kWindow, "Closes Kestrix", kNoIcon},
        {ID_APP_ABOUT, "&About Kestrix...", "", kWindow, "Shows the program's version", QStyle::SP_MessageBoxInformation},
        {ID_HELP_FINDER, "&Help Topics", "F1", kWindow, "Opens the help pages", QStyle::SP_DialogHelpButton},
        {ID_WEB_SITE, "&Kestrix Web Site", "", kWindow, "Opens the Kestrix web page", kNoIcon},
        {ID_VIEW_QUICK_CONNECT, "&Quick Connect", "", kWindow, "Shows or hides the Quick Connect bar", kNoIcon},
        {ID_VIEW_TRANSFER_MANAGER, "Trans&fer Manager", "", kWindow, "Shows or hides the Transfer Manager", kNoIcon},
        {ID_VIEW_LOCAL_BROWSER, "Local &Browser", "", kWindow, "Shows or hides the Local Browser", kNoIcon},
        {ID_VIEW_TRACE, "Tra&ce", "", kWindow, "Shows or hides the Trace", kNoIcon},
        {ID_VIEW_TOOLBAR, "&Toolbar", "", kWindow, "Shows or hides the toolbar", kNoIcon},
        {ID_VIEW_STATUS_BAR, "&Status Bar", "", kWindow, "Shows or hides the status bar", kNoIcon},
    };
    return entries;
}

const Entry* Find(int id)
{
    for (const Entry& entry : Entries()) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

void Apply(const Entry& entry, QAction& action, const QStyle& style)
{
    QString text = QString::fromUtf8(entry.text);
    const QKeySequence key(QString::fromLatin1(entry.key));
    if (!key.isEmpty()) {
        // The key is called Enter on the keyboards people have.
        const bool enter = key == QKeySequence(Qt::Key_Return);
        text += QLatin1Char('\t') + (enter ? QStringLiteral("Enter") : key.toString(QKeySequence::NativeText));
        action.setShortcut(key);
    }
    action.setText(text);
    action.setStatusTip(QString::fromUtf8(entry.tip));
    if (entry.icon != kNoIcon)
        action.setIcon(style.standardIcon(entry.icon));
}

} // namespace CommandTable
