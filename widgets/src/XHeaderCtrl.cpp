#include "widgets/XHeaderCtrl.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

#include "widgets/XCMemDC.h"

namespace {

const QColor kCaptionColor(0, 0, 255);

// Top and left in one colour, bottom and right in the other, one pixel wide,
// inside rect.
void Draw3dRect(QPainter& dc, const QRect& rect, const QColor& topLeft, const QColor& bottomRight) {
    const int x = rect.x(), y = rect.y(), cx = rect.width(), cy = rect.height();
    dc.fillRect(QRect(x, y, cx - 1, 1), topLeft);
    dc.fillRect(QRect(x, y, 1, cy - 1), topLeft);
    dc.fillRect(QRect(x + cx - 1, y, 1, cy), bottomRight);
    dc.fillRect(QRect(x, y + cy - 1, cx, 1), bottomRight);
}

}  // namespace

CXHeaderCtrl::CXHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    // Header items are captions only: no sorting, no column selection.
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionsMovable(false);
    setDefaultAlignment(Qt::AlignCenter);
    __ReadSystemColors();
}

void CXHeaderCtrl::__ReadSystemColors() { m_colors = CXSystemColors::FromPalette(palette()); }

void CXHeaderCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        __ReadSystemColors();
        viewport()->update();
    }
    QHeaderView::changeEvent(event);
}

void CXHeaderCtrl::paintEvent(QPaintEvent* event) {
    const QRect client = viewport()->rect();
    QPainter screen(viewport());
    XCMemDC memDC(screen, client);
    if (!memDC.IsValid()) return;
    QPainter& dc = memDC.GetDC();

    dc.fillRect(client, m_colors.crBtnFace);
    dc.setFont(font());

    const int itemCount = count();
    int lastVisible = -1;
    for (int visual = itemCount - 1; visual >= 0; --visual) {
        if (!isSectionHidden(logicalIndex(visual))) {
            lastVisible = visual;
            break;
        }
    }

    int firstLeft = 0;
    bool haveFirst = false;
    for (int visual = 0; visual < itemCount; ++visual) {
        const int logical = logicalIndex(visual);
        if (isSectionHidden(logical)) continue;
        const QRect itemRect(sectionViewportPosition(logical), 0, sectionSize(logical), client.height());
        if (!haveFirst) {
            firstLeft = itemRect.left();
            haveFirst = true;
        }
        if (!itemRect.intersects(event->rect())) continue;
        __DrawItem(dc, logical, itemRect);
        if (visual != lastVisible) {
            // Etched separator: the item's last pixel column dark, the next one light.
            // right and bottom are exclusive edges, as the item rectangle's size gives them.
            const int right = itemRect.left() + itemRect.width();
            const int top = itemRect.top() + 2;
            const int bottom = itemRect.top() + itemRect.height() - 2;
            if (bottom > top) {
                dc.fillRect(QRect(right - 1, top, 1, bottom - top), m_colors.crBtnShadow);
                dc.fillRect(QRect(right, top, 1, bottom - top), m_colors.crBtnHighLight);
            }
        }
    }

    // The frame follows the items, also when the list is scrolled sideways.
    const int itemsWidth = length();
    if (haveFirst && itemsWidth > 0)
        Draw3dRect(dc, QRect(firstLeft, 0, itemsWidth, client.height()), m_colors.crBtnHighLight, m_colors.crBtnShadow);
}

void CXHeaderCtrl::__DrawItem(QPainter& dc, int logicalIndex, const QRect& itemRect) const {
    const QRect textRect = itemRect.adjusted(kItemSpacing, 0, -kItemSpacing, 0);
    if (textRect.width() <= 0 || !model()) return;
    const QString caption = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    const QString shown = dc.fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width());
    dc.setPen(kCaptionColor);
    dc.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, shown);
}
