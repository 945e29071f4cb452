#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <optional>

// One named rule of the filename filter: what it matches, and whether it is on.
struct FilterRule {
    enum class Syntax { Wildcards, RegularExpression }; // "*" and "?", or a regular expression
    enum class Applies { FilesAndFolders, Files, Folders };

    QString name;
    bool enabled = false;
    Syntax syntax = Syntax::Wildcards;
    QString pattern;
    bool caseSensitive = false;
    Applies applies = Applies::FilesAndFolders;
    std::optional<quint64> minSize; // files only
    std::optional<quint64> maxSize;

    friend bool operator==(const FilterRule&, const FilterRule&) = default;
};

// The filename filter of both panes, recursive transfers and synchronisation:
// an entry matched by any enabled rule is hidden (and skipped). Kept in the
// settings under [Filters]; the rules that ship are switched off.
class CFileFilter {
public:
    CFileFilter() = default;
    explicit CFileFilter(QList<FilterRule> rules);

    const QList<FilterRule>& Rules() const { return m_rules; }
    // Whether any rule is on: the panes show a mark then.
    bool IsActive() const;
    // A rule whose pattern does not compile hides nothing (and says why in
    // ProblemOf).
    bool Hides(const QString& name, bool folder, quint64 size) const;
    static QString ProblemOf(const FilterRule& rule);

    // The rules as the settings hold them; the shipped ones on a first start.
    static CFileFilter Load();
    void Save() const;
    static QList<FilterRule> ShippedRules();

private:
    struct Compiled {
        qsizetype rule; // index in m_rules: copies of the filter stay sound
        QRegularExpression expression;
    };
    void Compile();

    QList<FilterRule> m_rules;
    QList<Compiled> m_compiled;
};
