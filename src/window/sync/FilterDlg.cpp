#include "window/sync/FilterDlg.h"

#include "window/sync/SizeField.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString SizeText(const std::optional<quint64>& size)
{
    return size ? QString::number(*size) : QString();
}

} // namespace

CFilterDlg::CFilterDlg(const CFileFilter& filter, QWidget* owner)
    : QDialog(owner), m_rules(filter.Rules())
{
    setObjectName(QStringLiteral("filterDialog"));
    setWindowTitle(QStringLiteral("Filename Filters"));
    auto* layout = new QHBoxLayout(this);

    auto* left = new QVBoxLayout;
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("rules"));
    left->addWidget(new QLabel(QStringLiteral("Rules (ticked rules hide what they match):"), this));
    left->addWidget(m_list, 1);
    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("&New Rule"), this);
    auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    left->addLayout(buttons);
    layout->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto* form = new QFormLayout;
    m_name = new QLineEdit(this);
    m_pattern = new QLineEdit(this);
    m_pattern->setObjectName(QStringLiteral("pattern"));
    m_syntax = new QComboBox(this);
    m_syntax->setObjectName(QStringLiteral("syntax"));
    m_syntax->addItems({QStringLiteral("Wildcards (* and ?)"), QStringLiteral("Regular expression")});
    m_case = new QCheckBox(QStringLiteral("&Match case"), this);
    m_applies = new QComboBox(this);
    m_applies->addItems({QStringLiteral("Files and folders"), QStringLiteral("Files"), QStringLiteral("Folders")});
    m_minSize = MakeSizeField(this);
    m_maxSize = MakeSizeField(this);
    form->addRow(QStringLiteral("N&ame:"), m_name);
    form->addRow(QStringLiteral("&Pattern:"), m_pattern);
    form->addRow(QStringLiteral("&Syntax:"), m_syntax);
    form->addRow(QString(), m_case);
    form->addRow(QStringLiteral("Applies &to:"), m_applies);
    form->addRow(QStringLiteral("At &least:"), m_minSize);
    form->addRow(QStringLiteral("At m&ost:"), m_maxSize);
    right->addLayout(form);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    right->addWidget(m_problem);
    right->addStretch(1);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    right->addWidget(box);
    layout->addLayout(right, 2);

    connect(add, &QPushButton::clicked, this, &CFilterDlg::AddRule);
    connect(remove, &QPushButton::clicked, this, &CFilterDlg::RemoveRule);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::currentRowChanged, this, &CFilterDlg::ShowRule);
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!m_filling)
            m_rules[m_list->row(item)].enabled = item->checkState() == Qt::Checked;
    });
    for (QLineEdit* edit : {m_name, m_pattern, m_minSize, m_maxSize})
        connect(edit, &QLineEdit::textEdited, this, &CFilterDlg::StoreRule);
    connect(m_syntax, &QComboBox::activated, this, &CFilterDlg::StoreRule);
    connect(m_applies, &QComboBox::activated, this, &CFilterDlg::StoreRule);
    connect(m_case, &QCheckBox::toggled, this, &CFilterDlg::StoreRule);
    Refill();
    m_list->setCurrentRow(m_rules.isEmpty() ? -1 : 0);
    ShowRule(m_list->currentRow());
}

void CFilterDlg::Refill()
{
    m_filling = true;
    m_list->clear();
    for (const FilterRule& rule : std::as_const(m_rules)) {
        auto* item = new QListWidgetItem(rule.name.isEmpty() ? rule.pattern : rule.name, m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
    }
    m_filling = false;
}

void CFilterDlg::ShowRule(int row)
{
    const bool valid = row >= 0 && row < m_rules.size();
    for (QWidget* field : std::initializer_list<QWidget*>{m_name, m_pattern, m_syntax, m_case, m_applies, m_minSize, m_maxSize})
        field->setEnabled(valid);
    if (!valid)
        return;
    m_filling = true;
    const FilterRule& rule = m_rules[row];
    m_name->setText(rule.name);
    m_pattern->setText(rule.pattern);
    m_syntax->setCurrentIndex(rule.syntax == FilterRule::Syntax::RegularExpression ? 1 : 0);
    m_case->setChecked(rule.caseSensitive);
    m_applies->setCurrentIndex(int(rule.applies));
    m_minSize->setText(SizeText(rule.minSize));
    m_maxSize->setText(SizeText(rule.maxSize));
    m_problem->setText(CFileFilter::ProblemOf(rule));
    m_filling = false;
}

void CFilterDlg::StoreRule()
{
    const int row = m_list->currentRow();
    if (m_filling || row < 0 || row >= m_rules.size())
        return;
    FilterRule& rule = m_rules[row];
    rule.name = m_name->text();
    rule.pattern = m_pattern->text();
    rule.syntax = m_syntax->currentIndex() == 1 ? FilterRule::Syntax::RegularExpression : FilterRule::Syntax::Wildcards;
    rule.caseSensitive = m_case->isChecked();
    rule.applies = static_cast<FilterRule::Applies>(m_applies->currentIndex());
    rule.minSize = SizeOfField(m_minSize->text());
    rule.maxSize = SizeOfField(m_maxSize->text());
    m_filling = true;
    m_list->item(row)->setText(rule.name.isEmpty() ? rule.pattern : rule.name);
    m_filling = false;
    m_problem->setText(CFileFilter::ProblemOf(rule));
}

void CFilterDlg::AddRule()
{
    FilterRule rule;
    rule.name = QStringLiteral("New rule");
    rule.enabled = true;
    m_rules.append(rule);
    Refill();
    m_list->setCurrentRow(int(m_rules.size()) - 1);
    m_pattern->setFocus();
}

void CFilterDlg::RemoveRule()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_rules.size())
        return;
    m_rules.removeAt(row);
    Refill();
    m_list->setCurrentRow(std::min(row, int(m_rules.size()) - 1));
}

void CFilterDlg::accept()
{
    CFileFilter(m_rules).Save();
    QDialog::accept();
}
