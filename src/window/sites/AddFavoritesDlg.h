#pragma once

#include "engine/catalog/SiteCatalog.h"

#include <QDialog>

class CCatalogFolderTree;
class CFtpSite;
class QLineEdit;
class QPushButton;

// "Add to Favorites": a name and the catalogue folder to put it in. Folders
// made, renamed or deleted here are written when the dialog closes, however
// it closes, so the work is kept even when the user then cancels. A
// catalogue that exists but cannot be read is never written: the user is told
// once and works on an empty one in memory.
class CAddFavoritesDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAddFavoritesDlg(QWidget* owner = nullptr);
    ~CAddFavoritesDlg() override;

    // Stores `current` in the catalogue under the name and folder the user
    // picks; the path it was stored under goes to `storedPath`. False when
    // the user cancelled or the site could not be stored (the user has been
    // told why).
    static bool AddSite(QWidget* owner, const CFtpSite& current, QString* storedPath = nullptr);

    // Characters a name may not hold are dropped.
    void SetName(const QString& name);
    // After OK: the name typed and the chosen folder's path ("" for the top).
    QString Name() const;
    QString FolderPath() const;

    CSiteCatalog& Catalog() { return m_catalog; }
    CCatalogFolderTree* FolderTree() const { return m_tree; }
    QLineEdit* NameEdit() const { return m_name; }
    QPushButton* NewFolderButton() const { return m_newFolder; }
    QPushButton* OkButton() const { return m_ok; }
    // The catalogue was unreadable, or writing it on close failed: the user
    // has been told, and nothing more should be stored in it now.
    bool CatalogueUnusable() const;

    void accept() override;
    void done(int result) override;

private:
    CSiteCatalog m_catalog;
    QLineEdit* m_name = nullptr;
    CCatalogFolderTree* m_tree = nullptr;
    QPushButton* m_newFolder = nullptr;
    QPushButton* m_ok = nullptr;
    bool m_modified = false;
    bool m_writeFailed = false;
};
