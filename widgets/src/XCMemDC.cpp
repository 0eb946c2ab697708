#include "widgets/XCMemDC.h"

#include <QPaintDevice>

XCMemDC::XCMemDC(QPainter& target, const QRect& bounds) : m_target(target), m_bounds(bounds) {
    if (m_bounds.isEmpty()) return;
    // Match the target's pixel density so the copy is 1:1 on high-DPI screens.
    const qreal ratio = target.device() ? target.device()->devicePixelRatioF() : 1.0;
    m_bitmap = QPixmap(m_bounds.size() * ratio);
    m_bitmap.setDevicePixelRatio(ratio);
    m_painter.begin(&m_bitmap);
    m_painter.translate(-m_bounds.topLeft());
}

XCMemDC::~XCMemDC() {
    if (!m_painter.isActive()) return;
    m_painter.end();
    m_target.drawPixmap(m_bounds.topLeft(), m_bitmap);
}
