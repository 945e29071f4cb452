#include "window/options/EditingOptions.h"

#include "engine/base/Settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QVBoxLayout>

namespace {

using namespace kx;

// The [Editors] section is a list of its own, not one key: it is read and
// written whole, through a store of its own.
void OpenEditors(QSettings& store)
{
    store.beginGroup(QString::fromLatin1(settings::kEditorsSection));
}

// "html=/usr/bin/gedit -s" -> extension and program; false for a line that is
// not of that form (a leading dot is forgiven, the case is not kept).
bool SplitLine(const QString& line, QString& extension, QString& program)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return false;
    extension = line.left(equals).trimmed().toLower();
    if (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    program = line.mid(equals + 1).trimmed();
    static const QString forbidden = QStringLiteral(" ./\\=[]");
    for (const QChar c : std::as_const(extension)) {
        if (forbidden.contains(c))
            return false;
    }
    return !extension.isEmpty() && !program.isEmpty();
}

QStringList Lines(const QPlainTextEdit& edit)
{
    QStringList lines;
    for (const QString& line : edit.toPlainText().split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines << line;
    }
    return lines;
}

} // namespace

CEditingOptions::CEditingOptions(QWidget* parent)
    : COptionsPage(parent)
{
    setObjectName(QStringLiteral("Editing"));
    m_openEdits = new QCheckBox(QStringLiteral("&Opening a file (double-click, Enter) opens it for editing"), this);
    m_openEdits->setObjectName(QStringLiteral("openEdits"));
    m_uploadUnasked = new QCheckBox(QStringLiteral("&Upload saved files without asking"), this);
    m_uploadUnasked->setObjectName(QStringLiteral("uploadUnasked"));
    m_programs = new QPlainTextEdit(this);
    m_programs->setObjectName(QStringLiteral("programs"));
    m_programs->setPlaceholderText(QStringLiteral("html=/usr/bin/gedit"));
    auto* label = new QLabel(QStringLiteral("&Programs by extension, one a line (extension=program). "
                                            "Other files open with the desktop's program."),
                             this);
    label->setWordWrap(true);
    label->setBuddy(m_programs);

    auto* files = new QGroupBox(QStringLiteral("Open and Edit"), this);
    auto* filesLayout = new QVBoxLayout(files);
    filesLayout->addWidget(m_openEdits);
    filesLayout->addWidget(m_uploadUnasked);
    filesLayout->addWidget(label);
    filesLayout->addWidget(m_programs);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(files);

    Watch(m_openEdits);
    Watch(m_uploadUnasked);
    connect(m_programs, &QPlainTextEdit::textChanged, this, &COptionsPage::Modified);
}

void CEditingOptions::Load()
{
    m_openEdits->setChecked(GetProfileInt(settings::DoubleClickOpensFiles) != 0);
    m_uploadUnasked->setChecked(GetProfileInt(settings::EditUploadWithoutAsking) != 0);
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
    OpenEditors(store);
    QStringList lines;
    for (const QString& extension : store.childKeys())
        lines << extension + QLatin1Char('=') + store.value(extension).toString();
    m_programs->setPlainText(lines.join(QLatin1Char('\n')));
}

QWidget* CEditingOptions::InvalidField(QString& message) const
{
    QString extension;
    QString program;
    for (const QString& line : Lines(*m_programs)) {
        if (!SplitLine(line, extension, program)) {
            message = QStringLiteral("\"%1\" is not of the form extension=program (html=/usr/bin/gedit).")
                          .arg(line.trimmed());
            return m_programs;
        }
    }
    return nullptr;
}

void CEditingOptions::Save() const
{
    WriteProfileInt(settings::DoubleClickOpensFiles, m_openEdits->isChecked() ? 1 : 0);
    WriteProfileInt(settings::EditUploadWithoutAsking, m_uploadUnasked->isChecked() ? 1 : 0);
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
    OpenEditors(store);
    store.remove(QString());
    QString extension;
    QString program;
    for (const QString& line : Lines(*m_programs)) {
        if (SplitLine(line, extension, program))
            store.setValue(extension, program);
    }
    store.endGroup();
    CommitSettings(store);
}
