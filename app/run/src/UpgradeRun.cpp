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
#include "sdk/UnfinishedRun.h"
#include "support/Platform.h"
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
    __RecordRun(observer);

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
    __CloseRecord(observer);
    observer.OnParametersRestored();

    CUserParamFile(L"Config").RemoveFile();
    return EResult::kCompleted;
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

std::vector<const CameraParameters*> UnrestoredCameras(const CAPIDeviceManager& parameters) {
    std::vector<const CameraParameters*> cameras;
    for (const CameraParameters& camera : parameters.GetCameraParameters()) {
        if (camera.exported && camera.exported->succeeded && !(camera.imported && camera.imported->succeeded))
            cameras.push_back(&camera);
    }
    return cameras;
}

std::wstring DescribeUnrestored(const std::vector<const CameraParameters*>& cameras) {
    std::wstring text;
    for (const CameraParameters* camera : cameras) {
        if (!text.empty()) text += L"\n";
        text += platform::AnsiToWide(camera->serial.empty() ? camera->identity : camera->serial) + L": ";
        text += camera->imported ? camera->imported->Describe() : std::wstring(L"not attempted");
        text += camera->persistentCopy.empty() ? std::wstring(L"; no persistent copy could be kept")
                                               : L"; restore from " + camera->persistentCopy;
    }
    return text;
}
