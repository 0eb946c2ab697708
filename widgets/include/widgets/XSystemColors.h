#pragma once

#include <QColor>
#include <QPalette>

// The colours the list and its header paint with, taken from a widget's
// palette. The controls read them once at construction and again on every
// palette change, never while painting, so a row's stored colours and the
// painted defaults always come from the same snapshot.
struct CXSystemColors {
    QColor crWindow;         // list background, check-box interior
    QColor crWindowText;     // default cell text
    QColor crGrayText;       // text and check marks of disabled rows
    QColor crHighLight;      // background of a selected row while focused
    QColor crHighLightText;  // text of a selected row while focused
    QColor crBtnFace;        // header background
    QColor crBtnHighLight;   // light side of the 3-D edges
    QColor crBtnShadow;      // dark side of the 3-D edges
    QColor crBtnText;

    static CXSystemColors FromPalette(const QPalette& palette) {
        CXSystemColors colors;
        const auto active = QPalette::Active;
        colors.crWindow = palette.color(active, QPalette::Base);
        colors.crWindowText = palette.color(active, QPalette::Text);
        colors.crGrayText = palette.color(QPalette::Disabled, QPalette::Text);
        colors.crHighLight = palette.color(active, QPalette::Highlight);
        colors.crHighLightText = palette.color(active, QPalette::HighlightedText);
        colors.crBtnFace = palette.color(active, QPalette::Button);
        colors.crBtnHighLight = palette.color(active, QPalette::Light);
        colors.crBtnShadow = palette.color(active, QPalette::Dark);
        colors.crBtnText = palette.color(active, QPalette::ButtonText);
        return colors;
    }
};
