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

#include "DialogWidgets.h"
#include "dialog/FlashwrightDlg.h"
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
        timing.reset();
        sim.reset();
    }

    void Start(const json& description) {
        sim = std::make_unique<SimulatedCameras>(description);
        OpenDialog();
    }

    // For a test that prepares the simulated cameras before the program starts.
    // The test cameras reboot in a fraction of a second and a run ends when
    // they are back; the bound is shortened for the camera that never returns.
    // The window's session takes the timing from the environment, as the
    // program does.
    void OpenDialog() {
        timing = std::make_unique<ScopedEnvironment>();
        timing->Set("FLASHWRIGHT_REBOOT_ALLOWANCE", "2");
        timing->Set("FLASHWRIGHT_REBOOT_TIMEOUT", "3");
        dialog = std::make_unique<CFlashwrightDlg>();
        dialog->OnInitDialog();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    CXListCtrl* List() const { return dialogwidgets::DeviceList(*dialog); }
    QPushButton* Button(int id) const { return dialogwidgets::Button(*dialog, id); }
    QLabel* PhaseLabel() const { return dialogwidgets::PhaseLabel(*dialog); }
    bool IsRefreshTimerActive() const { return dialogwidgets::RefreshTimer(*dialog)->isActive(); }
    // Every command button is disabled while the workers write.
    bool IsUpgrading() const {
        for (const int id : {CFlashwrightDlg::IDC_UPDATE_DEVICES, CFlashwrightDlg::IDC_SELECT_ALL,
                             CFlashwrightDlg::IDC_SELECT_NONE, CFlashwrightDlg::IDC_BEGIN_UPGRADE})
            if (Button(id)->isEnabled()) return false;
        return true;
    }
    // The rows of a finished run refuse "Select None" until "Update Devices".
    // The probe leaves no trace: the refusal's message is taken back out of
    // the captured ones, and rows the command did untick are ticked again.
    bool NeedsReenumeration() {
        const std::vector<int> ticked = TickedRows();
        const std::size_t before = messages.size();
        Button(CFlashwrightDlg::IDC_SELECT_NONE)->click();
        const bool refused = messages.size() == before + 1 && messages.back() == "Please reenumerate the devices";
        if (refused) {
            messages.pop_back();
            captions.pop_back();
            EXPECT_EQ(TickedRows(), ticked) << "a refused command changed the ticks";
        } else {
            for (const int row : ticked) ClickCheckbox(row);
        }
        return refused;
    }
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

    std::vector<int> TickedRows() const { return dialogwidgets::TickedRows(*List()); }

    static std::filesystem::path TempFolder() { return platform::ToNativePath(package::GetTempDirectoryPath()); }

    std::unique_ptr<SimulatedCameras> sim;
    std::unique_ptr<ScopedEnvironment> timing;
    std::unique_ptr<CFlashwrightDlg> dialog;
    std::vector<QString> captions;
    std::vector<QString> messages;
};

}  // namespace apptest
