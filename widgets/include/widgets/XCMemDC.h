#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>

// Off-screen drawing surface: everything painted through GetDC() lands in a
// pixmap and reaches the target in one copy when the object goes out of
// scope, so a repaint never shows half-drawn content.
class XCMemDC {
public:
    // bounds are in the target's logical coordinates; GetDC() uses the same
    // coordinates.
    XCMemDC(QPainter& target, const QRect& bounds);
    ~XCMemDC();

    XCMemDC(const XCMemDC&) = delete;
    XCMemDC& operator=(const XCMemDC&) = delete;

    // False when the bounds are empty: there is nothing to draw on.
    bool IsValid() const { return m_painter.isActive(); }
    QPainter& GetDC() { return m_painter; }

private:
    QPainter& m_target;
    QRect m_bounds;
    QPixmap m_bitmap;
    QPainter m_painter;
};
