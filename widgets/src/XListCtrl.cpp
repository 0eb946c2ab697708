#include "widgets/XListCtrl.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <qdrawutil.h>

#include <algorithm>
#include <utility>

#include "XListModel.h"

namespace {

std::size_t At(int index) { return static_cast<std::size_t>(index); }

const QString kDefaultEmptyText = QStringLiteral("There are no items to show in this view.");

// Distance of the check box from the cell's left edge, and of the text from the box.
constexpr int kCheckboxIndent = 9;
constexpr int kCheckboxTextGap = 4;
// The empty-list text starts this far below the header.
constexpr int kEmptyTextTop = 10;

}  // namespace

// Hands every cell to the list, which paints it without any standard drawing.
class CXListDelegate : public QStyledItemDelegate {
public:
    explicit CXListDelegate(CXListCtrl* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        painter->save();
        m_list->__DrawCell(*painter, option.rect, index.row(), index.column());
        painter->restore();
    }

private:
    CXListCtrl* m_list;
};

CXListCtrl::CXListCtrl(QWidget* parent) : QTableView(parent), m_emptyText(kDefaultEmptyText) {
    m_model = new CXListModel(this);
    m_header = new CXHeaderCtrl(this);
    setHorizontalHeader(m_header);
    setModel(m_model);
    m_delegate = new CXListDelegate(this);
    setItemDelegate(m_delegate);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    m_header->setMinimumSectionSize(0);
    m_header->setStretchLastSection(false);

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setDragEnabled(false);
    // Tab leaves the list for the next control of the dialog.
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::StrongFocus);

    SetExtendedStyle(0);
    __ReadSystemColors();
    __UpdateRowHeight();
}

CXListCtrl::~CXListCtrl() = default;

void CXListCtrl::SetExtendedStyle(unsigned style) {
    m_extendedStyle = style & (GridLines | FullRowSelect);
    setShowGrid((m_extendedStyle & GridLines) != 0);
    viewport()->update();
}

void CXListCtrl::__ReadSystemColors() { m_colors = CXSystemColors::FromPalette(palette()); }

void CXListCtrl::__UpdateRowHeight() {
    // Tight rows as in a native report view: the font plus a small margin.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 3);
}

void CXListCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        __ReadSystemColors();
        viewport()->update();
    } else if (event->type() == QEvent::FontChange) {
        __UpdateRowHeight();
    }
    QTableView::changeEvent(event);
}

void CXListCtrl::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    viewport()->update();  // selected rows change colour with the focus
}

void CXListCtrl::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

// ---- columns ---------------------------------------------------------------

int CXListCtrl::InsertColumn(int nCol, const QString& heading, Qt::Alignment format, int nWidth) {
    if (nCol < 0) return -1;
    nCol = std::min(nCol, GetColumnCount());
    Qt::Alignment horizontal = format & Qt::AlignHorizontal_Mask;
    if (horizontal != Qt::AlignHCenter && horizontal != Qt::AlignRight) horizontal = Qt::AlignLeft;
    m_model->InsertColumn(nCol, CXColumnRecord{heading, horizontal});
    m_header->resizeSection(nCol, nWidth >= 0 ? nWidth : m_header->defaultSectionSize());
    return nCol;
}

bool CXListCtrl::DeleteColumn(int nCol) {
    if (nCol < 0 || nCol >= GetColumnCount()) return false;
    m_model->RemoveColumn(nCol);
    return true;
}

int CXListCtrl::GetColumnCount() const { return m_model->ColumnCount(); }

QString CXListCtrl::GetColumnText(int nCol) const {
    if (nCol < 0 || nCol >= GetColumnCount()) return {};
    return m_model->Column(nCol).heading;
}

// ---- rows ------------------------------------------------------------------

bool CXListCtrl::__IsValidRow(int nItem) const { return nItem >= 0 && nItem < GetItemCount(); }

bool CXListCtrl::__IsValidCell(int nItem, int nSubItem) const {
    return __IsValidRow(nItem) && nSubItem >= 0 && nSubItem < GetColumnCount();
}

int CXListCtrl::InsertItem(int nItem, const QString& text) { return InsertItem(nItem, text, QColor(), QColor()); }

int CXListCtrl::InsertItem(int nItem, const QString& text, const QColor& crText, const QColor& crBackground) {
    if (nItem < 0) return -1;
    nItem = std::min(nItem, GetItemCount());

    const int columns = GetColumnCount();
    CXRowRecord row;
    row.texts.assign(At(std::max(columns, 1)), QString());
    row.texts[0] = text;
    if (columns > 0) {
        row.bHasRecords = true;
        row.cells.assign(At(columns), CXCellRecord{});
        row.cells[0].crText = crText;
        row.cells[0].crBackground = crBackground;
    }
    m_model->InsertRow(nItem, std::move(row));
    return nItem;
}

bool CXListCtrl::DeleteItem(int nItem) {
    if (!__IsValidRow(nItem)) return false;
    m_model->RemoveRow(nItem);
    return true;
}

void CXListCtrl::DeleteAllItems() { m_model->RemoveAllRows(); }

int CXListCtrl::GetItemCount() const { return m_model->RowCount(); }

bool CXListCtrl::SetItemText(int nItem, int nSubItem, const QString& text) {
    if (!__IsValidCell(nItem, nSubItem)) return false;
    m_model->SetText(nItem, nSubItem, text);
    return true;
}

QString CXListCtrl::GetItemText(int nItem, int nSubItem) const {
    if (!__IsValidRow(nItem) || nSubItem < 0) return {};
    const CXRowRecord& row = m_model->Row(nItem);
    return At(nSubItem) < row.texts.size() ? row.texts[At(nSubItem)] : QString();
}

bool CXListCtrl::SetItemColors(int nItem, int nSubItem, const QColor& crText, const QColor& crBackground) {
    if (!__IsValidCell(nItem, nSubItem) || !m_model->Row(nItem).bHasRecords) return false;
    CXCellRecord& cell = m_model->Row(nItem).cells[At(nSubItem)];
    cell.crText = crText;
    cell.crBackground = crBackground;
    UpdateSubItem(nItem, nSubItem);
    return true;
}

QColor CXListCtrl::GetItemTextColor(int nItem, int nSubItem) const {
    if (!__IsValidCell(nItem, nSubItem)) return {};
    const CXRowRecord& row = m_model->Row(nItem);
    if (!row.bHasRecords || !row.cells[At(nSubItem)].crText.isValid()) return m_colors.crWindowText;
    return row.cells[At(nSubItem)].crText;
}

QColor CXListCtrl::GetItemBackgroundColor(int nItem, int nSubItem) const {
    if (!__IsValidCell(nItem, nSubItem)) return {};
    const CXRowRecord& row = m_model->Row(nItem);
    if (!row.bHasRecords || !row.cells[At(nSubItem)].crBackground.isValid()) return m_colors.crWindow;
    return row.cells[At(nSubItem)].crBackground;
}

bool CXListCtrl::SetItemProgress(int nItem, int nSubItem, int nPercent) {
    if (!__IsValidCell(nItem, nSubItem) || !m_model->Row(nItem).bHasRecords) return false;
    const int value = nPercent < 0 ? -1 : std::min(nPercent, 100);
    CXCellRecord& cell = m_model->Row(nItem).cells[At(nSubItem)];
    if (cell.nProgress == value) return true;
    cell.nProgress = value;
    UpdateSubItem(nItem, nSubItem);
    return true;
}

int CXListCtrl::GetItemProgress(int nItem, int nSubItem) const {
    if (!__IsValidCell(nItem, nSubItem) || !m_model->Row(nItem).bHasRecords) return -1;
    return m_model->Row(nItem).cells[At(nSubItem)].nProgress;
}

QColor CXListCtrl::GetProgressColor() const {
    // Light enough that the cell's text stays readable on it.
    const QColor bar = m_colors.crHighLight;
    const QColor window = m_colors.crWindow;
    const auto blend = [](int a, int b) { return (a * 3 + b * 7) / 10; };
    return QColor(blend(bar.red(), window.red()), blend(bar.green(), window.green()), blend(bar.blue(), window.blue()));
}

bool CXListCtrl::SetCheckbox(int nItem, int nCheckedState) { return SetCheckbox(nItem, 0, nCheckedState); }

bool CXListCtrl::SetCheckbox(int nItem, int nSubItem, int nCheckedState) {
    if (!__IsValidCell(nItem, nSubItem) || !m_model->Row(nItem).bHasRecords) return false;
    if (nCheckedState < -1 || nCheckedState > 1) return false;
    m_model->Row(nItem).cells[At(nSubItem)].nCheckedState = nCheckedState;
    UpdateSubItem(nItem, nSubItem);
    return true;
}

int CXListCtrl::GetCheckbox(int nItem, int nSubItem) const {
    if (!__IsValidCell(nItem, nSubItem) || !m_model->Row(nItem).bHasRecords) return -1;
    return m_model->Row(nItem).cells[At(nSubItem)].nCheckedState;
}

bool CXListCtrl::SetEnabled(int nItem, bool bEnable) {
    if (!__IsValidRow(nItem) || !m_model->Row(nItem).bHasRecords) return false;
    m_model->Row(nItem).bEnabled = bEnable;
    UpdateSubItem(nItem, -1);
    return true;
}

bool CXListCtrl::GetEnabled(int nItem) const {
    return __IsValidRow(nItem) && m_model->Row(nItem).bHasRecords && m_model->Row(nItem).bEnabled;
}

void CXListCtrl::UpdateSubItem(int nItem, int nSubItem) {
    if (!__IsValidRow(nItem)) return;
    QRect dirty;
    if (nSubItem == -1) {
        dirty = QRect(0, rowViewportPosition(nItem), viewport()->width(), rowHeight(nItem));
    } else {
        if (nSubItem < 0 || nSubItem >= GetColumnCount()) return;
        // The whole cell, grid line included.
        dirty = QRect(columnViewportPosition(nSubItem), rowViewportPosition(nItem), columnWidth(nSubItem),
                      rowHeight(nItem));
    }
    viewport()->repaint(dirty);
}

int CXListCtrl::GetFirstSelectedItem() const {
    const QItemSelectionModel* selection = selectionModel();
    if (!selection) return -1;
    int first = -1;
    for (const QItemSelectionRange& range : selection->selection()) {
        if (first < 0 || range.top() < first) first = range.top();
    }
    return first;
}

bool CXListCtrl::__IsRowSelected(int nItem) const {
    const QItemSelectionModel* selection = selectionModel();
    return selection && selection->rowIntersectsSelection(nItem, QModelIndex());
}

QRect CXListCtrl::GetSubItemRect(int nItem, int nSubItem) const {
    if (!__IsValidCell(nItem, nSubItem)) return {};
    QRect rect = visualRect(m_model->index(nItem, nSubItem));
    if (nSubItem == 0 && GetColumnCount() >= 2) rect.setRight(std::min(rect.right(), columnViewportPosition(1) - 1));
    return rect;
}

// ---- mouse -----------------------------------------------------------------

int CXListCtrl::__HitTestRow(const QPoint& point) const {
    // A row's bounds span its height and the width of all columns.
    const int nItem = rowAt(point.y());
    if (nItem < 0 || columnAt(point.x()) < 0) return -1;
    return nItem;
}

int CXListCtrl::__HitTestColumn(int nItem, const QPoint& point) const {
    for (int nSubItem = 0; nSubItem < GetColumnCount(); ++nSubItem) {
        if (GetSubItemRect(nItem, nSubItem).contains(point)) return nSubItem;
    }
    return -1;
}

void CXListCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        __OnLButtonDown(event);
        return;
    }
    QTableView::mousePressEvent(event);
}

void CXListCtrl::__OnLButtonDown(QMouseEvent* event) {
    m_bIgnoringButton = false;
    const QPoint point = event->position().toPoint();
    const int nItem = __HitTestRow(point);
    if (nItem >= 0) {
        QPointer<CXListCtrl> alive(this);
        const auto generation = m_model->Generation();

        emit ItemClicked(nItem, 0);
        if (!alive) return;

        // A slot that added or removed rows or columns made this click stale.
        const bool stale = m_model->Generation() != generation;
        if (stale || !m_model->Row(nItem).bHasRecords || !m_model->Row(nItem).bEnabled) {
            m_bIgnoringButton = true;
            event->accept();
            return;
        }

        const int nSubItem = __HitTestColumn(nItem, point);
        if (nSubItem >= 0) {
            CXCellRecord& cell = m_model->Row(nItem).cells[At(nSubItem)];
            if (cell.nCheckedState == 0 || cell.nCheckedState == 1) {
                cell.nCheckedState = cell.nCheckedState == 0 ? 1 : 0;
                UpdateSubItem(nItem, nSubItem);
                emit CheckboxClicked(nItem, nSubItem);
                if (!alive) return;
                if (m_model->Generation() != generation) {
                    m_bIgnoringButton = true;
                    event->accept();
                    return;
                }
            }
        }
    }
    QTableView::mousePressEvent(event);
}

void CXListCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (m_bIgnoringButton) {
        event->accept();
        return;
    }
    QTableView::mouseMoveEvent(event);
}

void CXListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bIgnoringButton) {
        if (!(event->buttons() & Qt::LeftButton)) m_bIgnoringButton = false;
        event->accept();
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

void CXListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    // The second press of a double click on the same cell is no new click: it
    // neither toggles nor notifies. On another cell the standard handling
    // passes it to mousePressEvent as a click of its own. A refused row stays
    // refused.
    const int nItem = __HitTestRow(event->position().toPoint());
    if (nItem >= 0 && !GetEnabled(nItem)) {
        m_bIgnoringButton = true;
        event->accept();
        return;
    }
    m_bIgnoringButton = false;
    QTableView::mouseDoubleClickEvent(event);
}

// ---- painting --------------------------------------------------------------

void CXListCtrl::__GetDrawColors(int nItem, int nSubItem, QColor& crText, QColor& crBackground) const {
    crText = m_colors.crWindowText;
    crBackground = m_colors.crWindow;
    const CXRowRecord& row = m_model->Row(nItem);
    if (row.bHasRecords && At(nSubItem) < row.cells.size()) {
        const CXCellRecord& cell = row.cells[At(nSubItem)];
        if (cell.crText.isValid()) crText = cell.crText;
        if (cell.crBackground.isValid()) crBackground = cell.crBackground;
        if (!row.bEnabled) crText = m_colors.crGrayText;
    }
    const bool fullRow = (m_extendedStyle & FullRowSelect) != 0;
    if ((fullRow || nSubItem == 0) && hasFocus() && __IsRowSelected(nItem)) {
        crText = m_colors.crHighLightText;
        crBackground = m_colors.crHighLight;
    }
}

void CXListCtrl::__DrawCell(QPainter& dc, const QRect& cell, int nItem, int nSubItem) const {
    if (!__IsValidCell(nItem, nSubItem) || cell.isEmpty()) return;
    QColor crText, crBackground;
    __GetDrawColors(nItem, nSubItem, crText, crBackground);

    const int nCheckedState = GetCheckbox(nItem, nSubItem);
    if (nCheckedState == 0 || nCheckedState == 1) {
        __DrawCheckbox(dc, cell, nItem, nSubItem, crText, crBackground);
        return;
    }

    dc.fillRect(cell, crBackground);
    const CXRowRecord& row = m_model->Row(nItem);
    const int nProgress = row.bHasRecords ? row.cells[At(nSubItem)].nProgress : -1;
    if (nProgress > 0) {
        QRect bar = cell.adjusted(1, 2, -1, -2);
        bar.setWidth(bar.width() * nProgress / 100);
        dc.fillRect(bar, GetProgressColor());
    }
    // Grey text is hard to read on the bar: a disabled row's bar cell keeps the text colour.
    if (nProgress >= 0 && !row.bEnabled && crText == m_colors.crGrayText) crText = m_colors.crWindowText;
    const QRect textRect = cell.adjusted(CXHeaderCtrl::kItemSpacing, 0, 0, 0);
    const QString text = GetItemText(nItem, nSubItem);
    if (text.isEmpty() || textRect.width() <= 0) return;
    dc.setFont(font());
    dc.setPen(crText);
    // Text that does not fit loses its end, never both ends: a centred clip turns "18.960 S" into ".8.960 S".
    const QString shown = dc.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width());
    dc.drawText(textRect, static_cast<int>(m_model->Column(nSubItem).format) | Qt::AlignVCenter | Qt::TextSingleLine,
                shown);
}

void CXListCtrl::__DrawCheckbox(QPainter& dc, const QRect& cell, int nItem, int nSubItem, const QColor& crText,
                                const QColor& crBackground) const {
    dc.fillRect(cell, crBackground);

    const QString text = GetItemText(nItem, nSubItem);
    const int side = cell.height() - 1;
    if (side <= 0) return;
    const int left =
        text.isEmpty() ? cell.left() + (cell.width() / 2 - (cell.height() - 1) / 2) - 1 : cell.left() + kCheckboxIndent;
    const QRect box(left, cell.top(), side, side);
    dc.fillRect(box, m_colors.crWindow);

    const QRect edge = box.adjusted(1, 0, 0, 0);
    qDrawWinPanel(&dc, edge, palette(), true, nullptr);

    if (GetCheckbox(nItem, nSubItem) == 1) {
        const QColor crMark =
            GetEnabled(nItem) || !m_model->Row(nItem).bHasRecords ? QColor(Qt::black) : m_colors.crGrayText;
        // Seven strokes, each three pixels high, forming the tick.
        static constexpr std::pair<int, int> kStrokes[] = {{0, 0},  {-1, 1}, {-2, 2}, {-3, 3},
                                                           {-4, 4}, {-5, 3}, {-6, 2}};
        const int x0 = edge.left() + 9;
        const int y0 = edge.top() + 3;
        for (const auto& [dx, dy] : kStrokes) dc.fillRect(QRect(x0 + dx, y0 + dy, 1, 3), crMark);
    }

    if (!text.isEmpty()) {
        const QRect textRect(QPoint(box.left() + side + kCheckboxTextGap, cell.top()), cell.bottomRight());
        if (textRect.width() <= 0) return;
        dc.setFont(font());
        dc.setPen(crText);
        dc.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    dc.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    }
}

void CXListCtrl::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (GetItemCount() == 0) {
        QPainter dc(viewport());
        __DrawEmptyText(dc);
    }
}

void CXListCtrl::__DrawEmptyText(QPainter& dc) const {
    // The viewport starts at the header's bottom edge.
    QRect area = viewport()->rect();
    area.setTop(area.top() + kEmptyTextTop);
    if (area.isEmpty()) return;
    dc.fillRect(area, m_colors.crWindow);
    dc.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    dc.setPen(m_colors.crWindowText);
    dc.drawText(area, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_emptyText);
}
