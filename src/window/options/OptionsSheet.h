#pragma once

#include <QDialog>
#include <QList>
#include <QWidget>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

// One page of the options: reads its settings the first time it is shown,
// and writes them all when the sheet is confirmed, if it was ever shown.
class COptionsPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    bool WasShown() const { return m_loaded; }
    // Reads the settings into the controls, once.
    void LoadOnce();
    // The first field whose text is out of its range, with the message to
    // give; null when all are fine.
    virtual QWidget* InvalidField(QString& message) const;
    virtual void Save() const = 0;

signals:
    void Modified();

protected:
    virtual void Load() = 0;
    void showEvent(QShowEvent* event) override;
    // Reports every change of the control as a modification of the page.
    void Watch(QAbstractButton* button);
    void Watch(QLineEdit* edit);

    struct Range {
        QLineEdit* edit;
        const char* what;
        int low;
        int high;
    };
    QList<Range> m_ranges;

private:
    bool m_loaded = false;
};

// "General": e-mail address, start-up, window, confirmations, progress windows.
class CGeneralOptions : public COptionsPage {
    Q_OBJECT
public:
    explicit CGeneralOptions(QWidget* parent = nullptr);
    void Save() const override;

    QLineEdit* m_email = nullptr;
    QCheckBox* m_showConnectionDlg = nullptr;
    QCheckBox* m_savePosition = nullptr;
    QCheckBox* m_deleteConfirmation = nullptr;
    QCheckBox* m_errorsOnly = nullptr; // "ShowMessageBox", stored the other way round
    QCheckBox* m_hideProgress = nullptr;

protected:
    void Load() override;
};

// "Connection": defaults for typed hosts, time-out and limit, proxy.
class CConnectionOptions : public COptionsPage {
    Q_OBJECT
public:
    explicit CConnectionOptions(QWidget* parent = nullptr);
    void Save() const override;
    QWidget* InvalidField(QString& message) const override;

    QLineEdit* m_localPath = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_retries = nullptr;
    QLineEdit* m_retryDelay = nullptr;
    QCheckBox* m_passive = nullptr;
    QComboBox* m_encryption = nullptr;
    class CPasswordPlaceChoice* m_passwordPlace = nullptr;
    QLineEdit* m_timeout = nullptr;
    QLineEdit* m_transferMax = nullptr;
    QRadioButton* m_proxy[3] = {};
    QLabel* m_proxyNameLabel = nullptr;
    QLineEdit* m_proxyName = nullptr;

protected:
    void Load() override;

private:
    void UpdateProxyName();
    void Browse();
    int ProxyType() const;
};

// "Advanced": status lines, keep-alive, the queue.
class CAdvancedOptions : public COptionsPage {
    Q_OBJECT
public:
    explicit CAdvancedOptions(QWidget* parent = nullptr);
    void Save() const override;

    QCheckBox* m_hideStatus = nullptr;
    QCheckBox* m_keepAlive = nullptr;
    QLabel* m_intervalLabel = nullptr;
    QLineEdit* m_interval = nullptr;
    QCheckBox* m_removeFailed = nullptr;
    QCheckBox* m_parallel = nullptr;
    QCheckBox* m_preserveTimes = nullptr;

protected:
    void Load() override;

private:
    void UpdateInterval();
};

// "Kestrix Options": the pages. OK and Apply refuse a field out of its
// range or a proxy name that is no host[:port], with a message, the field
// focused and the sheet left open; otherwise every page that was shown
// writes its settings (Apply then announces Applied()).
class COptionsSheet : public QDialog {
    Q_OBJECT
public:
    explicit COptionsSheet(QWidget* owner = nullptr);

    CGeneralOptions* General() const { return m_general; }
    CConnectionOptions* Connection() const { return m_connection; }
    CAdvancedOptions* Advanced() const { return m_advanced; }
    class CEditingOptions* Editing() const { return m_editing; }
    QTabWidget* Pages() const { return m_pages; }
    QPushButton* ApplyButton() const { return m_apply; }

    void accept() override;

signals:
    void Applied();

private:
    bool SaveShownPages();

    QTabWidget* m_pages = nullptr;
    CGeneralOptions* m_general = nullptr;
    CConnectionOptions* m_connection = nullptr;
    CAdvancedOptions* m_advanced = nullptr;
    class CEditingOptions* m_editing = nullptr;
    QPushButton* m_apply = nullptr;
};
