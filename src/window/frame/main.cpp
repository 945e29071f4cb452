#include "window/frame/DialogPrompts.h"
#include "window/frame/FtpVornicApp.h"
#include "engine/base/Settings.h"
#include "window/resources/Resources.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QLatin1String(kx::kOrganisation));
    QApplication::setApplicationName(QLatin1String(kx::kApplication));
    QApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));
    QApplication::setApplicationDisplayName(QStringLiteral("Kestrix"));
    QApplication::setWindowIcon(kx::ProgramIcon());

    CDialogPrompts dialogs;
    SetPrompts(&dialogs);
    CFtpVornicApp app;
    if (!app.InitInstance(QApplication::arguments().mid(1)))
        return 1;
    return QApplication::exec();
}
