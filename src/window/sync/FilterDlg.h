#pragma once

#include "engine/sync/FileFilter.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

// "Filename Filters": the named rules, each on or off, and the selected
// rule's pattern (wildcards or a regular expression), case, what it applies
// to and its size bounds. A pattern that does not compile is shown as such
// and hides nothing. OK keeps the rules in the settings.
class CFilterDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFilterDlg(const CFileFilter& filter, QWidget* owner = nullptr);

    QList<FilterRule> Rules() const { return m_rules; }
    void accept() override;

    QListWidget* RuleList() const { return m_list; }
    QLineEdit* PatternField() const { return m_pattern; }
    QLabel* ProblemLabel() const { return m_problem; }
    void AddRule();
    void RemoveRule();

private:
    void ShowRule(int row);
    void StoreRule();
    void Refill();

    QList<FilterRule> m_rules;
    QListWidget* m_list = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_pattern = nullptr;
    QComboBox* m_syntax = nullptr;
    QCheckBox* m_case = nullptr;
    QComboBox* m_applies = nullptr;
    QLineEdit* m_minSize = nullptr;
    QLineEdit* m_maxSize = nullptr;
    QLabel* m_problem = nullptr;
    bool m_filling = false;
};
