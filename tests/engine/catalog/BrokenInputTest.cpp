// Catalogue files are user-editable and may be damaged, truncated or not XML
// at all: none of that may crash, hang or exhaust memory.
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/XmlDocument.h"
#include "engine/base/FtpSite.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char* const kCorpus[] = {
    "",
    "<",
    ">",
    "<<<<>>>>",
    "</>",
    "<//>",
    "<SITES name=\"Favorites\"",
    "<SITES name=\"Favorites><SITE name=\"x\"></SITE></SITES>",
    "<SITES name=Favorites\"><SITE name=\"\"\"\"></SITE>",
    "<SITES><SITE name=\"a\"><ADDRESS>h</ADDR",
    "<SITES><SITE name=\"a\"><ADDRESS>h</ADDRESS></SITE></SITES></SITES></SITES>",
    "<!--<SITES>--><SITES/><SITE name=\"s\"/>",
    "<? <! <SITES> ?>",
    "<SITES =\"\" == \"=\"=\"\"\"></SITES>",
    "<SITES><FOLDER name=\"\"><SITE name=\"\"></SITE></FOLDER></SITES>",
    "&amp;&lt;&gt;&&&;<SITES>&lt;</SITES>&",
    "<SITES name=\"\xff\xfe\"><SITE name=\"\xc3\"></SITE></SITES>",
};

void Exercise(CXmlDocument& doc)
{
    // The operations every consumer performs after reading.
    const QString text = doc.Serialize();
    CXmlDocument again;
    again.Parse(text);
    (void)again.Serialize();
    for (CXmlNode* n = doc.GetFirstChild(nullptr); n; n = doc.GetNextChild(nullptr))
        (void)doc.GetChildText(n, QStringLiteral("ADDRESS"));
}

TEST(BrokenCatalogue, CorpusOfDamagedFilesNeverCrashes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sites.xml"));
    for (const char* input : kCorpus) {
        const QByteArray bytes(input);
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes.left(cut));
            file.close();

            CXmlDocument doc;
            doc.Load(path);
            Exercise(doc);

            CSiteCatalog catalog(path);
            CFtpSite site;
            catalog.LoadSite(QStringLiteral("a\\x"), site);
            catalog.LoadSite(QString(), site);
            catalog.Open();
        }
    }
}

TEST(BrokenCatalogue, BinaryNoiseAndZeroBytes)
{
    QRandomGenerator random(20261207);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("noise.xml"));
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes(1 + random.bounded(4096), Qt::Uninitialized);
        static const char alphabet[] = "<>/!?=\" \tab\r\n&;\0";
        for (char& c : bytes)
            c = round % 2 ? char(random.bounded(256)) : alphabet[random.bounded(int(sizeof alphabet))];
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        CXmlDocument doc;
        doc.Load(path);
        Exercise(doc);
    }
}

TEST(BrokenCatalogue, HugeAndDeepInputsStayBounded)
{
    // 50 MB of text without a single tag.
    {
        CXmlDocument doc;
        EXPECT_TRUE(doc.Parse(QString(50 * 1024 * 1024, QLatin1Char('x'))));
        EXPECT_EQ(doc.Root()->ChildCount(), 0u);
    }
    // Nesting up to the limit is read, written and copied; deeper is refused.
    {
        QString deep = QStringLiteral("<R>");
        for (std::size_t i = 0; i < CXmlDocument::kMaxDepth; ++i)
            deep += QStringLiteral("<a>");
        CXmlDocument doc;
        ASSERT_TRUE(doc.Parse(deep + QStringLiteral("</a><b/>")));
        const QString written = doc.Serialize();
        EXPECT_TRUE(written.contains(QString(CXmlDocument::kMaxDepth - 1, QLatin1Char('\t')) + QStringLiteral("<b>")));
        CXmlNode copy;
        copy.CopyFrom(*doc.Root());
        EXPECT_EQ(copy.ChildCount(), 1u);
        EXPECT_FALSE(doc.Parse(deep + QStringLiteral("<a>")));
        EXPECT_EQ(doc.Root()->ChildCount(), 0u);
        EXPECT_EQ(doc.Root()->Name(), QString());
    }
    // A million-deep tree built by hand is destroyed without recursion.
    {
        auto top = std::make_unique<CXmlDocument>();
        CXmlNode* node = nullptr;
        for (int i = 0; i < 1000000; ++i)
            node = top->AddChild(node, QStringLiteral("a"));
        top.reset();
    }
    // 50 MB of tags: stopped at the element limit instead of eating memory.
    {
        QString tags;
        tags.reserve(50 * 1024 * 1024);
        while (tags.size() < 50 * 1024 * 1024)
            tags += QStringLiteral("<a/>");
        CXmlDocument doc;
        EXPECT_FALSE(doc.Parse(tags));
        EXPECT_EQ(doc.Root()->ChildCount(), 0u);
    }
}

} // namespace
