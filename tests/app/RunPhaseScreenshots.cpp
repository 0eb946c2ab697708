#include "RunPhaseScreenshots.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest/QTest>

#include <vector>

#include "DialogWidgets.h"
#include "dialog/FlashwrightDlg.h"
#include "testbed/Cameras.h"
#include "testbed/Environment.h"
#include "widgets/XListCtrl.h"

namespace screenshots {
namespace {

using testbed::json;

// 32 cameras of the four package models writing at different speeds and
// rebooting in 3 to 6 s; one fails to enter upgrade mode, one never comes
// back, one comes back with firmware other than the release's.
json ThirtyTwoCameras() {
    const char* models[] = {"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"};
    std::vector<json> cameras;
    for (int i = 0; i < 32; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "ZV24C%04d", 101 + i);
        json camera = testbed::Camera(serial, models[i % 4], 2.0e5 + 2.5e4 * (i % 7));
        camera["reboot_seconds"] = 3.0 + (i % 4);
        if (i == 5) camera["faults"] = {{"enter", true}};
        if (i == 12) camera["faults"] = {{"returns", false}};
        if (i == 20) camera["after_upgrade"]["firmware_version"] = "V01.03.001.999:V01.06";
        cameras.push_back(camera);
    }
    return testbed::Description(cameras);
}

void OneRun(const SaveFn& save, const FailFn& fail, bool maximised) {
    const QString suffix = maximised ? "-maximised" : "";
    const testbed::SimulatedCameras sim(ThirtyTwoCameras());
    CFlashwrightDlg::SetMessageBoxHandler([](const QString&, const QString&) {});
    // The program's own timing, with the bound on the wait shortened.
    testbed::ScopedEnvironment timing;
    timing.Unset("FLASHWRIGHT_REBOOT_ALLOWANCE");
    timing.Set("FLASHWRIGHT_REBOOT_TIMEOUT", "12");
    CFlashwrightDlg dialog;
    dialog.OnInitDialog();
    if (maximised) {
        dialog.showMaximized();
        // Without a window manager nobody maximises: the screen's size then.
        if (!QTest::qWaitForWindowExposed(&dialog)) return fail("the window was never shown");
        if (dialog.size() == dialog.minimumSize() && dialog.screen() != nullptr)
            dialog.resize(dialog.screen()->availableGeometry().size());
    } else {
        dialog.show();
    }
    if (!QTest::qWaitForWindowExposed(&dialog)) return fail("the window was never shown");
    dialog.activateWindow();
    CXListCtrl* list = dialogwidgets::DeviceList(dialog);
    dialogwidgets::Button(dialog, CFlashwrightDlg::IDC_SELECT_ALL)->click();
    if (dialogwidgets::TickedRows(*list).size() != 32) return fail("not every camera could be ticked");

    using Phase = CFlashwrightDlg::RunPhase;
    Phase phase = Phase::kIdle;
    QObject::connect(&dialog, &CFlashwrightDlg::RunPhaseChanged,
                     [&](Phase entered, const QString&) { phase = entered; });
    bool writing = false, waiting = false;
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!writing && phase == Phase::kWriting) {
            // Once most of the bars are part way and a few cameras are done.
            int partWay = 0;
            for (int row = 0; row < list->GetItemCount(); ++row) {
                const int bar = list->GetItemProgress(row, CFlashwrightDlg::kColumnStatus);
                partWay += bar > 62 && bar < 100 ? 1 : 0;
            }
            if (partWay >= 12) {
                writing = true;
                save("flashwright-writing" + suffix + ".png", &dialog);
            }
        }
        // Once a few cameras are back and most still restart.
        std::size_t awaited = 0;
        for (int row = 0; row < list->GetItemCount(); ++row)
            awaited += list->GetItemText(row, CFlashwrightDlg::kColumnStatus) == "Restarting..." ? 1 : 0;
        if (!waiting && phase == Phase::kRestarting && awaited < 26 && awaited > 3) {
            waiting = true;
            save("flashwright-restart-wait" + suffix + ".png", &dialog);
        }
    });
    sampler.start();
    dialogwidgets::Button(dialog, CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    sampler.stop();
    if (!writing) fail("the run never showed most bars part way" + suffix.toStdString());
    if (!waiting) fail("the run never showed the wait for restarting cameras" + suffix.toStdString());
    if (phase != Phase::kSummary) return fail("the run ended without a summary");
    save("flashwright-summary" + suffix + ".png", &dialog);
    CFlashwrightDlg::SetMessageBoxHandler({});
}

}  // namespace

void RunPhaseScenes(const SaveFn& save, const FailFn& fail) {
    OneRun(save, fail, false);
    OneRun(save, fail, true);
}

}  // namespace screenshots
