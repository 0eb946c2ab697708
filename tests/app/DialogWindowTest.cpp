// The window grows with its list and remembers its size and column widths
// between starts; the first start has the template's size.
#include <gtest/gtest.h>

#include <QLabel>
#include <QSettings>

#include "DialogFixture.h"
#include "dialog/DialogUnits.h"

namespace apptest {
namespace {

QSettings WindowSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, CFlashwrightDlg::kSettingsOrganization,
                     CFlashwrightDlg::kSettingsApplication);
}

class DialogWindowTest : public DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        WindowSettings().clear();
    }
    void TearDown() override {
        DialogFixture::TearDown();
        WindowSettings().clear();
    }
};

TEST_F(DialogWindowTest, GrowsWithItsListAndRemembersSizeAndColumnWidthsOnTheNextStart) {
    ASSERT_NO_FATAL_FAILURE(Start(Description({Camera("W0001")})));
    const CDialogUnits units(dialog->font());
    const QSize first = units.Size(555, 246);
    EXPECT_EQ(dialog->size(), first);
    EXPECT_EQ(dialog->minimumSize(), first);
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_GT(dialog->maximumWidth(), first.width());

    // Wider and taller: the list and the group take all of it, the status line
    // stays under them, the buttons stay where they were.
    const QRect beginBefore = Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->geometry();
    dialog->resize(first + QSize(400, 300));
    QApplication::processEvents();
    EXPECT_EQ(List()->geometry(), units.Rect(14, 45, 525, 178).adjusted(0, 0, 400, 300));
    EXPECT_EQ(PhaseLabel()->geometry(), units.Rect(9, 232, 537, 10).adjusted(0, 300, 400, 300));
    EXPECT_EQ(Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->geometry(), beginBefore);
    // Smaller than the template is refused.
    dialog->resize(first - QSize(100, 100));
    EXPECT_EQ(dialog->size(), first);

    // The Status column takes the room beyond the other columns, and gives it
    // back at the first size.
    const auto othersWidth = [&] {
        int others = 0;
        for (int i = 0; i < CFlashwrightDlg::kColumnCount; ++i)
            if (i != CFlashwrightDlg::kColumnStatus) others += List()->columnWidth(i);
        return others;
    };
    dialog->resize(first + QSize(250, 120));
    QTest::qWait(20);
    EXPECT_EQ(List()->columnWidth(CFlashwrightDlg::kColumnStatus), List()->viewport()->width() - othersWidth());
    EXPECT_GT(List()->columnWidth(CFlashwrightDlg::kColumnStatus), 200);

    // A wider Firmware Version column and the larger window come back on the next start.
    List()->setColumnWidth(CFlashwrightDlg::kColumnFirmwareVersion, 333);
    QTest::qWait(20);
    EXPECT_EQ(List()->columnWidth(CFlashwrightDlg::kColumnStatus), List()->viewport()->width() - othersWidth());
    dialog->close();
    dialog.reset();
    ASSERT_NO_FATAL_FAILURE(OpenDialog());
    QTest::qWait(20);
    EXPECT_EQ(dialog->size(), first + QSize(250, 120));
    EXPECT_EQ(List()->columnWidth(CFlashwrightDlg::kColumnFirmwareVersion), 333);
    EXPECT_EQ(List()->geometry(), units.Rect(14, 45, 525, 178).adjusted(0, 0, 250, 120));
    dialog->resize(first);
    QTest::qWait(20);
    EXPECT_EQ(List()->columnWidth(CFlashwrightDlg::kColumnStatus), 100);

    // Widths that do not fit the columns are ignored, not applied in part.
    dialog.reset();
    WindowSettings().setValue("list/columnWidths", QList<QVariant>{50, 60});
    ASSERT_NO_FATAL_FAILURE(OpenDialog());
    EXPECT_EQ(List()->columnWidth(CFlashwrightDlg::kColumnModel), 125);
    EXPECT_EQ(List()->columnWidth(CFlashwrightDlg::kColumnFirmwareVersion), 190);
}

}  // namespace
}  // namespace apptest
