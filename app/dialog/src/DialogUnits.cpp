#include "dialog/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

namespace {

// Rounded a·b/c, as the native conversion does it.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>(product >= 0 ? (product + c / 2) / c : (product - c / 2) / c);
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 Latin letters, rounded: the native base unit.
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseWidth = (letters / 26 + 1) / 2;
    m_baseHeight = metrics.height();
    if (m_baseWidth < 1) m_baseWidth = 1;
    if (m_baseHeight < 1) m_baseHeight = 1;
}

int CDialogUnits::X(int dialogUnits) const { return MulDiv(dialogUnits, m_baseWidth, 4); }

int CDialogUnits::Y(int dialogUnits) const { return MulDiv(dialogUnits, m_baseHeight, 8); }

QRect CDialogUnits::Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

QSize CDialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

QFont CDialogUnits::DialogFont(int pointSize) {
    QFont font = QApplication::font();
    font.setPointSize(pointSize);
    return font;
}
