#pragma once

#include <QFileInfo>
#include <QFileSystemModel>
#include <QHash>
#include <QPersistentModelIndex>

#include <functional>

// The files of the Local Browser. Renames are checked first so the user is
// told why one is refused instead of seeing the old name come back, and the
// model never moves files by drag and drop: files only leave the pane as
// copies (to the remote list), and what arrives is the pane's business.
// Sizes read as in the remote list ("1,024 KB"), so both sides compare at a
// glance.
class CLocalFileModel : public QFileSystemModel {
    Q_OBJECT
public:
    explicit CLocalFileModel(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    // Reads the file's size and time again. The folder watch sees files come
    // and go, not a file growing while it is written; whoever wrote it says
    // when it is done.
    void RefreshFile(const QString& path);
    // Background, text colour and tip of the rows of one folder by name (a
    // comparison's marks); a null marker or an invalid answer leaves a row
    // as it is. RefreshMarks() repaints after the answers changed.
    using RowMarker = std::function<QVariant(const QString& name, int role)>;
    void SetRowMarker(const QString& folder, RowMarker marker);
    void RefreshMarks();
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // Connect it queued: the editor is still open when it is emitted, and a
    // message box taking the focus from it would commit the name again.
    void RenameRefused(const QString& message);

private:
    QHash<QString, QFileInfo> m_fresh; // files read again since the model read them
    QPersistentModelIndex m_markedFolder;
    RowMarker m_marker;
};
