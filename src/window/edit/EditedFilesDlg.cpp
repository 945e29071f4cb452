#include "window/edit/EditedFilesDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

} // namespace

QString CEditedFilesDlg::StateText(const EditedFile& file)
{
    switch (file.state) {
    case EditedFile::State::Downloading: return QStringLiteral("Downloading");
    case EditedFile::State::Watching: return QStringLiteral("Watching for changes");
    case EditedFile::State::Saved: return QStringLiteral("Changed, not uploaded");
    case EditedFile::State::Uploading: return QStringLiteral("Uploading");
    case EditedFile::State::UploadFailed:
        return QStringLiteral("Upload failed: %1 (the copy is kept)").arg(file.problem);
    }
    return QString();
}

CEditedFilesDlg::CEditedFilesDlg(CEditedFiles& files, QWidget* owner)
    : QDialog(owner), m_files(files)
{
    setObjectName(QStringLiteral("editedFilesDialog"));
    setWindowTitle(QStringLiteral("Files Being Edited"));
    resize(720, 320);
    auto* layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("editedFiles"));
    m_list->setHeaderLabels({QStringLiteral("Remote file"), QStringLiteral("State"), QStringLiteral("Local copy")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->header()->setStretchLastSection(true);
    layout->addWidget(m_list, 1);
    auto* buttons = new QDialogButtonBox(this);
    m_upload = buttons->addButton(QStringLiteral("&Upload Now"), QDialogButtonBox::ActionRole);
    m_stop = buttons->addButton(QStringLiteral("&Stop Watching"), QDialogButtonBox::ActionRole);
    m_delete = buttons->addButton(QStringLiteral("&Delete Local Copy"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_upload, &QPushButton::clicked, this, [this] { emit UploadRequested(SelectedIds()); });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        for (const int id : SelectedIds())
            m_files.StopWatching(id, true);
    });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        for (const int id : SelectedIds())
            m_files.RemoveCopy(id);
    });
    connect(&m_files, &CEditedFiles::Changed, this, &CEditedFilesDlg::Refill);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CEditedFilesDlg::UpdateButtons);
    Refill();
}

void CEditedFilesDlg::Refill()
{
    const QList<int> selected = SelectedIds();
    m_list->clear();
    for (const EditedFile& file : m_files.Files()) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, file.remotePath.ToString());
        row->setText(1, StateText(file));
        row->setText(2, file.localPath);
        row->setData(0, kIdRole, file.id);
        row->setSelected(selected.contains(file.id));
    }
    UpdateButtons();
}

QList<int> CEditedFilesDlg::SelectedIds() const
{
    QList<int> ids;
    for (QTreeWidgetItem* row : m_list->selectedItems())
        ids << row->data(0, kIdRole).toInt();
    return ids;
}

void CEditedFilesDlg::UpdateButtons()
{
    const bool any = !SelectedIds().isEmpty();
    m_upload->setEnabled(any);
    m_stop->setEnabled(any);
    m_delete->setEnabled(any);
}

bool AskUploadBack(QWidget* owner, const EditedFile& file, bool& always)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("File Changed"),
                    QStringLiteral("\"%1\" was saved. Upload the changed file back to the server?")
                        .arg(file.remotePath.ToString()),
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setObjectName(QStringLiteral("uploadBackQuestion"));
    auto* check = new QCheckBox(QStringLiteral("&Always for this file"), &box);
    box.setCheckBox(check);
    const bool yes = box.exec() == QMessageBox::Yes;
    always = check->isChecked() && yes;
    return yes;
}
