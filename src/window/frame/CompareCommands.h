#pragma once

#include "engine/base/RemoteEntry.h"
#include "engine/sync/FileFilter.h"
#include "engine/sync/FolderComparison.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>

class CCompareLegend;
class CFtpListView;
class CFtpSession;
class CLocalBrowserBar;
class CLocalRowHider;
class CRemotePresenter;
class QAction;
class QFileInfo;
class QStatusBar;
class QWidget;

// Compare Folders, Hide Identical Files and the filename filters as the two
// panes show them. The comparison holds the Local Browser's folder against
// the remote folder on display, by size or by size and time (the choice is
// kept), and marks differing rows in both panes with the colours of the
// legend in the status bar; it follows both folders as they change. The
// filters (and, when asked, the identical rows) hide rows in both panes:
// remote rows are held back by the presenter so that no command can act on
// them, local rows are hidden in the Local Browser's views; each pane says
// when something is hidden.
class CCompareCommands : public QObject {
    Q_OBJECT
public:
    using CommandLookup = std::function<QAction*(int id)>;

    CCompareCommands(CFtpSession& session, CRemotePresenter& presenter, CFtpListView& list,
                     CLocalBrowserBar& localBrowser, QStatusBar& statusBar, CommandLookup command, QWidget* window);

    bool IsComparing() const { return m_comparing; }
    CompareMode Mode() const { return m_mode; }
    bool HidesIdentical() const { return m_hideIdentical; }
    const CFileFilter& Filter() const { return m_filter; }
    CCompareLegend* Legend() const { return m_legend; }
    // The comparison's verdict on a name of the two folders on display; null
    // when the name is in neither or nothing is compared.
    const ComparedRow* RowOf(const QString& name) const;

    void SetComparing(bool on);
    void SetMode(CompareMode mode);
    void SetHideIdentical(bool hide);
    // The Filename Filters dialog; OK applies the rules at once.
    void OnFilenameFilters();
    // Both panes and the transfers that start from now on follow `filter`.
    void SetFilter(const CFileFilter& filter);
    // Compares again now (it otherwise follows the panes a moment after they change).
    void Refresh();
    // The commands' enabled and checked states.
    void UpdateCommands(bool connected, bool busy);

signals:
    // The rules changed: transfers that start from now on follow them.
    void FilterChanged(const CFileFilter& filter);

private:
    enum class Hidden { No, ByFilter, AsIdentical };
    Hidden WhyHidden(const QString& name, bool folder, quint64 size, bool local, const QString& folderPath) const;
    bool HidesRemote(const RemoteEntry& entry) const;
    bool HidesLocal(const QFileInfo& info) const;
    QVariant Mark(const QString& name, bool localSide, int role) const;
    QList<ComparedEntry> LocalEntries() const;
    // Asks the server (MDTM) for the exact times of the files on both sides
    // whose listed times are zoneless; each file once for the listed time
    // and size it has.
    void ReadExactTimes(const QList<RemoteEntry>& remote, const QList<ComparedEntry>& local);
    ComparedEntry RemoteEntryOf(const RemoteEntry& entry) const;
    void Schedule();
    void ApplyHiding();
    void UpdateNotes();

    CFtpSession& m_session;
    CRemotePresenter& m_presenter;
    CFtpListView& m_list;
    CLocalBrowserBar& m_localBrowser;
    CommandLookup m_command;
    QWidget* m_window;
    CLocalRowHider* m_localHider = nullptr;
    CCompareLegend* m_legend = nullptr;
    QTimer m_refresh;
    bool m_applying = false; // our own repaints and re-sorts are not changes to follow

    bool m_comparing = false;
    CompareMode m_mode = CompareMode::SizeAndTime;
    bool m_hideIdentical = false;
    CFileFilter m_filter;
    // The last comparison: by name, and the two folders it was made of.
    QHash<QString, ComparedRow> m_rows;
    QString m_comparedLocal;
    QString m_comparedRemote;
    // MDTM's answers in the remote folder m_exactFolder, by name; exact -1:
    // the server gave none.
    struct ExactTime {
        qint64 listed = -1;
        quint64 size = 0;
        qint64 exact = -1;
    };
    QHash<QString, ExactTime> m_exactTimes;
    QString m_exactFolder;
    bool m_readingTimes = false; // the server is asked: the answers are not in yet
};
