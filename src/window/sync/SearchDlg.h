#pragma once

#include "engine/sync/RemoteSearch.h"

#include <QDialog>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

// "Search Remote Files": a folder tree walked on a connection of its own (the
// caller gives the means to open it), matches listed with their paths as
// they come; Stop ends it at once. The selected matches can be downloaded,
// deleted, or their folder opened in the main window.
class CSearchDlg : public QDialog {
    Q_OBJECT
public:
    CSearchDlg(const RemotePath& start, CRemoteSearch::ListerFactory openLister, QWidget* owner = nullptr);

    SearchCriteria Criteria() const;
    QList<SearchMatch> SelectedMatches() const;
    void StartSearch();
    void StopSearch();

    QLineEdit* FolderField() const { return m_folder; }
    QLineEdit* PatternField() const { return m_pattern; }
    QTreeWidget* Results() const { return m_results; }
    QLabel* Status() const { return m_status; }
    QPushButton* StartButton() const { return m_start; }
    CRemoteSearch& Search() { return m_search; }

signals:
    void DownloadRequested(const QList<SearchMatch>& matches);
    void DeleteRequested(const QList<SearchMatch>& matches);
    void OpenFolderRequested(const RemotePath& folder);

private:
    void AddMatches(const QList<SearchMatch>& matches);
    void UpdateButtons();

    CRemoteSearch m_search;
    CRemoteSearch::ListerFactory m_openLister;
    QList<SearchMatch> m_matches;
    QLineEdit* m_folder = nullptr;
    QLineEdit* m_pattern = nullptr;
    QCheckBox* m_regex = nullptr;
    QCheckBox* m_case = nullptr;
    QSpinBox* m_depth = nullptr;
    QLineEdit* m_minSize = nullptr;
    QLineEdit* m_maxSize = nullptr;
    QCheckBox* m_after = nullptr;
    QDateTimeEdit* m_afterDate = nullptr;
    QCheckBox* m_before = nullptr;
    QDateTimeEdit* m_beforeDate = nullptr;
    QTreeWidget* m_results = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_download = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_openFolder = nullptr;
};
