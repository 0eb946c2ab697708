#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "run/CameraRows.h"
#include "run/CameraSession.h"
#include "run/RunRefresh.h"
#include "run/UpgradeRun.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"
#include "testbed/Environment.h"

// The rows, the selection rules and the start-up both front ends share, on
// simulated cameras without a window.
namespace apptest {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::ScopedEnvironment;
using testbed::SimulatedCameras;
namespace {

using EAnswer = CCameraRows::EAnswer;
using ENameProblem = CCameraRows::ENameProblem;

class CameraRowsTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_session.reset();
        if (m_devices != nullptr) CDeviceManager::ReleaseInstance();
        m_parameters.reset();
        m_sim.reset();
    }

    void Open(const json& description) {
        m_sim = std::make_unique<SimulatedCameras>(description);
        m_devices = CDeviceManager::GetInstance();
        m_parameters = std::make_unique<CAPIDeviceManager>();
        m_session = std::make_unique<CCameraSession>(*m_devices, *m_parameters);
    }

    // Rows in enumeration order: a supported camera, a model that differs from
    // a package model in case only, one that cannot be opened, one another
    // process holds, and a second supported one.
    void OpenFiveCameras() {
        Open(Description({Camera("A0001", "ORV-2C"), Camera("A0002", "orv-2c"),
                          testbed::WithFaults(Camera("A0003", "ORV-2C"), {{"open", -1005}}),
                          testbed::WithFaults(Camera("A0004", "ORV-2C"), {{"open", -1004}}),
                          Camera("A0005", "ORV-2M")}));
        StartFailure failure;
        ASSERT_TRUE(m_session->Start(EStartScope::kListing, {}, failure)) << platform::WideToAnsi(failure.text);
        rows.Fill(m_session->GetCameras(), m_session->GetModels());
        ASSERT_EQ(rows.Count(), 5u);
    }

    std::vector<CU3VDevice*> Cameras(std::initializer_list<int> rowNumbers) const {
        std::vector<CU3VDevice*> cameras;
        for (const int row : rowNumbers) cameras.push_back(m_session->GetCameras()[static_cast<std::size_t>(row)]);
        return cameras;
    }

    std::unique_ptr<SimulatedCameras> m_sim;
    CDeviceManager* m_devices = nullptr;
    std::unique_ptr<CAPIDeviceManager> m_parameters;
    std::unique_ptr<CCameraSession> m_session;
    CCameraRows rows;
};

TEST_F(CameraRowsTest, OnlyEligibleRowsCanBeTickedByAnyCommand) {
    ASSERT_NO_FATAL_FAILURE(OpenFiveCameras());
    const bool eligible[] = {true, false, false, false, true};
    for (int row = 0; row < 5; ++row) EXPECT_EQ(rows.IsEligible(row), eligible[row]) << row;
    for (const int row : {-1, 5}) {
        EXPECT_FALSE(rows.IsEligible(row)) << row;
        EXPECT_EQ(rows.CameraAt(row), nullptr) << row;
    }
    // Case matters: the unsupported camera's status now says so.
    EXPECT_EQ(rows.CameraAt(1)->GetStatusText(), L"Don't support upgrade");

    EXPECT_EQ(rows.SelectAll(), EAnswer::kDone);
    EXPECT_EQ(rows.SelectAll(), EAnswer::kDone);
    EXPECT_EQ(rows.TickedRows(), (std::vector<int>{0, 4}));
    EXPECT_EQ(rows.SelectNone(), EAnswer::kDone);
    EXPECT_TRUE(rows.TickedRows().empty());

    // Clicks and Enter on rows that may not be ticked, or do not exist, tick nothing.
    for (const int row : {-1, 1, 2, 3, 5}) {
        EXPECT_FALSE(rows.Click(row, true)) << row;
        EXPECT_EQ(rows.Toggle(row), EAnswer::kDone) << row;
    }
    EXPECT_TRUE(rows.TickedRows().empty());

    // A click asks for a state; Enter flips the row.
    EXPECT_TRUE(rows.Click(4, true));
    EXPECT_TRUE(rows.Click(0, true));
    EXPECT_FALSE(rows.Click(4, false));
    EXPECT_EQ(rows.Toggle(0), EAnswer::kDone);
    EXPECT_EQ(rows.Toggle(4), EAnswer::kDone);
    EXPECT_EQ(rows.TickedRows(), (std::vector<int>{4}));
}

TEST_F(CameraRowsTest, BeginUpgradeTakesTheTickedCamerasInRowOrderOrSaysWhyNot) {
    ASSERT_NO_FATAL_FAILURE(OpenFiveCameras());
    std::vector<CU3VDevice*> cameras;
    EXPECT_EQ(rows.CamerasToStart(cameras), EAnswer::kNothingSelected);
    EXPECT_TRUE(cameras.empty());
    EXPECT_EQ(std::wstring(CCameraRows::RefusalText(EAnswer::kNothingSelected)), L"Please select device first.");
    EXPECT_EQ(CCameraRows::RefusalText(EAnswer::kDone), nullptr);

    rows.Click(4, true);
    rows.Toggle(0);
    EXPECT_EQ(rows.CamerasToStart(cameras), EAnswer::kDone);
    EXPECT_EQ(cameras, Cameras({0, 4}));
}

// After a run the rows show what came back until "Update Devices": every
// command is refused and no row whose camera is gone can be started.
TEST_F(CameraRowsTest, RowsOfAFinishedRunRefuseEveryCommandAndNeverStartAReleasedCamera) {
    Open(Description({Camera("B0001"), Camera("B0002"), testbed::WithFaults(Camera("B0003"), {{"returns", false}})}));
    RunTiming timing;
    timing.rebootAllowance = std::chrono::milliseconds(600);
    timing.rebootTimeout = std::chrono::milliseconds(2500);
    m_session->SetRunTiming(timing);
    StartFailure failure;
    ASSERT_TRUE(m_session->Start(EStartScope::kUpgrade, {}, failure)) << platform::WideToAnsi(failure.text);
    rows.Fill(m_session->GetCameras(), m_session->GetModels());
    rows.Click(0, true);
    rows.Click(2, true);
    std::vector<CU3VDevice*> cameras;
    ASSERT_EQ(rows.CamerasToStart(cameras), EAnswer::kDone);

    // The window's part of the run, as the dialog plays it.
    struct Observer : IUpgradeRunObserver {
        CCameraRows& rows;
        CCameraSession& session;
        std::vector<int> tickedAfterRun;
        Observer(CCameraRows& r, CCameraSession& s) : rows(r), session(s) {}
        void OnCamerasReturned() override {
            rows.FillAfterRun(session.GetCameras(), session.GetModels());
            tickedAfterRun = rows.TickedRows();
        }
        void OnProducerReleased() override { rows.Release(); }
    } observer(rows, *m_session);
    RunReport report;
    CUpgradeRun run(*m_session);
    ASSERT_EQ(run.Run(cameras, report, observer), CUpgradeRun::EResult::kCompleted);

    // Only the camera that came back is ticked; the lost one is not eligible.
    ASSERT_EQ(rows.Count(), 3u);
    EXPECT_EQ(observer.tickedAfterRun, (std::vector<int>{0}));
    EXPECT_TRUE(rows.NeedsReenumeration());
    EXPECT_EQ(rows.SelectAll(), EAnswer::kReenumerate);
    EXPECT_EQ(rows.SelectNone(), EAnswer::kReenumerate);
    EXPECT_EQ(rows.Toggle(0), EAnswer::kReenumerate);
    EAnswer answer = EAnswer::kDone;
    EXPECT_TRUE(rows.Click(0, false, &answer));
    EXPECT_EQ(answer, EAnswer::kReenumerate);
    EXPECT_FALSE(rows.Click(1, true));
    EXPECT_EQ(rows.TickedRows(), (std::vector<int>{0}));
    EXPECT_EQ(rows.CamerasToStart(cameras), EAnswer::kReenumerate);
    EXPECT_TRUE(cameras.empty());
    EXPECT_EQ(std::wstring(CCameraRows::RefusalText(EAnswer::kReenumerate)), L"Please reenumerate the devices");
    for (const int row : {0, 1, 2}) {
        EXPECT_EQ(rows.CameraAt(row), nullptr) << row;
        EXPECT_FALSE(rows.IsEligible(row)) << row;
    }

    // Released rows that were not refused still start nothing.
    CCameraRows released;
    std::wstring error;
    ASSERT_TRUE(m_session->Refresh(error)) << platform::WideToAnsi(error);
    released.Fill(m_session->GetCameras(), m_session->GetModels());
    released.Release();
    EXPECT_EQ(released.SelectAll(), EAnswer::kDone);
    EXPECT_TRUE(released.TickedRows().empty());
    EXPECT_EQ(released.CamerasToStart(cameras), EAnswer::kNothingSelected);

    // "Update Devices": fresh rows, nothing ticked, commands accepted again.
    rows.Fill(m_session->GetCameras(), m_session->GetModels());
    EXPECT_FALSE(rows.NeedsReenumeration());
    EXPECT_TRUE(rows.TickedRows().empty());
    EXPECT_EQ(rows.SelectAll(), EAnswer::kDone);
    const std::vector<int> ticked = rows.TickedRows();
    ASSERT_GE(ticked.size(), 2u);
    EXPECT_EQ(ticked[0], 0);
    EXPECT_EQ(ticked[1], 1);
}

TEST_F(CameraRowsTest, NamedCamerasAreMatchedBySerialOrDeviceIdInTheOrderFirstNamed) {
    ASSERT_NO_FATAL_FAILURE(OpenFiveCameras());
    std::vector<CCameraRows::NameRefusal> refusals;
    const std::vector<CU3VDevice*> selected = rows.SelectNamed(
        {"A0005", "SIM-A0001", "A0005", "nothing", "A0002", "A0003", "SIM-A0003", "SIM-A0004"}, refusals);
    EXPECT_EQ(selected, Cameras({4, 0}));
    EXPECT_EQ(rows.TickedRows(), (std::vector<int>{0, 4}));
    const struct {
        const char* name;
        ENameProblem problem;
        int row;  // of the camera named, -1 for none
    } expected[] = {
        {"nothing", ENameProblem::kNoCamera, -1},
        {"A0002", ENameProblem::kUnsupported, 1},
        // A camera that did not open is found by the serial number its producer lists.
        {"A0003", ENameProblem::kNotOpened, 2},
        {"SIM-A0003", ENameProblem::kNotOpened, 2},
        {"SIM-A0004", ENameProblem::kInUse, 3},
    };
    ASSERT_EQ(refusals.size(), std::size(expected));
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(refusals[i].name, expected[i].name);
        EXPECT_EQ(refusals[i].problem, expected[i].problem);
        EXPECT_EQ(refusals[i].camera, expected[i].row < 0 ? nullptr : rows.CameraAt(expected[i].row));
    }
    EXPECT_EQ(rows.FindDeviceId("SIM-A0005"), 4);
    EXPECT_EQ(rows.FindDeviceId("A0005"), -1);
}

// The start-up both front ends run: the older runtime variables mirrored, the
// temporary folder checked before the front end's step and any camera
// library, the export pass only for an upgrade.
TEST_F(CameraRowsTest, StartUpMirrorsTheRuntimeVariablesAndRunsItsStepsInOrder) {
    Open(Description({Camera("C0001")}));
    ScopedEnvironment environment;
    environment.Set("ZORVAN_GENICAM_ROOT", "/opt/genicam");
    environment.Unset("ZORVAN_GENICAM_LOG_CONFIG");
    environment.Set("GENICAM_LOG_CONFIG_V2_3", "kept");
    environment.Unset("GENICAM_ROOT_V2_3");
    environment.Set("ZORVAN_GENICAM_CACHE", "");

    std::optional<std::size_t> eventsAtStep;
    StartFailure failure;
    ASSERT_TRUE(m_session->Start(
        EStartScope::kListing, [&] { eventsAtStep = m_sim->Events().size(); }, failure));
    EXPECT_EQ(failure.step, StartFailure::EStep::kNone);
    EXPECT_EQ(testbed::GetEnv("GENICAM_ROOT_V2_3"), "/opt/genicam");
    EXPECT_EQ(testbed::GetEnv("GENICAM_LOG_CONFIG_V2_3"), "kept");
    EXPECT_EQ(testbed::GetEnv("GENICAM_CACHE_V2_3"), "");
    ASSERT_EQ(eventsAtStep, 0u) << "the front end's step comes before any camera call";
    EXPECT_EQ(m_session->GetCameras().size(), 1u);
    EXPECT_EQ(m_session->GetModels(), (std::vector<std::wstring>{L"ORV-2C", L"ORV-2C-L", L"ORV-2M", L"ORV-2M-L"}));
    // Listing leaves the cameras' parameters alone: the SDK is never called.
    EXPECT_TRUE(m_sim->Events({.source = "sdk"}).empty());

    // An upgrade's start-up saves the parameters, and the SDK is done before the producer begins.
    m_session->ReleaseProducer();
    const std::size_t before = m_sim->Events().size();
    ASSERT_TRUE(m_session->Start(EStartScope::kUpgrade, {}, failure)) << platform::WideToAnsi(failure.text);
    const std::vector<json> events = m_sim->Events();
    std::size_t lastSdk = 0, firstProducer = events.size();
    for (std::size_t i = before; i < events.size(); ++i) {
        if (events[i]["source"] == "sdk") lastSdk = i;
        if (events[i]["source"] == "producer" && firstProducer == events.size()) firstProducer = i;
    }
    EXPECT_GT(lastSdk, before);
    EXPECT_LT(lastSdk, firstProducer);
    EXPECT_EQ(m_session->BackupOf(*m_session->GetCameras().at(0)), EParameterBackup::kSaved);
}

TEST_F(CameraRowsTest, RefusedTemporaryFolderStopsTheStartUpBeforeTheFrontEndStep) {
    Open(Description({Camera("C0001")}));
    // A file where the folder goes (under the runtime folder, or at its fixed
    // place on Windows, which the test bed clears afterwards).
    std::filesystem::remove_all(m_sim->ProgramTempFolder());
    std::ofstream(m_sim->ProgramTempFolder()) << "not a folder";
    ASSERT_TRUE(std::filesystem::is_regular_file(m_sim->ProgramTempFolder()));
    bool stepRan = false;
    StartFailure failure;
    EXPECT_FALSE(m_session->Start(
        EStartScope::kUpgrade, [&] { stepRan = true; }, failure));
    EXPECT_EQ(failure.step, StartFailure::EStep::kTemporaryFolder);
    EXPECT_EQ(failure.text, L"it is not a folder");
    EXPECT_FALSE(stepRan);
    EXPECT_TRUE(m_sim->Events().empty()) << "no camera library was called";
}

// The refresh both front ends make on their tick during a run.
CCameraRows* g_refreshRows = nullptr;
std::vector<std::vector<CameraRefresh>>* g_refreshes = nullptr;
void RefreshTick() {
    std::vector<CameraRefresh> tick;
    for (const int row : g_refreshRows->TickedRows())
        if (CU3VDevice* camera = g_refreshRows->CameraAt(row)) tick.push_back(RefreshCamera(*camera));
    g_refreshes->push_back(tick);
}

TEST_F(CameraRowsTest, RefreshAddsBurnTimeOnlyWhileTheWorkerRunsAndReadsAFinalStatusOnce) {
    // About a second of writing for one camera; the other fails at once.
    Open(Description({Camera("D0001", "ORV-2C", 6e5), testbed::WithFaults(Camera("D0002"), {{"enter", true}})}));
    StartFailure failure;
    ASSERT_TRUE(m_session->Start(EStartScope::kUpgrade, {}, failure)) << platform::WideToAnsi(failure.text);
    rows.Fill(m_session->GetCameras(), m_session->GetModels());
    rows.SelectAll();
    std::vector<CU3VDevice*> cameras;
    ASSERT_EQ(rows.CamerasToStart(cameras), EAnswer::kDone);
    ASSERT_EQ(cameras.size(), 2u);

    std::vector<std::vector<CameraRefresh>> refreshes;
    struct Observer : IUpgradeRunObserver {
        CCameraRows& rows;
        std::vector<CameraRefresh> afterWorkers[2];
        explicit Observer(CCameraRows& r) : rows(r) {}
        void OnWorkersFinished() override {
            // Two refreshes after the workers ended: the second adds nothing.
            for (auto& refreshes : afterWorkers)
                for (const int row : rows.TickedRows()) refreshes.push_back(RefreshCamera(*rows.CameraAt(row)));
        }
    } observer(rows);
    g_refreshRows = &rows;
    g_refreshes = &refreshes;
    platform::SetMessagePumpHook(&RefreshTick);
    RunReport report;
    CUpgradeRun run(*m_session);
    const CUpgradeRun::EResult result = run.Run(cameras, report, observer);
    platform::SetMessagePumpHook(nullptr);
    ASSERT_EQ(result, CUpgradeRun::EResult::kCompleted);

    // While the slow camera wrote: its time grew and never went back, its
    // status was not final, and text and code always matched.
    double last = 0;
    int writingTicks = 0;
    for (const std::vector<CameraRefresh>& tick : refreshes) {
        if (tick.size() != 2) continue;
        const CameraRefresh& slow = tick[0];
        EXPECT_GE(slow.burnSeconds, last);
        last = slow.burnSeconds;
        EXPECT_EQ(slow.statusText, GetStatusCodeText(slow.statusCode));
        EXPECT_EQ(slow.finished, !IsStillWriting(slow.statusCode));
        if (slow.running && slow.statusCode == StatusCode::kBurning) {
            ++writingTicks;
            EXPECT_FALSE(slow.finished);
            EXPECT_FALSE(slow.failed);
        }
    }
    EXPECT_GT(writingTicks, 3);

    ASSERT_EQ(observer.afterWorkers[0].size(), 2u);
    ASSERT_EQ(observer.afterWorkers[1].size(), 2u);
    const CameraRefresh& written = observer.afterWorkers[0][0];
    const CameraRefresh& failed = observer.afterWorkers[0][1];
    EXPECT_TRUE(written.finished);
    EXPECT_FALSE(written.failed);
    EXPECT_EQ(written.statusCode, StatusCode::kSuccess);
    EXPECT_FALSE(written.running);
    EXPECT_GT(written.burnSeconds, 0.5);
    EXPECT_TRUE(failed.finished);
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.statusCode, StatusCode::kEnterUpgradeModeError);
    // With the workers gone the time stands still.
    EXPECT_EQ(observer.afterWorkers[1][0].burnSeconds, written.burnSeconds);
    EXPECT_EQ(observer.afterWorkers[1][1].burnSeconds, failed.burnSeconds);
}

}  // namespace
}  // namespace apptest
