#pragma once

// The remote list's in-place name editor and the delegate that makes it;
// private to the list (FtpListView.cpp, FtpListViewInput.cpp).

#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>

#include <functional>

// The in-place name editor. While a name is being edited every key belongs
// to it: Delete, Backspace, Enter, F2 or Ctrl+A must edit the name, not run
// the window's commands bound to them. Alt combinations still reach the menus.
class CNameEditor : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!(key->modifiers() & Qt::AltModifier)) {
                key->accept();
                return true;
            }
        }
        return QLineEdit::event(event);
    }
};

// Edits names without writing them: the frame renames on the server first and
// then sets the row's name itself. The view hears about each editor's start,
// commit and end through the callbacks.
class CNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    std::function<void(CNameDelegate*, QLineEdit*, const QModelIndex&)> created;
    std::function<void(QWidget*, const QString&)> committed;
    // Every cell of the icon styles has this size when it is valid: with
    // uniform item sizes the first row would otherwise size them all.
    QSize fixedCell;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return fixedCell.isValid() ? fixedCell : QStyledItemDelegate::sizeHint(option, index);
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        auto* editor = new CNameEditor(parent);
        editor->setObjectName(QStringLiteral("nameEditor"));
        if (created)
            created(const_cast<CNameDelegate*>(this), editor, index);
        return editor;
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const override
    {
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && committed)
            committed(editor, line->text());
    }

    void Cancel(QWidget* editor) { emit closeEditor(editor, QAbstractItemDelegate::RevertModelCache); }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        // Enter ends the edit at once rather than on a later turn of the event
        // loop, and Tab ends it too instead of moving on to the next row.
        if (event->type() == QEvent::KeyPress) {
            auto* editor = qobject_cast<QWidget*>(object);
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (editor && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab
                           || key == Qt::Key_Backtab)) {
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }
};
