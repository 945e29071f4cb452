#include "window/chrome/AboutDlg.h"

#include "window/resources/Resources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kIconSize = 64;

} // namespace

CAboutDlg::CAboutDlg(QWidget* owner)
    : CAboutDlg(BuildVersion(), owner)
{
}

CAboutDlg::CAboutDlg(const QString& version, QWidget* owner)
    : QDialog(owner)
{
    setWindowTitle(QStringLiteral("About Kestrix"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("programIcon"));
    const QIcon programIcon = kx::ProgramIcon();
    if (programIcon.isNull()) {
        // The dialog still says everything it must; a blank square would only
        // look broken.
        icon->hide();
    } else {
        setWindowIcon(programIcon);
        icon->setPixmap(programIcon.pixmap(kIconSize, kIconSize));
        icon->setFixedSize(kIconSize, kIconSize);
    }
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* name = new QLabel(QStringLiteral("Kestrix"), this);
    name->setObjectName(QStringLiteral("programName"));
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    name->setFont(nameFont);

    auto* versionLabel = new QLabel(QStringLiteral("Version %1").arg(version), this);
    versionLabel->setObjectName(QStringLiteral("programVersion"));
    // Users paste this into bug reports.
    versionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* description = new QLabel(QStringLiteral("A desktop FTP client"), this);
    description->setObjectName(QStringLiteral("programDescription"));

    auto* qtVersion = new QLabel(QStringLiteral("Built with Qt %1").arg(QLatin1String(QT_VERSION_STR)), this);
    qtVersion->setObjectName(QStringLiteral("qtVersion"));
    qtVersion->setEnabled(false);

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(versionLabel);
    text->addSpacing(6);
    text->addWidget(description);
    text->addWidget(qtVersion);
    text->addStretch(1);

    auto* body = new QHBoxLayout;
    body->setSpacing(18);
    body->addWidget(icon, 0, Qt::AlignTop);
    body->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addSpacing(8);
    layout->addWidget(buttons);
    // Nothing in the box grows; a resizable About box only invites odd shapes.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::BuildVersion()
{
    return QStringLiteral(KESTRIX_VERSION);
}
