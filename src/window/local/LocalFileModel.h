#pragma once

#include <QFileSystemModel>

// The files of the Local Browser. Renames are checked first so the user is
// told why one is refused instead of seeing the old name come back, and the
// model never moves files by drag and drop: files only leave the pane as
// copies (to the remote list), and what arrives is the pane's business.
class CLocalFileModel : public QFileSystemModel {
    Q_OBJECT
public:
    explicit CLocalFileModel(QObject* parent = nullptr);

    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // Connect it queued: the editor is still open when it is emitted, and a
    // message box taking the focus from it would commit the name again.
    void RenameRefused(const QString& message);
};
