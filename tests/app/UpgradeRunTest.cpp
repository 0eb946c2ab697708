#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SimulatedCameras.h"
#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/TempFiles.h"
#include "run/CameraSession.h"
#include "run/UpgradeRun.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

// The run without a window, as flashwright-cli drives it.
namespace apptest {
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
    void SetUp() override {
        m_runtime = std::filesystem::temp_directory_path() / ("flashwright-run-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_runtime);
        m_environment.Set("XDG_RUNTIME_DIR", m_runtime.string());
        m_environment.Set("XDG_STATE_HOME", (m_runtime / "state").string());
    }
    void TearDown() override {
        m_session.reset();
        if (m_devices != nullptr) CDeviceManager::ReleaseInstance();
        m_parameters.reset();
        m_sim.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_runtime, ignored);
    }

    // Producer, models and cameras, without the export pass the dialog runs first.
    std::vector<CU3VDevice*> Open(const json& description) {
        m_sim = std::make_unique<SimulatedCameras>(description);
        m_devices = CDeviceManager::GetInstance();
        m_parameters = std::make_unique<CAPIDeviceManager>();
        m_session = std::make_unique<CCameraSession>(*m_devices, *m_parameters);
        std::wstring error;
        EXPECT_TRUE(m_session->LoadProducer(error)) << platform::WideToAnsi(error);
        EXPECT_TRUE(m_session->LoadModelList(error)) << platform::WideToAnsi(error);
        m_session->Enumerate();
        return m_session->GetCameras();
    }

    static WatcherTiming Timing(int sleepMs, int limitMs) {
        return WatcherTiming{std::chrono::milliseconds(sleepMs), std::chrono::milliseconds(limitMs)};
    }

    std::filesystem::path m_runtime;
    ScopedEnvironment m_environment;
    std::unique_ptr<SimulatedCameras> m_sim;
    CDeviceManager* m_devices = nullptr;
    std::unique_ptr<CAPIDeviceManager> m_parameters;
    std::unique_ptr<CCameraSession> m_session;
};

TEST_F(UpgradeRunTest, TheProgramsWatcherWaitsTenSecondsAndPollsElevenAtMost) {
    EXPECT_EQ(CUpgradeRun::kWatcherSleep, std::chrono::milliseconds(10000));
    EXPECT_EQ(CUpgradeRun::kPollingLimit, std::chrono::milliseconds(11000));
    CDeviceManager devices;
    CAPIDeviceManager parameters;
    const CUpgradeRun run(devices, parameters);
    EXPECT_EQ(run.GetTiming().sleep, CUpgradeRun::kWatcherSleep);
    EXPECT_EQ(run.GetTiming().pollingLimit, CUpgradeRun::kPollingLimit);
}

TEST_F(UpgradeRunTest, StepsInOrderWithTheConfigurationOnlyDuringTheRunAndAnEarlyStop) {
    const std::vector<CU3VDevice*> cameras = Open(Description({Camera("B0001"), Camera("B0002", "ORV-2M")}));
    ASSERT_EQ(cameras.size(), 2u);
    RecordingObserver observer(cameras, m_session->GetModels());
    CUpgradeRun run(*m_devices, *m_parameters, Timing(50, 5000));
    EXPECT_EQ(run.Run(cameras, observer), CUpgradeRun::EResult::kCompleted);

    EXPECT_EQ(observer.calls, (std::vector<std::string>{"starting", "finished", "returned", "released"}));
    EXPECT_TRUE(observer.configExisted);
    EXPECT_FALSE(std::filesystem::exists(observer.configDuringRun));
    EXPECT_EQ(observer.statuses, (std::vector<std::int32_t>{StatusCode::kSuccess, StatusCode::kSuccess}));
    EXPECT_EQ(observer.running, (std::vector<bool>{false, false}));
    EXPECT_EQ(observer.returned, (std::vector<bool>{true, true}));
    // Back after a reboot of 0.2 s: far fewer polls than 5 s of polling would take.
    EXPECT_TRUE(run.StoppedEarly());
    EXPECT_GE(run.GetPollCount(), 1);
    EXPECT_FALSE(m_devices->IsProducerLoaded());
}

TEST_F(UpgradeRunTest, WatcherGivesUpAtItsLimitWhenACameraNeverReturns) {
    json lost = Camera("B0002");
    lost["faults"] = {{"returns", false}};
    const std::vector<CU3VDevice*> cameras = Open(Description({Camera("B0001"), lost}));
    RecordingObserver observer(cameras, m_session->GetModels());
    CUpgradeRun run(*m_devices, *m_parameters, Timing(50, 1500));
    const auto start = std::chrono::steady_clock::now();
    run.Run(cameras, observer);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1550));
    EXPECT_FALSE(run.StoppedEarly());
    EXPECT_EQ(observer.returned, (std::vector<bool>{true, false}));
}

TEST_F(UpgradeRunTest, CameraWhoseWorkerCannotStartIsNotWaitedForAndTheOthersGoOn) {
    const std::vector<CU3VDevice*> cameras = Open(Description({Camera("B0001"), Camera("B0002")}));
    RecordingObserver observer(cameras, m_session->GetModels());
    CUpgradeRun run(*m_devices, *m_parameters, Timing(50, 5000));
    platform::testing::FailNextThreadCreation();
    run.Run(cameras, observer);
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
    CUpgradeRun run(*m_devices, *m_parameters, Timing(50, 5000));
    EXPECT_EQ(run.Run(cameras, observer), CUpgradeRun::EResult::kCompleted);
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"starting", "finished", "returned", "released", "import failed"}));
    EXPECT_EQ(observer.importError, m_parameters->GetErrorText());
    EXPECT_FALSE(observer.importError.empty());
    EXPECT_FALSE(std::filesystem::exists(observer.configDuringRun));
}

TEST_F(UpgradeRunTest, UnwritableConfigurationStartsNothing) {
    const std::vector<CU3VDevice*> cameras = Open(Description({Camera("B0001")}));
    // A temporary folder that is not a directory is refused.
    const std::filesystem::path blocked = m_runtime / "blocked";
    std::filesystem::create_directories(blocked);
    std::ofstream(blocked / "U3TempFileDirectory") << "x";
    m_environment.Set("XDG_RUNTIME_DIR", blocked.string());
    RecordingObserver observer(cameras, m_session->GetModels());
    CUpgradeRun run(*m_devices, *m_parameters, Timing(50, 5000));
    EXPECT_EQ(run.Run(cameras, observer), CUpgradeRun::EResult::kConfigWriteFailed);
    EXPECT_TRUE(observer.calls.empty());
    EXPECT_FALSE(cameras[0]->IsUpgradeStarted());
    EXPECT_TRUE(m_devices->IsProducerLoaded());
}

}  // namespace
}  // namespace apptest
