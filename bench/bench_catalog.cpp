// Catalogue speed: load, look up and save a catalogue of 10,000 sites in 500
// folders, against Qt's own streaming XML reader over the same file as the
// reference. Prints times and ratios; there is no pass/fail here.
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/XmlDocument.h"
#include "engine/base/FtpSite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kFolders = 500;
constexpr int kSitesPerFolder = 20;

double MedianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void BuildCatalogue(const QString& path)
{
    CSiteCatalog catalog(path);
    catalog.Open();
    CXmlDocument& doc = catalog.Document();
    for (int f = 0; f < kFolders; ++f) {
        const QString folderAttributes = QStringLiteral("name = \"Folder %1\"").arg(f);
        CXmlNode* folder = doc.AddChild(nullptr, QStringLiteral("FOLDER"), nullptr, &folderAttributes);
        for (int s = 0; s < kSitesPerFolder; ++s) {
            const QString siteAttributes = QStringLiteral("name = \"Site %1-%2\"").arg(f).arg(s);
            CXmlNode* site = doc.AddChild(folder, QStringLiteral("SITE"), nullptr, &siteAttributes);
            doc.SetChildText(site, QStringLiteral("ADDRESS"), QStringLiteral("ftp%1.example.org").arg(s));
            doc.SetChildText(site, QStringLiteral("PORT"), QStringLiteral("21"));
            doc.SetChildText(site, QStringLiteral("PASVMODE"), QStringLiteral("1"));
            doc.SetChildText(site, QStringLiteral("LOGIN"), QStringLiteral("user%1").arg(s));
            doc.SetChildText(site, QStringLiteral("PASSWORD"), QStringLiteral("pa&ss<%1>").arg(s));
            doc.SetChildText(site, QStringLiteral("REMOTEPATH"), QStringLiteral("/pub/mirror"));
            doc.SetChildText(site, QStringLiteral("LOCALPATH"), QStringLiteral("/home/user/Downloads"));
            doc.SetChildText(site, QStringLiteral("RETRIES"), QStringLiteral("3"));
            doc.SetChildText(site, QStringLiteral("RETRYDELAY"), QStringLiteral("10"));
            doc.SetChildText(site, QStringLiteral("DESCRIPTION"), QString());
        }
    }
    catalog.Write();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sites.xml"));
    BuildCatalogue(path);
    const qint64 bytes = QFileInfo(path).size();

    const double loadMs = MedianMs(15, [&] {
        CXmlDocument doc;
        doc.Load(path);
    });
    const double referenceMs = MedianMs(15, [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        QXmlStreamReader reader(&file);
        int elements = 0;
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement)
                ++elements;
        }
        if (elements == 0)
            std::puts("reference reader saw nothing");
    });

    CSiteCatalog catalog(path);
    const double lookupMs = MedianMs(15, [&] {
        CFtpSite site;
        catalog.LoadSite(QStringLiteral("folder 377\\SITE 377-19"), site);
    });
    const double saveMs = MedianMs(15, [&] {
        CFtpSite site;
        site.name = QStringLiteral("Benchmark");
        site.address = QStringLiteral("ftp.example.org");
        const QString folder = QStringLiteral("Folder 499");
        catalog.SaveSite(site, &folder);
    });

    std::printf("catalogue: %d sites in %d folders, %.1f MB\n", kFolders * kSitesPerFolder, kFolders,
                bytes / 1e6);
    std::printf("load (CXmlDocument::Load)          %8.1f ms\n", loadMs);
    std::printf("reference (QXmlStreamReader scan)  %8.1f ms   ratio load/reference %.2f\n", referenceMs,
                loadMs / referenceMs);
    std::printf("LoadSite (reads the file afresh)   %8.1f ms\n", lookupMs);
    std::printf("SaveSite (read, update, write)     %8.1f ms\n", saveMs);
    return 0;
}
