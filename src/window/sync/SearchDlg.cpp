#include "window/sync/SearchDlg.h"

#include "window/sync/SizeField.h"

#include "engine/base/SizeText.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kMatchRole = Qt::UserRole + 1;

} // namespace

CSearchDlg::CSearchDlg(const RemotePath& start, CRemoteSearch::ListerFactory openLister, QWidget* owner)
    : QDialog(owner), m_openLister(std::move(openLister))
{
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(QStringLiteral("Search Remote Files"));
    resize(760, 520);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_folder = new QLineEdit(start.ToString(), this);
    m_folder->setObjectName(QStringLiteral("folder"));
    m_pattern = new QLineEdit(this);
    m_pattern->setObjectName(QStringLiteral("pattern"));
    m_pattern->setPlaceholderText(QStringLiteral("*.html"));
    auto* patternRow = new QHBoxLayout;
    m_regex = new QCheckBox(QStringLiteral("Regular e&xpression"), this);
    m_case = new QCheckBox(QStringLiteral("Match &case"), this);
    patternRow->addWidget(m_pattern, 1);
    patternRow->addWidget(m_regex);
    patternRow->addWidget(m_case);
    m_depth = new QSpinBox(this);
    m_depth->setRange(0, 256);
    m_depth->setValue(20);
    m_minSize = MakeSizeField(this);
    m_maxSize = MakeSizeField(this);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(m_minSize);
    sizeRow->addWidget(new QLabel(QStringLiteral("to"), this));
    sizeRow->addWidget(m_maxSize);
    const auto dateRow = [this](QCheckBox*& box, QDateTimeEdit*& edit, const QString& text) {
        auto* row = new QHBoxLayout;
        box = new QCheckBox(text, this);
        edit = new QDateTimeEdit(QDateTime::currentDateTime(), this);
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
        connect(box, &QCheckBox::toggled, edit, &QWidget::setEnabled);
        row->addWidget(box);
        row->addWidget(edit, 1);
        return row;
    };
    form->addRow(QStringLiteral("Look &in:"), m_folder);
    form->addRow(QStringLiteral("&Name:"), patternRow);
    form->addRow(QStringLiteral("&Depth:"), m_depth);
    form->addRow(QStringLiteral("&Size:"), sizeRow);
    form->addRow(QStringLiteral("Modified:"), dateRow(m_after, m_afterDate, QStringLiteral("&after")));
    form->addRow(QString(), dateRow(m_before, m_beforeDate, QStringLiteral("&before")));
    layout->addLayout(form);

    m_results = new QTreeWidget(this);
    m_results->setObjectName(QStringLiteral("results"));
    m_results->setHeaderLabels({QStringLiteral("Path"), QStringLiteral("Size"), QStringLiteral("Modified")});
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_results->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_results->header()->setStretchLastSection(false);
    layout->addWidget(m_results, 1);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    layout->addWidget(m_status);

    auto* buttons = new QDialogButtonBox(this);
    m_start = buttons->addButton(QStringLiteral("&Search"), QDialogButtonBox::ActionRole);
    m_download = buttons->addButton(QStringLiteral("Dow&nload"), QDialogButtonBox::ActionRole);
    m_delete = buttons->addButton(QStringLiteral("De&lete"), QDialogButtonBox::ActionRole);
    m_openFolder = buttons->addButton(QStringLiteral("&Open Folder"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_start, &QPushButton::clicked, this, [this] { m_search.IsRunning() ? StopSearch() : StartSearch(); });
    connect(m_download, &QPushButton::clicked, this, [this] { emit DownloadRequested(SelectedMatches()); });
    connect(m_delete, &QPushButton::clicked, this, [this] { emit DeleteRequested(SelectedMatches()); });
    connect(m_openFolder, &QPushButton::clicked, this, [this] {
        const QList<SearchMatch> chosen = SelectedMatches();
        if (!chosen.isEmpty())
            emit OpenFolderRequested(chosen.first().entry.folder ? chosen.first().path : chosen.first().path.Parent());
    });
    connect(m_results, &QTreeWidget::itemSelectionChanged, this, &CSearchDlg::UpdateButtons);
    connect(&m_search, &CRemoteSearch::Found, this, &CSearchDlg::AddMatches);
    connect(&m_search, &CRemoteSearch::FolderEntered, this, [this](const RemotePath& folder, int searched) {
        m_status->setText(QStringLiteral("Searching %1 (%2 folders so far, %3 found)...")
                              .arg(folder.ToString()).arg(searched).arg(m_matches.size()));
    });
    connect(&m_search, &CRemoteSearch::Finished, this, [this](CRemoteSearch::Outcome outcome, const QString& text) {
        m_status->setText(outcome == CRemoteSearch::Outcome::Cancelled ? QStringLiteral("Stopped: ") + text
                          : outcome == CRemoteSearch::Outcome::Failed  ? QStringLiteral("The search failed: ") + text
                                                                       : text);
        m_start->setText(QStringLiteral("&Search"));
        UpdateButtons();
    });
    UpdateButtons();
}

SearchCriteria CSearchDlg::Criteria() const
{
    SearchCriteria criteria;
    QString folder = m_folder->text().trimmed();
    criteria.root = RemotePath::FromServer(folder.isEmpty() ? QStringLiteral("/") : folder);
    criteria.pattern = m_pattern->text();
    criteria.regularExpression = m_regex->isChecked();
    criteria.caseSensitive = m_case->isChecked();
    criteria.maxDepth = m_depth->value();
    criteria.minSize = SizeOfField(m_minSize->text());
    criteria.maxSize = SizeOfField(m_maxSize->text());
    if (m_after->isChecked())
        criteria.modifiedAfter = m_afterDate->dateTime().toSecsSinceEpoch();
    if (m_before->isChecked())
        criteria.modifiedBefore = m_beforeDate->dateTime().toSecsSinceEpoch();
    return criteria;
}

void CSearchDlg::StartSearch()
{
    m_results->clear();
    m_matches.clear();
    QString problem;
    if (!m_search.Start(Criteria(), m_openLister, &problem)) {
        m_status->setText(QStringLiteral("The name pattern cannot be used: %1").arg(problem));
        return;
    }
    m_status->setText(QStringLiteral("Searching..."));
    m_start->setText(QStringLiteral("&Stop"));
    UpdateButtons();
}

void CSearchDlg::StopSearch()
{
    m_search.Cancel();
}

void CSearchDlg::AddMatches(const QList<SearchMatch>& matches)
{
    for (const SearchMatch& match : matches) {
        auto* row = new QTreeWidgetItem(m_results);
        row->setText(0, match.path.ToString() + (match.entry.folder ? QStringLiteral("/") : QString()));
        row->setText(1, match.entry.folder ? QString() : FormatSizeKB(match.entry.size));
        row->setText(2, match.entry.modified < 0
                            ? QString()
                            : QLocale().toString(QDateTime::fromSecsSinceEpoch(match.entry.modified), QLocale::ShortFormat));
        row->setData(0, kMatchRole, int(m_matches.size()));
        m_matches << match;
    }
}

QList<SearchMatch> CSearchDlg::SelectedMatches() const
{
    QList<SearchMatch> chosen;
    for (QTreeWidgetItem* row : m_results->selectedItems())
        chosen << m_matches.value(row->data(0, kMatchRole).toInt());
    return chosen;
}

void CSearchDlg::UpdateButtons()
{
    const bool any = !m_results->selectedItems().isEmpty();
    const bool idle = !m_search.IsRunning();
    m_download->setEnabled(any && idle);
    m_delete->setEnabled(any && idle);
    m_openFolder->setEnabled(any);
}
