#pragma once

#include "window/options/OptionsSheet.h"

class QPlainTextEdit;

// "Editing": what opening a file does, whether a saved copy goes back to the
// server without the question, and the program for each extension (one
// "extension=program" a line; an extension not named opens with the
// desktop's program).
class CEditingOptions : public COptionsPage {
    Q_OBJECT
public:
    explicit CEditingOptions(QWidget* parent = nullptr);
    void Save() const override;
    QWidget* InvalidField(QString& message) const override;

    QCheckBox* m_openEdits = nullptr;
    QCheckBox* m_uploadUnasked = nullptr;
    QPlainTextEdit* m_programs = nullptr;

protected:
    void Load() override;
};
