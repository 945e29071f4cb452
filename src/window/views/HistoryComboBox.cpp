#include "window/views/HistoryComboBox.h"

#include "engine/base/RegistryKey.h"

#include <QKeyEvent>
#include <QScopedValueRollback>

namespace {

constexpr QChar kTextSeparator = QLatin1Char('|');
constexpr QChar kFieldSeparator = QLatin1Char(',');

QString ValueName(const QString& section, int index)
{
    return section + QString::number(index);
}

// The part of `value` between the `index`-th separator and the next one.
QString Part(const QString& value, QChar separator, int index)
{
    qsizetype start = 0;
    for (int i = 0; i < index; ++i) {
        const qsizetype next = value.indexOf(separator, start);
        if (next < 0)
            return QString();
        start = next + 1;
    }
    const qsizetype end = value.indexOf(separator, start);
    return value.mid(start, end < 0 ? -1 : end - start);
}

QString CutToBuffer(const QString& value)
{
    if (value.size() <= CHistoryComboBox::kMaxValueLength)
        return value;
    qsizetype length = CHistoryComboBox::kMaxValueLength;
    // Never keep half of a surrogate pair.
    if (value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

CHistoryComboBox::CHistoryComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setEditable(true);
    // The list is the history, in the order it was built: typing and Enter
    // must not add to it, and the typed text must stay as typed.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    // A long remembered entry must not stretch the window.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(20);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (!m_handlingEnter)
            emit EntryPicked(index);
    });
}

CHistoryComboBox::~CHistoryComboBox() = default;

void CHistoryComboBox::keyPressEvent(QKeyEvent* event)
{
    const QScopedValueRollback enter(m_handlingEnter, m_handlingEnter || event->key() == Qt::Key_Return
                                                          || event->key() == Qt::Key_Enter);
    QComboBox::keyPressEvent(event);
}

QString CHistoryComboBox::EntryData(int index) const
{
    return itemData(index, Qt::UserRole).toString();
}

void CHistoryComboBox::LoadHistory(const QString& section)
{
    clear();
    m_section.clear();
    m_key.reset();
    auto key = std::make_unique<kx::CRegistryKey>();
    if (key->Create(section) != kx::CRegistryKey::kSuccess)
        return;
    m_key = std::move(key);
    m_section = section;
    // A hand-edited store may hold more than a full list; the rest is ignored.
    for (int i = 0; i < kMaxEntries; ++i) {
        QString value;
        if (m_key->QueryValue(value, ValueName(m_section, i)) != kx::CRegistryKey::kSuccess || value.isEmpty())
            break;
        value = CutToBuffer(value);
        addItem(Part(value, kTextSeparator, 0), Part(value, kTextSeparator, 1));
    }
}

int CHistoryComboBox::AddToHistory(const QString* entry)
{
    const QString editText = currentText();
    const QString text = entry ? Part(*entry, kTextSeparator, 0) : editText;
    if (text.isEmpty())
        return -1;

    int index = -1;
    for (int i = 0; i < count(); ++i) {
        if (itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        if (count() >= kMaxEntries)
            removeItem(0);
        addItem(text, entry ? Part(*entry, kTextSeparator, 1) : QString());
        index = count() - 1;
    } else if (entry) {
        setItemData(index, Part(*entry, kTextSeparator, 1), Qt::UserRole);
    }
    // Removing or adding items moves the selection, which would overwrite
    // what the user typed (and its letter case).
    setCurrentIndex(index);
    setEditText(editText);
    SaveHistory();
    return index;
}

void CHistoryComboBox::SaveHistory()
{
    if (!m_key)
        return;
    for (int i = 0; i < count(); ++i)
        m_key->SetValue(itemText(i) + kTextSeparator + EntryData(i), ValueName(m_section, i));
}

void CHistoryComboBox::ClearHistory()
{
    if (m_key) {
        for (int i = 0; m_key->DeleteValue(ValueName(m_section, i)) == kx::CRegistryKey::kSuccess; ++i) {
        }
    }
    clear();
    setEditText(QString());
}

QString CHistoryComboBox::MakeEntry(const QString& text, const QStringList& fields)
{
    QStringList encoded;
    encoded.reserve(fields.size());
    for (const QString& field : fields)
        encoded << EncodeField(field);
    return text + kTextSeparator + encoded.join(kFieldSeparator);
}

QString CHistoryComboBox::DataField(const QString& data, int index)
{
    return DecodeField(Part(data, kFieldSeparator, index));
}

QString CHistoryComboBox::EncodeField(const QString& field)
{
    QString result;
    result.reserve(field.size());
    for (const QChar c : field) {
        if (c == QLatin1Char('%'))
            result += QLatin1String("%25");
        else if (c == kFieldSeparator)
            result += QLatin1String("%2C");
        else if (c == kTextSeparator)
            result += QLatin1String("%7C");
        else
            result += c;
    }
    return result;
}

QString CHistoryComboBox::DecodeField(const QString& field)
{
    // Only the three escapes EncodeField makes are undone; any other "%" is
    // taken literally, as entries stored before the encoding existed hold it.
    QString result;
    result.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == QLatin1Char('%') && i + 2 < field.size()) {
            const int high = HexDigit(field.at(i + 1));
            const int low = HexDigit(field.at(i + 2));
            const int code = high < 0 || low < 0 ? -1 : high * 16 + low;
            if (code == '%' || code == ',' || code == '|') {
                result += QChar(code);
                i += 2;
                continue;
            }
        }
        result += field.at(i);
    }
    return result;
}
