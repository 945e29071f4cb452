#include "engine/sync/FileFilter.h"

#include "engine/base/Settings.h"

#include <QSettings>

namespace {

constexpr char kGroup[] = "Filters";

QRegularExpression ExpressionOf(const FilterRule& rule)
{
    const QString pattern = rule.syntax == FilterRule::Syntax::Wildcards
        ? QRegularExpression::wildcardToRegularExpression(rule.pattern)
        : rule.pattern;
    QRegularExpression::PatternOptions options = QRegularExpression::UseUnicodePropertiesOption;
    if (!rule.caseSensitive)
        options |= QRegularExpression::CaseInsensitiveOption;
    return QRegularExpression(pattern, options);
}

FilterRule Shipped(const char* name, const char* pattern, FilterRule::Applies applies)
{
    FilterRule rule;
    rule.name = QString::fromLatin1(name);
    rule.pattern = QString::fromLatin1(pattern);
    rule.applies = applies;
    return rule;
}

} // namespace

CFileFilter::CFileFilter(QList<FilterRule> rules)
    : m_rules(std::move(rules))
{
    Compile();
}

void CFileFilter::Compile()
{
    m_compiled.clear();
    for (qsizetype i = 0; i < m_rules.size(); ++i) {
        const FilterRule& rule = m_rules[i];
        if (!rule.enabled)
            continue;
        QRegularExpression expression = ExpressionOf(rule);
        if (rule.pattern.isEmpty() && !rule.minSize && !rule.maxSize)
            continue;
        if (!rule.pattern.isEmpty() && !expression.isValid())
            continue;
        m_compiled.append({i, std::move(expression)});
    }
}

bool CFileFilter::IsActive() const
{
    return !m_compiled.isEmpty();
}

bool CFileFilter::Hides(const QString& name, bool folder, quint64 size) const
{
    for (const Compiled& compiled : m_compiled) {
        const FilterRule& rule = m_rules[compiled.rule];
        if ((folder && rule.applies == FilterRule::Applies::Files) || (!folder && rule.applies == FilterRule::Applies::Folders))
            continue;
        if (!rule.pattern.isEmpty() && !compiled.expression.match(name).hasMatch())
            continue;
        // Sizes say something about files only; a size rule passes folders by.
        if ((rule.minSize || rule.maxSize) && folder)
            continue;
        if (rule.minSize && size < *rule.minSize)
            continue;
        if (rule.maxSize && size > *rule.maxSize)
            continue;
        return true;
    }
    return false;
}

QString CFileFilter::ProblemOf(const FilterRule& rule)
{
    if (rule.pattern.isEmpty())
        return rule.minSize || rule.maxSize ? QString() : QStringLiteral("The rule has neither a pattern nor a size.");
    const QRegularExpression expression = ExpressionOf(rule);
    return expression.isValid() ? QString() : expression.errorString();
}

QList<FilterRule> CFileFilter::ShippedRules()
{
    return {Shipped("Git folders", ".git", FilterRule::Applies::Folders),
            Shipped("Backup files", "*~", FilterRule::Applies::Files),
            Shipped("Windows thumbnails", "Thumbs.db", FilterRule::Applies::Files),
            Shipped("macOS folder data", ".DS_Store", FilterRule::Applies::Files)};
}

CFileFilter CFileFilter::Load()
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kx::kOrganisation),
                    QString::fromLatin1(kx::kApplication));
    if (!store.childGroups().contains(QString::fromLatin1(kGroup)))
        return CFileFilter(ShippedRules());
    QList<FilterRule> rules;
    const int count = store.beginReadArray(QString::fromLatin1(kGroup));
    for (int i = 0; i < count; ++i) {
        store.setArrayIndex(i);
        FilterRule rule;
        rule.name = store.value(QStringLiteral("Name")).toString();
        rule.enabled = store.value(QStringLiteral("Enabled")).toBool();
        rule.syntax = store.value(QStringLiteral("Regex")).toBool() ? FilterRule::Syntax::RegularExpression
                                                                    : FilterRule::Syntax::Wildcards;
        rule.pattern = store.value(QStringLiteral("Pattern")).toString();
        rule.caseSensitive = store.value(QStringLiteral("CaseSensitive")).toBool();
        const int applies = store.value(QStringLiteral("Applies")).toInt();
        rule.applies = applies == 1 ? FilterRule::Applies::Files
            : applies == 2          ? FilterRule::Applies::Folders
                                    : FilterRule::Applies::FilesAndFolders;
        bool ok = false;
        if (const quint64 min = store.value(QStringLiteral("MinSize")).toULongLong(&ok); ok)
            rule.minSize = min;
        if (const quint64 max = store.value(QStringLiteral("MaxSize")).toULongLong(&ok); ok)
            rule.maxSize = max;
        rules.append(rule);
    }
    store.endArray();
    return CFileFilter(rules);
}

void CFileFilter::Save() const
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kx::kOrganisation),
                    QString::fromLatin1(kx::kApplication));
    store.remove(QString::fromLatin1(kGroup));
    store.beginWriteArray(QString::fromLatin1(kGroup), int(m_rules.size()));
    for (int i = 0; i < m_rules.size(); ++i) {
        const FilterRule& rule = m_rules[i];
        store.setArrayIndex(i);
        store.setValue(QStringLiteral("Name"), rule.name);
        store.setValue(QStringLiteral("Enabled"), rule.enabled);
        store.setValue(QStringLiteral("Regex"), rule.syntax == FilterRule::Syntax::RegularExpression);
        store.setValue(QStringLiteral("Pattern"), rule.pattern);
        store.setValue(QStringLiteral("CaseSensitive"), rule.caseSensitive);
        store.setValue(QStringLiteral("Applies"), rule.applies == FilterRule::Applies::Files ? 1
                                                  : rule.applies == FilterRule::Applies::Folders ? 2 : 0);
        if (rule.minSize)
            store.setValue(QStringLiteral("MinSize"), *rule.minSize);
        if (rule.maxSize)
            store.setValue(QStringLiteral("MaxSize"), *rule.maxSize);
    }
    store.endArray();
    kx::CommitSettings(store);
}
