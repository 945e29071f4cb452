#pragma once

#include <QComboBox>

class CSiteCatalog;

// "Store passwords in": the keyring, the site catalogue (clear text) or
// nowhere, as the setting "PasswordStore" holds it. The Options sheet, the
// Site Manager and the wizard each show one; changing it offers to move the
// passwords already stored to the new place.
class CPasswordPlaceChoice : public QComboBox {
    Q_OBJECT
public:
    explicit CPasswordPlaceChoice(QWidget* parent = nullptr);

    // The setting's value for the choice shown.
    int StoreSetting() const;
    // Shows the setting as it is now.
    void Reload();
    // Writes the choice; when it differs from the setting, offers to move
    // the stored passwords of the catalogue there (owner: for the question).
    // A dialog that holds the catalogue open passes it: the move happens in
    // its document, which it writes itself; true then when it changed.
    bool Apply(QWidget* owner, CSiteCatalog* open = nullptr) const;
};

// The offer made once, at a start with a keyring, to move the passwords kept
// in clear text into it; not made again until "PasswordStore" changes.
void OfferToMovePasswordsIntoKeyring(QWidget* owner);
