#pragma once

#include <QDialog>
#include <QList>
#include <QToolBar>

#include <functional>

class QListWidget;
class QPushButton;

// The main toolbar as its user arranges it: which of the program's buttons
// it shows and in what order (Customize...), with or without text labels,
// with small or large icons, and Reset for the buttons it came with. The
// layout and both switches persist under "ToolbarState".
class CCustomizableToolBar : public QToolBar {
    Q_OBJECT
public:
    using Lookup = std::function<QAction*(int commandId)>;
    static constexpr int kSeparator = 0;

    explicit CCustomizableToolBar(const QString& title, QWidget* parent = nullptr);

    // The buttons the toolbar comes with (command ids, kSeparator between
    // groups), which Reset brings back, and the commands Customize offers
    // besides them, in the order it lists them.
    void LoadToolBar(const QList<int>& buttons, Lookup lookup, const QList<int>& offered = {});
    QList<int> LoadedButtons() const { return m_loaded; }
    // Every button the toolbar may show: the ones it came with, then the others offered.
    QList<int> OfferedButtons() const { return m_offered; }
    QList<int> Buttons() const { return m_buttons; }
    QAction* ActionOf(int commandId) const { return m_lookup ? m_lookup(commandId) : nullptr; }
    // Shows exactly these buttons; ids the toolbar does not know are left out.
    void SetButtons(const QList<int>& buttons);

    void SetTextLabels(bool on);
    bool TextLabels() const { return m_textLabels; }
    // Large: 24x24 icons (the nearest square to 26x24); small: 16x16.
    void SetLargeIcons(bool on);
    // Text labels on, large icons on, the buttons it came with.
    void Reset();

    // name: the value under "ToolbarState" for the layout, and the prefix of
    // the switches' values ("%1ShowTextLabels", "%1LargeIcons").
    void LoadState(const QString& name);
    void SaveState(const QString& name) const;

    // The context menu ("Customize...", "Show text labels", "Large Icons",
    // "Reset"), for tests and the right button.
    QMenu* CreateContextMenu(QWidget* parent);
    void Customize();

signals:
    // A button the toolbar shows drops down a menu (the Views button): its
    // tool button was made afresh and needs its popup mode again.
    void ButtonsChanged();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QList<int> m_loaded;
    QList<int> m_offered;
    QList<int> m_buttons;
    Lookup m_lookup;
    bool m_textLabels = true;
    bool m_largeIcons = true;
};

// Customize Toolbar: the buttons the toolbar may show on the left, the ones
// it shows on the right, in order. Every change shows at once; Reset goes
// back to the buttons the toolbar had when the dialog opened.
class CCustomizeToolbarDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCustomizeToolbarDlg(CCustomizableToolBar& toolbar, QWidget* parent = nullptr);

    QListWidget* Available() const { return m_available; }
    QListWidget* Current() const { return m_current; }
    void Add();
    void Remove();
    void MoveUp();
    void MoveDown();
    void ResetToSnapshot();

private:
    void Fill();
    void Apply();
    QString TextOf(int id) const;

    CCustomizableToolBar& m_toolbar;
    QList<int> m_snapshot;
    QListWidget* m_available = nullptr;
    QListWidget* m_current = nullptr;
};
