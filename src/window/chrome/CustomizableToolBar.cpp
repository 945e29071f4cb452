#include "window/chrome/CustomizableToolBar.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using namespace kx;

QString Section()
{
    return QString::fromLatin1(settings::kToolbarStateSection);
}

// "Connect", "Go To Folder": the menu text without its mnemonic, ellipsis and key.
QString ShortName(const QAction* action)
{
    QString text = action->text().section(QLatin1Char('\t'), 0, 0);
    text.remove(QLatin1Char('&'));
    text.remove(QStringLiteral("..."));
    return text;
}

} // namespace

CCustomizableToolBar::CCustomizableToolBar(const QString& title, QWidget* parent)
    : QToolBar(title, parent)
{
}

void CCustomizableToolBar::LoadToolBar(const QList<int>& buttons, Lookup lookup, const QList<int>& offered)
{
    m_lookup = std::move(lookup);
    m_loaded = buttons;
    m_offered.clear();
    for (const QList<int>& ids : {buttons, offered}) {
        for (const int id : ids) {
            if (id != kSeparator && !m_offered.contains(id))
                m_offered << id;
        }
    }
    for (const int id : std::as_const(m_offered)) {
        if (QAction* action = ActionOf(id))
            action->setIconText(ShortName(action));
    }
    SetButtons(buttons);
}

void CCustomizableToolBar::SetButtons(const QList<int>& buttons)
{
    clear();
    m_buttons.clear();
    for (const int id : buttons) {
        if (id == kSeparator) {
            addSeparator();
            m_buttons << id;
        } else if (m_offered.contains(id)) {
            if (QAction* action = ActionOf(id)) {
                addAction(action);
                m_buttons << id;
            }
        }
    }
    emit ButtonsChanged();
}

void CCustomizableToolBar::SetTextLabels(bool on)
{
    m_textLabels = on;
    setToolButtonStyle(on ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
}

void CCustomizableToolBar::SetLargeIcons(bool on)
{
    m_largeIcons = on;
    setIconSize(on ? QSize(24, 24) : QSize(16, 16));
}

void CCustomizableToolBar::Reset()
{
    SetTextLabels(true);
    SetLargeIcons(true);
    SetButtons(m_loaded);
}

void CCustomizableToolBar::LoadState(const QString& name)
{
    const QString stored = GetProfileString(Section(), name);
    if (!stored.isEmpty()) {
        QList<int> buttons;
        for (const QString& field : stored.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int id = field.trimmed().toInt(&ok);
            if (ok)
                buttons << id;
        }
        SetButtons(buttons);
    }
    SetTextLabels(GetProfileInt(Section(), QString::fromLatin1(settings::kShowTextLabelsFormat).arg(name), 1) != 0);
    SetLargeIcons(GetProfileInt(Section(), QString::fromLatin1(settings::kLargeIconsFormat).arg(name), 1) != 0);
}

void CCustomizableToolBar::SaveState(const QString& name) const
{
    QStringList ids;
    for (const int id : m_buttons)
        ids << QString::number(id);
    // An empty toolbar is a layout too; "," keeps it from reading as none.
    WriteProfileString(Section(), name, ids.isEmpty() ? QStringLiteral(",") : ids.join(QLatin1Char(',')));
    WriteProfileInt(Section(), QString::fromLatin1(settings::kShowTextLabelsFormat).arg(name), m_textLabels ? 1 : 0);
    WriteProfileInt(Section(), QString::fromLatin1(settings::kLargeIconsFormat).arg(name), m_largeIcons ? 1 : 0);
}

QMenu* CCustomizableToolBar::CreateContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->addAction(QStringLiteral("Customize..."), this, &CCustomizableToolBar::Customize);
    menu->addSeparator();
    QAction* labels = menu->addAction(QStringLiteral("Show text labels"), this, [this](bool on) { SetTextLabels(on); });
    labels->setCheckable(true);
    labels->setChecked(m_textLabels);
    QAction* large = menu->addAction(QStringLiteral("Large Icons"), this, [this](bool on) { SetLargeIcons(on); });
    large->setCheckable(true);
    large->setChecked(m_largeIcons);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Reset"), this, &CCustomizableToolBar::Reset);
    return menu;
}

void CCustomizableToolBar::contextMenuEvent(QContextMenuEvent* event)
{
    // The toolbar's own menu, not the window's list of bars.
    QMenu* menu = CreateContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

void CCustomizableToolBar::Customize()
{
    CCustomizeToolbarDlg dialog(*this, parentWidget());
    dialog.exec();
}

// ---------------------------------------------------------------- the dialog

CCustomizeToolbarDlg::CCustomizeToolbarDlg(CCustomizableToolBar& toolbar, QWidget* parent)
    : QDialog(parent), m_toolbar(toolbar), m_snapshot(toolbar.Buttons())
{
    setWindowTitle(QStringLiteral("Customize Toolbar"));
    m_available = new QListWidget(this);
    m_available->setObjectName(QStringLiteral("available"));
    m_current = new QListWidget(this);
    m_current->setObjectName(QStringLiteral("current"));
    const auto button = [this](const char* text, void (CCustomizeToolbarDlg::*handler)()) {
        auto* push = new QPushButton(QString::fromUtf8(text), this);
        connect(push, &QPushButton::clicked, this, handler);
        return push;
    };
    auto* actions = new QVBoxLayout;
    actions->addWidget(button("&Add ->", &CCustomizeToolbarDlg::Add));
    actions->addWidget(button("<- &Remove", &CCustomizeToolbarDlg::Remove));
    actions->addSpacing(12);
    actions->addWidget(button("Move &Up", &CCustomizeToolbarDlg::MoveUp));
    actions->addWidget(button("Move &Down", &CCustomizeToolbarDlg::MoveDown));
    actions->addStretch(1);
    actions->addWidget(button("R&eset", &CCustomizeToolbarDlg::ResetToSnapshot));
    auto* help = new QPushButton(QStringLiteral("&Help"), this);
    connect(help, &QPushButton::clicked, this,
            [this] { Prompts().Message(this, QStringLiteral("No help available!"), IPrompts::Icon::Information); });
    actions->addWidget(help);

    auto* grid = new QGridLayout;
    // Each label's letter takes the keyboard to its list.
    auto* availableLabel = new QLabel(QStringLiteral("A&vailable toolbar buttons:"), this);
    availableLabel->setBuddy(m_available);
    auto* currentLabel = new QLabel(QStringLiteral("&Toolbar buttons:"), this);
    currentLabel->setBuddy(m_current);
    grid->addWidget(availableLabel, 0, 0);
    grid->addWidget(currentLabel, 0, 2);
    grid->addWidget(m_available, 1, 0);
    grid->addLayout(actions, 1, 1);
    grid->addWidget(m_current, 1, 2);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(close);
    connect(m_available, &QListWidget::itemDoubleClicked, this, &CCustomizeToolbarDlg::Add);
    connect(m_current, &QListWidget::itemDoubleClicked, this, &CCustomizeToolbarDlg::Remove);
    Fill();
}

QString CCustomizeToolbarDlg::TextOf(int id) const
{
    if (id == CCustomizableToolBar::kSeparator)
        return QStringLiteral("Separator");
    const QAction* action = m_toolbar.ActionOf(id);
    return action ? action->iconText() : QString::number(id);
}

void CCustomizeToolbarDlg::Fill()
{
    const QList<int> shown = m_toolbar.Buttons();
    const auto item = [this](int id, QListWidget* list) {
        auto* row = new QListWidgetItem(TextOf(id), list);
        row->setData(Qt::UserRole, id);
        if (const QAction* action = m_toolbar.ActionOf(id))
            row->setIcon(action->icon());
    };
    m_available->clear();
    item(CCustomizableToolBar::kSeparator, m_available); // as many as wanted
    for (const int id : m_toolbar.OfferedButtons()) {
        if (!shown.contains(id))
            item(id, m_available);
    }
    m_current->clear();
    for (const int id : shown)
        item(id, m_current);
}

void CCustomizeToolbarDlg::Apply()
{
    QList<int> buttons;
    for (int i = 0; i < m_current->count(); ++i)
        buttons << m_current->item(i)->data(Qt::UserRole).toInt();
    m_toolbar.SetButtons(buttons);
}

void CCustomizeToolbarDlg::Add()
{
    QListWidgetItem* chosen = m_available->currentItem();
    if (!chosen)
        return;
    const int id = chosen->data(Qt::UserRole).toInt();
    // Before the current button, as a new button goes in.
    const int at = m_current->currentRow() >= 0 ? m_current->currentRow() : m_current->count();
    auto* row = new QListWidgetItem(chosen->icon(), chosen->text());
    row->setData(Qt::UserRole, id);
    m_current->insertItem(at, row);
    if (id != CCustomizableToolBar::kSeparator)
        delete chosen;
    m_current->setCurrentRow(at);
    Apply();
}

void CCustomizeToolbarDlg::Remove()
{
    const int row = m_current->currentRow();
    if (row < 0)
        return;
    delete m_current->takeItem(row);
    Apply();
    Fill();
    m_current->setCurrentRow(std::min(row, m_current->count() - 1));
}

void CCustomizeToolbarDlg::MoveUp()
{
    const int row = m_current->currentRow();
    if (row <= 0)
        return;
    m_current->insertItem(row - 1, m_current->takeItem(row));
    m_current->setCurrentRow(row - 1);
    Apply();
}

void CCustomizeToolbarDlg::MoveDown()
{
    const int row = m_current->currentRow();
    if (row < 0 || row + 1 >= m_current->count())
        return;
    m_current->insertItem(row + 1, m_current->takeItem(row));
    m_current->setCurrentRow(row + 1);
    Apply();
}

void CCustomizeToolbarDlg::ResetToSnapshot()
{
    m_toolbar.SetButtons(m_snapshot);
    Fill();
}
