#include "resources/Resources.h"

#include <QImageReader>

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

QIcon ProgramIcon()
{
    InitResources();
    // Without the SVG plugin QIcon would still be non-null but paint nothing;
    // callers that want a fallback need to know.
    if (!QImageReader::supportedImageFormats().contains("svg"))
        return QIcon();
    return QIcon(QString::fromLatin1(kProgramIconPath));
}

} // namespace kx
