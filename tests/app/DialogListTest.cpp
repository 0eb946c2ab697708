#include <gtest/gtest.h>

#include "DialogFixture.h"

namespace apptest {
namespace {

class DialogListTest : public DialogFixture {
protected:
    // Rows in enumeration order: two supported cameras, a model that differs
    // from a package model in case only, one that cannot be opened, and a
    // third supported one after them.
    void StartFiveCameras() {
        json unopened = Camera("A0004", "ORV-2C-L");
        unopened["faults"] = {{"open", -1005}};
        Start(Description({Camera("A0001", "ORV-2C"), Camera("A0002", "ORV-2M"), Camera("A0003", "orv-2c"), unopened,
                           Camera("A0005", "ORV-2M-L")}));
    }
};

TEST_F(DialogListTest, StartUpFillsOneRowPerCameraWithItsVersions) {
    StartFiveCameras();
    ASSERT_EQ(List()->GetItemCount(), 5);
    EXPECT_TRUE(messages.empty());

    EXPECT_EQ(Cell(0, 0), "ORV-2C");
    EXPECT_EQ(Cell(0, 1), "A0001");
    EXPECT_EQ(Cell(0, 2), "GA00010000000000");
    EXPECT_EQ(Cell(0, 3), "1.1_2.1_2.0");
    EXPECT_EQ(Cell(0, 4), "V01.03.001.002:V01.05");
    EXPECT_EQ(Cell(0, 5), "V01.00.000.001");
    EXPECT_EQ(Cell(0, 6), "1.0.3");
    EXPECT_EQ(Cell(0, 7), "  ");
    EXPECT_EQ(Cell(0, 8), " ");
    EXPECT_EQ(Cell(4, 0), "ORV-2M-L");
    EXPECT_EQ(Cell(4, 1), "A0005");
    for (const int row : {0, 1, 4}) {
        EXPECT_TRUE(List()->GetEnabled(row)) << row;
        EXPECT_EQ(List()->GetCheckbox(row, 0), 0) << row;
    }
    EXPECT_FALSE(IsUpgrading());
    EXPECT_FALSE(NeedsReenumeration());
    for (const int id : {CFlashwrightDlg::IDC_UPDATE_DEVICES, CFlashwrightDlg::IDC_SELECT_ALL,
                         CFlashwrightDlg::IDC_SELECT_NONE, CFlashwrightDlg::IDC_BEGIN_UPGRADE})
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
}

TEST_F(DialogListTest, UnsupportedAndUnopenedCamerasAreDisabledWithTheirStatus) {
    StartFiveCameras();
    ASSERT_EQ(List()->GetItemCount(), 5);

    // Case matters: "orv-2c" is not a package model.
    EXPECT_FALSE(List()->GetEnabled(2));
    EXPECT_EQ(Cell(2, 0), "orv-2c");
    EXPECT_EQ(Cell(2, 1), "A0003");
    EXPECT_EQ(Cell(2, 7), "Don't support upgrade");

    EXPECT_FALSE(List()->GetEnabled(3));
    EXPECT_EQ(Cell(3, 7), "Open device error");
    for (int column = 1; column <= 6; ++column) EXPECT_EQ(Cell(3, column), "") << column;
    EXPECT_EQ(List()->GetCheckbox(3, 0), 0);

    // Neither can be ticked by a click, by Enter or by "Select All".
    for (const int row : {2, 3}) {
        ClickCheckbox(row);
        EXPECT_EQ(List()->GetCheckbox(row, 0), 0) << row;
        EXPECT_EQ(List()->GetFirstSelectedItem(), -1) << row;
    }
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    EXPECT_EQ(TickedRows(), (std::vector<int>{0, 1, 4}));
}

TEST_F(DialogListTest, SelectAllSelectNoneClicksAndEnterKeepTheSelectionRight) {
    StartFiveCameras();

    // "Select All" twice gives the same selection.
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    EXPECT_EQ(TickedRows(), (std::vector<int>{0, 1, 4}));

    Button(CFlashwrightDlg::IDC_SELECT_NONE)->click();
    EXPECT_TRUE(TickedRows().empty());

    // A click ticks and a second click unticks.
    ClickCheckbox(1);
    EXPECT_EQ(TickedRows(), (std::vector<int>{1}));
    ClickCheckbox(4);
    EXPECT_EQ(TickedRows(), (std::vector<int>{1, 4}));
    ClickCheckbox(1);
    EXPECT_EQ(TickedRows(), (std::vector<int>{4}));

    // Enter toggles the list's selected row: a click on a text cell selects
    // the row without ticking it.
    ClickRow(0);
    ASSERT_EQ(List()->GetFirstSelectedItem(), 0);
    EXPECT_EQ(List()->GetCheckbox(0, 0), 0);
    PressEnterOnList();
    EXPECT_EQ(TickedRows(), (std::vector<int>{0, 4}));
    PressEnterOnList();
    EXPECT_EQ(TickedRows(), (std::vector<int>{4}));
    EXPECT_EQ(TickedRows(), (std::vector<int>{4}));
    EXPECT_TRUE(dialog->isVisible());

    // "Select None" also clears rows that were ticked and then disabled.
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    Button(CFlashwrightDlg::IDC_SELECT_NONE)->click();
    EXPECT_TRUE(TickedRows().empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(DialogListTest, UpdateDevicesRefillsUntickedAndIdle) {
    StartFiveCameras();
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    QPushButton* update = Button(CFlashwrightDlg::IDC_UPDATE_DEVICES);
    update->setFocus();
    update->click();
    EXPECT_EQ(List()->GetItemCount(), 5);
    EXPECT_TRUE(TickedRows().empty());
    EXPECT_FALSE(IsUpgrading());
    EXPECT_FALSE(NeedsReenumeration());
    EXPECT_EQ(Cell(0, 1), "A0001");
    EXPECT_EQ(QApplication::focusWidget(), update);
}

TEST_F(DialogListTest, NoCameraGivesAnEmptyListAndAnEmptySelection) {
    Start(Description({}));
    EXPECT_EQ(List()->GetItemCount(), 0);
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    EXPECT_TRUE(TickedRows().empty());
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    EXPECT_EQ(messages, (std::vector<QString>{"Please select device first."}));
}

}  // namespace
}  // namespace apptest
