#pragma once

#include <QString>

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

// A small XML element tree that reads exactly what its own writer produces
// (elements, double-quoted attributes, text; declarations and comments are
// skipped) and never fails on anything else: malformed input simply yields
// whatever tree the scanning rules give. No recursion anywhere, so a hostile
// file nested a million levels deep cannot exhaust the stack.
class CXmlNode {
public:
    using Attributes = std::vector<std::pair<QString, QString>>;

    CXmlNode() = default;
    virtual ~CXmlNode();
    CXmlNode(const CXmlNode&) = delete;
    CXmlNode& operator=(const CXmlNode&) = delete;

    const QString& Name() const { return m_name; }
    void SetName(const QString& name) { m_name = name; }
    const QString& Text() const { return m_text; }
    // The attribute part of the tag as read or given; the writer regenerates
    // it from the attribute map.
    const QString& AttributeText() const { return m_attributeText; }
    const Attributes& AttributeMap() const { return m_attributes; }
    CXmlNode* Parent() const { return m_parent; }
    std::size_t ChildCount() const { return m_children.size(); }
    CXmlNode* ChildAt(std::size_t index) const { return m_children[index].get(); }

    QString GetAttribute(const QString& name) const;
    void SetAttribute(const QString& name, const QString& value);
    // Deep copy of `other` into this node; safe when one is inside the other.
    void CopyFrom(const CXmlNode& other);

private:
    friend class CXmlDocument;

    static constexpr std::size_t kCursorExhausted = static_cast<std::size_t>(-1);

    void ParseAttributes(const QString& attributeText);
    CXmlNode* AppendChild(std::unique_ptr<CXmlNode> child);
    void DeleteChildren();

    QString m_name;
    QString m_attributeText;
    QString m_text;
    std::vector<std::unique_ptr<CXmlNode>> m_children;
    Attributes m_attributes;
    CXmlNode* m_parent = nullptr;
    std::size_t m_cursor = kCursorExhausted; // next child for GetNextChild
};

class CXmlDocument {
public:
    // Files larger than this are not a catalogue anyone wrote by hand or by
    // this program; refusing them keeps a hostile file from exhausting memory.
    static constexpr qint64 kMaxFileSize = 256 * 1024 * 1024;
    // A catalogue of 80,000 sites stays below this; a file of nothing but
    // tags would otherwise take gigabytes of nodes.
    static constexpr std::size_t kMaxElements = 1'000'000;
    // Folders nest a handful of levels; a file nested deeper than this is
    // hostile, and writing it back would take quadratic time in indentation.
    static constexpr std::size_t kMaxDepth = 1000;

    CXmlDocument() = default;
    virtual ~CXmlDocument() = default;
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Reads the whole file (up to its first zero byte), drops every CR, LF and
    // TAB, and parses the rest. On any file error the document is untouched.
    bool Load(const QString& path);
    // Writes atomically (a temporary file renamed over the old one) and
    // readable by the owner only: the catalogue holds passwords.
    bool Save(const QString& path);
    // Why the last Save failed, in the file system's words.
    const QString& SaveError() const { return m_saveError; }
    // Never fails on malformed text; false only when the text holds more than
    // kMaxElements elements or nests deeper than kMaxDepth, and then the
    // document is left empty.
    bool Parse(const QString& text);
    QString Serialize();
    void Clear();

    // A null parent means the root element.
    CXmlNode* AddChild(CXmlNode* parent, const QString& name, const QString* text = nullptr,
                       const QString* attributeText = nullptr);
    bool RemoveNode(CXmlNode* node, CXmlNode* start = nullptr);
    CXmlNode* FindChild(CXmlNode* parent, const QString& name);
    CXmlNode* GetFirstChild(CXmlNode* parent);
    CXmlNode* GetNextChild(CXmlNode* parent);
    QString GetChildText(CXmlNode* parent, const QString& name);
    void SetChildText(CXmlNode* parent, const QString& name, const QString& value);

    CXmlNode* Root() { return &m_root; }
    const CXmlNode* Root() const { return &m_root; }
    const QString& SourceText() const { return m_source; }

    // Decodes file bytes: UTF-8 when they are valid UTF-8, otherwise Latin-1, so
    // a catalogue written in a legacy 8-bit code page keeps every character
    // instead of turning them into replacement marks on the next save.
    static QString DecodeFileText(const QByteArray& bytes);

private:
    enum class TagKind { Open, Close, Empty, Ignored };
    // `content` views either `tag` or `scratch`.
    static TagKind ClassifyTag(QStringView tag, QString& scratch, QStringView& content);
    void ActOnTag(TagKind kind, QStringView content);
    CXmlNode* Resolve(CXmlNode* node) { return node ? node : &m_root; }

    int m_depth = -1;
    QString m_source;
    QString m_saveError;
    CXmlNode m_root;
    CXmlNode* m_current = &m_root;
    std::size_t m_currentDepth = 0;
};
