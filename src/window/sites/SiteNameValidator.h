#pragma once

#include <QValidator>

// Keeps the characters a catalogue name may not hold out of a name field:
// typed ones are swallowed, pasted ones dropped, so every name stored can be
// found again by its path.
class CSiteNameValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};
