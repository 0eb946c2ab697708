#include "run/UpgradeRun.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "camera/DeviceManager.h"
#include "camera/Result.h"
#include "camera/U3VDevice.h"
#include "package/BurnPlans.h"
#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "run/CameraRows.h"
#include "run/History.h"
#include "sdk/APIDeviceManager.h"
#include "sdk/UnfinishedRun.h"
#include "support/Platform.h"
#include "support/Thread.h"

namespace {

// Workers start, and are waited for, one millisecond apart.
void PauseBetweenCameras() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

CUpgradeRun::CUpgradeRun(CCameraSession& session)
    : m_devices(session.Devices()),
      m_parameters(session.Parameters()),
      m_session(session),
      m_timing(session.GetRunTiming()) {}

CUpgradeRun::~CUpgradeRun() = default;

CUpgradeRun::EResult CUpgradeRun::Run(const std::vector<CU3VDevice*>& cameras, RunReport& report,
                                      IUpgradeRunObserver& observer) {
    m_timing = m_session.GetRunTiming();
    std::string releaseError;
    if (!package::LoadReleaseInfo(m_release, releaseError)) m_release = package::ReleaseInfo{};
    if (report.started.empty()) {
        report.started = HistoryTimestamp();
        report.startClock = std::chrono::steady_clock::now();
    }
    if (report.runId.empty()) report.runId = report.started + "-" + std::to_string(platform::CurrentProcessId());
    if (report.processId == 0) report.processId = platform::CurrentProcessId();
    report.state = ERunState::kRunning;

    if (!cameras.empty()) {
        std::wstring configPath;
        switch (package::WriteRunPackageConfig(configPath)) {
            case package::ERunConfigResult::kWritten: break;
            case package::ERunConfigResult::kResourceMissing: return EResult::kConfigMissing;
            case package::ERunConfigResult::kWriteFailed: return EResult::kConfigWriteFailed;
        }
    }
    m_cameras = cameras;
    __ReportCameras(report);
    if (cameras.empty()) {
        // Every camera was held back: nothing to write, but the run is recorded.
        __Complete(report, observer);
        return EResult::kCompleted;
    }
    __RecordRun(observer);
    // In the history from before the first write on: a run killed on the way
    // stays there as interrupted.
    __Record(report, observer);

    {
        const std::lock_guard<std::mutex> lock(m_watchMutex);
        m_workersStarted = std::chrono::steady_clock::now();
        m_watching = false;
        m_awaited.clear();
        m_backAfter.clear();
    }
    observer.OnWorkersStarting();
    {
        // One plan per model, shared by the model's workers; the last worker
        // to let go of a plan frees it.
        auto plans = std::make_shared<CBurnPlanSet>();
        __StartWorkers(plans);
        __WaitForWorkers();
        m_planBuildCount = plans->GetBuildCount();
    }
    {
        // The wait begins: the cameras that wrote flash are restarting.
        const std::lock_guard<std::mutex> lock(m_watchMutex);
        m_watching = true;
        m_watchDeadline = std::chrono::steady_clock::now() + m_timing.rebootTimeout;
        m_awaited.clear();
        for (CU3VDevice* camera : m_cameras)
            if (camera->IsUpgradeStarted() && camera->HasWrittenFlash()) m_awaited.push_back(camera->GetDeviceID());
    }
    observer.OnWorkersFinished();
    // Before the watcher opens any camera again.
    __TakeWorkerResults(report);
    report.writingSeconds = report.SecondsSinceStart();
    report.Decide();
    __Record(report, observer);

    __WatchReenumeration();
    __TakeReturnResults(report);
    report.restartingSeconds = report.SecondsSinceStart();
    report.Decide();
    observer.OnCamerasReturned();

    // The records go with the producer; nothing may reach them afterwards.
    m_cameras.clear();
    if (m_devices.IsProducerLoaded()) m_devices.ReleaseEnvironment();
    observer.OnProducerReleased();

    // Only now, with the producer gone and every camera that wrote flash back
    // (or given up on), may the SDK open the cameras.
    if (!ImportUserParams(m_parameters)) observer.OnImportFailed(m_parameters.GetErrorText());
    __CloseRecord(observer);
    __TakeParameterResults(report);
    report.restoringSeconds = report.SecondsSinceStart();

    CUserParamFile(L"Config").RemoveFile();
    __Complete(report, observer);
    return EResult::kCompleted;
}

void CUpgradeRun::__Complete(RunReport& report, IUpgradeRunObserver& observer) {
    report.Decide();
    report.state = ERunState::kCompleted;
    report.totalSeconds = report.SecondsSinceStart();
    report.ended = HistoryTimestamp();
    __Record(report, observer);
    observer.OnParametersRestored();
}

void CUpgradeRun::__Record(RunReport& report, IUpgradeRunObserver& observer) {
    std::wstring error;
    if (!AppendHistoryRecord(HistoryFilePath(), report, error)) observer.OnHistoryFailed(error);
}

void CUpgradeRun::__ReportCameras(RunReport& report) {
    m_reportIds.clear();
    m_serials.clear();
    for (CU3VDevice* camera : m_cameras) {
        const std::string deviceId = platform::WideToUtf8(platform::AnsiToWide(camera->GetDeviceID()));
        if (report.Find(deviceId) == nullptr) {
            // A front end that asked for these cameras alone.
            RunReport own = BeginRunReport(report.frontEnd, {camera}, {camera}, m_session.GetModels(), m_release,
                                           RunRequest{false, true, false});
            report.cameras.push_back(own.cameras.front());
        }
        CameraReport& entry = *report.Find(deviceId);
        entry.selected = true;
        entry.ran = true;
        entry.outcome = ECameraOutcome::kPending;
        m_reportIds.push_back(deviceId);
        m_serials.push_back(FieldText(camera->GetDeviceInfo().serialNumber));
    }
    NoteParameterBackups(report, m_session, m_cameras);
}

void CUpgradeRun::__TakeWorkerResults(RunReport& report) {
    for (std::size_t i = 0; i < m_cameras.size(); ++i) {
        CU3VDevice& camera = *m_cameras[i];
        CameraReport& entry = *report.Find(m_reportIds[i]);
        std::int32_t code = StatusCode::kNone;
        std::wstring text;
        camera.GetStatus(code, text);
        entry.statusCode = code;
        entry.status = platform::WideToUtf8(text);
        entry.ran = camera.IsUpgradeStarted() || code != StatusCode::kNone;
        entry.wroteFlash = camera.HasWrittenFlash();
        entry.seconds = camera.GetBurnTime().GetElapsedSeconds();
        if (code != StatusCode::kSuccess) {
            const std::wstring failure = camera.GetFailureText();
            entry.failureText = platform::WideToUtf8(failure.empty() ? camera.GetErrorText() : failure);
        }
    }
}

void CUpgradeRun::__TakeReturnResults(RunReport& report) {
    for (std::size_t i = 0; i < m_cameras.size(); ++i) {
        CU3VDevice& camera = *m_cameras[i];
        CameraReport& entry = *report.Find(m_reportIds[i]);
        if (!entry.wroteFlash) continue;  // it did not restart: there is nothing to come back from
        const bool back = HasReturned(camera, m_session.GetModels());
        entry.back = back;
        if (!back) continue;
        // The polls refreshed the identity of a camera found again.
        entry.versionAfter =
            CleanCameraText(camera.GetDeviceInfo().firmwareVersion, sizeof(camera.GetDeviceInfo().firmwareVersion));
        if (const auto after = GetBackAfter(camera.GetDeviceID()))
            entry.totalSeconds = std::chrono::duration<double>(*after).count();
        const std::string target = m_release.FirmwareVersionOf(entry.model);
        if (!target.empty()) entry.verified = entry.versionAfter == target;
    }
}

void CUpgradeRun::__TakeParameterResults(RunReport& report) {
    for (std::size_t i = 0; i < m_reportIds.size(); ++i) {
        CameraReport& entry = *report.Find(m_reportIds[i]);
        const CameraParameters* camera = m_parameters.FindBySerial(m_serials[i]);
        if (camera == nullptr) continue;
        entry.parameterCopy = platform::WideToUtf8(camera->persistentCopy);
        if (entry.parametersSaved != true) continue;
        // A camera whose import never ran (the pass failed as a whole) did not get them back.
        entry.parametersRestored = camera->imported && camera->imported->succeeded;
        if (!*entry.parametersRestored)
            entry.parametersText = camera->imported ? platform::WideToUtf8(camera->imported->Describe())
                                                    : std::string("the import pass did not reach the camera");
    }
}

void CUpgradeRun::__RecordRun(IUpgradeRunObserver& observer) {
    m_recordedSerials.clear();
    std::vector<UnfinishedRunEntry> entries;
    std::wstring error;
    if (!ReadUnfinishedRun(entries, error)) {
        observer.OnRecordFailed(error);
        return;  // an unreadable record is left for the user, never overwritten
    }
    for (CU3VDevice* camera : m_cameras) {
        const CameraParameters* saved = m_parameters.FindBySerial(FieldText(camera->GetDeviceInfo().serialNumber));
        if (saved == nullptr || !saved->exported || !saved->exported->succeeded) continue;
        // An older entry of the same camera holds the parameters from before
        // that earlier run: it stays, as the camera may carry factory values now.
        const UnfinishedRunEntry* known = nullptr;
        for (const UnfinishedRunEntry& entry : entries)
            if (entry.serial == saved->serial) known = &entry;
        if (known != nullptr) {
            // The copy to restore from, should this run fail too, is the older one.
            if (CameraParameters* record = m_parameters.FindByIdentity(saved->identity))
                record->persistentCopy = known->persistentCopy;
            continue;
        }
        entries.push_back(UnfinishedRunEntry{saved->serial, saved->identity, saved->persistentCopy});
        m_recordedSerials.push_back(saved->serial);
    }
    if (m_recordedSerials.empty()) return;
    if (!WriteUnfinishedRun(entries, error)) {
        m_recordedSerials.clear();
        observer.OnRecordFailed(error);
    }
}

void CUpgradeRun::__CloseRecord(IUpgradeRunObserver& observer) {
    if (m_recordedSerials.empty()) return;
    std::vector<UnfinishedRunEntry> entries;
    std::wstring error;
    if (!ReadUnfinishedRun(entries, error)) {
        observer.OnRecordFailed(error);
        return;
    }
    std::vector<UnfinishedRunEntry> kept;
    for (const UnfinishedRunEntry& entry : entries) {
        bool restored = false;
        for (const std::string& serial : m_recordedSerials) {
            if (serial != entry.serial) continue;
            const CameraParameters* camera = m_parameters.FindBySerial(serial);
            restored = camera != nullptr && camera->imported && camera->imported->succeeded;
        }
        if (!restored) kept.push_back(entry);
    }
    m_recordedSerials.clear();
    if (!WriteUnfinishedRun(kept, error)) observer.OnRecordFailed(error);
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
        const auto publish = [&] {
            const std::lock_guard<std::mutex> lock(m_watchMutex);
            m_awaited.clear();
            for (const Awaited& awaited : cameras) {
                if (awaited.back) {
                    if (!m_backAfter.count(awaited.deviceId))
                        m_backAfter[awaited.deviceId] =
                            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_workersStarted);
                } else if (awaited.wroteFlash) {
                    m_awaited.push_back(awaited.deviceId);
                }
            }
        };
        {
            const std::lock_guard<std::mutex> lock(m_watchMutex);
            m_watchDeadline = start + m_timing.rebootTimeout;
            m_watching = true;
        }
        publish();

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
            publish();
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
    {
        const std::lock_guard<std::mutex> lock(m_watchMutex);
        m_watching = false;
    }
    try {
        m_devices.ClearReDeviceList();
    } catch (...) {
    }
    m_watchDuration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

CUpgradeRun::WatchState CUpgradeRun::GetWatchState() const {
    const std::lock_guard<std::mutex> lock(m_watchMutex);
    WatchState state;
    state.watching = m_watching;
    if (m_watching)
        state.timeLeft = std::max(
            std::chrono::milliseconds(0),
            std::chrono::duration_cast<std::chrono::milliseconds>(m_watchDeadline - std::chrono::steady_clock::now()));
    state.awaited = m_awaited;
    for (const auto& [deviceId, after] : m_backAfter) state.back.push_back(deviceId);
    return state;
}

std::optional<std::chrono::milliseconds> CUpgradeRun::GetBackAfter(const std::string& deviceId) const {
    const std::lock_guard<std::mutex> lock(m_watchMutex);
    const auto it = m_backAfter.find(deviceId);
    if (it == m_backAfter.end()) return std::nullopt;
    return it->second;
}

bool CUpgradeRun::HasReturned(CU3VDevice& camera, const std::vector<std::wstring>& models) {
    return camera.IsUpgradeStarted() && CCameraRows::IsEligible(camera, models);
}
