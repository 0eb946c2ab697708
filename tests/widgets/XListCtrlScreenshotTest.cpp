#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "ListFixture.h"

// Saves pictures of the list for a person to look at:
// <build>/screenshots/xlistctrl.png and xlistctrl-empty.png.
namespace {

class XListCtrlScreenshotTest : public ListFixture {};

TEST_F(XListCtrlScreenshotTest, SavesAListWithEveryKindOfRow)
{
    list->InsertColumn(3, "Firmware Version", Qt::AlignHCenter, 130);
    list->resize(520, 200);

    const struct {
        const char* model;
        int check;
        bool enabled;
        const char* serial;
        const char* status;
    } rows[] = {
        {"ZV-U3-130M", 1, true, "A1930021", "Upgraded"},
        {"ZV-U3-130M", 0, true, "A1930022", "  "},
        {"ZV-U3-500C", 1, false, "B2210007", "Not opened"},
        {"zv-u3-500c", 0, false, "B2210008", "Don't support upgrade"},
        {"ZV-U3-200M", 0, true, "C0310415", "  "},
    };
    for (const auto& r : rows) {
        const int row = list->InsertItem(list->GetItemCount(), r.model);
        list->SetCheckbox(row, r.check);
        list->SetItemText(row, 1, r.serial);
        list->SetItemText(row, 2, r.status);
        list->SetItemText(row, 3, r.enabled ? "V2.1.0 Build 2106" : "");
        list->SetEnabled(row, r.enabled);
    }
    Click(list->GetSubItemRect(4, 2).center());  // select the last row, with focus
    list->activateWindow();
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list.get()));

    ASSERT_TRUE(QDir().mkpath(FLASHWRIGHT_SCREENSHOT_DIR));
    const QImage image = Grab();
    const QString path = QString(FLASHWRIGHT_SCREENSHOT_DIR) + "/xlistctrl.png";
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    EXPECT_EQ(QImage(path).size(), image.size());

    list->DeleteAllItems();
    const QString emptyPath = QString(FLASHWRIGHT_SCREENSHOT_DIR) + "/xlistctrl-empty.png";
    ASSERT_TRUE(Grab().save(emptyPath)) << emptyPath.toStdString();
}

}  // namespace
