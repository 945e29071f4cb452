#pragma once

#include <QComboBox>
#include <QStringList>

#include <memory>

namespace kx {
class CRegistryKey;
}

// An editable drop-down that remembers the last inputs of one kind in the
// settings store, under a section of its own. Each entry is a text with a data
// string attached (kept as the item's Qt::UserRole data). Entry i is stored as
// the value "<section><i>" holding text + "|" + data.
//
// A data string may hold several fields separated by ","; a field that itself
// contains ",", "|" or "%" is percent-encoded (see MakeEntry and DataField) so
// that it comes back unchanged, while every other entry is stored as plain text.
class CHistoryComboBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kMaxEntries = 10;
    // Values are read as if into a 260-character buffer with its terminator.
    static constexpr int kMaxValueLength = 259;

    explicit CHistoryComboBox(QWidget* parent = nullptr);
    ~CHistoryComboBox() override;

    // Opens (creating) the section and replaces the list with the stored
    // entries. When the section cannot be opened the list stays empty and
    // nothing is ever saved.
    void LoadHistory(const QString& section);
    // `entry` is "text|data"; without one, the current edit text is added with
    // empty data, or an entry of that text keeps its data. A text already in
    // the list (ignoring case) keeps its position and letter case and takes
    // the new data; otherwise it is appended, dropping the oldest entry when
    // the list is full. Saves the history and returns the entry's index, or
    // -1 for an empty text, which is never remembered.
    int AddToHistory(const QString* entry = nullptr);
    void SaveHistory();
    // Deletes the stored values, empties the list and the edit text.
    void ClearHistory();

    QString Section() const { return m_section; }
    QString EntryData(int index) const;

    // "text|field0,field1,...", each field encoded so that it survives the
    // separators.
    static QString MakeEntry(const QString& text, const QStringList& fields);
    // Field `index` of a data string, decoded; empty when there is none.
    static QString DataField(const QString& data, int index);
    static QString EncodeField(const QString& field);
    static QString DecodeField(const QString& field);

signals:
    // The user chose an entry from the list. Enter on a typed text that
    // happens to equal an entry is not a choice: what was typed around it
    // must stay as it is.
    void EntryPicked(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_handlingEnter = false;
    QString m_section;
    std::unique_ptr<kx::CRegistryKey> m_key;
};
