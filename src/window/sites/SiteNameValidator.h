#pragma once

#include <QValidator>

// Keeps the characters a catalogue name may not hold out of a name field:
// typed ones are swallowed, pasted ones dropped, so every name stored can be
// found again by its path. Each time it leaves some out it says which, so the
// field can tell the user why the text is not what they typed.
class CSiteNameValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;

    // "\" * / : < > ? \\ |" as the user may read it.
    static QString ForbiddenCharactersText();

signals:
    void CharactersDropped(const QString& dropped);
};
