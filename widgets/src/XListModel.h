#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <cstdint>
#include <vector>

// Per-cell record of the list. An invalid colour means "the list's current
// default", so rows inserted with default colours follow palette changes.
struct CXCellRecord {
    int nCheckedState = -1;  // -1 no check box, 0 unticked, 1 ticked
    int nProgress = -1;      // -1 no bar, else 0..100: a bar painted behind the text
    QColor crText;
    QColor crBackground;
};

struct CXRowRecord {
    std::vector<QString> texts;
    // A row inserted while the list had no column owns no records; it is
    // drawn with the defaults and refuses clicks.
    bool bHasRecords = false;
    bool bEnabled = true;
    std::vector<CXCellRecord> cells;  // one per column while bHasRecords
};

struct CXColumnRecord {
    QString heading;
    Qt::Alignment format = Qt::AlignLeft;
};

// Storage behind CXListCtrl. Read-only to the view and to outside callers:
// every change goes through the list's own operations.
class CXListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }

    const CXRowRecord& Row(int nItem) const { return m_rows[static_cast<std::size_t>(nItem)]; }
    CXRowRecord& Row(int nItem) { return m_rows[static_cast<std::size_t>(nItem)]; }
    const CXColumnRecord& Column(int nCol) const { return m_columns[static_cast<std::size_t>(nCol)]; }

    void InsertRow(int nItem, CXRowRecord row);
    void RemoveRow(int nItem);
    void RemoveAllRows();
    void InsertColumn(int nCol, CXColumnRecord column);
    void RemoveColumn(int nCol);
    void SetText(int nItem, int nSubItem, const QString& text);

    // Changes whenever rows or columns are added or removed, so a caller that
    // ran foreign code can tell whether its indices still mean the same cells.
    std::uint64_t Generation() const { return m_generation; }

private:
    std::vector<CXRowRecord> m_rows;
    std::vector<CXColumnRecord> m_columns;
    std::uint64_t m_generation = 0;
};
