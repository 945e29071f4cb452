#include "window/sync/SyncPreviewDlg.h"

#include "engine/base/SizeText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString ActionText(const SyncItem& item, SyncDirection direction)
{
    const bool up = direction == SyncDirection::Upload;
    switch (item.action) {
    case SyncItem::Action::MakeFolder: return QStringLiteral("Create folder");
    case SyncItem::Action::Copy: return up ? QStringLiteral("Upload") : QStringLiteral("Download");
    case SyncItem::Action::Replace: return up ? QStringLiteral("Upload, replacing") : QStringLiteral("Download, replacing");
    case SyncItem::Action::Delete: return QStringLiteral("Delete");
    }
    return QString();
}

} // namespace

CSyncPreviewDlg::CSyncPreviewDlg(const QString& localFolder, const QString& remoteFolder, QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("syncDialog"));
    setWindowTitle(QStringLiteral("Synchronize"));
    resize(720, 480);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_direction = new QComboBox(this);
    m_direction->setObjectName(QStringLiteral("direction"));
    m_direction->addItems({QStringLiteral("Upload: %1  →  %2").arg(localFolder, remoteFolder),
                           QStringLiteral("Download: %1  →  %2").arg(remoteFolder, localFolder)});
    m_mode = new QComboBox(this);
    m_mode->setObjectName(QStringLiteral("mode"));
    m_mode->addItems({QStringLiteral("by modification time and size"), QStringLiteral("by size only")});
    m_subfolders = new QCheckBox(QStringLiteral("Include &subfolders"), this);
    m_subfolders->setChecked(true);
    m_useFilter = new QCheckBox(QStringLiteral("Follow the &filename filters"), this);
    m_useFilter->setChecked(true);
    form->addRow(QStringLiteral("&Direction:"), m_direction);
    form->addRow(QStringLiteral("&Compare:"), m_mode);
    form->addRow(QString(), m_subfolders);
    form->addRow(QString(), m_useFilter);
    layout->addLayout(form);

    m_rows = new QTreeWidget(this);
    m_rows->setObjectName(QStringLiteral("preview"));
    m_rows->setHeaderLabels({QStringLiteral("Action"), QStringLiteral("Path"), QStringLiteral("Size"), QStringLiteral("Why")});
    m_rows->setRootIsDecorated(false);
    m_rows->setUniformRowHeights(true);
    m_rows->header()->setStretchLastSection(false);
    m_rows->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    layout->addWidget(m_rows, 1);
    m_summary = new QLabel(QStringLiteral("Compare the folders to see what would change. Nothing changes before Start."), this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);

    auto* buttons = new QDialogButtonBox(this);
    m_compare = buttons->addButton(QStringLiteral("C&ompare"), QDialogButtonBox::ActionRole);
    m_start = buttons->addButton(QStringLiteral("&Start"), QDialogButtonBox::AcceptRole);
    m_start->setEnabled(false);
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(m_compare, &QPushButton::clicked, this, &CSyncPreviewDlg::PlanWanted);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A plan made with other options is no plan for these: ask again.
    const auto stale = [this] {
        if (m_start->isEnabled()) {
            m_start->setEnabled(false);
            emit PlanWanted();
        }
    };
    connect(m_direction, &QComboBox::activated, this, stale);
    connect(m_mode, &QComboBox::activated, this, stale);
    connect(m_subfolders, &QCheckBox::toggled, this, stale);
    connect(m_useFilter, &QCheckBox::toggled, this, stale);
    connect(m_rows, &QTreeWidget::itemChanged, this, [this] {
        if (!m_filling)
            UpdateSummary();
    });
}

SyncDirection CSyncPreviewDlg::Direction() const
{
    return m_direction->currentIndex() == 1 ? SyncDirection::Download : SyncDirection::Upload;
}

SyncOptions CSyncPreviewDlg::Options() const
{
    SyncOptions options;
    options.mode = m_mode->currentIndex() == 1 ? CompareMode::Size : CompareMode::SizeAndTime;
    options.subfolders = m_subfolders->isChecked();
    options.useFilter = m_useFilter->isChecked();
    options.filter = CFileFilter::Load();
    return options;
}

void CSyncPreviewDlg::ShowPlan(const SyncPlan& plan)
{
    m_filling = true;
    m_rows->clear();
    m_items = plan.items;
    for (const SyncItem& item : std::as_const(m_items)) {
        auto* row = new QTreeWidgetItem(m_rows);
        row->setText(0, ActionText(item, Direction()));
        row->setText(1, item.path);
        row->setText(2, item.folder ? QString() : FormatSizeKB(item.size));
        row->setText(3, item.reason);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, item.checked ? Qt::Checked : Qt::Unchecked);
    }
    m_filling = false;
    if (!plan.error.isEmpty()) {
        m_summary->setText(plan.error);
        m_start->setEnabled(false);
        return;
    }
    QString notes;
    if (plan.skippedByFilter > 0)
        notes += QStringLiteral(" %1 entries were skipped by the filters.").arg(plan.skippedByFilter);
    if (plan.approximate)
        notes += QStringLiteral(" The server's listing gives times without a time zone or to the minute only: "
                                "files within that margin were compared by size.");
    m_summary->setProperty("notes", notes);
    m_start->setEnabled(true);
    UpdateSummary();
}

void CSyncPreviewDlg::UpdateSummary()
{
    int copies = 0;
    int deletions = 0;
    for (int i = 0; i < m_rows->topLevelItemCount(); ++i) {
        if (m_rows->topLevelItem(i)->checkState(0) != Qt::Checked)
            continue;
        (m_items[i].action == SyncItem::Action::Delete ? deletions : copies) += 1;
    }
    QString text = copies + deletions == 0 ? QStringLiteral("The folders are in step: nothing to do.")
                                           : QStringLiteral("%1 to %2, %3 to delete.")
                                                 .arg(copies)
                                                 .arg(Direction() == SyncDirection::Upload ? QStringLiteral("upload")
                                                                                          : QStringLiteral("download"))
                                                 .arg(deletions);
    m_summary->setText(text + m_summary->property("notes").toString());
}

QList<SyncItem> CSyncPreviewDlg::Chosen() const
{
    QList<SyncItem> chosen;
    for (int i = 0; i < m_rows->topLevelItemCount() && i < m_items.size(); ++i) {
        if (m_rows->topLevelItem(i)->checkState(0) == Qt::Checked)
            chosen << m_items[i];
    }
    return chosen;
}
