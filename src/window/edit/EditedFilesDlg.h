#pragma once

#include "engine/edit/EditedFiles.h"

#include <QDialog>

class QPushButton;
class QTreeWidget;

// "Files Being Edited": each remote file opened for editing, its local copy
// and its state; the selected ones can be uploaded now, no longer watched,
// or have their local copy deleted.
class CEditedFilesDlg : public QDialog {
    Q_OBJECT
public:
    explicit CEditedFilesDlg(CEditedFiles& files, QWidget* owner = nullptr);

    QTreeWidget* List() const { return m_list; }
    QList<int> SelectedIds() const;
    static QString StateText(const EditedFile& file);

signals:
    void UploadRequested(const QList<int>& ids);

private:
    void Refill();
    void UpdateButtons();

    CEditedFiles& m_files;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_upload = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_delete = nullptr;
};

// "Upload the changed file back?": Yes, No, and "always for this file"; the
// setting "EditUploadWithoutAsking" skips the question for every file.
// Returns true for Yes; `always` tells whether the box was ticked.
bool AskUploadBack(QWidget* owner, const EditedFile& file, bool& always);
