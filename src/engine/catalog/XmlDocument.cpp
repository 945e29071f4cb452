#include "engine/catalog/XmlDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

QString DecodeEntities(QString text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    // "&amp;" last, so an escaped "&lt;" in the file reads back as "&lt;".
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

QString EncodeEntities(QString text)
{
    text.replace(QLatin1String("&"), QLatin1String("&amp;"));
    text.replace(QLatin1String("<"), QLatin1String("&lt;"));
    text.replace(QLatin1String(">"), QLatin1String("&gt;"));
    return text;
}

} // namespace

// ---------------------------------------------------------------- CXmlNode

CXmlNode::~CXmlNode()
{
    DeleteChildren();
}

void CXmlNode::DeleteChildren()
{
    // Flatten instead of recursing: each node is destroyed only after its
    // children were moved out, so depth never reaches the call stack.
    std::vector<std::unique_ptr<CXmlNode>> pending = std::move(m_children);
    m_children.clear();
    m_cursor = kCursorExhausted;
    while (!pending.empty()) {
        std::unique_ptr<CXmlNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->m_children)
            pending.push_back(std::move(child));
        node->m_children.clear();
    }
}

CXmlNode* CXmlNode::AppendChild(std::unique_ptr<CXmlNode> child)
{
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

QString CXmlNode::GetAttribute(const QString& name) const
{
    for (const auto& [key, value] : m_attributes) {
        if (key == name)
            return value;
    }
    return QString();
}

void CXmlNode::SetAttribute(const QString& name, const QString& value)
{
    for (auto& [key, existing] : m_attributes) {
        if (key == name) {
            existing = value;
            return;
        }
    }
    m_attributes.emplace_back(name, value);
}

void CXmlNode::ParseAttributes(const QString& text)
{
    const qsizetype length = text.size();
    qsizetype pos = 0;
    while (pos < length) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), pos);
        if (equals < 0)
            break;
        const QString key = text.mid(pos, equals - pos).trimmed();
        QString value;
        const qsizetype open = text.indexOf(QLatin1Char('"'), equals + 1);
        if (open < 0) {
            pos = length;
        } else {
            const qsizetype close = text.indexOf(QLatin1Char('"'), open + 1);
            if (close < 0) {
                value = text.mid(open);
                pos = length;
            } else {
                value = text.mid(open, close - open + 1);
                pos = close + 1;
            }
        }
        qsizetype first = 0;
        qsizetype last = value.size();
        while (first < last && value[first] == QLatin1Char('"'))
            ++first;
        while (last > first && value[last - 1] == QLatin1Char('"'))
            --last;
        SetAttribute(key, value.mid(first, last - first));
    }
}

void CXmlNode::CopyFrom(const CXmlNode& other)
{
    if (&other == this)
        return;
    // Build the copy before touching this node: `other` may lie inside this
    // node's subtree, or this node inside `other`'s.
    CXmlNode copy;
    copy.m_name = other.m_name;
    copy.m_attributeText = other.m_attributeText;
    copy.m_text = other.m_text;
    copy.m_attributes = other.m_attributes;
    std::vector<std::pair<const CXmlNode*, CXmlNode*>> pending{{&other, &copy}};
    while (!pending.empty()) {
        const auto [source, target] = pending.back();
        pending.pop_back();
        for (const auto& child : source->m_children) {
            auto duplicate = std::make_unique<CXmlNode>();
            duplicate->m_name = child->m_name;
            duplicate->m_attributeText = child->m_attributeText;
            duplicate->m_text = child->m_text;
            duplicate->m_attributes = child->m_attributes;
            pending.emplace_back(child.get(), target->AppendChild(std::move(duplicate)));
        }
    }
    DeleteChildren();
    m_name = std::move(copy.m_name);
    m_attributeText = std::move(copy.m_attributeText);
    m_text = std::move(copy.m_text);
    m_attributes = std::move(copy.m_attributes);
    m_children = std::move(copy.m_children);
    copy.m_children.clear();
    for (auto& child : m_children)
        child->m_parent = this;
}

// ------------------------------------------------------------ CXmlDocument

QString CXmlDocument::DecodeFileText(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    // The fast decoder marks invalid input with replacement characters; only
    // then is the slower exact check needed.
    if (!text.contains(QChar::ReplacementCharacter))
        return text;
    QStringDecoder utf8(QStringDecoder::Utf8);
    text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

bool CXmlDocument::Load(const QString& path)
{
    const QFileInfo info(path);
    // A FIFO or a device would block or never end; only plain files are read.
    if (!info.isFile() || info.size() > kMaxFileSize)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The size was checked above; a file growing meanwhile is caught below.
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxFileSize)
        return false;
    file.close();
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    QString text = DecodeFileText(bytes);
    text.removeIf([](QChar c) { return c == u'\r' || c == u'\n' || c == u'\t'; });
    return Parse(text);
}

bool CXmlDocument::Save(const QString& path)
{
    const QByteArray bytes = Serialize().toUtf8();
    QSaveFile file(path);
    m_saveError.clear();
    if (!file.open(QIODevice::WriteOnly)) {
        m_saveError = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        m_saveError = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_saveError = file.errorString();
        return false;
    }
    return true;
}

void CXmlDocument::Clear()
{
    m_root.DeleteChildren();
    m_root.m_name.clear();
    m_root.m_attributeText.clear();
    m_root.m_text.clear();
    // Old root attributes would otherwise leak into the next document read.
    m_root.m_attributes.clear();
    m_current = &m_root;
    m_currentDepth = 0;
}

CXmlDocument::TagKind CXmlDocument::ClassifyTag(QStringView tag, QString& scratch, QStringView& content)
{
    content = QStringView();
    if (tag.isEmpty())
        return TagKind::Ignored;
    const qsizetype length = tag.size();

    // Well-formed tags ("<a x>", "</a>", "<a/>") need no copying: the rules
    // below reduce to cutting the markers off either end.
    if (length >= 2 && tag.front() == u'<' && tag.back() == u'>'
        && !tag.sliced(1, length - 2).contains(u'<') && !tag.sliced(1, length - 2).contains(u'>')) {
        if (tag[1] == u'!' || tag[1] == u'?')
            return TagKind::Ignored;
        const bool close = tag[1] == u'/';
        const qsizetype start = close ? 2 : 1;
        TagKind kind = close ? TagKind::Close : TagKind::Open;
        qsizetype end = length - 1;
        if (length >= 3 && tag[length - 2] == u'/') {
            kind = TagKind::Empty;
            if (end > start)
                --end;
        }
        content = end > start ? tag.sliced(start, end - start) : QStringView();
        return kind;
    }

    // Anything else, character by character.
    scratch.resize(0);
    TagKind kind = TagKind::Open;
    char16_t previous = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = tag[i].unicode();
        if (previous == u'<' && (c == u'!' || c == u'?'))
            return TagKind::Ignored;
        if (previous == u'<' && c == u'/') {
            kind = TagKind::Close;
        } else if (previous == u'/' && c == u'>') {
            scratch.chop(1);
            kind = TagKind::Empty;
        } else if (c != u'<' && c != u'>') {
            scratch.append(QChar(c));
        }
        previous = c;
    }
    content = scratch;
    return kind;
}

void CXmlDocument::ActOnTag(TagKind kind, QStringView content)
{
    if (kind == TagKind::Ignored)
        return;
    if (kind == TagKind::Open || kind == TagKind::Empty) {
        const qsizetype space = content.indexOf(u' ');
        const QString name = (space < 0 ? content : content.left(space)).toString();
        const QString attributes = space < 0 ? QString() : content.mid(space + 1).trimmed().toString();
        if (m_root.m_name.isEmpty()) {
            m_root.m_name = name;
            m_root.m_attributeText = attributes;
            m_root.ParseAttributes(attributes);
        } else {
            auto node = std::make_unique<CXmlNode>();
            node->m_name = name;
            node->m_attributeText = attributes;
            if (!attributes.isEmpty())
                node->ParseAttributes(attributes);
            m_current = m_current->AppendChild(std::move(node));
            ++m_currentDepth;
        }
    }
    if ((kind == TagKind::Empty || kind == TagKind::Close) && m_current->m_parent) {
        m_current = m_current->m_parent;
        --m_currentDepth;
    }
}

bool CXmlDocument::Parse(const QString& text)
{
    Clear();
    m_source = text;
    QString textBuffer;
    QString scratch;
    QStringView content;
    std::size_t elements = 0;
    // The tag buffer is always one stretch of the text: from the "<" that
    // opened it (or a stray ">") to the ">" that ends it. The text buffer is
    // the stretch between tags, less any stray ">".
    const QChar* chars = text.constData();
    const qsizetype length = text.size();
    qsizetype tagStart = -1; // inside a tag when >= 0
    qsizetype runStart = 0;  // start of text not yet moved into the text buffer
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = chars[i].unicode();
        if (c != u'<' && c != u'>')
            continue;
        if (tagStart < 0)
            textBuffer.append(chars + runStart, i - runStart);
        runStart = i + 1;
        if (c == u'<') {
            m_current->m_text = DecodeEntities(textBuffer.trimmed());
            textBuffer.resize(0); // keeps the capacity, unlike clear()
            if (tagStart < 0)
                tagStart = i;
            continue;
        }
        const qsizetype start = tagStart < 0 ? i : tagStart;
        const TagKind kind = ClassifyTag(QStringView(chars + start, i - start + 1), scratch, content);
        tagStart = -1;
        if ((kind == TagKind::Open || kind == TagKind::Empty) && ++elements > kMaxElements) {
            Clear();
            return false;
        }
        ActOnTag(kind, content);
        if (m_currentDepth > kMaxDepth) {
            Clear();
            return false;
        }
    }
    return true;
}

QString CXmlDocument::Serialize()
{
    QString out = QStringLiteral("<?xml version=\"1.0\"?>\r\n");
    m_depth = -1;

    // Iterative depth-first walk: the same output a recursive writer would
    // give, without a recursion depth bound by the input.
    std::vector<std::pair<CXmlNode*, std::size_t>> stack;
    const auto openElement = [&](CXmlNode* node) {
        ++m_depth;
        out += QString(m_depth, QLatin1Char('\t'));
        out += QLatin1Char('<');
        out += node->m_name;
        QString attributes;
        for (const auto& [key, value] : node->m_attributes)
            attributes += key + QLatin1String("=\"") + value + QLatin1String("\" ");
        node->m_attributeText = attributes;
        if (!attributes.isEmpty())
            out += QLatin1Char(' ') + attributes;
        out += QLatin1Char('>');
        if (!node->m_text.isEmpty())
            out += EncodeEntities(node->m_text);
        else
            out += QLatin1String("\r\n");
        stack.emplace_back(node, 0);
    };

    openElement(&m_root);
    while (!stack.empty()) {
        CXmlNode* node = stack.back().first;
        const std::size_t next = stack.back().second;
        if (next < node->m_children.size()) {
            ++stack.back().second;
            openElement(node->m_children[next].get());
            continue;
        }
        if (node->m_text.isEmpty())
            out += QString(m_depth, QLatin1Char('\t'));
        out += QLatin1String("</") + node->m_name + QLatin1String(">\r\n");
        --m_depth;
        stack.pop_back();
    }
    m_depth = -1;
    return out;
}

CXmlNode* CXmlDocument::AddChild(CXmlNode* parent, const QString& name, const QString* text,
                                 const QString* attributeText)
{
    auto node = std::make_unique<CXmlNode>();
    node->m_name = name.trimmed();
    if (text)
        node->m_text = *text;
    if (attributeText) {
        node->m_attributeText = *attributeText;
        node->ParseAttributes(*attributeText);
    }
    return Resolve(parent)->AppendChild(std::move(node));
}

bool CXmlDocument::RemoveNode(CXmlNode* node, CXmlNode* start)
{
    if (!node)
        return false;
    std::vector<CXmlNode*> pending{Resolve(start)};
    while (!pending.empty()) {
        CXmlNode* parent = pending.back();
        pending.pop_back();
        auto& children = parent->m_children;
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (children[i].get() != node)
                continue;
            std::unique_ptr<CXmlNode> removed = std::move(children[i]);
            children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
            if (parent->m_cursor != CXmlNode::kCursorExhausted && parent->m_cursor > i)
                --parent->m_cursor;
            if (m_current == removed.get()) {
                m_current = &m_root;
                m_currentDepth = 0;
            }
            return true;
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back(it->get());
    }
    return false;
}

CXmlNode* CXmlDocument::FindChild(CXmlNode* parent, const QString& name)
{
    parent = Resolve(parent);
    const auto& children = parent->m_children;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i]->m_name.compare(name, Qt::CaseInsensitive) == 0) {
            parent->m_cursor = i + 1 < children.size() ? i + 1 : CXmlNode::kCursorExhausted;
            return children[i].get();
        }
    }
    parent->m_cursor = CXmlNode::kCursorExhausted;
    return nullptr;
}

CXmlNode* CXmlDocument::GetFirstChild(CXmlNode* parent)
{
    parent = Resolve(parent);
    parent->m_cursor = parent->m_children.empty() ? CXmlNode::kCursorExhausted : 0;
    return GetNextChild(parent);
}

CXmlNode* CXmlDocument::GetNextChild(CXmlNode* parent)
{
    parent = Resolve(parent);
    if (parent->m_cursor == CXmlNode::kCursorExhausted || parent->m_cursor >= parent->m_children.size()) {
        parent->m_cursor = CXmlNode::kCursorExhausted;
        return nullptr;
    }
    CXmlNode* child = parent->m_children[parent->m_cursor].get();
    ++parent->m_cursor;
    if (parent->m_cursor >= parent->m_children.size())
        parent->m_cursor = CXmlNode::kCursorExhausted;
    return child;
}

QString CXmlDocument::GetChildText(CXmlNode* parent, const QString& name)
{
    const CXmlNode* child = FindChild(parent, name);
    return child ? child->m_text : QString();
}

void CXmlDocument::SetChildText(CXmlNode* parent, const QString& name, const QString& value)
{
    if (CXmlNode* child = FindChild(parent, name))
        child->m_text = value;
    else
        AddChild(parent, name, &value, nullptr);
}
