#include "run/UpgradeRun.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/BurnPlans.h"
#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "sdk/APIDeviceManager.h"
#include "support/Thread.h"

namespace {

// Workers start, and are waited for, one millisecond apart.
void PauseBetweenCameras() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

CUpgradeRun::CUpgradeRun(CCameraSession& session)
    : m_devices(session.Devices()), m_parameters(session.Parameters()), m_session(session),
      m_timing(session.GetRunTiming()) {}

CUpgradeRun::~CUpgradeRun() = default;

CUpgradeRun::EResult CUpgradeRun::Run(const std::vector<CU3VDevice*>& cameras, IUpgradeRunObserver& observer) {
    m_timing = m_session.GetRunTiming();
    std::wstring configPath;
    switch (package::WriteRunPackageConfig(configPath)) {
        case package::ERunConfigResult::kWritten: break;
        case package::ERunConfigResult::kResourceMissing: return EResult::kConfigMissing;
        case package::ERunConfigResult::kWriteFailed: return EResult::kConfigWriteFailed;
    }
    m_cameras = cameras;

    observer.OnWorkersStarting();
    {
        // One plan per model, shared by the model's workers; the last worker
        // to let go of a plan frees it.
        auto plans = std::make_shared<CBurnPlanSet>();
        __StartWorkers(plans);
        __WaitForWorkers();
        m_planBuildCount = plans->GetBuildCount();
    }
    observer.OnWorkersFinished();

    __WatchReenumeration();
    observer.OnCamerasReturned();

    // The records go with the producer; nothing may reach them afterwards.
    m_cameras.clear();
    if (m_devices.IsProducerLoaded()) m_devices.ReleaseEnvironment();
    observer.OnProducerReleased();

    // Only now, with the producer gone and every camera that wrote flash back
    // (or given up on), may the SDK open the cameras.
    if (!ImportUserParams(m_parameters)) observer.OnImportFailed(m_parameters.GetErrorText());

    CUserParamFile(L"Config").RemoveFile();
    return EResult::kCompleted;
}

void CUpgradeRun::__StartWorkers(const std::shared_ptr<CBurnPlanSet>& plans) {
    for (CU3VDevice* camera : m_cameras) {
        PauseBetweenCameras();
        camera->StartUpgrade(plans);
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

// Polls from the moment the workers ended until every camera that wrote flash
// has been seen gone from the enumeration and found again, opened; at the
// time-out at the latest. Only the cameras waited for are opened, each at most
// once a poll; a camera whose worker began but wrote nothing did not reboot
// and is looked at (opened) once, in the first poll that lists the bus.
void CUpgradeRun::__Watch() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    try {
        std::vector<Awaited> cameras;
        for (CU3VDevice* camera : m_cameras)
            if (camera->IsUpgradeStarted())
                cameras.push_back({camera, camera->GetDeviceID(), camera->HasWrittenFlash()});
        const auto allowance = std::min(m_timing.rebootAllowance, m_timing.rebootTimeout);

        std::vector<std::string> toOpen, present, opened;
        bool lookedAtTheOthers = false;  // the cameras that wrote nothing
        while (m_watcherRunning.load()) {
            const Clock::time_point pollStart = Clock::now();
            const bool allowanceOver = pollStart - start >= allowance;
            toOpen.clear();
            for (const Awaited& awaited : cameras) {
                if (awaited.back) continue;
                if (awaited.wroteFlash ? awaited.seenGone || allowanceOver : !lookedAtTheOthers)
                    toOpen.push_back(awaited.deviceId);
            }
            // A failed enumeration lists only part of the bus: it shows who is
            // back, never who is gone.
            const bool listed = m_devices.PollReenumeration(toOpen, present, opened);
            ++m_pollCount;
            if (listed) lookedAtTheOthers = true;

            bool everyRebootOver = true;
            for (Awaited& awaited : cameras) {
                if (awaited.back) continue;
                if (Contains(opened, awaited.deviceId)) {
                    awaited.back = true;
                } else if (listed && !Contains(present, awaited.deviceId)) {
                    awaited.seenGone = true;
                }
                // A camera that did not write flash is not waited for.
                if (awaited.wroteFlash && !awaited.back) everyRebootOver = false;
            }
            if (everyRebootOver) {
                m_stoppedEarly = true;
                m_watcherRunning = false;
                continue;
            }
            const Clock::time_point deadline = start + m_timing.rebootTimeout;
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                m_watcherRunning = false;
                continue;
            }
            // The last poll comes at the time-out itself.
            std::this_thread::sleep_until(std::min(pollStart + m_timing.pollInterval, deadline));
        }
    } catch (...) {
    }
    try {
        m_devices.ClearReDeviceList();
    } catch (...) {
    }
    m_watchDuration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

bool CUpgradeRun::HasReturned(CU3VDevice& camera, const std::vector<std::wstring>& models) {
    return camera.IsUpgradeStarted() && CCameraSession::IsEligible(camera, models);
}
