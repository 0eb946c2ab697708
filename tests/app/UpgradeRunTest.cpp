#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/TempFiles.h"
#include "run/CameraSession.h"
#include "run/UpgradeRun.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"
#include "testbed/Environment.h"

// The run without a window, as flashwright-cli drives it.
namespace apptest {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::ScopedEnvironment;
using testbed::SetLiveParameter;
using testbed::SimulatedCameras;
namespace {

// Records the hooks in order, with what was on disk and in the records then.
class RecordingObserver : public IUpgradeRunObserver {
public:
    explicit RecordingObserver(std::vector<CU3VDevice*> cameras, std::vector<std::wstring> models)
        : m_cameras(std::move(cameras)), m_models(std::move(models)) {}

    void OnWorkersStarting() override {
        calls.push_back("starting");
        configDuringRun = ConfigPath();
        configExisted = std::filesystem::exists(configDuringRun);
    }
    void OnWorkersFinished() override {
        calls.push_back("finished");
        for (CU3VDevice* camera : m_cameras) {
            statuses.push_back(camera->GetStatusCode());
            running.push_back(camera->IsRunning() || camera->GetThread()->IsRunning());
        }
    }
    void OnCamerasReturned() override {
        calls.push_back("returned");
        for (CU3VDevice* camera : m_cameras) returned.push_back(CUpgradeRun::HasReturned(*camera, m_models));
    }
    void OnProducerReleased() override { calls.push_back("released"); }
    void OnImportFailed(const std::wstring& text) override {
        calls.push_back("import failed");
        importError = text;
    }

    static std::filesystem::path ConfigPath() {
        return std::filesystem::path(platform::ToNativePath(package::GetTempDirectoryPath())) / "Config.ini";
    }

    std::vector<std::string> calls;
    std::filesystem::path configDuringRun;
    bool configExisted = false;
    std::vector<std::int32_t> statuses;
    std::vector<bool> running;
    std::vector<bool> returned;
    std::wstring importError;

private:
    std::vector<CU3VDevice*> m_cameras;
    std::vector<std::wstring> m_models;
};

class UpgradeRunTest : public ::testing::Test {
protected:
    void TearDown() override { Close(); }

    void Close() {
        m_session.reset();
        if (m_devices != nullptr) CDeviceManager::ReleaseInstance();
        m_devices = nullptr;
        m_parameters.reset();
        m_sim.reset();
    }

    // Producer, models and cameras, without the export pass the dialog runs first.
    std::vector<CU3VDevice*> Open(const json& description, const RunTiming& timing = RunTiming{}) {
        m_sim = std::make_unique<SimulatedCameras>(description);
        m_devices = CDeviceManager::GetInstance();
        m_parameters = std::make_unique<CAPIDeviceManager>();
        m_session = std::make_unique<CCameraSession>(*m_devices, *m_parameters);
        m_session->SetRunTiming(timing);
        std::wstring error;
        EXPECT_TRUE(m_session->LoadProducer(error)) << platform::WideToAnsi(error);
        EXPECT_TRUE(m_session->LoadModelList(error)) << platform::WideToAnsi(error);
        m_session->Enumerate();
        return m_session->GetCameras();
    }

    // A shortened wait, so the cases of the bound take a second or two.
    static RunTiming Scaled() {
        RunTiming timing;
        timing.pollInterval = std::chrono::milliseconds(100);
        timing.rebootAllowance = std::chrono::milliseconds(600);
        timing.rebootTimeout = std::chrono::milliseconds(2500);
        return timing;
    }

    // The producer's opens of each camera from the given event on.
    std::map<std::string, int> OpensSince(std::size_t firstEvent) const {
        std::map<std::string, int> opens;
        const std::vector<json> events = m_sim->Events();
        for (std::size_t i = firstEvent; i < events.size(); ++i)
            if (events[i]["source"] == "producer" && events[i]["call"] == "IFOpenDevice")
                ++opens[events[i]["device_id"].get<std::string>()];
        return opens;
    }

    std::unique_ptr<SimulatedCameras> m_sim;
    CDeviceManager* m_devices = nullptr;
    std::unique_ptr<CAPIDeviceManager> m_parameters;
    std::unique_ptr<CCameraSession> m_session;
};

TEST_F(UpgradeRunTest, StepsInOrderWithOnePlanPerModelAndAnEndAsSoonAsTheCamerasAreBack) {
    const std::vector<CU3VDevice*> cameras =
        Open(Description({Camera("B0001"), Camera("B0002", "ORV-2M"), Camera("B0003")}));
    ASSERT_EQ(cameras.size(), 3u);
    RecordingObserver observer(cameras, m_session->GetModels());
    // The program's own timing: the cameras reboot in 0.2 s.
    RunReport report;
    CUpgradeRun run(*m_session);
    EXPECT_EQ(run.GetTiming().rebootTimeout, std::chrono::seconds(21));
    EXPECT_EQ(run.Run(cameras, report, observer), CUpgradeRun::EResult::kCompleted);

    EXPECT_EQ(observer.calls, (std::vector<std::string>{"starting", "finished", "returned", "released"}));
    EXPECT_TRUE(observer.configExisted);
    EXPECT_FALSE(std::filesystem::exists(observer.configDuringRun));
    EXPECT_EQ(observer.statuses, std::vector<std::int32_t>(3, StatusCode::kSuccess));
    EXPECT_EQ(observer.running, std::vector<bool>(3, false));
    EXPECT_EQ(observer.returned, std::vector<bool>(3, true));
    // Two models, two plans, although three cameras were written.
    EXPECT_EQ(run.GetPlanBuildCount(), 2);
    // Back after 0.2 s: the wait ended long before the ten seconds a camera
    // whose reboot went unseen would be given.
    EXPECT_TRUE(run.StoppedEarly());
    EXPECT_LT(run.GetWatchDuration(), std::chrono::seconds(5));
    EXPECT_GE(run.GetPollCount(), 2) << "seen gone, then back";
    EXPECT_FALSE(m_devices->IsProducerLoaded());
}

// The watcher against cameras that come back late, never, without being seen
// gone, or that never wrote flash; an unticked camera on the same bus is never
// opened by the polls.
TEST_F(UpgradeRunTest, WatcherWaitsForEachCameraThatWroteFlashUntilItIsBackOrTheBound) {
    const auto ms = [](int n) { return std::chrono::milliseconds(n); };
    json late = Camera("B0001");
    late["reboot_seconds"] = 1.2;
    json lost = Camera("B0001");
    lost["faults"] = {{"returns", false}};
    json hidden = Camera("B0001");
    hidden["reboot_seconds"] = 0;
    json refused = Camera("B0001");
    refused["firmware_version"] = "V01.03.001.002:V02.05";  // the version check fails before any write
    const struct {
        const char* name;
        json camera;
        std::int32_t status;
        bool returned;
        bool stoppedEarly;
        std::chrono::milliseconds atLeast, below;
        int opens;
    } cases[] = {
        {"back after the allowance, within the bound", late, StatusCode::kSuccess, true, true, ms(1000), ms(2500), 1},
        {"never back", lost, StatusCode::kSuccess, false, false, ms(2500), ms(4000), 0},
        {"reboot never seen", hidden, StatusCode::kSuccess, true, true, ms(600), ms(2500), 1},
        {"failed before writing", refused, StatusCode::kFileVersionMismatch, true, true, ms(0), ms(600), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        json bystander = Camera("B0009");
        const std::vector<CU3VDevice*> all = Open(Description({c.camera, bystander}), Scaled());
        ASSERT_EQ(all.size(), 2u);
        const std::vector<CU3VDevice*> cameras{all[0]};
        const std::size_t firstEvent = m_sim->Events().size();
        RecordingObserver observer(cameras, m_session->GetModels());
        RunReport report;
        CUpgradeRun run(*m_session);
        run.Run(cameras, report, observer);

        EXPECT_EQ(observer.statuses, std::vector<std::int32_t>{c.status});
        EXPECT_EQ(observer.returned, std::vector<bool>{c.returned});
        EXPECT_EQ(run.StoppedEarly(), c.stoppedEarly);
        EXPECT_GE(run.GetWatchDuration(), c.atLeast);
        EXPECT_LT(run.GetWatchDuration(), c.below);
        // At most one open a poll, and none of a camera that is not awaited.
        const std::map<std::string, int> opens = OpensSince(firstEvent);
        EXPECT_EQ(opens.count("SIM-B0009"), 0u);
        EXPECT_EQ(opens.count("SIM-B0001") ? opens.at("SIM-B0001") : 0, c.opens);
        Close();
    }
}

// The import pass must not begin while a camera that wrote flash still
// reboots: it would miss that camera, whose reboot reset its parameters.
TEST_F(UpgradeRunTest, CameraThatRebootsInThreeSecondsGetsItsParametersBack) {
    json slow = Camera("B0001");
    slow["reboot_seconds"] = 3;
    Open(Description({slow}));
    // As the program starts: a person's setting, the export pass, then the producer.
    m_session->ReleaseProducer();
    ASSERT_TRUE(SetLiveParameter("B0001", testbed::kUserParameter, 77));
    std::wstring error;
    ASSERT_TRUE(m_session->RunExportPass(error)) << platform::WideToAnsi(error);
    ASSERT_TRUE(m_session->LoadProducer(error)) << platform::WideToAnsi(error);
    m_session->Enumerate();
    const std::vector<CU3VDevice*> cameras = m_session->GetCameras();
    ASSERT_EQ(cameras.size(), 1u);
    RecordingObserver observer(cameras, m_session->GetModels());
    RunReport report;
    CUpgradeRun run(*m_session);
    EXPECT_EQ(run.Run(cameras, report, observer), CUpgradeRun::EResult::kCompleted);
    EXPECT_EQ(observer.returned, std::vector<bool>{true});
    EXPECT_GE(run.GetWatchDuration(), std::chrono::milliseconds(2500));
    EXPECT_TRUE(observer.importError.empty()) << platform::WideToAnsi(observer.importError);
    EXPECT_EQ(m_sim->LiveParameter("SIM-B0001", testbed::kUserParameter), 77);
}

TEST_F(UpgradeRunTest, CameraWhoseWorkerCannotStartIsNotWaitedForAndTheOthersGoOn) {
    const std::vector<CU3VDevice*> cameras = Open(Description({Camera("B0001"), Camera("B0002")}));
    RecordingObserver observer(cameras, m_session->GetModels());
    RunReport report;
    CUpgradeRun run(*m_session);
    platform::testing::FailNextThreadCreation();
    run.Run(cameras, report, observer);
    EXPECT_EQ(observer.statuses, (std::vector<std::int32_t>{StatusCode::kThreadStartFailed, StatusCode::kSuccess}));
    // It never began, so the watcher did not wait for it to come back.
    EXPECT_TRUE(run.StoppedEarly());
    EXPECT_EQ(observer.returned, (std::vector<bool>{false, true}));
}

TEST_F(UpgradeRunTest, FailedImportPassIsReportedAndTheRunStillCleansUp) {
    json description = Description({Camera("B0001")});
    description["sdk"] = {{"list", -7}};
    const std::vector<CU3VDevice*> cameras = Open(description);
    RecordingObserver observer(cameras, m_session->GetModels());
    RunReport report;
    CUpgradeRun run(*m_session);
    EXPECT_EQ(run.Run(cameras, report, observer), CUpgradeRun::EResult::kCompleted);
    EXPECT_EQ(observer.calls,
              (std::vector<std::string>{"starting", "finished", "returned", "released", "import failed"}));
    EXPECT_EQ(observer.importError, m_parameters->GetErrorText());
    EXPECT_FALSE(observer.importError.empty());
    EXPECT_FALSE(std::filesystem::exists(observer.configDuringRun));
}

TEST_F(UpgradeRunTest, UnwritableConfigurationStartsNothing) {
    const std::vector<CU3VDevice*> cameras = Open(Description({Camera("B0001")}));
    // A temporary folder that is not a directory is refused.
    ScopedEnvironment environment;
    if (m_sim->ProgramTempFolder().parent_path() == m_sim->RuntimeFolder()) {
        const std::filesystem::path blocked = m_sim->Root() / "blocked";
        std::filesystem::create_directories(blocked);
        std::ofstream(blocked / "U3TempFileDirectory") << "x";
        environment.Set("XDG_RUNTIME_DIR", blocked.string());
    } else {
        // The folder has a fixed place (the root of the program's drive on
        // Windows), which opening the cameras may have made: a file takes its
        // place there; the test bed removes it afterwards.
        std::filesystem::remove_all(m_sim->ProgramTempFolder());
        std::ofstream(m_sim->ProgramTempFolder()) << "x";
        ASSERT_TRUE(std::filesystem::is_regular_file(m_sim->ProgramTempFolder()));
    }
    RecordingObserver observer(cameras, m_session->GetModels());
    RunReport report;
    CUpgradeRun run(*m_session);
    EXPECT_EQ(run.Run(cameras, report, observer), CUpgradeRun::EResult::kConfigWriteFailed);
    EXPECT_TRUE(observer.calls.empty());
    EXPECT_FALSE(cameras[0]->IsUpgradeStarted());
    EXPECT_TRUE(m_devices->IsProducerLoaded());
}

// Both front ends build their session the same way, so the environment's
// allowance and timeout reach the dialog and the command-line tool alike; a
// value that is not a sensible number stops the start-up before anything is
// touched, naming the variable.
TEST(RunTimingTest, RebootAllowanceAndTimeoutComeFromTheEnvironmentOrTheStartUpIsRefused) {
    using std::chrono::milliseconds;
    const milliseconds allowance = RunTiming{}.rebootAllowance;
    const milliseconds timeout = RunTiming{}.rebootTimeout;
    const struct {
        const char* variable;
        std::optional<std::string> value;
        milliseconds allowance;
        milliseconds timeout;
        const char* refusal;  // null: accepted
    } cases[] = {
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", std::nullopt, allowance, timeout, nullptr},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "1.5", milliseconds(1500), timeout, nullptr},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "0", milliseconds(0), timeout, nullptr},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "600", milliseconds(600000), timeout, nullptr},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "", {}, {}, "\"\" is not a number of seconds"},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "601", {}, {}, "601 is out of range: it must be at least 0 and at most 600"},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "-1", {}, {}, "out of range"},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "2s", {}, {}, "\"2s\" is not a number of seconds"},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "nan", {}, {}, "\"nan\" is not a number of seconds"},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "inf", {}, {}, "is not a number"},
        {"FLASHWRIGHT_REBOOT_ALLOWANCE", "1e999", {}, {}, "is not a number"},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "3", allowance, milliseconds(3000), nullptr},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "86400", allowance, milliseconds(86400000), nullptr},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "0.001", allowance, milliseconds(1), nullptr},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "0", {}, {}, "0 is out of range: it must be more than 0"},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "86401", {}, {}, "out of range"},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "3 ", {}, {}, "is not a number"},
        {"FLASHWRIGHT_REBOOT_TIMEOUT", "0x10", {}, {}, "is not a number"},
    };
    for (const auto& c : cases) {
        // Windows has no empty variables: setting one removes it.
        if (c.value && c.value->empty() && platform::PathSeparator() == L'\\') continue;
        ScopedEnvironment environment;
        environment.Unset("FLASHWRIGHT_REBOOT_ALLOWANCE");
        environment.Unset("FLASHWRIGHT_REBOOT_TIMEOUT");
        if (c.value) environment.Set(c.variable, *c.value);
        SCOPED_TRACE(std::string(c.variable) + "=" + c.value.value_or("(unset)"));
        RunTiming timing;
        std::wstring error;
        const bool accepted = RunTimingFromEnvironment(timing, error);
        CDeviceManager devices;
        CAPIDeviceManager parameters;
        CCameraSession session(devices, parameters);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(accepted) << platform::WideToAnsi(error);
            EXPECT_EQ(timing.rebootAllowance, c.allowance);
            EXPECT_EQ(timing.rebootTimeout, c.timeout);
            EXPECT_EQ(session.GetRunTiming().rebootAllowance, c.allowance);
            EXPECT_EQ(session.GetRunTiming().rebootTimeout, c.timeout);
            continue;
        }
        EXPECT_FALSE(accepted);
        const std::string text = platform::WideToAnsi(error);
        EXPECT_EQ(text.rfind(std::string(c.variable) + ": ", 0), 0u) << text;
        EXPECT_NE(text.find(c.refusal), std::string::npos) << text;
        // The session refuses to start: no step of the front end, no SDK, no producer.
        bool frontEndStepRan = false;
        StartFailure failure;
        EXPECT_FALSE(session.Start(
            EStartScope::kUpgrade, [&] { frontEndStepRan = true; }, failure));
        EXPECT_EQ(failure.step, StartFailure::EStep::kEnvironment);
        EXPECT_EQ(failure.text, error);
        EXPECT_FALSE(frontEndStepRan);
        EXPECT_FALSE(devices.IsProducerLoaded());
    }
}

}  // namespace
}  // namespace apptest
