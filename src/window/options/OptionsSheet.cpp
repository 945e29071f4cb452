#include "window/options/OptionsSheet.h"

#include "window/options/EditingOptions.h"

#include "window/sites/PasswordPlaceChoice.h"

#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/catalog/SiteCatalog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

using namespace kx;

QLineEdit* NumberField(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), edit));
    edit->setMaximumWidth(80);
    return edit;
}

QCheckBox* Check(const char* text, QWidget* parent, const char* name)
{
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// host, host:port or [IPv6]:port, the forms a proxy can be named in.
bool IsProxyAddress(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?)(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const QString port = match.captured(2);
    return port.isEmpty() || (port.toInt() >= 1 && port.toInt() <= 65535);
}

template <class... Page>
QList<COptionsPage*> AllPages(Page*... pages)
{
    return {static_cast<COptionsPage*>(pages)...};
}

} // namespace

void COptionsPage::showEvent(QShowEvent* event)
{
    LoadOnce();
    QWidget::showEvent(event);
}

void COptionsPage::LoadOnce()
{
    if (m_loaded)
        return;
    const QSignalBlocker quiet(this);
    Load();
    m_loaded = true;
}

void COptionsPage::Watch(QAbstractButton* button)
{
    connect(button, &QAbstractButton::clicked, this, &COptionsPage::Modified);
}

void COptionsPage::Watch(QLineEdit* edit)
{
    connect(edit, &QLineEdit::textEdited, this, &COptionsPage::Modified);
}

QWidget* COptionsPage::InvalidField(QString& message) const
{
    for (const Range& range : m_ranges) {
        bool ok = false;
        const int value = range.edit->text().toInt(&ok);
        if (!ok || value < range.low || value > range.high) {
            message = QStringLiteral("%1 must be a whole number from %2 to %3.")
                          .arg(QString::fromUtf8(range.what))
                          .arg(range.low)
                          .arg(range.high);
            return range.edit;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------- General

CGeneralOptions::CGeneralOptions(QWidget* parent)
    : COptionsPage(parent)
{
    setObjectName(QStringLiteral("General"));
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("email"));
    auto* emailLabel = new QLabel(QStringLiteral("&Email Address:"), this);
    emailLabel->setBuddy(m_email);
    m_showConnectionDlg = Check("&Show site manager on startup", this, "showConnectionDlg");
    m_savePosition = Check("Save &window size and position", this, "savePosition");
    m_deleteConfirmation = Check("&Delete confirmation (recommended)", this, "deleteConfirmation");
    m_errorsOnly = Check("&Only show error message when Trace window is hidden", this, "errorsOnly");
    m_hideProgress = Check("Do not show &progress dialog for uploads and downloads.", this, "hideProgress");

    auto* layout = new QVBoxLayout(this);
    auto* email = new QHBoxLayout;
    email->addWidget(emailLabel);
    email->addWidget(m_email, 1);
    layout->addLayout(email);
    for (QCheckBox* box : {m_showConnectionDlg, m_savePosition, m_deleteConfirmation, m_errorsOnly, m_hideProgress}) {
        layout->addWidget(box);
        Watch(box);
    }
    layout->addStretch(1);
    Watch(m_email);
}

void CGeneralOptions::Load()
{
    m_savePosition->setChecked(GetProfileInt(settings::SavePosition) != 0);
    m_showConnectionDlg->setChecked(GetProfileInt(settings::ShowConnectionDlg) != 0);
    m_deleteConfirmation->setChecked(GetProfileInt(settings::DeleteConfirmation) != 0);
    m_errorsOnly->setChecked(GetProfileInt(settings::ShowMessageBox) == 0);
    m_hideProgress->setChecked(GetProfileInt(settings::HideProgressDlg) != 0);
    QString systemName;
    ReadInternetEmailName(systemName);
    m_email->setText(GetProfileString(QString::fromLatin1(settings::EmailAddress.section),
                                      QString::fromLatin1(settings::EmailAddress.key), systemName));
}

void CGeneralOptions::Save() const
{
    WriteProfileString(settings::EmailAddress, m_email->text());
    WriteProfileInt(settings::ShowConnectionDlg, m_showConnectionDlg->isChecked() ? 1 : 0);
    WriteProfileInt(settings::SavePosition, m_savePosition->isChecked() ? 1 : 0);
    WriteProfileInt(settings::DeleteConfirmation, m_deleteConfirmation->isChecked() ? 1 : 0);
    WriteProfileInt(settings::ShowMessageBox, m_errorsOnly->isChecked() ? 0 : 1);
    WriteProfileInt(settings::HideProgressDlg, m_hideProgress->isChecked() ? 1 : 0);
}

// ---------------------------------------------------------------- Connection

CConnectionOptions::CConnectionOptions(QWidget* parent)
    : COptionsPage(parent)
{
    setObjectName(QStringLiteral("Connection"));
    m_localPath = new QLineEdit(this);
    m_localPath->setObjectName(QStringLiteral("localPath"));
    m_browse = new QPushButton(QStringLiteral(".."), this);
    m_browse->setObjectName(QStringLiteral("browse"));
    m_browse->setMaximumWidth(32);
    m_retries = NumberField(this, "retries");
    m_retryDelay = NumberField(this, "retryDelay");
    m_passive = Check("&Use PASV Mode", this, "passive");
    m_encryption = new QComboBox(this);
    m_encryption->setObjectName(QStringLiteral("encryption"));
    m_encryption->addItems(SiteEncryptionChoices());
    connect(m_encryption, &QComboBox::activated, this, &COptionsPage::Modified);
    m_timeout = NumberField(this, "timeout");
    m_transferMax = NumberField(this, "transferMax");
    const char* const proxies[] = {"Preconfigured (default).", "Direct to Internet.", "Through CERN proxy:"};
    for (int i = 0; i < 3; ++i) {
        m_proxy[i] = new QRadioButton(QString::fromLatin1(proxies[i]), this);
        m_proxy[i]->setObjectName(QStringLiteral("proxy%1").arg(i));
        connect(m_proxy[i], &QRadioButton::clicked, this, [this] {
            UpdateProxyName();
            emit Modified();
        });
    }
    m_proxyName = new QLineEdit(this);
    m_proxyName->setObjectName(QStringLiteral("proxyName"));
    m_proxyNameLabel = new QLabel(QStringLiteral("Proxy Name:"), this);
    m_proxyNameLabel->setBuddy(m_proxyName);

    auto* defaults = new QGroupBox(QStringLiteral("Defaults"), this);
    auto* defaultsLayout = new QFormLayout(defaults);
    auto* path = new QHBoxLayout;
    path->addWidget(m_localPath, 1);
    path->addWidget(m_browse);
    // A row holding a layout gets no buddy from the form, and without one
    // the "&" would show; the label is made here with its field.
    auto* pathLabel = new QLabel(QStringLiteral("Download &Path:"), this);
    pathLabel->setBuddy(m_localPath);
    defaultsLayout->addRow(pathLabel, path);
    defaultsLayout->addRow(QStringLiteral("&Retries:"), m_retries);
    defaultsLayout->addRow(QStringLiteral("Retry &Delay:"), m_retryDelay);
    defaultsLayout->addRow(m_passive);
    defaultsLayout->addRow(QStringLiteral("&Encryption:"), m_encryption);
    m_passwordPlace = new CPasswordPlaceChoice(this);
    connect(m_passwordPlace, &QComboBox::activated, this, &COptionsPage::Modified);
    defaultsLayout->addRow(QStringLiteral("Passwords &kept in:"), m_passwordPlace);

    auto* advanced = new QGroupBox(QStringLiteral("Advanced"), this);
    auto* advancedLayout = new QFormLayout(advanced);
    advancedLayout->addRow(QStringLiteral("Connection &Timeout (seconds):"), m_timeout);
    advancedLayout->addRow(QStringLiteral("&Maximum Simultaneous Connections:"), m_transferMax);

    auto* proxy = new QGroupBox(QStringLiteral("Proxy"), this);
    auto* proxyLayout = new QVBoxLayout(proxy);
    proxyLayout->addWidget(m_proxy[0]);
    proxyLayout->addWidget(m_proxy[1]);
    auto* named = new QHBoxLayout;
    named->addWidget(m_proxy[2]);
    named->addWidget(m_proxyNameLabel);
    named->addWidget(m_proxyName, 1);
    proxyLayout->addLayout(named);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(defaults);
    layout->addWidget(advanced);
    layout->addWidget(proxy);
    layout->addStretch(1);

    for (QLineEdit* edit : {m_localPath, m_retries, m_retryDelay, m_timeout, m_transferMax, m_proxyName})
        Watch(edit);
    Watch(m_passive);
    connect(m_browse, &QPushButton::clicked, this, &CConnectionOptions::Browse);
    m_ranges = {{m_retries, "Retries", 1, 99},
                {m_retryDelay, "Retry delay", 0, 3600},
                {m_timeout, "Connection timeout", 1, 3600},
                {m_transferMax, "Maximum simultaneous connections", 1, 100}};
}

void CConnectionOptions::Load()
{
    m_transferMax->setText(QString::number(GetProfileInt(settings::TransferMax)));
    m_timeout->setText(QString::number(GetProfileInt(settings::ConnectionTimeout)));
    m_localPath->setText(GetProfileString(settings::DefaultLocalPath));
    m_retries->setText(QString::number(GetProfileInt(settings::DefaultRetries)));
    m_retryDelay->setText(QString::number(GetProfileInt(settings::DefaultRetryDelay)));
    m_passive->setChecked(GetProfileInt(settings::DefaultUsePASVMode) != 0);
    m_encryption->setCurrentIndex(CSiteCatalog::DefaultEncryption());
    m_passwordPlace->Reload();
    const int type = GetProfileInt(settings::ProxyType);
    m_proxy[type >= 0 && type <= 2 ? type : 0]->setChecked(true);
    m_proxyName->setText(GetProfileString(settings::ProxyName));
    UpdateProxyName();
}

int CConnectionOptions::ProxyType() const
{
    for (int i = 0; i < 3; ++i) {
        if (m_proxy[i]->isChecked())
            return i;
    }
    return 0;
}

void CConnectionOptions::UpdateProxyName()
{
    const bool named = ProxyType() == settings::kProxyNamed;
    m_proxyName->setEnabled(named);
    m_proxyNameLabel->setEnabled(named);
}

void CConnectionOptions::Browse()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Select a directory:"), m_localPath->text());
    if (!chosen.isEmpty()) {
        m_localPath->setText(chosen);
        emit Modified();
    }
}

QWidget* CConnectionOptions::InvalidField(QString& message) const
{
    if (QWidget* field = COptionsPage::InvalidField(message))
        return field;
    if (ProxyType() == settings::kProxyNamed && !IsProxyAddress(m_proxyName->text())) {
        message = QStringLiteral("\"%1\" is not a proxy address. Write it as host or host:port, "
                                 "for example proxy.example.com:8080.")
                      .arg(m_proxyName->text());
        return m_proxyName;
    }
    return nullptr;
}

void CConnectionOptions::Save() const
{
    WriteProfileString(settings::DefaultLocalPath, m_localPath->text());
    WriteProfileInt(settings::DefaultRetries, m_retries->text().toInt());
    WriteProfileInt(settings::DefaultRetryDelay, m_retryDelay->text().toInt());
    WriteProfileInt(settings::DefaultUsePASVMode, m_passive->isChecked() ? 1 : 0);
    WriteProfileInt(settings::DefaultEncryption, m_encryption->currentIndex());
    WriteProfileInt(settings::ConnectionTimeout, m_timeout->text().toInt());
    WriteProfileInt(settings::TransferMax, m_transferMax->text().toInt());
    WriteProfileInt(settings::ProxyType, ProxyType());
    WriteProfileString(settings::ProxyName, m_proxyName->text().trimmed());
    m_passwordPlace->Apply(window());
}

// ---------------------------------------------------------------- Advanced

CAdvancedOptions::CAdvancedOptions(QWidget* parent)
    : COptionsPage(parent)
{
    setObjectName(QStringLiteral("Advanced"));
    m_hideStatus = Check("Do not &show status message", this, "hideStatus");
    m_keepAlive = Check("Send &keepalive command to prevent disconnection", this, "keepAlive");
    m_interval = NumberField(this, "interval");
    m_intervalLabel = new QLabel(QStringLiteral("&Interval (seconds):"), this);
    m_intervalLabel->setBuddy(m_interval);
    m_removeFailed = Check("&Remove failed transfers from queue", this, "removeFailed");
    m_parallel = Check("&Enable simultaneous file transfers", this, "parallel");
    m_preserveTimes = Check("Preserve the modification &times of transferred files", this, "preserveTimes");

    auto* general = new QGroupBox(QStringLiteral("General"), this);
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(m_hideStatus);
    generalLayout->addWidget(m_keepAlive);
    auto* interval = new QHBoxLayout;
    interval->addSpacing(20);
    interval->addWidget(m_intervalLabel);
    interval->addWidget(m_interval);
    interval->addStretch(1);
    generalLayout->addLayout(interval);
    auto* queue = new QGroupBox(QStringLiteral("Queue"), this);
    auto* queueLayout = new QVBoxLayout(queue);
    queueLayout->addWidget(m_removeFailed);
    queueLayout->addWidget(m_parallel);
    queueLayout->addWidget(m_preserveTimes);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(general);
    layout->addWidget(queue);
    layout->addStretch(1);

    for (QCheckBox* box : {m_hideStatus, m_keepAlive, m_removeFailed, m_parallel, m_preserveTimes})
        Watch(box);
    Watch(m_interval);
    connect(m_keepAlive, &QCheckBox::clicked, this, &CAdvancedOptions::UpdateInterval);
    m_ranges = {{m_interval, "The keep-alive interval", 5, 3600}};
}

void CAdvancedOptions::Load()
{
    m_keepAlive->setChecked(GetProfileInt(settings::KeepAlive) != 0);
    m_interval->setText(QString::number(GetProfileInt(settings::Interval)));
    m_removeFailed->setChecked(GetProfileInt(settings::RemoveFailed) != 0);
    m_hideStatus->setChecked(GetProfileInt(settings::HideStatusCallbackInfo) != 0);
    m_parallel->setChecked(GetProfileInt(settings::ForceParallelTransfers) != 0);
    m_preserveTimes->setChecked(GetProfileInt(settings::PreserveTimes) != 0);
    UpdateInterval();
}

void CAdvancedOptions::UpdateInterval()
{
    m_interval->setEnabled(m_keepAlive->isChecked());
    m_intervalLabel->setEnabled(m_keepAlive->isChecked());
}

void CAdvancedOptions::Save() const
{
    WriteProfileInt(settings::HideStatusCallbackInfo, m_hideStatus->isChecked() ? 1 : 0);
    WriteProfileInt(settings::KeepAlive, m_keepAlive->isChecked() ? 1 : 0);
    WriteProfileInt(settings::Interval, m_interval->text().toInt());
    WriteProfileInt(settings::RemoveFailed, m_removeFailed->isChecked() ? 1 : 0);
    WriteProfileInt(settings::ForceParallelTransfers, m_parallel->isChecked() ? 1 : 0);
    WriteProfileInt(settings::PreserveTimes, m_preserveTimes->isChecked() ? 1 : 0);
}

// ---------------------------------------------------------------- the sheet

COptionsSheet::COptionsSheet(QWidget* owner)
    : QDialog(owner)
{
    // The desktop adds the program's name.
    setWindowTitle(QStringLiteral("Options"));
    setObjectName(QStringLiteral("optionsSheet"));
    m_pages = new QTabWidget(this);
    m_general = new CGeneralOptions(m_pages);
    m_connection = new CConnectionOptions(m_pages);
    m_advanced = new CAdvancedOptions(m_pages);
    m_pages->addTab(m_general, QStringLiteral("General"));
    m_pages->addTab(m_connection, QStringLiteral("Connection"));
    m_pages->addTab(m_advanced, QStringLiteral("Advanced"));
    m_editing = new CEditingOptions(m_pages);
    m_pages->addTab(m_editing, QStringLiteral("Editing"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    m_apply = buttons->button(QDialogButtonBox::Apply);
    m_apply->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_apply, &QPushButton::clicked, this, [this] {
        if (SaveShownPages()) {
            m_apply->setEnabled(false);
            emit Applied();
        }
    });
    for (COptionsPage* page : AllPages(m_general, m_connection, m_advanced, m_editing))
        connect(page, &COptionsPage::Modified, m_apply, [this] { m_apply->setEnabled(true); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    // The first page is read at once, as a sheet shows it first.
    m_general->LoadOnce();
}

bool COptionsSheet::SaveShownPages()
{
    const QList<COptionsPage*> pages = AllPages(m_general, m_connection, m_advanced, m_editing);
    for (COptionsPage* page : pages) {
        QString message;
        QWidget* field = page->WasShown() ? page->InvalidField(message) : nullptr;
        if (field) {
            m_pages->setCurrentWidget(page);
            Prompts().Message(this, message, IPrompts::Icon::Warning);
            field->setFocus();
            if (auto* edit = qobject_cast<QLineEdit*>(field))
                edit->selectAll();
            return false;
        }
    }
    for (COptionsPage* page : pages) {
        if (page->WasShown())
            page->Save();
    }
    return true;
}

void COptionsSheet::accept()
{
    if (SaveShownPages())
        QDialog::accept();
}
