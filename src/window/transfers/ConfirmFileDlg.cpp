#include "window/transfers/ConfirmFileDlg.h"

#include "window/views/FileTypes.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QString ButtonText(FileAnswer answer)
{
    switch (answer) {
    case kAnswerYes: return QStringLiteral("&Yes");
    case kAnswerYesToAll: return QStringLiteral("Yes to &All");
    case kAnswerNo: return QStringLiteral("&No");
    case kAnswerCancel: break;
    }
    return QStringLiteral("Cancel");
}

QLabel* TextLabel(const QString& text, QWidget* parent)
{
    QString shown = text;
    shown.remove(QLatin1Char('\r'));
    auto* label = new QLabel(shown, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

CConfirmFileDlg::CConfirmFileDlg(const QString& caption, const QString& question, const FileQuestion& file,
                                 QList<FileAnswer> answers, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(caption);
    setAttribute(Qt::WA_QuitOnClose, false);
    const int large = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const QPixmap typeIcon = GetShellIcon(file.fileName, false, false).pixmap(large);
    const auto iconLabel = [&] {
        auto* label = new QLabel(this);
        label->setPixmap(typeIcon);
        label->setAlignment(Qt::AlignTop);
        return label;
    };

    auto* warning = new QLabel(this);
    warning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(large));
    m_firstLine = TextLabel(QStringLiteral("This folder already contains a file named '%1'").arg(file.fileName), this);
    m_firstLine->setObjectName(QStringLiteral("firstLine"));
    m_firstLine->setWordWrap(true);
    auto* existing = TextLabel(file.existingDescription, this);
    existing->setObjectName(QStringLiteral("existing"));
    auto* incoming = TextLabel(file.newDescription, this);
    incoming->setObjectName(QStringLiteral("incoming"));

    auto* grid = new QGridLayout;
    grid->addWidget(warning, 0, 0);
    grid->addWidget(m_firstLine, 0, 1, 1, 2);
    grid->addWidget(TextLabel(question, this), 1, 1, 1, 2);
    grid->addWidget(iconLabel(), 2, 1);
    grid->addWidget(existing, 2, 2);
    grid->addWidget(TextLabel(QStringLiteral("with this one?"), this), 3, 1, 1, 2);
    grid->addWidget(iconLabel(), 4, 1);
    grid->addWidget(incoming, 4, 2);
    grid->setColumnStretch(2, 1);

    // The buttons keep their order; the ones a question leaves out go, and
    // the others close up to the right.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (const FileAnswer answer : {kAnswerYes, kAnswerYesToAll, kAnswerNo, kAnswerCancel}) {
        auto* button = new QPushButton(ButtonText(answer), this);
        button->setObjectName(QStringLiteral("answer%1").arg(int(answer)));
        button->setVisible(answers.contains(answer));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
        buttons->addWidget(button);
        m_buttons << button;
    }
    Button(kAnswerYes)->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

QString CConfirmFileDlg::FirstLine() const
{
    return m_firstLine->text();
}

QPushButton* CConfirmFileDlg::Button(FileAnswer answer) const
{
    for (QPushButton* button : m_buttons) {
        if (button->objectName() == QStringLiteral("answer%1").arg(int(answer)))
            return button;
    }
    return nullptr;
}

CConfirmReplaceDlg::CConfirmReplaceDlg(const FileQuestion& file, QWidget* parent)
    : CConfirmFileDlg(QStringLiteral("Confirm File Replace"), QStringLiteral("Would you like to replace the existing file"),
                      file,
                      file.remaining <= 1 ? QList<FileAnswer>{kAnswerYes, kAnswerNo}
                                          : QList<FileAnswer>{kAnswerYes, kAnswerYesToAll, kAnswerNo, kAnswerCancel},
                      parent)
{
}

CConfirmResumeDlg::CConfirmResumeDlg(const FileQuestion& file, QWidget* parent)
    : CConfirmFileDlg(QStringLiteral("Confirm File Resume"),
                      QStringLiteral("Do you want to attempt to resume the transfer of the existing file"), file,
                      {kAnswerYes, kAnswerNo, kAnswerCancel}, parent)
{
}

FileAnswer CDialogFileQuestions::AskReplace(const FileQuestion& question)
{
    CConfirmReplaceDlg dialog(question, m_owner);
    return static_cast<FileAnswer>(dialog.exec());
}

FileAnswer CDialogFileQuestions::AskResume(const FileQuestion& question)
{
    CConfirmResumeDlg dialog(question, m_owner);
    return static_cast<FileAnswer>(dialog.exec());
}
