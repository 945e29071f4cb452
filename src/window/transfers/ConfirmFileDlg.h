#pragma once

#include "engine/transfer/TransferPort.h"

#include <QDialog>

class QLabel;
class QPushButton;

// The questions asked before a transfer writes over a file that is already
// there: replace it, or continue it where it ends. Each shows the file's name
// with the icon of its type, and what is known of both files. The result
// (exec() or finished()) is one of FileAnswer; Escape and the close box are
// Cancel.
class CConfirmFileDlg : public QDialog {
    Q_OBJECT
public:
    QString FirstLine() const;
    QPushButton* Button(FileAnswer answer) const;

    void reject() override { done(kAnswerCancel); }

protected:
    CConfirmFileDlg(const QString& caption, const QString& question, const FileQuestion& file,
                    QList<FileAnswer> answers, QWidget* parent);

private:
    QLabel* m_firstLine = nullptr;
    QList<QPushButton*> m_buttons;
};

// "Confirm File Replace": Yes, Yes to All, No, Cancel; for the last file to
// decide only Yes and No, in the places of No and Cancel.
class CConfirmReplaceDlg : public CConfirmFileDlg {
    Q_OBJECT
public:
    explicit CConfirmReplaceDlg(const FileQuestion& file, QWidget* parent = nullptr);
};

// "Confirm File Resume": Yes, No, Cancel.
class CConfirmResumeDlg : public CConfirmFileDlg {
    Q_OBJECT
public:
    explicit CConfirmResumeDlg(const FileQuestion& file, QWidget* parent = nullptr);
};

// The two questions as modal dialogs of the GUI thread, for uploads confirmed
// before they are queued.
class CDialogFileQuestions final : public IFileQuestions {
public:
    explicit CDialogFileQuestions(QWidget* owner) : m_owner(owner) {}
    FileAnswer AskReplace(const FileQuestion& question) override;
    FileAnswer AskResume(const FileQuestion& question) override;

private:
    QWidget* m_owner;
};
