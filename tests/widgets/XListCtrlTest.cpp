#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QRegion>
#include <QSignalSpy>

#include <string>
#include <vector>

#include "ListFixture.h"

namespace {

// What the parent saw, in order, with the check state at the moment of each signal.
struct Notification {
    std::string name;
    int row;
    int column;
    int checkAtSignal;
    bool operator==(const Notification&) const = default;
};

void PrintTo(const Notification& n, std::ostream* os) {
    *os << n.name << "(" << n.row << "," << n.column << ") check=" << n.checkAtSignal;
}

class XListCtrlTest : public ListFixture {
protected:
    void SetUp() override {
        ListFixture::SetUp();
        QObject::connect(list.get(), &CXListCtrl::ItemClicked, [this](int row, int column) {
            log.push_back({"item", row, column, list->GetCheckbox(row, 0)});
        });
        QObject::connect(list.get(), &CXListCtrl::CheckboxClicked, [this](int row, int column) {
            log.push_back({"checkbox", row, column, list->GetCheckbox(row, column)});
        });
    }

    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (int row = 0; row < list->GetItemCount(); ++row) {
            if (list->selectionModel()->rowIntersectsSelection(row, QModelIndex())) rows.push_back(row);
        }
        return rows;
    }

    std::vector<Notification> log;
};

TEST_F(XListCtrlTest, IndexChecksReturnTheFailureValues) {
    AddRow("ZV-100", 0, true);
    list->InsertItem(1, "no box");  // a row without a check box
    const int rows = list->GetItemCount();
    const int columns = list->GetColumnCount();

    EXPECT_EQ(list->InsertItem(-1, "negative"), -1);
    EXPECT_EQ(list->GetItemCount(), rows);

    struct Cell {
        int row, column;
    };
    for (const Cell& c : {Cell{-1, 0}, Cell{rows, 0}, Cell{0, -1}, Cell{0, columns}, Cell{1, 0}, Cell{0, 1}}) {
        SCOPED_TRACE(testing::Message() << "cell " << c.row << "," << c.column);
        EXPECT_EQ(list->GetCheckbox(c.row, c.column), -1);
    }
    for (const int row : {-1, rows}) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        EXPECT_FALSE(list->SetCheckbox(row, 1));
        EXPECT_FALSE(list->SetEnabled(row, false));
        EXPECT_FALSE(list->GetEnabled(row));
        EXPECT_FALSE(list->SetItemText(row, 0, "x"));
        EXPECT_EQ(list->GetItemText(row, 0), QString());
        EXPECT_TRUE(list->GetSubItemRect(row, 0).isNull());
        EXPECT_FALSE(list->GetItemTextColor(row, 0).isValid());
        EXPECT_FALSE(list->DeleteItem(row));
        list->UpdateSubItem(row, 0);  // must simply do nothing
    }
    EXPECT_FALSE(list->SetItemText(0, columns, "x"));
    EXPECT_TRUE(list->GetSubItemRect(0, columns).isNull());
    EXPECT_FALSE(list->SetCheckbox(0, 0, 2)) << "only -1, 0 and 1 are check states";
    EXPECT_EQ(list->GetCheckbox(0, 0), 0);
    EXPECT_EQ(list->GetFirstSelectedItem(), -1);
    EXPECT_EQ(list->GetItemCount(), rows);

    // Past the end appends.
    EXPECT_EQ(list->InsertItem(100, "appended"), rows);
    EXPECT_EQ(list->GetItemText(rows, 0), "appended");
}

TEST_F(XListCtrlTest, RowsInsertedBeforeAnyColumnHaveNoRecords) {
    CXListCtrl bare;
    EXPECT_FALSE(bare.SetCheckbox(0, 1)) << "empty list";
    EXPECT_EQ(bare.InsertItem(0, "label"), 0);
    EXPECT_FALSE(bare.SetCheckbox(0, 1)) << "no column";
    EXPECT_EQ(bare.GetCheckbox(0, 0), -1);

    bare.InsertColumn(0, "Model", Qt::AlignLeft, 100);
    EXPECT_EQ(bare.GetItemText(0, 0), "label");
    EXPECT_FALSE(bare.SetCheckbox(0, 1)) << "the row still owns no records";
    EXPECT_FALSE(bare.SetEnabled(0, true));

    EXPECT_EQ(bare.InsertItem(1, "with records"), 1);
    EXPECT_TRUE(bare.SetCheckbox(1, 1));
    EXPECT_EQ(bare.GetCheckbox(1, 0), 1);
}

TEST_F(XListCtrlTest, ColumnChangesKeepRecordsWithTheirCells) {
    AddRow("ZV-100", 1, true);
    ASSERT_EQ(list->InsertColumn(1, "Inserted", Qt::AlignRight, 40), 1);
    EXPECT_EQ(list->GetItemText(0, 2), "SN-0001");
    EXPECT_EQ(list->GetCheckbox(0, 0), 1);
    EXPECT_EQ(list->GetCheckbox(0, 1), -1);
    EXPECT_TRUE(list->SetCheckbox(0, 1, 0)) << "a column added later still gets a record";

    ASSERT_TRUE(list->DeleteColumn(0));
    EXPECT_EQ(list->GetCheckbox(0, 0), 0);
    EXPECT_EQ(list->GetItemText(0, 1), "SN-0001");
    EXPECT_FALSE(list->DeleteColumn(list->GetColumnCount()));
}

TEST_F(XListCtrlTest, ClickOnDisabledRowOnlyNotifies) {
    AddRow("enabled", 0, true);
    AddRow("disabled", 1, false);
    AddRow("enabled too", 0, true);
    Click(list->GetSubItemRect(0, 2).center());  // selects row 0
    ASSERT_EQ(SelectedRows(), std::vector<int>{0});
    log.clear();

    const QRect box = list->GetSubItemRect(1, 0);
    for (const QPoint point : {QPoint(box.left() + 14, box.center().y()), list->GetSubItemRect(1, 1).center()}) {
        SCOPED_TRACE(testing::Message() << "at " << point.x() << "," << point.y());
        log.clear();
        Click(point);
        EXPECT_EQ(log, (std::vector<Notification>{{"item", 1, 0, 1}}));
        EXPECT_EQ(list->GetCheckbox(1, 0), 1);
        EXPECT_EQ(SelectedRows(), std::vector<int>{0});
    }

    // Dragging from a refused press onto an enabled row selects nothing either.
    QTest::mousePress(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->GetSubItemRect(1, 1).center());
    QTest::mouseMove(list->viewport(), list->GetSubItemRect(2, 1).center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->GetSubItemRect(2, 1).center());
    EXPECT_EQ(SelectedRows(), std::vector<int>{0});
    EXPECT_EQ(list->GetCheckbox(2, 0), 0);
}

TEST_F(XListCtrlTest, ClickAnywhereInCheckboxCellTogglesIt) {
    AddRow("first", 0, true);
    AddRow("ZV-200 with a long model name", 0, true);
    const QRect cell = list->GetSubItemRect(1, 0);
    const int side = cell.height() - 1;
    struct Where {
        const char* what;
        QPoint point;
    };
    const Where places[] = {
        {"box", QPoint(cell.left() + 9 + side / 2, cell.center().y())},
        {"text", QPoint(cell.left() + 9 + side + 20, cell.center().y())},
        {"left margin", QPoint(cell.left() + 1, cell.top() + 1)},
        {"right end", QPoint(cell.right(), cell.bottom())},
    };
    int expected = 0;
    for (const Where& where : places) {
        SCOPED_TRACE(where.what);
        log.clear();
        Click(where.point);
        const int before = expected;
        expected = 1 - expected;
        EXPECT_EQ(log, (std::vector<Notification>{{"item", 1, 0, before}, {"checkbox", 1, 0, expected}}));
        EXPECT_EQ(list->GetCheckbox(1, 0), expected);
        EXPECT_EQ(list->GetCheckbox(0, 0), 0);
        EXPECT_EQ(list->GetFirstSelectedItem(), 1) << "the click goes on to select the row";
    }
}

TEST_F(XListCtrlTest, ClicksOutsideCheckboxesOnlyNotifyAndSelect) {
    AddRow("first", 0, true);
    AddRow("second", 1, true);
    list->InsertItem(2, "no box");

    Click(list->GetSubItemRect(1, 2).center());
    EXPECT_EQ(log, (std::vector<Notification>{{"item", 1, 0, 1}}));
    EXPECT_EQ(list->GetFirstSelectedItem(), 1);

    log.clear();
    Click(list->GetSubItemRect(2, 0).center());
    EXPECT_EQ(log, (std::vector<Notification>{{"item", 2, 0, -1}}));
    EXPECT_EQ(list->GetFirstSelectedItem(), 2);

    // Below the last row: no row, no notification; the standard handling clears the selection.
    log.clear();
    const QRect last = list->GetSubItemRect(2, 1);
    Click(QPoint(last.center().x(), last.bottom() + 2 * last.height()));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(list->GetFirstSelectedItem(), -1);
    EXPECT_EQ(list->GetCheckbox(1, 0), 1);
}

TEST_F(XListCtrlTest, DoubleClickTogglesOnceAndNotifiesOnce) {
    AddRow("first", 0, true);
    AddRow("disabled", 0, false);
    QWindow* window = list->windowHandle();
    ASSERT_NE(window, nullptr);
    const auto toWindow = [this](const QPoint& p) { return list->viewport()->mapTo(list->window(), p); };

    QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, toWindow(list->GetSubItemRect(0, 0).center()));
    EXPECT_EQ(log, (std::vector<Notification>{{"item", 0, 0, 0}, {"checkbox", 0, 0, 1}}));
    EXPECT_EQ(list->GetCheckbox(0, 0), 1);

    log.clear();
    QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, toWindow(list->GetSubItemRect(1, 0).center()));
    EXPECT_EQ(log, (std::vector<Notification>{{"item", 1, 0, 0}}));
    EXPECT_EQ(list->GetCheckbox(1, 0), 0);
    EXPECT_EQ(list->GetFirstSelectedItem(), 0);

    // Two quick presses either side of a row border make a double click for
    // the system, but they are clicks on two rows.
    list->SetEnabled(1, true);
    log.clear();
    const QRect upper = list->GetSubItemRect(0, 0);
    const QPoint first = toWindow(QPoint(upper.center().x(), upper.bottom()));
    const QPoint second = first + QPoint(0, 3);
    ASSERT_EQ(list->rowAt(list->viewport()->mapFrom(list->window(), second).y()), 1);
    ulong time = 1000000;
    for (const QPoint& at : {first, second}) {
        const QPointF global = window->mapToGlobal(QPointF(at));
        qt_handleMouseEvent(window, at, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress,
                            Qt::NoModifier, int(time += 10));
        qt_handleMouseEvent(window, at, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease,
                            Qt::NoModifier, int(time += 10));
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(log, (std::vector<Notification>{
                       {"item", 0, 0, 1}, {"checkbox", 0, 0, 0}, {"item", 1, 0, 0}, {"checkbox", 1, 0, 1}}));
}

TEST_F(XListCtrlTest, SlotThatClearsTheListEndsTheClick) {
    AddRow("first", 0, true);
    QObject::connect(list.get(), &CXListCtrl::ItemClicked, list.get(), [this] { list->DeleteAllItems(); });
    Click(list->GetSubItemRect(0, 0).center());
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(list->GetItemCount(), 0);

    // Refilled by the slot: the click must not land on the new row either.
    QObject::disconnect(list.get(), &CXListCtrl::ItemClicked, list.get(), nullptr);
    AddRow("first", 0, true);
    QObject::connect(list.get(), &CXListCtrl::ItemClicked, list.get(), [this] {
        list->DeleteAllItems();
        AddRow("refilled", 0, true);
    });
    Click(list->GetSubItemRect(0, 0).center());
    EXPECT_EQ(list->GetCheckbox(0, 0), 0);
    EXPECT_EQ(list->GetFirstSelectedItem(), -1);
}

TEST_F(XListCtrlTest, FirstSelectedItemIsTheLowestSelectedRow) {
    for (int i = 0; i < 4; ++i) AddRow(QString("row %1").arg(i), 0, true);
    Click(list->GetSubItemRect(3, 1).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, list->GetSubItemRect(1, 1).center());
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 3}));
    EXPECT_EQ(list->GetFirstSelectedItem(), 1);
}

TEST_F(XListCtrlTest, RedrawsPaintBeforeReturning) {
    AddRow("row", 0, true);
    QCoreApplication::processEvents();

    struct PaintRecorder : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
            return false;
        }
    } recorder;
    list->viewport()->installEventFilter(&recorder);
    const auto paintedAll = [&](const QRect& rect) { return (QRegion(rect) - recorder.painted).isEmpty(); };

    list->UpdateSubItem(0, 1);
    EXPECT_TRUE(paintedAll(list->GetSubItemRect(0, 1)));

    recorder.painted = QRegion();
    list->SetEnabled(0, false);
    EXPECT_TRUE(paintedAll(list->GetSubItemRect(0, 0).united(list->GetSubItemRect(0, 2))));

    recorder.painted = QRegion();
    list->SetCheckbox(0, 1);
    EXPECT_TRUE(paintedAll(list->GetSubItemRect(0, 0)));
    list->viewport()->removeEventFilter(&recorder);
}

TEST_F(XListCtrlTest, DeleteAllItemsEmptiesTheList) {
    AddRow("first", 1, true);
    AddRow("second", 0, false);
    Click(list->GetSubItemRect(0, 1).center());
    list->DeleteAllItems();
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_EQ(list->GetFirstSelectedItem(), -1);
    EXPECT_EQ(list->GetCheckbox(0, 0), -1);
    EXPECT_EQ(list->InsertItem(0, "again"), 0);
    EXPECT_EQ(list->GetCheckbox(0, 0), -1) << "a new row starts without check box";
    EXPECT_TRUE(list->GetEnabled(0));
}

}  // namespace
