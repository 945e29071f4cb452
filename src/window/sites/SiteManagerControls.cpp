// The Site Manager's controls: how the dialog is laid out, in what order the
// keyboard walks it, and which edit reaches which handler. What the handlers
// do is in SiteManagerDlg.cpp.
#include "window/sites/SiteManagerDlg.h"

#include "window/sites/ElidedLabel.h"
#include "window/sites/PasswordPlaceChoice.h"
#include "window/sites/SiteNameValidator.h"
#include "window/sites/SiteProtocolFields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSplitter>
#include <QVBoxLayout>

const std::array<CSiteManagerDlg::NumberField, 3>& CSiteManagerDlg::NumberFields()
{
    static const std::array<NumberField, 3> fields{{
        {&CSiteManagerDlg::m_port, CSiteCatalog::kPort, 1, 65535, "a port number"},
        {&CSiteManagerDlg::m_retries, CSiteCatalog::kRetries, 1, 99, "a number of retries"},
        {&CSiteManagerDlg::m_interval, CSiteCatalog::kRetryDelay, 0, 3600, "an interval in seconds"},
    }};
    return fields;
}

void CSiteManagerDlg::CreateControls()
{
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("Find a site"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setAccessibleName(QStringLiteral("Find a site"));
    m_tree = new CSiteTree(this);
    m_tree->setObjectName(QStringLiteral("siteTree"));
    m_tree->setAccessibleName(QStringLiteral("Sites"));
    m_tree->setMinimumWidth(220);
    // A long name is cut short with "..." where the tree ends; the column
    // never grows past the tree's width.
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->setTextElideMode(Qt::ElideRight);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(m_filter);
    leftLayout->addWidget(m_tree, 1);

    m_caption = new CElidedLabel(this);
    QFont captionFont = m_caption->font();
    captionFont.setBold(true);
    captionFont.setPointSizeF(captionFont.pointSizeF() * 1.25);
    m_caption->setFont(captionFont);

    const auto line = [this] { return new QLineEdit(this); };
    m_name = line();
    auto* nameValidator = new CSiteNameValidator(m_name);
    m_name->setValidator(nameValidator);
    m_nameHint = new QLabel(this);
    m_nameHint->setObjectName(QStringLiteral("nameHint"));
    // Two short lines of its own: wrapped, a form row would clip it.
    m_nameHint->setTextFormat(Qt::PlainText);
    m_nameHint->setForegroundRole(QPalette::PlaceholderText);
    m_nameHint->hide();
    m_host = line();
    m_port = line();
    m_protocol = new CProtocolChoice(this);
    m_encryption = new QComboBox(this);
    m_encryption->addItems(SiteEncryptionChoices());
    m_passive = new QCheckBox(QStringLiteral("&PASV mode"), this);
    m_anonymous = new QCheckBox(QStringLiteral("Anonymo&us"), this);
    m_login = line();
    m_password = line();
    m_password->setEchoMode(QLineEdit::Password);
    m_keyFile = new CKeyFileField(this);
    m_passwordPlace = new CPasswordPlaceChoice(this);
    m_remotePath = line();
    m_localPath = line();
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setAccessibleName(QStringLiteral("Browse for the local path"));
    m_browse->setMaximumWidth(40);
    m_retries = line();
    m_interval = line();
    for (QLineEdit* digits : {m_port, m_retries, m_interval}) {
        digits->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,5}")), digits));
        digits->setMaximumWidth(80);
    }
    m_comment = new QPlainTextEdit(this);
    m_comment->setTabChangesFocus(true);
    m_comment->setMinimumHeight(60);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    const auto row = [&](const QString& text, QWidget* field, QLayout* layout = nullptr) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        if (layout)
            form->addRow(label, layout);
        else
            form->addRow(label, field);
        if (field != m_name)
            m_siteWidgets << label;
    };
    row(QStringLiteral("Site &name:"), m_name);
    form->addRow(QString(), m_nameHint);
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(m_host, 1);
    auto* portLabel = new QLabel(QStringLiteral("P&ort:"), this);
    portLabel->setBuddy(m_port);
    hostRow->addWidget(portLabel);
    hostRow->addWidget(m_port);
    m_siteWidgets << portLabel;
    row(QStringLiteral("Host &address:"), m_host, hostRow);
    row(QStringLiteral("Pro&tocol:"), m_protocol);
    row(QStringLiteral("Encr&yption:"), m_encryption);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(m_passive);
    boxes->addWidget(m_anonymous);
    boxes->addStretch(1);
    form->addRow(QString(), boxes);
    row(QStringLiteral("&Login:"), m_login);
    row(QStringLiteral("Pass&word:"), m_password);
    row(QStringLiteral("Ke&y file:"), m_keyFile);
    form->addRow(QStringLiteral("Passwords &kept in:"), m_passwordPlace);
    row(QStringLiteral("&Remote path:"), m_remotePath);
    auto* localRow = new QHBoxLayout;
    localRow->addWidget(m_localPath, 1);
    localRow->addWidget(m_browse);
    row(QStringLiteral("L&ocal path:"), m_localPath, localRow);
    auto* retryRow = new QHBoxLayout;
    retryRow->addWidget(m_retries);
    auto* intervalLabel = new QLabel(QStringLiteral("&Interval:"), this);
    intervalLabel->setBuddy(m_interval);
    retryRow->addSpacing(12);
    retryRow->addWidget(intervalLabel);
    retryRow->addWidget(m_interval);
    retryRow->addWidget(new QLabel(QStringLiteral("seconds"), this));
    retryRow->addStretch(1);
    m_siteWidgets << intervalLabel;
    row(QStringLiteral("Re&tries:"), m_retries, retryRow);
    row(QStringLiteral("Co&mment:"), m_comment);
    m_siteWidgets << m_host << m_port << m_protocol << m_encryption << m_passive << m_anonymous << m_login << m_password
                  << m_keyFile << m_remotePath << m_localPath << m_browse << m_retries << m_interval << m_comment;

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(8, 0, 0, 0);
    rightLayout->addWidget(m_caption);
    rightLayout->addLayout(form, 1);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);

    auto* newSite = new QPushButton(QStringLiteral("New &Site"), this);
    auto* newFolder = new QPushButton(QStringLiteral("New &Folder"), this);
    auto* remove = new QPushButton(QStringLiteral("&Delete"), this);
    auto* wizard = new QPushButton(QStringLiteral("Wi&zard..."), this);
    auto* import = new QPushButton(QStringLiteral("&Import..."), this);
    m_connect = new QPushButton(QStringLiteral("&Connect"), this);
    m_connect->setDefault(true);
    m_close = new QPushButton(QStringLiteral("Clos&e"), this);
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setToolTip(QStringLiteral("Keeps the changes and closes the Site Manager"));
    const QList<QPushButton*> tools{newSite, newFolder, remove, wizard, import};
    for (QPushButton* button : tools + QList<QPushButton*>{m_close})
        button->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : tools)
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_connect);
    buttons->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    resize(760, 460);

    // The keyboard goes down the dialog as the eye does: the search, the
    // tree, the form from top to bottom, then the buttons.
    QList<QWidget*> order{m_filter,     m_tree,          m_name,       m_host,    m_port,
                          m_protocol,   m_encryption,    m_passive,    m_anonymous, m_login,
                          m_password,   m_keyFile->Edit(), m_keyFile->BrowseButton(), m_passwordPlace, m_remotePath,
                          m_localPath,  m_browse,        m_retries,    m_interval, m_comment};
    for (QPushButton* button : tools)
        order << button;
    order << m_connect << m_close;
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(newSite, &QPushButton::clicked, this, &CSiteManagerDlg::OnNewSite);
    connect(newFolder, &QPushButton::clicked, this, &CSiteManagerDlg::OnNewFolder);
    connect(remove, &QPushButton::clicked, this, &CSiteManagerDlg::OnDelete);
    connect(wizard, &QPushButton::clicked, this, &CSiteManagerDlg::OnWizard);
    connect(import, &QPushButton::clicked, this, &CSiteManagerDlg::OnImport);
    connect(m_connect, &QPushButton::clicked, this, &CSiteManagerDlg::OnConnect);
    // Close keeps what was edited, as Connect does; only Escape asks.
    connect(m_close, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    connect(m_browse, &QPushButton::clicked, this, &CSiteManagerDlg::OnBrowse);
    connect(m_tree, &CSiteTree::DeleteKeyPressed, this, &CSiteManagerDlg::OnDelete);
    // Queued: the drag that asked for the move is still running on the stack.
    connect(m_tree, &CSiteTree::MoveRequested, this, &CSiteManagerDlg::MoveItem, Qt::QueuedConnection);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CSiteManagerDlg::OnSelectionChanged);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item == m_tree->currentItem() && CSiteCatalog::IsSite(CSiteTree::NodeOf(item)))
            OnConnect();
    });
    connect(m_filter, &QLineEdit::textChanged, this, &CSiteManagerDlg::ApplyFilter);
    connect(m_name, &QLineEdit::textEdited, this, &CSiteManagerDlg::OnNameEdited);
    connect(nameValidator, &CSiteNameValidator::CharactersDropped, this, &CSiteManagerDlg::OnNameCharactersDropped);

    const auto text = [this](QLineEdit* edit, const char* element) {
        connect(edit, &QLineEdit::textEdited, this, [this, element](const QString& value) { SetChild(element, value); });
    };
    text(m_host, CSiteCatalog::kAddress);
    connect(m_password, &QLineEdit::textEdited, this, &CSiteManagerDlg::OnPasswordEdited);
    connect(m_passwordPlace, &QComboBox::activated, this, [this] {
        m_passwordPlace->Apply(this, &m_catalog);
        ShowSite(SelectedNode());
    });
    text(m_remotePath, CSiteCatalog::kRemotePath);
    text(m_localPath, CSiteCatalog::kLocalPath);
    connect(m_login, &QLineEdit::textEdited, this, &CSiteManagerDlg::OnLoginEdited);
    connect(m_comment, &QPlainTextEdit::textChanged, this,
            [this] { SetChild(CSiteCatalog::kDescription, m_comment->toPlainText()); });
    connect(m_passive, &QCheckBox::clicked, this,
            [this](bool on) { SetChild(CSiteCatalog::kPassiveMode, on ? QStringLiteral("1") : QStringLiteral("0")); });
    connect(m_anonymous, &QCheckBox::clicked, this, &CSiteManagerDlg::OnAnonymousClicked);
    connect(m_encryption, &QComboBox::activated, this, &CSiteManagerDlg::OnEncryptionChosen);
    connect(m_protocol, &QComboBox::activated, this, &CSiteManagerDlg::OnProtocolChosen);
    connect(m_keyFile, &CKeyFileField::Edited, this, [this](const QString& path) { SetChild(CSiteCatalog::kKeyFile, path); });

    // A number is stored when its field is left, not at every keystroke:
    // "8" on the way to "80" is no port anybody meant.
    for (const NumberField& field : NumberFields())
        connect(this->*field.edit, &QLineEdit::editingFinished, this, [this, &field] { OnNumberFinished(field); });
}
