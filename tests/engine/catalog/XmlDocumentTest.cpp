#include "engine/catalog/XmlDocument.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

QStringList ChildNames(const CXmlNode* node)
{
    QStringList names;
    for (std::size_t i = 0; i < node->ChildCount(); ++i)
        names << node->ChildAt(i)->Name();
    return names;
}

TEST(XmlParse, DocumentElementBecomesTheRootWithItsAttributes)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.Parse(Q("<?xml version=\"1.0\"?><SITES name=\"Favorites\" ></SITES>")));
    EXPECT_EQ(doc.Root()->Name(), Q("SITES"));
    EXPECT_EQ(doc.Root()->Parent(), nullptr);
    EXPECT_EQ(doc.Root()->GetAttribute(Q("name")), Q("Favorites"));
    EXPECT_EQ(doc.Root()->GetAttribute(Q("NAME")), QString()); // exact case
    EXPECT_EQ(doc.Root()->ChildCount(), 0u);
}

TEST(XmlParse, StructureRules)
{
    struct Case {
        const char* input;
        const char* rootChildren; // names of the root's children, comma separated
    };
    const Case cases[] = {
        // An empty-element tag does not swallow its next sibling.
        {"<R><A><B/><C></C></A></R>", "A"},
        // A closing tag with a wrong name still closes the current element.
        {"<R><A></WRONG><B></B></R>", "A,B"},
        // Comments and declarations produce nothing, white space after them is harmless.
        {"<R><!-- note -->   <?pi x?> <!DOCTYPE x><A></A></R>", "A"},
        // Closing tags never move above the root.
        {"<R></R></R></R><A></A>", "A"},
        // Text after the last tag is dropped.
        {"<R><A></A></R>trailing", "A"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        doc.Parse(Q(c.input));
        EXPECT_EQ(ChildNames(doc.Root()).join(QLatin1Char(',')), Q(c.rootChildren)) << c.input;
    }

    CXmlDocument doc;
    doc.Parse(Q("<R><A><B/><C>x</C></A></R>"));
    const CXmlNode* a = doc.Root()->ChildAt(0);
    EXPECT_EQ(ChildNames(a), (QStringList{Q("B"), Q("C")}));
    EXPECT_EQ(a->ChildAt(1)->Text(), Q("x"));
    EXPECT_EQ(a->ChildAt(1)->Parent(), a);
}

TEST(XmlParse, ElementTextIsTrimmedAndDecoded)
{
    CXmlDocument doc;
    doc.Parse(Q("<R><A><B>  x  </B></A><C>a &amp;lt; &lt;b&gt; &amp; &quot;</C></R>"));
    const CXmlNode* a = doc.Root()->ChildAt(0);
    EXPECT_EQ(a->Text(), QString());
    EXPECT_EQ(a->ChildAt(0)->Text(), Q("x"));
    // Only the three entities are known; "&amp;lt;" stands for the text "&lt;".
    EXPECT_EQ(doc.Root()->ChildAt(1)->Text(), Q("a &lt; <b> & &quot;"));
}

TEST(XmlParse, AttributeForms)
{
    struct Case {
        const char* attributes;
        std::vector<std::pair<const char*, const char*>> expected;
    };
    const Case cases[] = {
        {"a = \"1\" b=\"2\"", {{"a", "1"}, {"b", "2"}}},
        {"name = \" spaced out \"", {{"name", " spaced out "}}},
        {"a=\"1\" a=\"2\"", {{"a", "2"}}},
        {"a=\"x/y\"", {{"a", "x/y"}}},
        {"a=\"unterminated", {{"a", "unterminated"}}},
        {"a=noquotes b=\"2\"", {{"a", "2"}}}, // the value starts at the next quote
        {"lonely", {}},
        {"a=", {{"a", ""}}},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        const QString text = Q(c.attributes);
        CXmlNode* node = doc.AddChild(nullptr, Q("E"), nullptr, &text);
        ASSERT_EQ(node->AttributeMap().size(), c.expected.size()) << c.attributes;
        for (const auto& [key, value] : c.expected)
            EXPECT_EQ(node->GetAttribute(Q(key)), Q(value)) << c.attributes;
        EXPECT_EQ(node->AttributeText(), text);
    }
}

TEST(XmlSerialize, LayoutIsTabsAndCrLf)
{
    CXmlDocument doc;
    doc.Root()->SetName(Q("R"));
    EXPECT_EQ(doc.Serialize(), Q("<?xml version=\"1.0\"?>\r\n<R>\r\n</R>\r\n"));

    doc.Root()->SetAttribute(Q("name"), Q("Favorites"));
    const QString text = Q("t");
    doc.AddChild(nullptr, Q("  ONE "), &text);
    CXmlNode* two = doc.AddChild(nullptr, Q("TWO"));
    doc.AddChild(two, Q("THREE"), &text);
    EXPECT_EQ(doc.Serialize(), Q("<?xml version=\"1.0\"?>\r\n"
                                 "<R name=\"Favorites\" >\r\n"
                                 "\t<ONE>t</ONE>\r\n"
                                 "\t<TWO>\r\n"
                                 "\t\t<THREE>t</THREE>\r\n"
                                 "\t</TWO>\r\n"
                                 "</R>\r\n"));
    EXPECT_EQ(doc.Root()->AttributeText(), Q("name=\"Favorites\" "));
}

TEST(XmlSerialize, TextWithMarkupCharactersRoundTrips)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(Q("t.xml"));
    CXmlDocument doc;
    doc.Root()->SetName(Q("R"));
    const QString tricky = Q("a&b<c>d &amp; ü€");
    doc.SetChildText(nullptr, Q("P"), tricky);
    EXPECT_TRUE(doc.Serialize().contains(Q("<P>a&amp;b&lt;c&gt;d &amp;amp; ü€</P>")));
    ASSERT_TRUE(doc.Save(path));

    CXmlDocument back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.GetChildText(nullptr, Q("p")), tricky);
}

TEST(XmlLoad, LineBreaksAndTabsInsideTextAreLost)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(Q("t.xml"));
    CXmlDocument doc;
    doc.Root()->SetName(Q("R"));
    doc.SetChildText(nullptr, Q("D"), Q("line one\r\nline\ttwo"));
    ASSERT_TRUE(doc.Save(path));
    CXmlDocument back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.GetChildText(nullptr, Q("D")), Q("line onelinetwo"));
}

TEST(XmlLoad, MissingFileLeavesTheDocumentAsItWas)
{
    CXmlDocument doc;
    doc.Parse(Q("<R><A></A></R>"));
    EXPECT_FALSE(doc.Load(Q("/nonexistent/folder/t.xml")));
    QTemporaryDir dir;
    EXPECT_FALSE(doc.Load(dir.path())); // a folder is not a file
    EXPECT_EQ(doc.Root()->Name(), Q("R"));
    EXPECT_EQ(doc.Root()->ChildCount(), 1u);
}

TEST(XmlLoad, ReadsUpToTheFirstZeroByteAndKeepsLegacyBytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(Q("t.xml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Latin-1 "Zoë" as a legacy 8-bit catalogue would hold it, then garbage after a NUL.
    file.write(QByteArray("<R><N>Zo\xEB</N></R>\0<X></X>", 24));
    file.close();
    CXmlDocument doc;
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(doc.GetChildText(nullptr, Q("N")), Q("Zoë"));
    EXPECT_EQ(doc.Root()->ChildCount(), 1u);
}

TEST(XmlCursor, FindChildAndIterationShareOneCursor)
{
    CXmlDocument doc;
    doc.Parse(Q("<R><a/><B/><c/></R>"));
    CXmlNode* root = doc.Root();
    EXPECT_EQ(doc.FindChild(root, Q("b")), root->ChildAt(1)); // ignoring case
    EXPECT_EQ(doc.GetNextChild(root), root->ChildAt(2));      // just after the found child
    EXPECT_EQ(doc.GetNextChild(root), nullptr);
    EXPECT_EQ(doc.FindChild(root, Q("missing")), nullptr);
    EXPECT_EQ(doc.GetNextChild(root), nullptr);

    QStringList seen;
    for (CXmlNode* n = doc.GetFirstChild(root); n; n = doc.GetNextChild(root)) {
        seen << n->Name();
        if (n->Name() == Q("a")) {
            EXPECT_TRUE(doc.RemoveNode(n)); // removing the visited child keeps the walk on track
        }
    }
    EXPECT_EQ(seen, (QStringList{Q("a"), Q("B"), Q("c")}));
    EXPECT_EQ(ChildNames(root), (QStringList{Q("B"), Q("c")}));
}

TEST(XmlEdit, RemoveNodeSearchesTheWholeSubtree)
{
    CXmlDocument doc;
    doc.Parse(Q("<R><A><B><C/></B></A><D/></R>"));
    CXmlNode* b = doc.Root()->ChildAt(0)->ChildAt(0);
    CXmlNode* d = doc.Root()->ChildAt(1);
    EXPECT_FALSE(doc.RemoveNode(d, b));
    EXPECT_FALSE(doc.RemoveNode(doc.Root()));
    EXPECT_TRUE(doc.RemoveNode(b));
    EXPECT_EQ(doc.Root()->ChildAt(0)->ChildCount(), 0u);
    EXPECT_EQ(doc.Serialize(), Q("<?xml version=\"1.0\"?>\r\n<R>\r\n\t<A>\r\n\t</A>\r\n\t<D>\r\n\t</D>\r\n</R>\r\n"));
}

TEST(XmlEdit, CopyFromIsDeepAndSafeBetweenRelatives)
{
    CXmlDocument doc;
    doc.Parse(Q("<R><A k=\"v\"><B>x</B><C><D>y</D></C></A><E/></R>"));
    CXmlNode* a = doc.Root()->ChildAt(0);
    CXmlNode* e = doc.Root()->ChildAt(1);

    e->CopyFrom(*a);
    EXPECT_EQ(e->Name(), Q("A"));
    EXPECT_EQ(e->GetAttribute(Q("k")), Q("v"));
    ASSERT_EQ(e->ChildCount(), 2u);
    EXPECT_NE(e->ChildAt(0), a->ChildAt(0));
    EXPECT_EQ(e->ChildAt(1)->ChildAt(0)->Text(), Q("y"));
    EXPECT_EQ(e->ChildAt(1)->Parent(), e);

    a->CopyFrom(*a);
    EXPECT_EQ(a->ChildCount(), 2u);

    // Copying a descendant over its ancestor and an ancestor over its descendant.
    CXmlNode* c = a->ChildAt(1);
    a->CopyFrom(*c);
    EXPECT_EQ(a->Name(), Q("C"));
    EXPECT_EQ(ChildNames(a), QStringList{Q("D")});
    CXmlNode* d = a->ChildAt(0);
    d->CopyFrom(*doc.Root());
    EXPECT_EQ(d->Name(), Q("R"));
    EXPECT_EQ(ChildNames(d), (QStringList{Q("C"), Q("A")}));
}

TEST(XmlEdit, ClearForgetsEverythingOfThePreviousDocument)
{
    CXmlDocument doc;
    doc.Parse(Q("<R old=\"1\"><A/></R>"));
    doc.Parse(Q("<S new=\"2\"></S>"));
    EXPECT_EQ(doc.Root()->Name(), Q("S"));
    EXPECT_EQ(doc.Root()->GetAttribute(Q("old")), QString());
    EXPECT_EQ(doc.Serialize(), Q("<?xml version=\"1.0\"?>\r\n<S new=\"2\" >\r\n</S>\r\n"));
}

TEST(XmlEdit, SetChildTextUpdatesOrAppends)
{
    CXmlDocument doc;
    doc.Parse(Q("<R><A>1</A></R>"));
    doc.SetChildText(nullptr, Q("a"), Q("2"));
    doc.SetChildText(nullptr, Q("B"), Q("3"));
    EXPECT_EQ(ChildNames(doc.Root()), (QStringList{Q("A"), Q("B")}));
    EXPECT_EQ(doc.GetChildText(nullptr, Q("A")), Q("2"));
    EXPECT_EQ(doc.GetChildText(nullptr, Q("B")), Q("3"));
    EXPECT_EQ(doc.GetChildText(nullptr, Q("C")), QString());
}

} // namespace
