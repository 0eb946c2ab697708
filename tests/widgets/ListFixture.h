#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QtTest/QTest>

#include <memory>

#include "widgets/XListCtrl.h"

// A shown list with the dialog's style and three columns: a check-box column
// and two centred text columns.
class ListFixture : public ::testing::Test {
protected:
    void SetUp() override {
        list = std::make_unique<CXListCtrl>();
        list->SetExtendedStyle(CXListCtrl::GridLines | CXListCtrl::FullRowSelect);
        list->InsertColumn(0, "Device Model", Qt::AlignLeft, 125);
        list->InsertColumn(1, "SN", Qt::AlignHCenter, 90);
        list->InsertColumn(2, "Status", Qt::AlignHCenter, 100);
        list->resize(420, 220);
        list->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list.get()));
    }

    // Inserts a row at the end with a check box in column 0.
    int AddRow(const QString& model, int checked, bool enabled, const QString& serial = "SN-0001") {
        const int row = list->InsertItem(list->GetItemCount(), model);
        list->SetCheckbox(row, checked);
        list->SetItemText(row, 1, serial);
        list->SetEnabled(row, enabled);
        return row;
    }

    // A cell's rectangle in the coordinates of the list widget (as grab() gives them).
    QRect CellInList(int row, int column) const {
        return list->GetSubItemRect(row, column).translated(list->viewport()->pos());
    }

    QImage Grab() const { return list->grab().toImage(); }

    void Click(const QPoint& viewportPoint) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, viewportPoint);
    }

    std::unique_ptr<CXListCtrl> list;
};
