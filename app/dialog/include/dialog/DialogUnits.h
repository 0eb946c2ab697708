// Dialog templates are measured in dialog units of the dialog's font, so a
// window keeps its proportions at any font size and DPI.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class CDialogUnits {
public:
    // Base units from the font's average character width and its height.
    explicit CDialogUnits(const QFont& font);
    CDialogUnits(int baseWidth, int baseHeight) : m_baseWidth(baseWidth), m_baseHeight(baseHeight) {}

    int BaseWidth() const { return m_baseWidth; }
    int BaseHeight() const { return m_baseHeight; }

    // x·w/4 and y·h/8, rounded to the nearest pixel.
    int X(int dialogUnits) const;
    int Y(int dialogUnits) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    // The font a dialog template names in points, on this system's default family.
    static QFont DialogFont(int pointSize = 9);

private:
    int m_baseWidth;
    int m_baseHeight;
};
