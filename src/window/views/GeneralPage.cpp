#include "window/views/GeneralPage.h"

#include "window/views/FileTypes.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

CGeneralPage::CGeneralPage(const RemoteItemProperties& item, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("General"));
    auto* icon = new QLabel(this);
    icon->setPixmap(GetShellIcon(item.name, item.folder, false).pixmap(32, 32));
    auto* name = new QLineEdit(item.name, this);
    name->setObjectName(QStringLiteral("name"));
    name->setReadOnly(true);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(name, 1);

    auto* form = new QFormLayout;
    const auto field = [&](const char* label, const char* objectName, const QString& text) {
        auto* value = new QLabel(text, this);
        value->setObjectName(QString::fromLatin1(objectName));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setTextFormat(Qt::PlainText);
        form->addRow(QString::fromLatin1(label), value);
    };
    field("Description:", "description", QString());
    field("Type:", "type", item.type);
    field("Location:", "location", item.location);
    field("Size:", "size", QStringLiteral("%1 (%2 bytes)").arg(item.sizeText, FormatThousands(item.bytes)));
    field("Date:", "date", item.date);
    field("Owner:", "owner", item.owner);
    field("Group:", "group", item.group);
    field("Permissions:", "permissions", item.permissions);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(line);
    layout->addLayout(form);
    layout->addStretch(1);
}

QString CGeneralPage::FieldText(const QString& field) const
{
    if (const auto* label = findChild<QLabel*>(field))
        return label->text();
    if (const auto* edit = findChild<QLineEdit*>(field))
        return edit->text();
    return QString();
}

CPropertiesSheet::CPropertiesSheet(const RemoteItemProperties& item, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Properties"));
    auto* tabs = new QTabWidget(this);
    m_general = new CGeneralPage(item, tabs);
    tabs->addTab(m_general, QStringLiteral("General"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    resize(360, 420);
}
