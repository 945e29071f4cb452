#pragma once

// Command identifiers of the main window's menus, toolbar and keys. The
// numbers are stable: they name the commands in stored toolbar layouts.
namespace cmd {

// Application
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_HELP_FINDER = 57666;
inline constexpr int ID_WEB_SITE = 32823;
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_APP_EXIT = 57665;

// Session
inline constexpr int ID_CONNECT = 32779;
inline constexpr int ID_DISCONNECT = 32780;
inline constexpr int ID_CANCEL = 32786;
inline constexpr int ID_CONNECTION_WIZARD = 32808;

// Remote items and transfers
inline constexpr int ID_DOWNLOAD = 32783;
inline constexpr int ID_DOWNLOAD_TO = 32787;
inline constexpr int ID_UPLOAD = 32784;
inline constexpr int ID_UPLOAD_FOLDER = 32836;
// Upload of what the Local Browser has selected (its context menu).
inline constexpr int ID_UPLOAD_LOCAL_SELECTION = 32837;
inline constexpr int ID_NEW_FOLDER = 32790;
inline constexpr int ID_RENAME = 32803;
inline constexpr int ID_DELETE = 32805;
inline constexpr int ID_EXPLORE = 32807;
inline constexpr int ID_CUSTOM_COMMAND = 32816;
inline constexpr int ID_UP_ONE_LEVEL = 32806;
inline constexpr int ID_REFRESH = 32789;
inline constexpr int ID_GO_TO_FOLDER = 32788;
inline constexpr int ID_SELECT_ALL = 57642;
inline constexpr int ID_INVERT_SELECTION = 32799;
inline constexpr int ID_PROPERTIES = 32775;
// Remote files worked on in place.
inline constexpr int ID_OPEN_EDIT = 32870;
inline constexpr int ID_EDITED_FILES = 32871;
inline constexpr int ID_PERMISSIONS = 32872;
inline constexpr int ID_COPY_URL = 32873;
inline constexpr int ID_CREATE_EMPTY_FILE = 32874;

// The Transfer Manager pane.
inline constexpr int ID_TRANSFER_CANCEL = 32796;
inline constexpr int ID_TRANSFER_RESUBMIT = 32797;

// List view styles and sort keys
inline constexpr int ID_VIEW_SMALLICON = 59408;
inline constexpr int ID_VIEW_LARGEICON = 59409;
inline constexpr int ID_VIEW_LIST = 59410;
inline constexpr int ID_VIEW_DETAILS = 59411;
inline constexpr int ID_SORT_NAME = 59413;
inline constexpr int ID_SORT_SIZE = 12002;
inline constexpr int ID_SORT_TYPE = 12001;
inline constexpr int ID_SORT_DATE = 12000;

// Bars
inline constexpr int ID_VIEW_QUICK_CONNECT = 108;
inline constexpr int ID_VIEW_TRANSFER_MANAGER = 32795;
inline constexpr int ID_VIEW_LOCAL_BROWSER = 32817;
inline constexpr int ID_VIEW_TRACE = 32794;
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;
// The keyboard's way from pane to pane (F6, Shift+F6).
inline constexpr int ID_NEXT_PANE = 32838;
inline constexpr int ID_PREVIOUS_PANE = 32839;

// Favorites
inline constexpr int ID_ADD_TO_FAVORITES = 32812;
inline constexpr int ID_ORGANIZE_FAVORITES = 32813;
inline constexpr int ID_FAVORITE_FIRST = 3584;
inline constexpr int ID_FAVORITE_LAST = 4095;

// Tools
inline constexpr int ID_TRANSFER_ASCII = 32833;
inline constexpr int ID_TRANSFER_BINARY = 32832;
inline constexpr int ID_OPTIONS = 32804;
inline constexpr int ID_GO_SITE_DOWNLOAD_FOLDER = 32820;
inline constexpr int ID_GO_DEFAULT_DOWNLOAD_FOLDER = 32821;
inline constexpr int ID_STORE_SITE_LOCAL_PATH = 32818;
inline constexpr int ID_QUICK_CONNECT_BUTTON = 1030;
inline constexpr int ID_VIEWS_DROPDOWN = 32811;

// Comparing and synchronising the local and the remote folder
inline constexpr int ID_COMPARE_FOLDERS = 32860;
inline constexpr int ID_COMPARE_BY_SIZE = 32861;
inline constexpr int ID_COMPARE_BY_SIZE_AND_TIME = 32862;
inline constexpr int ID_HIDE_IDENTICAL = 32863;
inline constexpr int ID_SYNCHRONIZED_BROWSING = 32864;
inline constexpr int ID_FILENAME_FILTERS = 32865;
inline constexpr int ID_SYNCHRONIZE = 32866;
inline constexpr int ID_SEARCH_REMOTE = 32867;

// Docking bars
inline constexpr int IDD_TRANSFER_MANAGER_BAR = 102;
inline constexpr int IDD_LOCAL_BROWSER_BAR = 20642;
inline constexpr int IDD_TRACE_BAR = 149;

} // namespace cmd
