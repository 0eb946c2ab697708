#include "run/UpgradeRun.h"

#include <chrono>
#include <thread>

#include "camera/BurnTime.h"
#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "run/CameraSession.h"
#include "sdk/APIDeviceManager.h"
#include "support/Thread.h"

namespace {

// Workers start, and are waited for, one millisecond apart.
void PauseBetweenCameras() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

}  // namespace

CUpgradeRun::CUpgradeRun(CDeviceManager& devices, CAPIDeviceManager& parameters)
    : CUpgradeRun(devices, parameters, WatcherTiming{}) {}

CUpgradeRun::CUpgradeRun(CDeviceManager& devices, CAPIDeviceManager& parameters, WatcherTiming timing)
    : m_devices(devices), m_parameters(parameters), m_timing(timing) {}

CUpgradeRun::~CUpgradeRun() = default;

CUpgradeRun::EResult CUpgradeRun::Run(const std::vector<CU3VDevice*>& cameras, IUpgradeRunObserver& observer) {
    std::wstring configPath;
    switch (package::WriteRunPackageConfig(configPath)) {
        case package::ERunConfigResult::kWritten: break;
        case package::ERunConfigResult::kResourceMissing: return EResult::kConfigMissing;
        case package::ERunConfigResult::kWriteFailed: return EResult::kConfigWriteFailed;
    }
    m_cameras = cameras;

    observer.OnWorkersStarting();
    __StartWorkers();
    __WaitForWorkers();
    observer.OnWorkersFinished();

    __WatchReenumeration();
    observer.OnCamerasReturned();

    // The records go with the producer; nothing may reach them afterwards.
    m_cameras.clear();
    if (m_devices.IsProducerLoaded()) m_devices.ReleaseEnvironment();
    observer.OnProducerReleased();

    // Only now, with the producer gone, may the SDK open the cameras.
    if (!ImportUserParams(m_parameters)) observer.OnImportFailed(m_parameters.GetErrorText());

    CUserParamFile(L"Config").RemoveFile();
    return EResult::kCompleted;
}

void CUpgradeRun::__StartWorkers() {
    for (CU3VDevice* camera : m_cameras) {
        PauseBetweenCameras();
        camera->StartUpgrade();
    }
}

void CUpgradeRun::__WaitForWorkers() {
    for (CU3VDevice* camera : m_cameras) {
        PauseBetweenCameras();
        const GenICam::Client::CThreadPtr thread = camera->GetThread();
        if (thread && thread->IsRunning()) thread->Join();
    }
}

void CUpgradeRun::__WatchReenumeration() {
    m_pollCount = 0;
    m_stoppedEarly = false;
    m_watcherRunning = true;
    GenICam::Client::CThreadPtr watcher = GenICam::Client::MakeThread();
    if (!watcher->IsRunning()) watcher->Start(&CUpgradeRun::__WatcherProc, this);
    if (watcher->IsRunning()) watcher->Join();
    watcher.reset();
    m_watcherRunning = false;
}

unsigned int CUpgradeRun::__WatcherProc(void* run) {
    static_cast<CUpgradeRun*>(run)->__Watch();
    return 0;
}

bool CUpgradeRun::__UpgradedCamerasAreBack() const {
    for (CU3VDevice* camera : m_cameras)
        if (camera->IsUpgradeStarted() && !camera->IsOpened()) return false;
    return true;
}

void CUpgradeRun::__Watch() {
    try {
        std::this_thread::sleep_for(m_timing.sleep);
        const double limitSeconds = std::chrono::duration<double>(m_timing.pollingLimit).count();
        double accumulatedSeconds = 0.0;
        std::int64_t intervalStart = CBurnTime::ReadCounter();
        while (m_watcherRunning.load()) {
            m_devices.CheckReenumeration();
            ++m_pollCount;
            if (__UpgradedCamerasAreBack()) {
                m_stoppedEarly = true;
                m_watcherRunning = false;
                continue;
            }
            const std::int64_t now = CBurnTime::ReadCounter();
            accumulatedSeconds +=
                static_cast<double>(now - intervalStart) / static_cast<double>(CBurnTime::CounterFrequency());
            intervalStart = now;
            if (accumulatedSeconds >= limitSeconds) m_watcherRunning = false;
        }
    } catch (...) {
    }
    try {
        m_devices.ClearReDeviceList();
    } catch (...) {
    }
}

bool CUpgradeRun::HasReturned(CU3VDevice& camera, const std::vector<std::wstring>& models) {
    return camera.IsUpgradeStarted() && CCameraSession::IsEligible(camera, models);
}
