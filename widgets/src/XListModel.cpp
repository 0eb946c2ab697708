#include "XListModel.h"

#include <utility>

namespace {
std::size_t At(int index) { return static_cast<std::size_t>(index); }
}  // namespace

int CXListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

int CXListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount(); }

QVariant CXListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount() || index.column() >= ColumnCount()) return {};
    const CXRowRecord& row = Row(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:  // the full text of a cell that is cut with an ellipsis
            return At(index.column()) < row.texts.size() ? row.texts[At(index.column())] : QString();
        case Qt::TextAlignmentRole: return static_cast<int>(Column(index.column()).format | Qt::AlignVCenter);
        case Qt::CheckStateRole: {
            // For accessibility and item-view tools; the list paints its own boxes.
            if (!row.bHasRecords || At(index.column()) >= row.cells.size()) return {};
            const int state = row.cells[At(index.column())].nCheckedState;
            if (state < 0) return {};
            return state == 1 ? Qt::Checked : Qt::Unchecked;
        }
        default: return {};
    }
}

QVariant CXListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount()) return {};
    if (role == Qt::DisplayRole) return Column(section).heading;
    if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags CXListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // Disabled rows stay selectable from the keyboard; only clicks are refused.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void CXListModel::InsertRow(int nItem, CXRowRecord row) {
    beginInsertRows(QModelIndex(), nItem, nItem);
    m_rows.insert(m_rows.begin() + nItem, std::move(row));
    ++m_generation;
    endInsertRows();
}

void CXListModel::RemoveRow(int nItem) {
    beginRemoveRows(QModelIndex(), nItem, nItem);
    m_rows.erase(m_rows.begin() + nItem);
    ++m_generation;
    endRemoveRows();
}

void CXListModel::RemoveAllRows() {
    ++m_generation;
    if (m_rows.empty()) return;
    beginRemoveRows(QModelIndex(), 0, RowCount() - 1);
    m_rows.clear();
    endRemoveRows();
}

void CXListModel::InsertColumn(int nCol, CXColumnRecord column) {
    const std::size_t before = m_columns.size();
    beginInsertColumns(QModelIndex(), nCol, nCol);
    m_columns.insert(m_columns.begin() + nCol, std::move(column));
    for (CXRowRecord& row : m_rows) {
        // A row inserted while the list had no column keeps its text for the
        // first column that arrives.
        if (row.texts.size() <= before) row.texts.insert(row.texts.begin() + nCol, QString());
        if (row.bHasRecords) row.cells.insert(row.cells.begin() + nCol, CXCellRecord{});
    }
    ++m_generation;
    endInsertColumns();
}

void CXListModel::RemoveColumn(int nCol) {
    beginRemoveColumns(QModelIndex(), nCol, nCol);
    m_columns.erase(m_columns.begin() + nCol);
    for (CXRowRecord& row : m_rows) {
        if (At(nCol) < row.texts.size()) row.texts.erase(row.texts.begin() + nCol);
        if (At(nCol) < row.cells.size()) row.cells.erase(row.cells.begin() + nCol);
    }
    ++m_generation;
    endRemoveColumns();
}

void CXListModel::SetText(int nItem, int nSubItem, const QString& text) {
    CXRowRecord& row = Row(nItem);
    if (row.texts.size() <= At(nSubItem)) row.texts.resize(At(nSubItem) + 1);
    row.texts[At(nSubItem)] = text;
    const QModelIndex cell = index(nItem, nSubItem);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}
