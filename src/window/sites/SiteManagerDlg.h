#pragma once

#include "engine/base/FtpSite.h"
#include "engine/catalog/SiteCatalog.h"
#include "window/sites/PendingPasswords.h"
#include "window/sites/SiteTree.h"

#include <QDialog>
#include <QTreeWidget>

#include <array>
#include <functional>

class CElidedLabel;
class CKeyFileField;
class CProtocolChoice;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The Site Manager: the catalogue's folders and sites on the left, the
// selected site's fields on the right. Every edit goes into the catalogue
// document at once; the file is written when the dialog closes by Connect or
// Close. Escape and the close box ask first whether to keep what was changed,
// so nothing typed halfway is stored behind the user's back. Connect (the
// button, Enter, or a double-click on a site) accepts the dialog with the
// site the form shows, which is always the one the tree selects.
class CSiteManagerDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSiteManagerDlg(QWidget* owner = nullptr, const QString& catalogPath = CSiteCatalog::DefaultPath());
    ~CSiteManagerDlg() override;

    // After Connect: the selected site's values and path.
    const CFtpSite& Site() const { return m_chosen; }
    const QString& SitePath() const { return m_chosenPath; }

    // Adds a FileZilla site file's folders and sites under the selected
    // folder (the selected site's folder, or the root) and tells the user
    // what came in. The Import button asks for the file, then calls this.
    void ImportFrom(const QString& fileName);

    CSiteTree* Tree() const { return m_tree; }
    QLineEdit* FilterField() const { return m_filter; }
    QLineEdit* NameField() const { return m_name; }
    QLineEdit* HostField() const { return m_host; }
    QLineEdit* PortField() const { return m_port; }
    CProtocolChoice* ProtocolBox() const { return m_protocol; }
    CKeyFileField* KeyFileField() const { return m_keyFile; }
    QComboBox* EncryptionBox() const { return m_encryption; }
    QCheckBox* PassiveBox() const { return m_passive; }
    QCheckBox* AnonymousBox() const { return m_anonymous; }
    QLineEdit* LoginField() const { return m_login; }
    QLineEdit* PasswordField() const { return m_password; }
    QLineEdit* RetriesField() const { return m_retries; }
    QPlainTextEdit* CommentField() const { return m_comment; }
    CElidedLabel* CaptionLabel() const { return m_caption; }
    // Says which characters were left out of a typed name; hidden otherwise.
    QLabel* NameHint() const { return m_nameHint; }
    QPushButton* ConnectButton() const { return m_connect; }
    QPushButton* CloseButton() const { return m_close; }
    // Something was edited since the catalogue was last read or written.
    bool HasChanges();
    CSiteCatalog& Catalog() { return m_catalog; }

    QTreeWidgetItem* FindItemByPath(const QString& path) const;

public slots:
    void OnNewSite();
    void OnNewFolder();
    void OnDelete();
    void OnWizard();
    void OnImport();
    void OnConnect();
    // Escape and the close box: asks whether to keep the changes, if any.
    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A digits-only field with the range its element may take.
    struct NumberField {
        QLineEdit* CSiteManagerDlg::*edit;
        const char* element;
        int minimum;
        int maximum;
        const char* what;
    };
    static const std::array<NumberField, 3>& NumberFields();

    void CreateControls();
    void LoadTree();
    void RebuildTree();
    void FillTree(CXmlNode* node, QTreeWidgetItem* item);
    QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, CXmlNode* node);
    void OnSelectionChanged();
    void ShowSite(CXmlNode* node);
    void EnableSiteFields(bool enable);
    void ResetFields();
    void OnNameEdited(const QString& text);
    void OnNameCharactersDropped(const QString& dropped);
    // A number field with the focus whose text is not yet stored.
    bool NumberBeingTyped();
    void SetChild(const char* element, const QString& value);
    void OnNumberFinished(const NumberField& field);
    void OnLoginEdited(const QString& text);
    void OnAnonymousClicked(bool checked);
    void OnPasswordEdited(const QString& password);
    void OnEncryptionChosen(int choice);
    void OnProtocolChosen(int choice);
    // The shown site's port follows a change of protocol or encryption.
    void FollowPort(SiteProtocol protocol, qint32 encryption);
    // Greys out what the shown site's protocol does not use.
    void ShowProtocol(SiteProtocol protocol);
    void OnBrowse();
    void ShowPassword(bool plain);
    void UpdateConnectButton();
    void MoveItem(QTreeWidgetItem* source, QTreeWidgetItem* target);
    void ApplyFilter(const QString& text);
    CXmlNode* SelectedNode() const;
    CXmlNode* TargetFolder() const;
    void SelectItem(QTreeWidgetItem* item);
    // The first site a filter leaves visible, in tree order; null for none.
    QTreeWidgetItem* FirstVisibleSite() const;

    CSiteCatalog m_catalog;
    CFtpSite m_chosen;
    QString m_chosenPath;
    CPendingPasswords m_passwords;
    QString m_savedLogin, m_savedPassword;
    bool m_filling = false; // fields are being written by the program, not the user
    bool m_toldProblem = false;
    bool m_saved = false;
    bool m_discard = false;  // the user chose to throw the changes away
    QString m_savedText;     // the document as last read or written
    QString m_droppedCharacters; // left out of the shown site's name so far

    CSiteTree* m_tree = nullptr;
    QLineEdit* m_filter = nullptr;
    CElidedLabel* m_caption = nullptr;
    QLabel* m_nameHint = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_port = nullptr;
    CProtocolChoice* m_protocol = nullptr;
    QComboBox* m_encryption = nullptr;
    QCheckBox* m_passive = nullptr;
    QCheckBox* m_anonymous = nullptr;
    QLineEdit* m_login = nullptr;
    QLineEdit* m_password = nullptr;
    CKeyFileField* m_keyFile = nullptr;
    class CPasswordPlaceChoice* m_passwordPlace = nullptr;
    QLineEdit* m_remotePath = nullptr;
    QLineEdit* m_localPath = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_retries = nullptr;
    QLineEdit* m_interval = nullptr;
    QPlainTextEdit* m_comment = nullptr;
    QPushButton* m_connect = nullptr;
    QPushButton* m_close = nullptr;
    QList<QWidget*> m_siteWidgets; // enabled only while a site is selected
};
