#include "ndi/sourcesmodel.h"

#include "ndi/ndifind.h"

int SourcesModel::rowCount(const QModelIndex&) const
{
    return static_cast<int>(m_sources.size());
}

QVariant SourcesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_sources.size() || role != NameRole)
        return QVariant();
    return m_sources.at(index.row());
}

QHash<int, QByteArray> SourcesModel::roleNames() const
{
    return { { NameRole, QByteArrayLiteral("name") } };
}

QString SourcesModel::runtimeProblem() const
{
    return NDIFind::instance()->runtimeProblem();
}

QString SourcesModel::sourceAt(int row) const
{
    // Out of range gives an empty name rather than reading past the list.
    return m_sources.value(row);
}

void SourcesModel::sourceAdded(const QString& source)
{
    const int row = static_cast<int>(m_sources.size());
    beginInsertRows(QModelIndex(), row, row);
    m_sources.append(source);
    endInsertRows();
    Q_EMIT sourceAddedSig();
}

void SourcesModel::setSelected(const QString& selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    Q_EMIT selectedChanged(m_selected);
}

void SourcesModel::setEntered(const QString& entered)
{
    if (m_entered == entered)
        return;
    m_entered = entered;
    Q_EMIT enteredChanged(m_entered);
}

void SourcesModel::setSelectedInd(int selectedInd)
{
    if (m_selectedInd == selectedInd)
        return;
    m_selectedInd = selectedInd;
    Q_EMIT selectedIndChanged(m_selectedInd);
}

void SourcesModel::connectClicked() { }
