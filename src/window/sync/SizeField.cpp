#include "window/sync/SizeField.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

QLineEdit* MakeSizeField(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,19}")), edit));
    edit->setPlaceholderText(QStringLiteral("bytes"));
    return edit;
}

std::optional<quint64> SizeOfField(const QString& text)
{
    bool ok = false;
    const quint64 value = text.trimmed().toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}
