#include "window/resources/Resources.h"

#include <QApplication>
#include <QImageReader>
#include <QStyle>

// Q_INIT_RESOURCE declares the registration function in the enclosing scope;
// it is defined at global scope by rcc, so the call must come from there too.
static void RegisterKestrixResources()
{
    Q_INIT_RESOURCE(kestrix);
}

namespace kx {

void InitResources()
{
    static const bool registered = (RegisterKestrixResources(), true);
    (void)registered;
}

namespace {

bool CanDrawSvg()
{
    // Without the SVG plugin QIcon would still be non-null but paint nothing.
    return QImageReader::supportedImageFormats().contains("svg");
}

} // namespace

QIcon ProgramIcon()
{
    InitResources();
    if (!CanDrawSvg())
        return QIcon();
    return QIcon(QString::fromLatin1(kProgramIconPath));
}

QIcon CatalogIconFor(CatalogIcon kind)
{
    InitResources();
    struct Choice {
        const char* path;
        QStyle::StandardPixmap fallback;
    };
    static constexpr Choice choices[] = {
        {":/icons/catalog-folder.svg", QStyle::SP_DirIcon},
        {":/icons/catalog-site.svg", QStyle::SP_DriveNetIcon},
        {":/icons/catalog-root.svg", QStyle::SP_DirHomeIcon},
    };
    const Choice& choice = choices[static_cast<int>(kind)];
    if (CanDrawSvg())
        return QIcon(QString::fromLatin1(choice.path));
    return QApplication::style()->standardIcon(choice.fallback);
}

} // namespace kx

namespace kx {

QIcon LockIcon()
{
    InitResources();
    if (CanDrawSvg())
        return QIcon(QStringLiteral(":/icons/lock.svg"));
    return QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton);
}

} // namespace kx
