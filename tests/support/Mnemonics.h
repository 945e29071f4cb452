#pragma once

// What a user reads of a dialog's keyboard letters: a label's "&" becomes an
// underlined letter only when the label has a buddy to move the focus to;
// without one the "&" shows as it is written.

#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace kxtest {

// The texts of the labels below `top` that would show a literal "&".
inline QStringList LabelsShowingAmpersands(const QWidget& top)
{
    QStringList shown;
    for (const QLabel* label : top.findChildren<QLabel*>()) {
        QString text = label->text();
        text.remove(QStringLiteral("&&"));
        if (label->textFormat() != Qt::RichText && text.contains(QLatin1Char('&')) && !label->buddy())
            shown << label->text();
    }
    return shown;
}

} // namespace kxtest
