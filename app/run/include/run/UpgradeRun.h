// One upgrade run, shared by the dialog and flashwright-cli: the configuration
// file, the workers, the wait, the re-enumeration watcher, the producer
// release, the parameter import pass and the clean-up. The run fills in its
// report (run/RunReport.h) and keeps the upgrade history; the front end does
// its own work (rows, timer, messages, output) in the observer's hooks and
// renders the report.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "run/CameraSession.h"
#include "run/RunReport.h"

class CAPIDeviceManager;
class CBurnPlanSet;
class CDeviceManager;
class CU3VDevice;
struct CameraParameters;

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
    // The import pass is over and the report is final: every outcome decided,
    // the history written.
    virtual void OnParametersRestored() {}
    // The unfinished-run record could not be written or updated.
    virtual void OnRecordFailed(const std::wstring& /*text*/) {}
    // The upgrade history could not be written; text says why. The run goes on.
    virtual void OnHistoryFailed(const std::wstring& /*text*/) {}
};

class CUpgradeRun {
public:
    // The run uses the session's device manager, parameter manager and timing.
    explicit CUpgradeRun(CCameraSession& session);
    ~CUpgradeRun();
    CUpgradeRun(const CUpgradeRun&) = delete;
    CUpgradeRun& operator=(const CUpgradeRun&) = delete;

    enum class EResult {
        kCompleted,
        kConfigMissing,      // the embedded configuration cannot be loaded: nothing started
        kConfigWriteFailed,  // Config.ini cannot be written: nothing started
    };

    // Upgrades the cameras (in the given order, the front end's row order)
    // and fills in their entries of the report (added when the front end did
    // not). Returns after the import pass with the report final; the camera
    // pointers are invalid by then. Without cameras nothing is touched: the
    // report (its held-back cameras) is only completed and recorded.
    EResult Run(const std::vector<CU3VDevice*>& cameras, RunReport& report, IUpgradeRunObserver& observer);

    // The rule by which a camera counts as back after the run: it took part,
    // was found again and opened, and its model is still supported.
    static bool HasReturned(CU3VDevice& camera, const std::vector<std::wstring>& models);

    // What the last run did: the watcher's polls, whether every camera that
    // wrote flash came back before the time-out, how long the watcher took,
    // and how many burn plans the workers had built.
    int GetPollCount() const { return m_pollCount.load(); }
    bool StoppedEarly() const { return m_stoppedEarly.load(); }
    std::chrono::milliseconds GetWatchDuration() const { return m_watchDuration; }
    int GetPlanBuildCount() const { return m_planBuildCount; }
    RunTiming GetTiming() const { return m_timing; }

    // The wait for the cameras to come back, as the front ends show it while
    // it goes on; readable from any thread.
    struct WatchState {
        bool watching = false;
        std::chrono::milliseconds timeLeft{0};  // of the bound on the wait
        std::vector<std::string> awaited;       // device ids: wrote flash, not back yet
        std::vector<std::string> back;          // device ids found again
    };
    WatchState GetWatchState() const;
    // How long after the first worker started the camera was found again;
    // empty when it was not (yet).
    std::optional<std::chrono::milliseconds> GetBackAfter(const std::string& deviceId) const;

private:
    // What the watcher knows about one camera whose worker began.
    struct Awaited {
        CU3VDevice* camera;
        std::string deviceId;
        bool wroteFlash;  // else it did not reboot and is only looked at once
        bool seenGone = false;
        bool back = false;
    };

    void __StartWorkers(const std::shared_ptr<CBurnPlanSet>& plans);
    // The report's entries for the run's cameras, and what the workers and
    // the wait left in the camera records, taken while the records exist.
    void __ReportCameras(RunReport& report);
    void __TakeWorkerResults(RunReport& report);
    void __TakeReturnResults(RunReport& report);
    void __TakeParameterResults(RunReport& report);
    void __Record(RunReport& report, IUpgradeRunObserver& observer);
    // Every outcome decided, the report completed and recorded, the front end told.
    void __Complete(RunReport& report, IUpgradeRunObserver& observer);
    void __WaitForWorkers();
    void __WatchReenumeration();
    static unsigned int __WatcherProc(void* run);
    void __Watch();
    // The unfinished-run record: the run's saved cameras are added before the
    // first write, and taken out again once their parameters are back.
    void __RecordRun(IUpgradeRunObserver& observer);
    void __CloseRecord(IUpgradeRunObserver& observer);

    CDeviceManager& m_devices;
    CAPIDeviceManager& m_parameters;
    const CCameraSession& m_session;
    RunTiming m_timing;
    std::vector<CU3VDevice*> m_cameras;
    // Per camera of the run: its report entry's device id and the serial
    // number the parameter records are matched by, kept past the records.
    std::vector<std::string> m_reportIds;
    std::vector<std::string> m_serials;
    package::ReleaseInfo m_release;
    std::vector<std::string> m_recordedSerials;  // the entries this run added
    std::atomic<bool> m_watcherRunning{false};
    std::atomic<int> m_pollCount{0};
    std::atomic<bool> m_stoppedEarly{false};
    std::chrono::milliseconds m_watchDuration{0};
    int m_planBuildCount = 0;

    // What GetWatchState and GetBackAfter read, written by the watcher.
    mutable std::mutex m_watchMutex;
    std::chrono::steady_clock::time_point m_workersStarted{};
    std::chrono::steady_clock::time_point m_watchDeadline{};
    bool m_watching = false;
    std::vector<std::string> m_awaited;
    std::map<std::string, std::chrono::milliseconds> m_backAfter;
};
