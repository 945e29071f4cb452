// Feeds arbitrary bytes to the catalogue reader the way Load does, then
// writes the tree back and reads that again: nothing may crash or leak.
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/XmlDocument.h"
#include "engine/base/FtpSite.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    QString text = CXmlDocument::DecodeFileText(bytes);
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    text.remove(QLatin1Char('\t'));

    CXmlDocument doc;
    doc.Parse(text);
    CXmlDocument again;
    again.Parse(doc.Serialize());
    for (CXmlNode* n = again.GetFirstChild(nullptr); n; n = again.GetNextChild(nullptr)) {
        CXmlNode copy;
        copy.CopyFrom(*n);
        (void)again.GetChildText(n, QStringLiteral("ADDRESS"));
    }
    return 0;
}
