#pragma once

#include <QString>

class QSettings;

// The per-user preference store. Every consumer reads the value it needs at the
// moment it needs it, with the default below; nothing is cached in memory, so a
// change made by the options sheet is seen by the next reader at once.
namespace kx {

inline constexpr char kOrganisation[] = "Orlavek";
inline constexpr char kApplication[] = "Kestrix";

struct IntSetting {
    const char* section;
    const char* key;
    int defaultValue;
};

struct StringSetting {
    const char* section;
    const char* key;
    const char* defaultValue;
};

namespace settings {

inline constexpr char kSection[] = "Settings";

inline constexpr IntSetting KeepAlive{kSection, "KeepAlive", 1};
inline constexpr IntSetting Interval{kSection, "Interval", 30};
inline constexpr IntSetting RemoveFailed{kSection, "RemoveFailed", 0};
inline constexpr IntSetting HideStatusCallbackInfo{kSection, "HideStatusCallbackInfo", 0};
inline constexpr IntSetting ForceParallelTransfers{kSection, "ForceParallelTransfers", 0};
inline constexpr IntSetting TransferMax{kSection, "TransferMax", 10};
// Whether the jobs left unfinished at the last end start again by themselves
// (otherwise they wait, stopped, for Start).
inline constexpr IntSetting StartQueuedTransfers{kSection, "StartQueuedTransfers", 0};
// Connections one job may open to its server, 1-10; all jobs together stay
// within TransferMax per server.
inline constexpr IntSetting ConnectionsPerJob{kSection, "ConnectionsPerJob", 2};
inline constexpr IntSetting ConnectionTimeout{kSection, "ConnectionTimeout", 30};
inline constexpr StringSetting DefaultLocalPath{kSection, "DefaultLocalPath", ""};
inline constexpr IntSetting DefaultRetries{kSection, "DefaultRetries", 3};
inline constexpr IntSetting DefaultRetryDelay{kSection, "DefaultRetryDelay", 10};
// Passive by default: active data connections fail behind the address
// translation of nearly every home and office network.
inline constexpr IntSetting DefaultUsePASVMode{kSection, "DefaultUsePASVMode", 1};
// What new sites and typed addresses use (SiteEncryption): TLS whenever the
// server offers it, so passwords stop crossing the network in clear text.
inline constexpr IntSetting DefaultEncryption{kSection, "DefaultEncryption", 1};
inline constexpr IntSetting ProxyType{kSection, "ProxyType", 0};
inline constexpr StringSetting ProxyName{kSection, "ProxyName", ""};
inline constexpr IntSetting SavePosition{kSection, "SavePosition", 1};
inline constexpr IntSetting ShowConnectionDlg{kSection, "ShowConnectionDlg", 1};
inline constexpr IntSetting DeleteConfirmation{kSection, "DeleteConfirmation", 1};
inline constexpr IntSetting ShowMessageBox{kSection, "ShowMessageBox", 1};
inline constexpr IntSetting HideProgressDlg{kSection, "HideProgressDlg", 0};
// The real default is the system e-mail name (ReadInternetEmailName), which
// the General options page passes in; other readers use the empty default.
inline constexpr StringSetting EmailAddress{kSection, "EmailAddress", ""};
inline constexpr IntSetting TransferType{kSection, "TransferType", 2};
// Downloads and uploads give the copy the source's modification time.
inline constexpr IntSetting PreserveTimes{kSection, "PreserveTimes", 1};
// How Compare Folders compares files: 0 by size, 1 by size and time.
inline constexpr IntSetting CompareMode{kSection, "CompareMode", 1};
inline constexpr IntSetting HideIdentical{kSection, "HideIdentical", 0};
inline constexpr StringSetting LastDir{kSection, "LastDir", ""};
inline constexpr IntSetting ViewStyle{kSection, "ViewStyle", 59409};
inline constexpr IntSetting SortColumn{kSection, "SortColumn", 0};
inline constexpr IntSetting FrameStatus{kSection, "FrameStatus", -1};
inline constexpr IntSetting FrameLeft{kSection, "FrameLeft", -1};
inline constexpr IntSetting FrameTop{kSection, "FrameTop", -1};
inline constexpr IntSetting FrameRight{kSection, "FrameRight", -1};
inline constexpr IntSetting FrameBottom{kSection, "FrameBottom", -1};
inline constexpr StringSetting LastSelected{kSection, "LastSelected", ""};
inline constexpr StringSetting TransferColumnWidth{kSection, "TransferColumnWidth", ""};
// The Details columns of the remote list, as the user left them.
inline constexpr StringSetting ListColumnWidth{kSection, "ListColumnWidth", ""};
// The Details columns the user hid, by number ("4,6,").
inline constexpr StringSetting ListHiddenColumns{kSection, "ListHiddenColumns", ""};
// Opening a file (double-click, Enter) opens it for editing instead of downloading it.
inline constexpr IntSetting DoubleClickOpensFiles{kSection, "DoubleClickOpensFiles", 0};
// A saved copy of a file being edited goes back to the server without the question.
inline constexpr IntSetting EditUploadWithoutAsking{kSection, "EditUploadWithoutAsking", 0};
// "Store passwords in": the keyring, the catalogue file, or nowhere (asked
// at the first connect of a run). Unset: the keyring where one answers.
inline constexpr IntSetting PasswordStore{kSection, "PasswordStore", -1};
// The offer to move clear-text passwords into the keyring was answered; it
// comes again only after "PasswordStore" changes.
inline constexpr IntSetting PasswordMoveOffered{kSection, "PasswordMoveOffered", 0};

// Read by the options sheet right after it is confirmed: unlike every other
// reader of this key it defaults to hiding the status lines.
inline constexpr IntSetting HideStatusCallbackInfoAfterOptions{kSection, "HideStatusCallbackInfo", 1};

inline constexpr int kTransferTypeAscii = 1;
inline constexpr int kTransferTypeBinary = 2;
inline constexpr int kViewSmallIcons = 59408;
inline constexpr int kViewLargeIcons = 59409;
inline constexpr int kViewList = 59410;
inline constexpr int kViewDetails = 59411;
inline constexpr int kProxyPreconfigured = 0;
inline constexpr int kProxyDirect = 1;
inline constexpr int kProxyNamed = 2;
inline constexpr int kPasswordStoreKeyring = 0;
inline constexpr int kPasswordStoreFile = 1;
inline constexpr int kPasswordStoreNowhere = 2;

// The other sections of the application key.
inline constexpr char kToolbarStateSection[] = "ToolbarState";
inline constexpr char kToolbarName[] = "MainToolbar";
inline constexpr char kShowTextLabelsFormat[] = "%1ShowTextLabels";
inline constexpr char kLargeIconsFormat[] = "%1LargeIcons";
inline constexpr char kTransferManagerSection[] = "TransferManager";
inline constexpr char kTraceSection[] = "Trace";
inline constexpr char kFileBrowserSection[] = "FileBrowser";
inline constexpr char kQuickConnectStateSection[] = "QuickConnectState";
inline constexpr char kGoToFolderSection[] = "GoToFolder";
// The program that opens files for editing, per extension: "html=/usr/bin/gedit"
// (the extension in lower case, without its dot; a program may carry
// arguments before the file). An extension not named opens with the desktop's program.
inline constexpr char kEditorsSection[] = "Editors";
inline constexpr char kQuickConnectSection[] = "QuickConnect";
inline constexpr char kSizeHorzCX[] = "SizeHorzCX";
inline constexpr char kSizeHorzCY[] = "SizeHorzCY";
inline constexpr char kSizeVertCX[] = "SizeVertCX";
inline constexpr char kSizeVertCY[] = "SizeVertCY";
inline constexpr char kSizeFloatingCX[] = "SizeFloatingCX";
inline constexpr char kSizeFloatingCY[] = "SizeFloatingCY";
// A docked pane narrower than this could not be grabbed again.
inline constexpr int kMinimumPaneSize = 32;

} // namespace settings

int GetProfileInt(const QString& section, const QString& key, int defaultValue);
QString GetProfileString(const QString& section, const QString& key, const QString& defaultValue = QString());
// Return false when the store could not be written; callers that follow the
// program's "settings failures are silent" rule simply ignore the result.
bool WriteProfileInt(const QString& section, const QString& key, int value);
bool WriteProfileString(const QString& section, const QString& key, const QString& value);

int GetProfileInt(const IntSetting& setting);
QString GetProfileString(const StringSetting& setting);
bool WriteProfileInt(const IntSetting& setting, int value);
bool WriteProfileString(const StringSetting& setting, const QString& value);

// The user's e-mail address as the desktop knows it (the EMAIL environment
// variable on Linux); false, with `email` untouched, when none is set.
bool ReadInternetEmailName(QString& email);

// The file behind the store.
QString SettingsFilePath();
// Writes pending changes of a store opened on the application key and keeps
// its file readable by the owner only; false when the file could not be written.
bool CommitSettings(QSettings& store);
// Puts the store under another folder for the rest of the process (tests,
// portable set-ups). Call before the first read.
void UseSettingsFolder(const QString& folder);

} // namespace kx
