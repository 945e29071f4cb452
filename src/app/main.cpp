// Kestrix start-up. The main window arrives with the GUI; until then this
// entry point proves the build: it opens the settings store and the site
// catalogue and reports what it found.
#include "app/Settings.h"
#include "catalog/SiteCatalog.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QLatin1String(kx::kOrganisation));
    QCoreApplication::setApplicationName(QLatin1String(kx::kApplication));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));

    QTextStream out(stdout);
    out << "Kestrix " << KESTRIX_VERSION << "\n";
    out << "Settings: " << kx::SettingsFilePath() << "\n";

    CSiteCatalog catalog;
    const char* state = "missing (it is created when the first site is saved)";
    switch (catalog.Open()) {
    case CSiteCatalog::FileState::Loaded:
        state = "loaded";
        break;
    case CSiteCatalog::FileState::Unreadable:
        state = "unreadable (left untouched)";
        break;
    case CSiteCatalog::FileState::Missing:
        break;
    }
    out << "Site catalogue: " << catalog.Path() << " — " << state << "\n";
    out << "The main window is not part of this build yet.\n";
    return 0;
}
