// The main window's widgets, found the way accessibility and test tools find
// them: by their object names in the window's widget tree.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "dialog/FlashwrightDlg.h"
#include "widgets/XListCtrl.h"

namespace dialogwidgets {

inline QString ControlName(int id) { return QStringLiteral("control%1").arg(id); }

// A button by its control id (CFlashwrightDlg::IDC_...).
inline QPushButton* Button(const CFlashwrightDlg& dialog, int id) {
    return dialog.findChild<QPushButton*>(ControlName(id));
}
inline CXListCtrl* DeviceList(const CFlashwrightDlg& dialog) {
    return dialog.findChild<CXListCtrl*>(ControlName(CFlashwrightDlg::IDC_DEVICE_LIST));
}
// The line under the list: the run's phase, then its summary.
inline QLabel* PhaseLabel(const CFlashwrightDlg& dialog) {
    return dialog.findChild<QLabel*>(QStringLiteral("phaseLabel"));
}
// The timer that refreshes the rows while the workers write.
inline const QTimer* RefreshTimer(const CFlashwrightDlg& dialog) {
    return dialog.findChild<QTimer*>(QStringLiteral("refreshTimer"));
}
// The rows whose check box is ticked.
inline std::vector<int> TickedRows(const CXListCtrl& list) {
    std::vector<int> rows;
    for (int row = 0; row < list.GetItemCount(); ++row)
        if (list.GetCheckbox(row, 0) == 1) rows.push_back(row);
    return rows;
}

}  // namespace dialogwidgets
