#pragma once

#include "engine/sync/SyncPlan.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// "Synchronize": a one-way synchronisation of the listed folders, in either
// direction. Its options (by time and size or by size, subfolders, the
// filter) are chosen here; Compare asks for a plan (the caller lists both
// sides and answers with ShowPlan), and the preview lists what will be
// copied and, unticked, what could be deleted on the target. Nothing changes
// before Start, which hands back the ticked rows only.
class CSyncPreviewDlg : public QDialog {
    Q_OBJECT
public:
    CSyncPreviewDlg(const QString& localFolder, const QString& remoteFolder, QWidget* owner = nullptr);

    SyncDirection Direction() const;
    SyncOptions Options() const;
    void ShowPlan(const SyncPlan& plan);
    // The rows ticked when Start was chosen.
    QList<SyncItem> Chosen() const;

    QTreeWidget* Rows() const { return m_rows; }
    QPushButton* CompareButton() const { return m_compare; }
    QPushButton* StartButton() const { return m_start; }
    QLabel* Summary() const { return m_summary; }

signals:
    // Compare was chosen (or an option changed after a plan was shown).
    void PlanWanted();

private:
    void UpdateSummary();

    QComboBox* m_direction = nullptr;
    QComboBox* m_mode = nullptr;
    QCheckBox* m_subfolders = nullptr;
    QCheckBox* m_useFilter = nullptr;
    QTreeWidget* m_rows = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_compare = nullptr;
    QPushButton* m_start = nullptr;
    QList<SyncItem> m_items;
    bool m_filling = false;
};
