#include "window/sites/SiteNameValidator.h"

#include "engine/catalog/SiteCatalog.h"

QValidator::State CSiteNameValidator::validate(QString& input, int& pos) const
{
    int removedBeforeCursor = 0;
    for (int i = 0; i < pos && i < input.size(); ++i)
        removedBeforeCursor += CSiteCatalog::IsForbiddenNameCharacter(input[i]) ? 1 : 0;
    const QString cleaned = CSiteCatalog::WithoutForbiddenCharacters(input);
    if (cleaned.size() != input.size()) {
        input = cleaned;
        pos -= removedBeforeCursor;
    }
    return Acceptable;
}
