#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>

#include "DialogFixture.h"

namespace apptest {
namespace {

// What the window showed at one moment of a run.
struct Sample {
    std::vector<QString> status;
    std::vector<QString> time;
    bool upgrading = false;
    bool timerActive = false;
    bool buttonsEnabled = false;
    bool configExists = false;
};

class DialogRunTest : public DialogFixture {
protected:
    // Four supported cameras, each taking about a second to write.
    void StartFourCameras(const json& slowCamera = json()) {
        std::vector<json> cameras;
        for (const char* serial : {"A0001", "A0002", "A0003", "A0004"})
            cameras.push_back(Camera(serial, "ORV-2C", 6e5));
        if (!slowCamera.is_null()) cameras[3] = slowCamera;
        sim = std::make_unique<SimulatedCameras>(Description(cameras));
        // A person's own setting, which the upgrade's reboot resets and the run
        // must bring back.
        ASSERT_TRUE(SetLiveParameter("A0001", testbed::kUserParameter, 77));
        OpenDialog();
    }

    Sample Take() {
        Sample sample;
        for (int row = 0; row < List()->GetItemCount(); ++row) {
            sample.status.push_back(Cell(row, CFlashwrightDlg::kColumnStatus));
            sample.time.push_back(Cell(row, CFlashwrightDlg::kColumnTime));
        }
        sample.upgrading = IsUpgrading();
        sample.timerActive = IsRefreshTimerActive();
        sample.buttonsEnabled = Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->isEnabled();
        sample.configExists = std::filesystem::exists(TempFolder() / "Config.ini");
        return sample;
    }

    static double Seconds(const QString& text) {
        double value = -1;
        char unit = 0;
        if (std::sscanf(text.toStdString().c_str(), "%lf %c", &value, &unit) != 2 || unit != 'S') return -1;
        return value;
    }
};

TEST_F(DialogRunTest, BeginUpgradeWithNothingTickedChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartFourCameras());
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    EXPECT_EQ(messages, (std::vector<QString>{"Please select device first."}));
    EXPECT_FALSE(IsUpgrading());
    EXPECT_FALSE(NeedsReenumeration());
    EXPECT_FALSE(std::filesystem::exists(TempFolder() / "Config.ini"));
    EXPECT_TRUE(PhaseLabel()->text().isEmpty());
    for (const json& event : sim->Events()) EXPECT_NE(event["call"], "DPEnterUpgradeMode");
}

TEST_F(DialogRunTest, RunOfThreeCamerasShowsProgressThenSuccessAndDemandsUpdate) {
    ASSERT_NO_FATAL_FAILURE(StartFourCameras());
    ASSERT_EQ(List()->GetItemCount(), 4);
    for (const int row : {0, 1, 3}) ClickCheckbox(row);
    ASSERT_EQ(TickedRows(), (std::vector<int>{0, 1, 3}));

    std::vector<Sample> samples;
    bool closeTried = false;
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back(Take());
        const Sample& now = samples.back();
        if (!closeTried && now.upgrading && now.status[0] == "Burning") {
            closeTried = true;
            // Both kinds of close request while flash is being written.
            dialog->close();
            std::raise(SIGTERM);
        }
    });
    sampler.start();
    QPushButton* begin = Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE);
    begin->setFocus();
    begin->click();
    sampler.stop();

    // The close requests were refused and the run went on to the end.
    ASSERT_TRUE(closeTried);
    ASSERT_FALSE(messages.empty());
    for (const QString& message : messages) EXPECT_EQ(message, "Upgrading is proceeding, please close later!");
    EXPECT_TRUE(dialog->isVisible());
    for (const QString& caption : captions) EXPECT_EQ(caption, QString::fromStdWString(platform::GetExecutableStem()));

    // During the run: "Burning" and a growing time on the ticked rows, the
    // untouched row unchanged, the window locked and Config.ini on disk.
    std::vector<double> firstRowTimes;
    bool sawBurning[4] = {};
    for (const Sample& sample : samples) {
        if (!sample.upgrading) continue;
        EXPECT_FALSE(sample.buttonsEnabled);
        EXPECT_TRUE(sample.configExists);
        for (const int row : {0, 1, 3})
            if (sample.status[row] == "Burning") sawBurning[row] = true;
        EXPECT_EQ(sample.status[2], "  ");
        EXPECT_EQ(sample.time[2], " ");
        if (sample.timerActive && sample.status[0] == "Burning") firstRowTimes.push_back(Seconds(sample.time[0]));
    }
    EXPECT_TRUE(sawBurning[0] && sawBurning[1] && sawBurning[3]);
    ASSERT_GE(firstRowTimes.size(), 3u);
    EXPECT_GT(firstRowTimes.back(), firstRowTimes.front());
    for (std::size_t i = 1; i < firstRowTimes.size(); ++i) EXPECT_GE(firstRowTimes[i], firstRowTimes[i - 1]);

    // After it: the returned cameras ticked again with their final status and
    // time, the buttons back, Config.ini gone, and "Update Devices" demanded.
    ASSERT_EQ(List()->GetItemCount(), 4);
    EXPECT_EQ(TickedRows(), (std::vector<int>{0, 1, 3}));
    for (const int row : {0, 1, 3}) {
        EXPECT_EQ(Cell(row, CFlashwrightDlg::kColumnStatus), "Success") << row;
        EXPECT_GT(Seconds(Cell(row, CFlashwrightDlg::kColumnTime)), 0.5) << row;
    }
    EXPECT_EQ(Cell(2, CFlashwrightDlg::kColumnStatus), "  ");
    EXPECT_FALSE(IsUpgrading());
    EXPECT_TRUE(NeedsReenumeration());
    EXPECT_FALSE(IsRefreshTimerActive());
    EXPECT_TRUE(begin->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), begin);
    EXPECT_FALSE(std::filesystem::exists(TempFolder() / "Config.ini"));
    // Every camera came back, so the wait ended before its bound.
    EXPECT_TRUE(PhaseLabel()->text().endsWith(": 3 of 3 cameras upgraded, 0 failed"))
        << PhaseLabel()->text().toStdString();

    // The cameras were written, the untouched one was not, the two libraries
    // never held a camera together, and the SDK restored the parameters only
    // after the producer had let go.
    const std::vector<json> events = sim->Events();
    std::set<std::string> upgraded;
    std::size_t lastProducer = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_NE(events[i]["call"], "violation") << events[i].dump();
        if (events[i]["call"] == "DPLeaveUpgradeMode" && events[i]["result"] == 0)
            upgraded.insert(events[i]["device_id"].get<std::string>());
        if (events[i]["source"] == "producer") lastProducer = i;
    }
    EXPECT_EQ(upgraded, (std::set<std::string>{"SIM-A0001", "SIM-A0002", "SIM-A0004"}));
    std::set<std::string> restored;
    for (std::size_t i = lastProducer + 1; i < events.size(); ++i)
        if (events[i]["call"] == "ZvIAPI_701" && events[i]["result"] == 0)
            restored.insert(events[i]["device_id"].get<std::string>());
    EXPECT_TRUE(std::includes(restored.begin(), restored.end(), upgraded.begin(), upgraded.end()));
    EXPECT_EQ(sim->LiveParameter("SIM-A0001", testbed::kUserParameter), 77);

    // The rows now show released cameras: clicks and Enter leave them alone,
    // and the commands refuse until "Update Devices".
    messages.clear();
    ClickCheckbox(0);
    ClickRow(2);
    PressEnterOnList();
    EXPECT_EQ(TickedRows(), (std::vector<int>{0, 1, 3}));
    for (const int id :
         {CFlashwrightDlg::IDC_BEGIN_UPGRADE, CFlashwrightDlg::IDC_SELECT_ALL, CFlashwrightDlg::IDC_SELECT_NONE})
        Button(id)->click();
    EXPECT_EQ(messages, std::vector<QString>(3, "Please reenumerate the devices"));
    EXPECT_EQ(TickedRows(), (std::vector<int>{0, 1, 3}));

    Button(CFlashwrightDlg::IDC_UPDATE_DEVICES)->click();
    EXPECT_FALSE(NeedsReenumeration());
    EXPECT_TRUE(TickedRows().empty());
    for (const int row : {0, 1, 3}) {
        EXPECT_EQ(Cell(row, CFlashwrightDlg::kColumnFirmwareVersion), "V01.03.002.001:V01.06") << row;
        EXPECT_EQ(Cell(row, CFlashwrightDlg::kColumnXmlVersion), "1.0.4") << row;
    }
    EXPECT_EQ(Cell(2, CFlashwrightDlg::kColumnFirmwareVersion), "V01.03.001.002:V01.05");
}

TEST_F(DialogRunTest, CameraThatNeverReturnsIsLeftUntickedAfterTheWatcherGivesUp) {
    json lost = Camera("A0004", "ORV-2C", 6e6);
    lost["faults"] = {{"returns", false}};
    ASSERT_NO_FATAL_FAILURE(StartFourCameras(lost));
    ClickCheckbox(0);
    ClickCheckbox(3);
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    // Its parameters were saved but cannot go back: one message names it and its copy.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("The user parameters of these cameras were saved but not restored:\nA0004: "))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("restore from ")) << messages[0].toStdString();
    EXPECT_TRUE(PhaseLabel()->text().endsWith(": 1 of 2 cameras upgraded, 0 failed, 1 not back"))
        << PhaseLabel()->text().toStdString();
    // The camera is gone from the refilled list; the one that came back is ticked.
    ASSERT_EQ(List()->GetItemCount(), 4);
    EXPECT_EQ(TickedRows(), (std::vector<int>{0}));
    EXPECT_EQ(Cell(0, CFlashwrightDlg::kColumnStatus), "Success");
}

TEST_F(DialogRunTest, ClosingTheIdleDialogRemovesTheTemporaryFolder) {
    ASSERT_NO_FATAL_FAILURE(StartFourCameras());
    ASSERT_TRUE(std::filesystem::is_directory(TempFolder()));
    std::ofstream(TempFolder() / "leftover.ini") << "[x]\n";
    ASSERT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(messages.empty());
    dialog.reset();
    EXPECT_FALSE(std::filesystem::exists(TempFolder()));
}

}  // namespace
}  // namespace apptest

namespace apptest {
namespace {

// A window-system close request (the title bar's close button), delivered to
// the window as the platform delivers it.
void WindowSystemClose(QWidget* window) {
    QCloseEvent event;
    QCoreApplication::sendEvent(window->windowHandle(), &event);
}

class DialogCloseGuardTest : public DialogRunTest,
                             public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

// While the refusal of one kind of close request is on screen, requests of
// every kind arrive; the window must survive the run and close normally after.
TEST_P(DialogCloseGuardTest, MixedCloseRequestsDuringARunAreAbsorbed) {
    const std::string first = GetParam().first;
    const std::string second = GetParam().second;
    ASSERT_NO_FATAL_FAILURE(StartFourCameras());
    ClickCheckbox(0);
    auto request = [&](const std::string& kind) {
        if (kind == "window") WindowSystemClose(dialog.get());
        if (kind == "close") dialog->close();
        if (kind == "signal") std::raise(SIGTERM);
        if (kind == "quit") std::raise(SIGQUIT);
        // Signals arrive through the event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    };
    int refusals = 0;
    CFlashwrightDlg::SetMessageBoxHandler([&](const QString&, const QString& text) {
        messages.push_back(text);
        if (text != "Upgrading is proceeding, please close later!" || refusals++ > 0) return;
        // While this refusal shows: the other kind, then the same kind again.
        request(second);
        request(first);
    });
    bool tried = false;
    QTimer trigger;
    trigger.setInterval(10);
    QObject::connect(&trigger, &QTimer::timeout, [&] {
        if (tried || !IsUpgrading()) return;
        tried = true;
        request(first);
    });
    trigger.start();
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    trigger.stop();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);

    ASSERT_TRUE(tried);
    EXPECT_GE(refusals, 1);
    ASSERT_NE(dialog->windowHandle(), nullptr);
    EXPECT_NE(dialog->windowHandle()->handle(), nullptr) << "the window was destroyed during the run";
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Cell(0, CFlashwrightDlg::kColumnStatus), "Success");
    // Idle again: a close request closes the window.
    request(first);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DialogCloseGuardTest,
                         ::testing::Values(std::make_pair("window", "signal"), std::make_pair("signal", "window"),
                                           std::make_pair("close", "quit"), std::make_pair("quit", "window")),
                         [](const auto& info) { return std::string(info.param.first) + "_then_" + info.param.second; });

}  // namespace
TEST_F(DialogRunTest, FailedStatusIsRedWhileSuccessKeepsTheListColour) {
    json failing = Camera("A0004", "ORV-2C", 6e5);
    failing["faults"] = {{"enter", true}};
    ASSERT_NO_FATAL_FAILURE(StartFourCameras(failing));
    ClickCheckbox(0);
    ClickCheckbox(3);
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    ASSERT_EQ(Cell(0, CFlashwrightDlg::kColumnStatus), "Success");
    ASSERT_NE(Cell(3, CFlashwrightDlg::kColumnStatus), "Success");
    EXPECT_EQ(List()->GetItemTextColor(0, CFlashwrightDlg::kColumnStatus), List()->GetDefaultTextColor());
    EXPECT_EQ(List()->GetItemTextColor(3, CFlashwrightDlg::kColumnStatus), QColor(Qt::red))
        << Cell(3, CFlashwrightDlg::kColumnStatus).toStdString();
}

}  // namespace apptest
