#include "window/local/LocalFileModel.h"

#include <QDir>
#include <QFileInfo>

CLocalFileModel::CLocalFileModel(QObject* parent)
    : QFileSystemModel(parent)
{
    setReadOnly(false);
    // Dot files are hidden, as in any file manager.
    setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
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
