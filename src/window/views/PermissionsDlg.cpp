#include "window/views/PermissionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

constexpr int kBit[3][3] = {{0400, 0200, 0100}, {040, 020, 010}, {04, 02, 01}};

} // namespace

CPermissionsDlg::CPermissionsDlg(const QStringList& names, const QList<int>& modes, bool anyFolder, QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("permissionsDialog"));
    setWindowTitle(QStringLiteral("File Permissions"));
    auto* layout = new QVBoxLayout(this);
    auto* about = new QLabel(names.size() == 1 ? QStringLiteral("Permissions of \"%1\":").arg(names.first())
                                               : QStringLiteral("Permissions of %1 items:").arg(names.size()),
                             this);
    about->setTextFormat(Qt::PlainText);
    about->setWordWrap(true);
    layout->addWidget(about);

    auto* grid = new QGridLayout;
    const char* const whoNames[] = {"&Owner", "&Group", "Ot&hers"};
    const char* const whatNames[] = {"Read", "Write", "Execute"};
    for (int what = 0; what < 3; ++what)
        grid->addWidget(new QLabel(QString::fromLatin1(whatNames[what]), this), 0, what + 1, Qt::AlignCenter);
    for (int who = 0; who < 3; ++who) {
        auto* label = new QLabel(QString::fromLatin1(whoNames[who]), this);
        grid->addWidget(label, who + 1, 0);
        for (int what = 0; what < 3; ++what) {
            auto* box = new QCheckBox(this);
            box->setObjectName(QStringLiteral("bit%1%2").arg(who).arg(what));
            box->setAccessibleName(QStringLiteral("%1 %2").arg(QString::fromLatin1(whoNames[who]).remove(QLatin1Char('&')),
                                                             QString::fromLatin1(whatNames[what])));
            int set = 0;
            int known = 0;
            for (const int mode : modes) {
                if (mode < 0)
                    continue;
                ++known;
                set += (mode & kBit[who][what]) ? 1 : 0;
            }
            if (set > 0 && set < known) {
                box->setTristate(true);
                box->setCheckState(Qt::PartiallyChecked);
            } else {
                box->setChecked(set > 0);
            }
            m_boxes[who][what] = box;
            grid->addWidget(box, who + 1, what + 1, Qt::AlignCenter);
            connect(box, &QCheckBox::stateChanged, this, &CPermissionsDlg::FromBoxes);
            if (what == 0)
                label->setBuddy(box);
        }
    }
    layout->addLayout(grid);

    auto* octalRow = new QHBoxLayout;
    m_octal = new QLineEdit(this);
    m_octal->setObjectName(QStringLiteral("octal"));
    m_octal->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]{0,3}")), m_octal));
    m_octal->setMaximumWidth(60);
    auto* octalLabel = new QLabel(QStringLiteral("&Numeric value:"), this);
    octalLabel->setBuddy(m_octal);
    octalRow->addWidget(octalLabel);
    octalRow->addWidget(m_octal);
    octalRow->addStretch(1);
    layout->addLayout(octalRow);
    connect(m_octal, &QLineEdit::textEdited, this, &CPermissionsDlg::FromOctal);

    if (anyFolder) {
        auto* below = new QHBoxLayout;
        m_recurse = new QCheckBox(QStringLiteral("&Apply to subfolders and files:"), this);
        m_recurse->setObjectName(QStringLiteral("recurse"));
        m_scope = new QComboBox(this);
        m_scope->setObjectName(QStringLiteral("scope"));
        m_scope->addItems({QStringLiteral("all"), QStringLiteral("files only"), QStringLiteral("folders only")});
        m_scope->setEnabled(false);
        connect(m_recurse, &QCheckBox::toggled, m_scope, &QWidget::setEnabled);
        below->addWidget(m_recurse);
        below->addWidget(m_scope);
        below->addStretch(1);
        layout->addLayout(below);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    FromBoxes();
}

int CPermissionsDlg::Mode() const
{
    bool ok = false;
    const int mode = m_octal->text().toInt(&ok, 8);
    return ok ? mode : 0;
}

int CPermissionsDlg::MixedBits() const
{
    int bits = 0;
    for (int who = 0; who < 3; ++who)
        for (int what = 0; what < 3; ++what)
            bits |= m_boxes[who][what]->checkState() == Qt::PartiallyChecked ? kBit[who][what] : 0;
    return bits;
}

PermissionScope CPermissionsDlg::Scope() const
{
    if (!m_recurse || !m_recurse->isChecked())
        return PermissionScope::ItemsOnly;
    switch (m_scope->currentIndex()) {
    case 1: return PermissionScope::FilesBelow;
    case 2: return PermissionScope::FoldersBelow;
    default: return PermissionScope::AllBelow;
    }
}

void CPermissionsDlg::FromBoxes()
{
    if (m_updating)
        return;
    m_updating = true;
    int mode = 0;
    for (int who = 0; who < 3; ++who)
        for (int what = 0; what < 3; ++what)
            mode |= m_boxes[who][what]->checkState() == Qt::Checked ? kBit[who][what] : 0;
    m_octal->setText(QStringLiteral("%1").arg(mode, 3, 8, QLatin1Char('0')));
    m_updating = false;
}

void CPermissionsDlg::FromOctal()
{
    if (m_updating)
        return;
    m_updating = true;
    const int mode = Mode();
    for (int who = 0; who < 3; ++who) {
        for (int what = 0; what < 3; ++what) {
            QCheckBox* box = m_boxes[who][what];
            box->setTristate(false);
            box->setChecked((mode & kBit[who][what]) != 0);
        }
    }
    m_updating = false;
}
