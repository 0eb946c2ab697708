// The run report's rules, without a window or the command line: each camera's
// outcome from its facts, what its row says, what counts against the run, the
// summary and the exit status; and a run's report as the run fills it in.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "run/CameraSession.h"
#include "run/History.h"
#include "run/RunReport.h"
#include "run/UpgradeRun.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"
#include "testbed/Files.h"

namespace apptest {
namespace {

using testbed::Camera;
using testbed::Description;
using testbed::SimulatedCameras;
using testbed::WithFaults;

// A camera that ran, with the facts a test changes.
CameraReport Ran(std::int32_t status, bool wrote, std::optional<bool> back = std::nullopt,
                 std::optional<bool> verified = std::nullopt, std::optional<bool> saved = std::nullopt,
                 std::optional<bool> restored = std::nullopt) {
    CameraReport camera;
    camera.selected = true;
    camera.ran = true;
    camera.statusCode = status;
    camera.status = status == 0 ? "Success" : "Burning the FPGA failed";
    camera.wroteFlash = wrote;
    camera.back = back;
    camera.verified = verified;
    camera.parametersSaved = saved;
    camera.parametersRestored = restored;
    return camera;
}

TEST(RunReportTest, EachCamerasOutcomeFollowsFromItsFacts) {
    const struct {
        const char* what;
        CameraReport camera;
        ECameraOutcome outcome;
        const char* result;
        bool countsAgainst;
    } cases[] = {
        {"upgraded", Ran(0, true, true, true, true, true), ECameraOutcome::kUpgraded, "Success", false},
        {"no release version to check", Ran(0, true, true, std::nullopt, true, true), ECameraOutcome::kUpgraded,
         "Success", false},
        {"not listed by the SDK", Ran(0, true, true, true), ECameraOutcome::kUpgraded, "Success", false},
        {"flashed without a backup", Ran(0, true, true, true, false), ECameraOutcome::kUpgraded,
         "Success, user parameters reset to factory values", false},
        {"worker failed after writing", Ran(23, true, true, false, true, true), ECameraOutcome::kFailed,
         "Burning the FPGA failed", true},
        {"worker failed before writing", Ran(23, false, std::nullopt, std::nullopt, true, true),
         ECameraOutcome::kFailed, "Burning the FPGA failed", true},
        {"not back", Ran(0, true, false, std::nullopt, true, false), ECameraOutcome::kNotBack, "Not back", true},
        {"not verified", Ran(0, true, true, false, true, true), ECameraOutcome::kNotVerified, "Not verified", true},
        {"parameters not restored", Ran(0, true, true, true, true, false), ECameraOutcome::kParametersNotRestored,
         "User parameters not restored", true},
        // Facts still missing: the run goes on, or was killed first.
        {"still writing", Ran(21, false), ECameraOutcome::kPending, "Interrupted", true},
        {"restarting", Ran(0, true), ECameraOutcome::kPending, "Interrupted", true},
        {"restoring", Ran(0, true, true, true, true), ECameraOutcome::kPending, "Interrupted", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CameraReport camera = c.camera;
        camera.outcome = DecideOutcome(camera, false);
        EXPECT_EQ(camera.outcome, c.outcome);
        EXPECT_EQ(camera.ResultText(), c.result);
        EXPECT_EQ(camera.CountsAsFailure(), c.countsAgainst);
    }
    // What was settled before the run stays; a dry run's check passes or not.
    CameraReport held;
    held.selected = true;
    held.outcome = ECameraOutcome::kHeldBack;
    EXPECT_EQ(DecideOutcome(held, false), ECameraOutcome::kHeldBack);
    EXPECT_EQ(DecideOutcome(Ran(0, false), true), ECameraOutcome::kReady);
    EXPECT_EQ(DecideOutcome(Ran(13, false), true), ECameraOutcome::kIncompatible);
}

TEST(RunReportTest, TheSummaryAndTheExitStatusCountTheCamerasAskedFor) {
    const auto report = [](std::vector<ECameraOutcome> outcomes, std::vector<ECameraOutcome> unselected = {}) {
        RunReport run;
        run.totalSeconds = 12.34;
        for (const ECameraOutcome outcome : outcomes) {
            CameraReport camera;
            camera.selected = true;
            camera.outcome = outcome;
            run.cameras.push_back(camera);
        }
        for (const ECameraOutcome outcome : unselected) {
            CameraReport camera;
            camera.outcome = outcome;
            run.cameras.push_back(camera);
        }
        return run;
    };
    using O = ECameraOutcome;
    const struct {
        RunReport run;
        int exitStatus;
        const wchar_t* summary;
    } cases[] = {
        {report({O::kUpgraded, O::kUpgraded}, {O::kUnsupported, O::kNotSelected}), 0,
         L"Finished in 12.3 s: 2 of 2 cameras upgraded, 0 failed"},
        {report({O::kUpgraded, O::kUpToDate}), 0,
         L"Finished in 12.3 s: 1 of 2 cameras upgraded, 0 failed, 1 up to date"},
        {report({O::kUpToDate}), 2, L"Finished in 12.3 s: 0 of 1 camera upgraded, 0 failed, 1 up to date"},
        {report({}, {O::kUnsupported}), 2, L"Finished in 12.3 s: 0 of 0 cameras upgraded, 0 failed"},
        {report({O::kUpgraded, O::kHeldBack, O::kParametersNotRestored, O::kNotOpened, O::kInUse, O::kFailed,
                 O::kNotBack, O::kNotVerified}),
         1,
         L"Finished in 12.3 s: 1 of 8 cameras upgraded, 1 failed, 1 held back, 1 not back, 1 not verified, "
         L"1 parameters not restored, 2 not opened"},
        {report({O::kHeldBack}), 1, L"Finished in 12.3 s: 0 of 1 camera upgraded, 0 failed, 1 held back"},
        {report({O::kUpgraded, O::kPending}), 1,
         L"Finished in 12.3 s: 1 of 2 cameras upgraded, 0 failed, 1 not finished"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::WideToAnsi(c.summary));
        EXPECT_EQ(c.run.ExitStatus(), c.exitStatus);
        EXPECT_EQ(DescribeRunSummary(c.run), c.summary);
    }
    RunReport dry = report({O::kReady, O::kIncompatible, O::kNotOpened});
    dry.dryRun = true;
    EXPECT_EQ(dry.ExitStatus(), 1);
    EXPECT_EQ(DescribeRunSummary(dry), L"Checked 3 cameras: 1 ready, 1 incompatible, 1 not opened");
}

// A run's report as the run fills it in, and the history lines it leaves.
TEST(RunReportTest, TheRunFillsInTheFactsOfEachCameraAndRecordsItsProgress) {
    SimulatedCameras sim(Description({Camera("F0001"), WithFaults(Camera("F0002"), {{"enter", true}}),
                                      WithFaults(Camera("F0003"), {{"write_fails_at", "0x1200000"}})}));
    CDeviceManager* devices = CDeviceManager::GetInstance();
    {
        CAPIDeviceManager parameters;
        CCameraSession session(*devices, parameters);
        RunTiming timing = session.GetRunTiming();
        timing.rebootAllowance = std::chrono::milliseconds(500);
        session.SetRunTiming(timing);
        StartFailure failure;
        ASSERT_TRUE(session.Start(EStartScope::kUpgrade, {}, failure)) << platform::WideToAnsi(failure.text);
        const std::vector<CU3VDevice*> cameras = session.GetCameras();
        ASSERT_EQ(cameras.size(), 3u);
        package::ReleaseInfo release;
        std::string error;
        ASSERT_TRUE(package::LoadReleaseInfo(release, error)) << error;
        RunReport report = BeginRunReport("test", cameras, cameras, session.GetModels(), release, RunRequest{});
        IUpgradeRunObserver observer;
        CUpgradeRun run(session);
        ASSERT_EQ(run.Run(cameras, report, observer), CUpgradeRun::EResult::kCompleted);

        EXPECT_EQ(report.state, ERunState::kCompleted);
        ASSERT_TRUE(report.writingSeconds && report.restartingSeconds && report.restoringSeconds);
        EXPECT_LE(*report.writingSeconds, *report.restartingSeconds);
        const CameraReport& good = report.cameras[0];
        EXPECT_EQ(good.outcome, ECameraOutcome::kUpgraded);
        EXPECT_EQ(good.back, std::optional<bool>(true));
        EXPECT_EQ(good.verified, std::optional<bool>(true));
        EXPECT_EQ(good.parametersRestored, std::optional<bool>(true));
        ASSERT_TRUE(good.totalSeconds.has_value());
        // Enter failed: nothing written, so no restart to come back from, and
        // the failure text is the failing step's, not the clean-up's.
        const CameraReport& entering = report.cameras[1];
        EXPECT_EQ(entering.outcome, ECameraOutcome::kFailed);
        EXPECT_FALSE(entering.wroteFlash);
        EXPECT_FALSE(entering.back.has_value());
        EXPECT_EQ(entering.failureText.rfind("{-1010}{CU3VDevice::__EnterUpgradeMode:line[558]}", 0), 0u)
            << entering.failureText;
        const CameraReport& writing = report.cameras[2];
        EXPECT_EQ(writing.outcome, ECameraOutcome::kFailed);
        EXPECT_TRUE(writing.wroteFlash);
        EXPECT_EQ(writing.back, std::optional<bool>(true));
        EXPECT_NE(writing.failureText, "Success");
        EXPECT_FALSE(writing.failureText.empty());
        EXPECT_EQ(report.ExitStatus(), 1);

        // The history: the run before its first write, after the workers, and at its end.
        std::istringstream lines(testbed::ReadText(platform::ToNativePath(HistoryFilePath())));
        std::vector<RunReport> written;
        std::string line;
        while (std::getline(lines, line)) {
            RunReport record;
            ASSERT_TRUE(RunReportFromJson(line, record)) << line;
            written.push_back(record);
        }
        ASSERT_EQ(written.size(), 3u);
        for (const RunReport& record : written) EXPECT_EQ(record.runId, report.runId);
        EXPECT_EQ(written[0].state, ERunState::kRunning);
        EXPECT_EQ(written[0].cameras[0].outcome, ECameraOutcome::kPending);
        EXPECT_EQ(written[1].state, ERunState::kRunning);
        EXPECT_EQ(written[1].cameras[1].outcome, ECameraOutcome::kFailed);  // known once the workers ended
        EXPECT_EQ(written[2].state, ERunState::kCompleted);
        EXPECT_EQ(RunReportToJson(written[2]), RunReportToJson(report));
    }
    CDeviceManager::ReleaseInstance();
}

}  // namespace
}  // namespace apptest
