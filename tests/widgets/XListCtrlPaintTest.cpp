#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include <set>
#include <utility>

#include "ListFixture.h"

namespace {

class XListCtrlPaintTest : public ListFixture {
protected:
    // Interior of a check box (inside its 2-pixel sunken edge), in list coordinates.
    static QRect BoxInterior(const QRect& box) {
        const QRect edge = box.adjusted(1, 0, 0, 0);
        return edge.adjusted(2, 2, -2, -2);
    }

    static bool IsDark(QRgb pixel) { return qGray(pixel) < 128; }
};

TEST_F(XListCtrlPaintTest, CheckMarkIsSevenStrokesBlackOrGreyForDisabledRows) {
    AddRow("enabled", 1, true);
    AddRow("disabled", 1, false);
    AddRow("unticked", 0, true);
    const QImage image = Grab();
    const CXSystemColors& colors = list->GetSystemColors();
    ASSERT_NE(colors.crGrayText.rgb(), colors.crWindow.rgb());

    struct Case {
        int row;
        bool ticked;
        QColor mark;
    };
    for (const Case& c : {Case{0, true, Qt::black}, Case{1, true, colors.crGrayText}, Case{2, false, Qt::black}}) {
        SCOPED_TRACE(testing::Message() << "row " << c.row);
        const QRect cell = CellInList(c.row, 0);
        const int side = cell.height() - 1;
        const QRect box(cell.left() + 9, cell.top(), side, side);

        // x0, y0 count from the box's left edge after it moved one pixel right for the frame.
        const int x0 = box.left() + 1 + 9;
        const int y0 = box.top() + 3;
        std::set<std::pair<int, int>> strokes;
        if (c.ticked) {
            const std::pair<int, int> starts[] = {{x0, y0},         {x0 - 1, y0 + 1}, {x0 - 2, y0 + 2},
                                                  {x0 - 3, y0 + 3}, {x0 - 4, y0 + 4}, {x0 - 5, y0 + 3},
                                                  {x0 - 6, y0 + 2}};
            for (const auto& [x, y] : starts)
                for (int dy = 0; dy < 3; ++dy) strokes.insert({x, y + dy});
        }

        const QRect interior = BoxInterior(box);
        ASSERT_GE(interior.width(), 8) << "row too low for a check mark";
        int markPixels = 0;
        for (int y = interior.top(); y <= interior.bottom(); ++y) {
            for (int x = interior.left(); x <= interior.right(); ++x) {
                const bool inMark = strokes.count({x, y}) != 0;
                const QColor expected = inMark ? c.mark : colors.crWindow;
                ASSERT_EQ(image.pixel(x, y), expected.rgb()) << "pixel " << x << "," << y;
                markPixels += inMark;
            }
        }
        EXPECT_EQ(markPixels, c.ticked ? 21 : 0);
    }
}

TEST_F(XListCtrlPaintTest, BoxSitsNineRightOrCentredWhenTheCellHasNoText) {
    const QColor yellow(255, 255, 0);
    AddRow("with text", 0, true);
    AddRow("", 0, true);
    list->SetItemColors(0, 0, QColor(), yellow);
    list->SetItemColors(1, 0, QColor(), yellow);
    const QImage image = Grab();
    const QColor window = list->GetSystemColors().crWindow;

    for (const int row : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        const QRect cell = CellInList(row, 0);
        const int side = cell.height() - 1;
        const int left = row == 0 ? cell.left() + 9 : cell.left() + (cell.width() / 2 - (cell.height() - 1) / 2) - 1;
        const int y = cell.top() + side / 2;
        EXPECT_EQ(image.pixel(left - 1, y), yellow.rgb());
        EXPECT_EQ(image.pixel(left, y), window.rgb()) << "the column left of the frame";
        EXPECT_NE(image.pixel(left + 1, y), window.rgb()) << "the frame";
        EXPECT_NE(image.pixel(left + 1, y), yellow.rgb()) << "the frame";
        EXPECT_EQ(image.pixel(left + side, y), yellow.rgb()) << "right of the box";
        EXPECT_EQ(image.pixel(left + side / 2, cell.top() + side), yellow.rgb()) << "below the box";
    }
}

TEST_F(XListCtrlPaintTest, EmptyTextShowsOnlyWhileThereIsNoRow) {
    EXPECT_EQ(list->GetEmptyText(), "There are no items to show in this view.");
    const QRect viewport = list->viewport()->geometry();

    const auto darkBounds = [&](const QImage& image, int top) {
        QRect bounds;
        for (int y = top; y <= viewport.bottom(); ++y)
            for (int x = viewport.left(); x <= viewport.right(); ++x)
                if (IsDark(image.pixel(x, y))) bounds |= QRect(x, y, 1, 1);
        return bounds;
    };

    const QImage empty = Grab();
    const QRect text = darkBounds(empty, viewport.top());
    ASSERT_FALSE(text.isNull()) << "no text drawn";
    EXPECT_GE(text.top(), viewport.top() + 10);
    EXPECT_LE(text.top(), viewport.top() + 10 + 4) << "the text starts right below the 10-pixel gap";
    EXPECT_NEAR(text.center().x(), viewport.center().x(), 3) << "centred";

    AddRow("row", 0, true);
    const QImage filled = Grab();
    const QRect below = CellInList(0, 0);
    EXPECT_TRUE(darkBounds(filled, below.bottom() + 2).isNull()) << "text still drawn below the row";

    list->DeleteAllItems();
    EXPECT_EQ(darkBounds(Grab(), viewport.top()), text);
}

TEST_F(XListCtrlPaintTest, CellColoursFollowRecordsStateAndFocus) {
    const QColor red(255, 0, 0), yellow(255, 255, 0);
    AddRow("normal", 0, true, "MMMMMMMM");
    AddRow("disabled", 0, false, "MMMMMMMM");
    AddRow("selected", 0, true, "MMMMMMMM");
    for (int row = 0; row < 3; ++row) list->SetItemColors(row, 1, red, yellow);
    const CXSystemColors& colors = list->GetSystemColors();

    const auto hasPixel = [](const QImage& image, const QRect& rect, const QColor& color) {
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                if (image.pixel(x, y) == color.rgb()) return true;
        return false;
    };

    Click(list->GetSubItemRect(2, 2).center());
    list->activateWindow();
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list.get()));
    ASSERT_TRUE(list->hasFocus());
    QImage image = Grab();

    struct Case {
        int row;
        QColor text, background;
    };
    for (const Case& c : {Case{0, red, yellow}, Case{1, colors.crGrayText, yellow},
                          Case{2, colors.crHighLightText, colors.crHighLight}}) {
        SCOPED_TRACE(testing::Message() << "row " << c.row);
        const QRect cell = CellInList(c.row, 1);
        EXPECT_EQ(image.pixel(cell.left() + 2, cell.top() + 1), c.background.rgb());
        EXPECT_TRUE(hasPixel(image, cell, c.text));
        if (c.text != red) {
            EXPECT_FALSE(hasPixel(image, cell, red));
        }
    }
    // Full-row selection: the other cells of the selected row are highlighted too.
    EXPECT_EQ(image.pixel(CellInList(2, 2).topLeft() + QPoint(2, 1)), colors.crHighLight.rgb());

    // Without the focus a selected row keeps its own colours.
    list->clearFocus();
    ASSERT_FALSE(list->hasFocus());
    image = Grab();
    const QRect cell = CellInList(2, 1);
    EXPECT_EQ(image.pixel(cell.left() + 2, cell.top() + 1), yellow.rgb());
    EXPECT_TRUE(hasPixel(image, cell, red));
}

TEST_F(XListCtrlPaintTest, ColoursFollowPaletteChanges) {
    AddRow("default colours", 0, true);
    const int explicitRow = list->InsertItem(1, "explicit", Qt::black, QColor(255, 255, 0));
    QPalette palette = list->palette();
    const QColor mint(200, 255, 200), plum(120, 60, 120);
    palette.setColor(QPalette::Base, mint);
    palette.setColor(QPalette::Button, plum);
    list->setPalette(palette);

    EXPECT_EQ(list->GetSystemColors().crWindow, mint);
    EXPECT_EQ(list->GetHeaderCtrl()->GetSystemColors().crBtnFace, plum);
    EXPECT_EQ(list->GetItemBackgroundColor(0, 0), mint);
    EXPECT_EQ(list->GetItemBackgroundColor(explicitRow, 0), QColor(255, 255, 0));

    const QImage image = Grab();
    EXPECT_EQ(image.pixel(CellInList(0, 2).center()), mint.rgb());
    EXPECT_EQ(image.pixel(CellInList(explicitRow, 1).topLeft() + QPoint(1, 1)), mint.rgb());
    EXPECT_EQ(image.pixel(CellInList(explicitRow, 0).topLeft() + QPoint(1, 1)), QColor(255, 255, 0).rgb());
    const QRect header = list->GetHeaderCtrl()->geometry();
    EXPECT_EQ(image.pixel(header.left() + list->GetHeaderCtrl()->length() + 5, header.center().y()), plum.rgb());
}

}  // namespace

namespace {

// A cell whose text does not fit shows the text's beginning and an ellipsis, so what it shows depends
// only on the beginning: a clip at both ends would show "upgrade mode" for the first two texts below.
TEST_F(XListCtrlPaintTest, OverlongTextKeepsItsBeginningAndShowsInFullAsTooltip) {
    const QString texts[] = {"Enter upgrade mode error", "Leave upgrade mode error", "Enter upgrade mode failure"};
    for (const QString& text : texts) list->SetItemText(AddRow("model", 1, true), 2, text);
    ASSERT_GT(list->fontMetrics().horizontalAdvance("Enter upgrade mode"), list->GetSubItemRect(0, 2).width())
        << "the column must be too narrow for the texts' common part";

    const QImage image = Grab();
    const auto cell = [&](int row) { return image.copy(CellInList(row, 2).adjusted(1, 1, -1, -1)); };
    EXPECT_NE(cell(0), cell(1)) << "different beginnings must stay visible";
    EXPECT_EQ(cell(0), cell(2)) << "a cut at the end hides only the endings";

    EXPECT_EQ(list->model()->index(0, 2).data(Qt::ToolTipRole).toString(), texts[0]);
}

// The bar behind a cell's text covers the share of the cell its percentage says, from the left; the
// text is drawn over it; -1 takes it away and the cell is plain again.
TEST_F(XListCtrlPaintTest, ProgressBarFillsItsShareOfTheCellBehindTheText) {
    for (int row = 0; row < 4; ++row) list->SetItemText(AddRow("model", 1, true), 2, row == 3 ? "Burning" : "");
    const struct {
        int row;
        int percent;
    } cases[] = {{0, 0}, {1, 50}, {2, 100}, {3, 50}};
    for (const auto& c : cases) ASSERT_TRUE(list->SetItemProgress(c.row, 2, c.percent));
    EXPECT_EQ(list->GetItemProgress(1, 2), 50);
    EXPECT_FALSE(list->SetItemProgress(9, 2, 50));

    const QImage image = Grab();
    const QRgb bar = list->GetProgressColor().rgb();
    ASSERT_NE(bar, list->GetDefaultBackgroundColor().rgb());
    // The share of a cell's middle line that has the bar's colour.
    const auto barShare = [&](int row) {
        const QRect cell = CellInList(row, 2).adjusted(1, 0, -1, 0);
        const int y = cell.top() + 3;
        int count = 0;
        for (int x = cell.left(); x <= cell.right(); ++x) count += image.pixel(x, y) == bar ? 1 : 0;
        return static_cast<double>(count) / cell.width();
    };
    EXPECT_EQ(barShare(0), 0.0);
    EXPECT_NEAR(barShare(1), 0.5, 0.05);
    EXPECT_NEAR(barShare(2), 1.0, 0.05);
    // Its left half is the bar; the text is painted on top of it (dark pixels in the cell).
    const QRect textCell = CellInList(3, 2);
    EXPECT_EQ(image.pixel(textCell.left() + 2, textCell.top() + 3), bar);
    int dark = 0;
    for (int x = textCell.left(); x <= textCell.right(); ++x)
        for (int y = textCell.top(); y <= textCell.bottom(); ++y) dark += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    EXPECT_GT(dark, 10);

    ASSERT_TRUE(list->SetItemProgress(1, 2, -1));
    EXPECT_EQ(list->GetItemProgress(1, 2), -1);
    const QImage plain = Grab();
    const QRect cell = CellInList(1, 2);
    EXPECT_EQ(plain.copy(cell.adjusted(1, 1, -1, -1)), image.copy(CellInList(0, 2).adjusted(1, 1, -1, -1)));
}

}  // namespace
