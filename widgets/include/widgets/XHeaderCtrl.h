#pragma once

#include <QHeaderView>

#include "widgets/XSystemColors.h"

// Column header of CXListCtrl. Paints itself off-screen and copies the result
// in one step: button-face background, blue captions centred between 6-pixel
// margins and cut with an ellipsis, etched separators and a raised frame
// around the items.
class CXHeaderCtrl : public QHeaderView {
    Q_OBJECT

public:
    static constexpr int kItemSpacing = 6;

    explicit CXHeaderCtrl(QWidget* parent = nullptr);

    // The header's own copies of the button colours.
    const CXSystemColors& GetSystemColors() const { return m_colors; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void __ReadSystemColors();
    void __DrawItem(QPainter& dc, int logicalIndex, const QRect& itemRect) const;

    CXSystemColors m_colors;
};
