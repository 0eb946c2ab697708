// A main dialog brought up against simulated cameras, with its message boxes
// captured instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QString>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dialog/FlashwrightDlg.h"
#include "run/CameraSession.h"
#include "package/TempFiles.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"
#include "testbed/Environment.h"
#include "testbed/Files.h"
#include "widgets/XListCtrl.h"

namespace apptest {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::ScopedEnvironment;
using testbed::SetLiveParameter;
using testbed::SimulatedCameras;

// The test cameras reboot in a fraction of a second and a run ends when they
// are back; the bound is shortened for the camera that never returns.
inline RunTiming FastRunTiming() {
    RunTiming timing;
    timing.rebootAllowance = std::chrono::milliseconds(2000);
    timing.rebootTimeout = std::chrono::milliseconds(3000);
    return timing;
}

class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CFlashwrightDlg::SetMessageBoxHandler([this](const QString& caption, const QString& text) {
            captions.push_back(caption);
            messages.push_back(text);
        });
    }

    void TearDown() override {
        dialog.reset();
        CFlashwrightDlg::SetMessageBoxHandler({});
        sim.reset();
    }

    void Start(const json& description, RunTiming timing = FastRunTiming()) {
        sim = std::make_unique<SimulatedCameras>(description);
        OpenDialog(timing);
    }

    // For a test that prepares the simulated cameras before the program starts.
    void OpenDialog(RunTiming timing = FastRunTiming()) {
        dialog = std::make_unique<CFlashwrightDlg>();
        dialog->GetSession().SetRunTiming(timing);
        dialog->OnInitDialog();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    CXListCtrl* List() const { return dialog->GetDeviceList(); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dialog->GetControl(id)); }
    QString Cell(int row, int column) const { return List()->GetItemText(row, column); }

    void ClickCheckbox(int row) {
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, List()->GetSubItemRect(row, 0).center());
    }
    void ClickRow(int row, int column = CFlashwrightDlg::kColumnSerialNumber) {
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          List()->GetSubItemRect(row, column).center());
    }
    void PressEnterOnList() {
        List()->setFocus();
        QTest::keyClick(List(), Qt::Key_Return);
    }

    std::vector<int> TickedRows() const {
        std::vector<int> rows;
        for (int row = 0; row < List()->GetItemCount(); ++row)
            if (List()->GetCheckbox(row, 0) == 1) rows.push_back(row);
        return rows;
    }
    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (const auto& entry : dialog->GetSelection()) rows.push_back(entry.first);
        return rows;
    }

    static std::filesystem::path TempFolder() { return platform::ToNativePath(package::GetTempDirectoryPath()); }

    std::unique_ptr<SimulatedCameras> sim;
    std::unique_ptr<CFlashwrightDlg> dialog;
    std::vector<QString> captions;
    std::vector<QString> messages;
};

}  // namespace apptest
