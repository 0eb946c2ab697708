#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QTableView>

#include "widgets/XHeaderCtrl.h"
#include "widgets/XSystemColors.h"

class CXListModel;
class CXListDelegate;

// Report-view list whose cells the control paints itself: a row can be
// greyed out and refuse clicks, a cell can carry a check box that a click
// toggles, and every cell has its own text and background colour. An empty
// list shows a fixed text below the header.
//
// Indices are checked everywhere: an operation on a row or column outside the
// list does nothing and returns the failure value its comment gives.
//
// The two signals are emitted from inside the mouse handler, so with the
// default (direct) connection a slot runs before the click goes on. A slot may
// change or clear the list; the rest of that click is then dropped.
class CXListCtrl : public QTableView {
    Q_OBJECT

public:
    // Extended style bits; the values match the native list view's.
    enum ExtendedStyle : unsigned {
        GridLines = 0x01,
        FullRowSelect = 0x20,
    };

    explicit CXListCtrl(QWidget* parent = nullptr);
    ~CXListCtrl() override;

    // Only GridLines and FullRowSelect are known; other bits are dropped.
    void SetExtendedStyle(unsigned style);
    unsigned GetExtendedStyle() const { return m_extendedStyle; }

    // Columns. format is Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight;
    // width -1 takes the header's default section size.
    // Result: the new column's index, or -1 for a negative index.
    int InsertColumn(int nCol, const QString& heading, Qt::Alignment format = Qt::AlignLeft, int nWidth = -1);
    bool DeleteColumn(int nCol);
    int GetColumnCount() const;
    QString GetColumnText(int nCol) const;  // empty when out of range

    // Rows. The index is clamped to the end of the list; the result is the
    // new row's index, or -1 for a negative index (nothing is inserted).
    // Without colours, column 0 uses the defaults and follows palette changes.
    int InsertItem(int nItem, const QString& text);
    int InsertItem(int nItem, const QString& text, const QColor& crText, const QColor& crBackground);
    bool DeleteItem(int nItem);
    void DeleteAllItems();
    int GetItemCount() const;

    // Setting a text does not repaint at once; UpdateSubItem does.
    bool SetItemText(int nItem, int nSubItem, const QString& text);
    QString GetItemText(int nItem, int nSubItem) const;  // empty when out of range

    // An invalid colour selects the default (window text / window).
    // False when out of range or the row has no records.
    bool SetItemColors(int nItem, int nSubItem, const QColor& crText, const QColor& crBackground);
    QColor GetItemTextColor(int nItem, int nSubItem) const;        // invalid when out of range
    QColor GetItemBackgroundColor(int nItem, int nSubItem) const;  // invalid when out of range
    QColor GetDefaultTextColor() const { return m_colors.crWindowText; }
    QColor GetDefaultBackgroundColor() const { return m_colors.crWindow; }

    // A progress bar behind the cell's text: percent 0..100, or -1 for none.
    // Values above 100 count as 100. False when out of range or without records.
    bool SetItemProgress(int nItem, int nSubItem, int nPercent);
    int GetItemProgress(int nItem, int nSubItem) const;  // -1 when out of range or without a bar
    // The bar's colour: the selection colour blended into the window colour.
    QColor GetProgressColor() const;

    // Check state -1 (no check box), 0 (unticked) or 1 (ticked). The two-argument
    // form works on column 0. False when the row or column is out of range, the
    // list has no column, the row has no records or the state is not one of the three.
    bool SetCheckbox(int nItem, int nCheckedState);
    bool SetCheckbox(int nItem, int nSubItem, int nCheckedState);
    // -1 when out of range, without records or without a check box.
    int GetCheckbox(int nItem, int nSubItem) const;

    // A disabled row is greyed, keeps its check state and ignores clicks.
    // False (nothing changes) when out of range or the row has no records.
    bool SetEnabled(int nItem, bool bEnable);
    bool GetEnabled(int nItem) const;  // false when out of range or without records

    // Repaints a cell, or the whole row for nSubItem -1, before returning.
    void UpdateSubItem(int nItem, int nSubItem);

    int GetFirstSelectedItem() const;  // -1 when no row is selected
    // Bounds of a cell in viewport coordinates; null when out of range.
    QRect GetSubItemRect(int nItem, int nSubItem) const;

    void SetEmptyText(const QString& text);
    QString GetEmptyText() const { return m_emptyText; }

    CXHeaderCtrl* GetHeaderCtrl() const { return m_header; }
    const CXSystemColors& GetSystemColors() const { return m_colors; }

signals:
    // A left click on a row, before anything else happens; nSubItem is 0.
    void ItemClicked(int nItem, int nSubItem);
    // A left click toggled a check box; the new state is already set.
    void CheckboxClicked(int nItem, int nSubItem);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class CXListDelegate;

    bool __IsValidRow(int nItem) const;
    bool __IsValidCell(int nItem, int nSubItem) const;
    void __ReadSystemColors();
    void __UpdateRowHeight();
    void __OnLButtonDown(QMouseEvent* event);
    int __HitTestRow(const QPoint& point) const;
    int __HitTestColumn(int nItem, const QPoint& point) const;
    bool __IsRowSelected(int nItem) const;
    void __GetDrawColors(int nItem, int nSubItem, QColor& crText, QColor& crBackground) const;
    void __DrawCell(QPainter& dc, const QRect& cell, int nItem, int nSubItem) const;
    void __DrawCheckbox(QPainter& dc, const QRect& cell, int nItem, int nSubItem, const QColor& crText,
                        const QColor& crBackground) const;
    void __DrawEmptyText(QPainter& dc) const;

    CXListModel* m_model = nullptr;
    CXHeaderCtrl* m_header = nullptr;
    CXListDelegate* m_delegate = nullptr;
    CXSystemColors m_colors;
    unsigned m_extendedStyle = 0;
    QString m_emptyText;
    // Set by a left press the list refused, so the drag and release that
    // follow cannot select either.
    bool m_bIgnoringButton = false;
};
