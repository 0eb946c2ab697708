#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>

#include "ListFixture.h"

namespace {

const QColor kBlue(0, 0, 255);
const QString kLongCaption = "A caption far too wide for its column";

class XHeaderCtrlTest : public ListFixture {
protected:
    void SetUp() override {
        ListFixture::SetUp();
        // Fixture columns: Device Model (125), SN (90), Status (100); make the middle one too narrow.
        list->DeleteColumn(1);
        list->InsertColumn(1, kLongCaption, Qt::AlignHCenter, 80);
        header = list->GetHeaderCtrl();
    }

    QRect ItemRect(int column) const {
        return QRect(header->sectionViewportPosition(column), 0, header->sectionSize(column),
                     header->viewport()->height())
            .translated(header->viewport()->pos());
    }

    QImage Grab() const { return header->grab().toImage(); }

    CXHeaderCtrl* header = nullptr;
};

TEST_F(XHeaderCtrlTest, CaptionsAreBlueCentredAndCutWithAnEllipsis) {
    const QImage image = Grab();
    const QColor face = header->GetSystemColors().crBtnFace;
    const QFontMetrics metrics(header->font());

    for (int column = 0; column < list->GetColumnCount(); ++column) {
        const QString caption = list->GetColumnText(column);
        SCOPED_TRACE(caption.toStdString());
        const QRect text = ItemRect(column).adjusted(6, 0, -6, 0);
        const QString expected = metrics.elidedText(caption, Qt::ElideRight, text.width());
        if (caption == kLongCaption)
            ASSERT_TRUE(expected.endsWith(QChar(0x2026))) << "the caption must not fit for this test";
        else
            ASSERT_EQ(expected, caption);

        // What the caption should look like on its own.
        QImage reference(image.size(), image.format());
        reference.fill(face);
        {
            QPainter painter(&reference);
            painter.setFont(header->font());
            painter.setPen(kBlue);
            painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine, expected);
        }

        bool sawPureBlue = false;
        for (int y = text.top() + 2; y <= text.bottom() - 2; ++y) {
            for (int x = text.left(); x <= text.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                ASSERT_EQ(pixel.rgb(), reference.pixel(x, y)) << "pixel " << x << "," << y;
                // Anti-aliased blue on a grey face: only blue may stand out.
                ASSERT_TRUE(pixel.red() == pixel.green() && pixel.blue() >= pixel.red()) << "pixel " << x << "," << y;
                sawPureBlue |= pixel.rgb() == kBlue.rgb();
            }
        }
        EXPECT_TRUE(sawPureBlue);
    }
}

TEST_F(XHeaderCtrlTest, SeparatorsAndFrameAreEtched) {
    const QImage image = Grab();
    const CXSystemColors& colors = header->GetSystemColors();
    const int height = header->viewport()->height();
    const int width = header->length();
    ASSERT_GT(height, 8);

    for (int column = 0; column < 2; ++column) {
        SCOPED_TRACE(testing::Message() << "column " << column);
        const int right = ItemRect(column).left() + ItemRect(column).width();
        for (int y = 2; y <= height - 3; ++y) {
            ASSERT_EQ(image.pixel(right - 1, y), colors.crBtnShadow.rgb()) << "y " << y;
            ASSERT_EQ(image.pixel(right, y), colors.crBtnHighLight.rgb()) << "y " << y;
        }
        EXPECT_EQ(image.pixel(right - 1, 1), colors.crBtnFace.rgb());
        EXPECT_EQ(image.pixel(right - 1, height - 2), colors.crBtnFace.rgb());
    }
    // No separator after the last item, only the frame's shadow side.
    EXPECT_EQ(image.pixel(width - 1, height / 2), colors.crBtnShadow.rgb());
    EXPECT_EQ(image.pixel(width, height / 2), colors.crBtnFace.rgb());

    // Frame: light top and left, dark bottom and right, as wide as the items.
    EXPECT_EQ(image.pixel(0, 0), colors.crBtnHighLight.rgb());
    EXPECT_EQ(image.pixel(width - 2, 0), colors.crBtnHighLight.rgb());
    EXPECT_EQ(image.pixel(0, height - 2), colors.crBtnHighLight.rgb());
    EXPECT_EQ(image.pixel(0, height - 1), colors.crBtnShadow.rgb());
    EXPECT_EQ(image.pixel(width - 1, 0), colors.crBtnShadow.rgb());
    EXPECT_EQ(image.pixel(width + 1, height - 1), colors.crBtnFace.rgb());
}

TEST_F(XHeaderCtrlTest, FrameScrollsWithTheItems) {
    list->resize(200, 150);
    QScrollBar* bar = list->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    ASSERT_EQ(header->offset(), bar->maximum());
    const QImage image = Grab();
    const int height = header->viewport()->height();
    const int right = header->length() - header->offset() - 1;
    ASSERT_LT(right, image.width());
    EXPECT_EQ(image.pixel(right, height / 2), header->GetSystemColors().crBtnShadow.rgb());
}

}  // namespace
