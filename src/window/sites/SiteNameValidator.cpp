#include "window/sites/SiteNameValidator.h"

#include "engine/catalog/SiteCatalog.h"

QValidator::State CSiteNameValidator::validate(QString& input, int& pos) const
{
    int removedBeforeCursor = 0;
    for (int i = 0; i < pos && i < input.size(); ++i)
        removedBeforeCursor += CSiteCatalog::IsForbiddenNameCharacter(input[i]) ? 1 : 0;
    const QString cleaned = CSiteCatalog::WithoutForbiddenCharacters(input);
    if (cleaned.size() != input.size()) {
        QString dropped;
        for (const QChar c : std::as_const(input)) {
            if (CSiteCatalog::IsForbiddenNameCharacter(c) && !dropped.contains(c))
                dropped += c;
        }
        input = cleaned;
        pos -= removedBeforeCursor;
        // Validation is asked of a const validator; saying what it did is no
        // change of its state.
        emit const_cast<CSiteNameValidator*>(this)->CharactersDropped(dropped);
    }
    return Acceptable;
}

QString CSiteNameValidator::ForbiddenCharactersText()
{
    return QStringLiteral("\" * / : < > ? \\ |");
}
