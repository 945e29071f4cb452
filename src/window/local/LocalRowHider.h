#pragma once

#include <QFileInfo>
#include <QObject>

#include <functional>

class CLocalBrowserBar;

// Hides rows of the Local Browser's folder in both its views: the filename
// filters' and a comparison's identical files. Rows that arrive later (the
// folder read in the background, files written meanwhile) are judged as
// they come. Hidden rows are never acted on (the bar leaves them out of its
// selection).
class CLocalRowHider : public QObject {
    Q_OBJECT
public:
    using Rule = std::function<bool(const QFileInfo& info)>;

    explicit CLocalRowHider(CLocalBrowserBar& bar);

    // Null shows every row.
    void SetRule(Rule rule);
    // Judges every row of the folder on display again (the rule's answers changed).
    void Apply();
    int HiddenCount() const;

signals:
    // The rows hidden changed.
    void Applied();

private:
    void ApplyToRows(int first, int last);

    CLocalBrowserBar& m_bar;
    Rule m_rule;
};
