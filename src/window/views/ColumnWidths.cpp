#include "window/views/ColumnWidths.h"

#include <QHeaderView>

#include <algorithm>

QString ColumnWidthsText(const QHeaderView& header)
{
    QString text;
    for (int column = 0; column < header.count(); ++column)
        text += QString::number(header.sectionSize(column)) + QLatin1Char(',');
    return text;
}

bool RestoreColumnWidths(QHeaderView& header, const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    bool any = false;
    for (int column = 0; column < header.count() && column < fields.size(); ++column) {
        const QString field = fields[column].trimmed();
        if (field.isEmpty())
            break;
        qsizetype digits = 0;
        while (digits < field.size() && field[digits].isDigit())
            ++digits;
        header.resizeSection(column, std::max(10, field.left(digits).toInt()));
        any = true;
    }
    return any;
}
