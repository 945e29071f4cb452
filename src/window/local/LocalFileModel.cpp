#include "window/local/LocalFileModel.h"

#include "engine/base/SizeText.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

CLocalFileModel::CLocalFileModel(QObject* parent)
    : QFileSystemModel(parent)
{
    setReadOnly(false);
    // Dot files are hidden, as in any file manager.
    setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
}

QVariant CLocalFileModel::data(const QModelIndex& index, int role) const
{
    if ((role == Qt::BackgroundRole || role == Qt::ForegroundRole || role == Qt::ToolTipRole) && m_marker
        && index.isValid() && m_markedFolder.isValid() && index.parent() == m_markedFolder)
        return m_marker(fileName(index), role);
    const int column = index.column();
    if (role != Qt::DisplayRole || (column != 1 && column != 3) || !index.isValid())
        return QFileSystemModel::data(index, role);
    // What was read last wins: a file read again here, unless the model
    // has read it since.
    auto fresh = m_fresh.constFind(filePath(index));
    if (fresh != m_fresh.cend() && lastModified(index) > fresh->lastModified())
        fresh = m_fresh.cend();
    if (column == 3)
        return fresh == m_fresh.cend() ? QFileSystemModel::data(index, role)
                                       : QLocale().toString(fresh->lastModified(), QLocale::ShortFormat);
    if (isDir(index))
        return QString();
    return FormatSizeKB(fresh == m_fresh.cend() ? quint64(size(index)) : quint64(fresh->size()));
}

void CLocalFileModel::SetRowMarker(const QString& folder, RowMarker marker)
{
    const QPersistentModelIndex before = m_markedFolder;
    m_markedFolder = folder.isEmpty() || !marker ? QPersistentModelIndex() : QPersistentModelIndex(index(folder));
    m_marker = m_markedFolder.isValid() ? std::move(marker) : RowMarker();
    if (before.isValid() && before != m_markedFolder && rowCount(before) > 0)
        emit dataChanged(index(0, 0, before), index(rowCount(before) - 1, columnCount(before) - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole});
    RefreshMarks();
}

void CLocalFileModel::RefreshMarks()
{
    if (m_markedFolder.isValid() && rowCount(m_markedFolder) > 0)
        emit dataChanged(index(0, 0, m_markedFolder),
                         index(rowCount(m_markedFolder) - 1, columnCount(m_markedFolder) - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole});
}

void CLocalFileModel::RefreshFile(const QString& path)
{
    const QModelIndex row = index(path);
    if (!row.isValid())
        return;
    m_fresh.insert(filePath(row), QFileInfo(filePath(row)));
    emit dataChanged(row.siblingAtColumn(0), row.siblingAtColumn(columnCount(row.parent()) - 1));
}

bool CLocalFileModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || index.column() != 0 || !index.isValid())
        return QFileSystemModel::setData(index, value, role);
    const QString oldName = index.data().toString();
    const QString newName = value.toString();
    if (newName == oldName)
        return true;
    // A dangling link counts as taken: renaming onto it would replace it.
    const QFileInfo target(QDir(filePath(index.parent())).filePath(newName));
    QString problem;
    if (newName.trimmed().isEmpty())
        problem = QStringLiteral("You must type a name.");
    else if (newName.contains(QLatin1Char('/')))
        problem = QStringLiteral("A name cannot contain the character '/'.");
    else if (newName == QLatin1String(".") || newName == QLatin1String(".."))
        problem = QStringLiteral("'%1' cannot be used as a name.").arg(newName);
    else if (target.exists() || target.isSymLink())
        problem = QStringLiteral("Cannot rename '%1': an item named '%2' already exists in this folder.")
                      .arg(oldName, newName);
    if (problem.isEmpty() && QFileSystemModel::setData(index, value, role))
        return true;
    if (problem.isEmpty())
        problem = QStringLiteral("Cannot rename '%1' to '%2'. The folder may be read-only, or '%1' is gone.")
                      .arg(oldName, newName);
    emit RenameRefused(problem);
    return false;
}

Qt::DropActions CLocalFileModel::supportedDragActions() const
{
    return Qt::CopyAction;
}

bool CLocalFileModel::canDropMimeData(const QMimeData*, Qt::DropAction, int, int, const QModelIndex&) const
{
    return false;
}

bool CLocalFileModel::dropMimeData(const QMimeData*, Qt::DropAction, int, int, const QModelIndex&)
{
    return false;
}
