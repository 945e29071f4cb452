#include "window/local/LocalRowHider.h"

#include "window/local/LocalBrowserBar.h"
#include "window/local/LocalFileModel.h"

#include <QListView>
#include <QTreeView>

CLocalRowHider::CLocalRowHider(CLocalBrowserBar& bar)
    : QObject(&bar), m_bar(bar)
{
    CLocalFileModel* model = bar.Model();
    connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent, int first, int last) {
        if (m_rule && parent == m_bar.DetailsView()->rootIndex())
            ApplyToRows(first, last);
    });
    connect(model, &QFileSystemModel::directoryLoaded, this, [this] { Apply(); });
    connect(&bar, &CLocalBrowserBar::FolderChanged, this, [this] { Apply(); });
}

void CLocalRowHider::SetRule(Rule rule)
{
    m_rule = std::move(rule);
    Apply();
}

void CLocalRowHider::Apply()
{
    const QModelIndex root = m_bar.DetailsView()->rootIndex();
    ApplyToRows(0, m_bar.Model()->rowCount(root) - 1);
}

int CLocalRowHider::HiddenCount() const
{
    const QModelIndex root = m_bar.DetailsView()->rootIndex();
    int hidden = 0;
    for (int row = 0, rows = m_bar.Model()->rowCount(root); row < rows; ++row)
        hidden += m_bar.DetailsView()->isRowHidden(row, root) ? 1 : 0;
    return hidden;
}

void CLocalRowHider::ApplyToRows(int first, int last)
{
    CLocalFileModel* model = m_bar.Model();
    const QModelIndex root = m_bar.DetailsView()->rootIndex();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model->index(row, 0, root);
        const bool hide = m_rule && m_rule(model->fileInfo(index));
        const bool was = m_bar.DetailsView()->isRowHidden(row, root);
        if (hide != was) {
            m_bar.DetailsView()->setRowHidden(row, root, hide);
            m_bar.ListView()->setRowHidden(row, hide);
        }
    }
    emit Applied();
}
