// One upgrade run, shared by the dialog and flashwright-cli: the configuration
// file, the workers, the wait, the re-enumeration watcher, the producer
// release, the parameter import pass and the clean-up. The front end does its
// own work (rows, timer, messages, output) in the observer's hooks.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

class CAPIDeviceManager;
class CDeviceManager;
class CU3VDevice;
struct CameraParameters;

// The cameras whose parameters were saved by the export pass but not restored by
// the import pass after it.
std::vector<const CameraParameters*> UnrestoredCameras(const CAPIDeviceManager& parameters);
// One line per camera: serial, what failed and the persistent copy to restore from.
std::wstring DescribeUnrestored(const std::vector<const CameraParameters*>& cameras);

class IUpgradeRunObserver {
public:
    virtual ~IUpgradeRunObserver() = default;
    // Config.ini is written and published; the workers start next.
    virtual void OnWorkersStarting() {}
    // Every worker has been waited for.
    virtual void OnWorkersFinished() {}
    // The watcher has ended: the camera records now hold what the polls found
    // again. The last moment the records may be read.
    virtual void OnCamerasReturned() {}
    // The producer is released and every camera record is gone.
    virtual void OnProducerReleased() {}
    // The import pass failed as a whole; text is the parameter manager's error text.
    virtual void OnImportFailed(const std::wstring& /*text*/) {}
    // The import pass is over: the parameter manager holds each camera's result.
    virtual void OnParametersRestored() {}
    // The unfinished-run record could not be written or updated.
    virtual void OnRecordFailed(const std::wstring& /*text*/) {}
};

// How long the watcher lets the cameras reboot before it polls, and how long
// it polls at most.
struct WatcherTiming {
    std::chrono::milliseconds sleep{10000};
    std::chrono::milliseconds pollingLimit{11000};
};

class CUpgradeRun {
public:
    static constexpr std::chrono::milliseconds kWatcherSleep = WatcherTiming{}.sleep;
    static constexpr std::chrono::milliseconds kPollingLimit = WatcherTiming{}.pollingLimit;

    CUpgradeRun(CDeviceManager& devices, CAPIDeviceManager& parameters);
    // Tests shorten the watcher; the program always uses the constants above.
    CUpgradeRun(CDeviceManager& devices, CAPIDeviceManager& parameters, WatcherTiming timing);
    ~CUpgradeRun();
    CUpgradeRun(const CUpgradeRun&) = delete;
    CUpgradeRun& operator=(const CUpgradeRun&) = delete;

    enum class EResult {
        kCompleted,
        kConfigMissing,      // the embedded configuration cannot be loaded: nothing started
        kConfigWriteFailed,  // Config.ini cannot be written: nothing started
    };

    // Upgrades the cameras (in the given order, the front end's row order).
    // Returns after the import pass; the camera pointers are invalid by then.
    EResult Run(const std::vector<CU3VDevice*>& cameras, IUpgradeRunObserver& observer);

    // The rule by which a camera counts as back after the run: it took part,
    // was found again and opened, and its model is still supported.
    static bool HasReturned(CU3VDevice& camera, const std::vector<std::wstring>& models);

    // What the last watcher did.
    int GetPollCount() const { return m_pollCount.load(); }
    bool StoppedEarly() const { return m_stoppedEarly.load(); }
    WatcherTiming GetTiming() const { return m_timing; }

private:
    void __StartWorkers();
    void __WaitForWorkers();
    void __WatchReenumeration();
    static unsigned int __WatcherProc(void* run);
    void __Watch();
    // The early-stop test: every camera whose worker began is found and opened.
    bool __UpgradedCamerasAreBack() const;
    // The unfinished-run record: the run's saved cameras are added before the
    // first write, and taken out again once their parameters are back.
    void __RecordRun(IUpgradeRunObserver& observer);
    void __CloseRecord(IUpgradeRunObserver& observer);

    CDeviceManager& m_devices;
    CAPIDeviceManager& m_parameters;
    const WatcherTiming m_timing;
    std::vector<CU3VDevice*> m_cameras;
    std::vector<std::string> m_recordedSerials;  // the entries this run added
    std::atomic<bool> m_watcherRunning{false};
    std::atomic<int> m_pollCount{0};
    std::atomic<bool> m_stoppedEarly{false};
};
