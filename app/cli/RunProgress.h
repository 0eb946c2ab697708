// What flashwright-cli upgrade shows while a run goes on: on a terminal one
// line per camera redrawn in place, through a pipe a plain line per phase
// change, or one JSON object per event for scripts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "run/RunReport.h"
#include "run/UpgradeRun.h"

class CU3VDevice;

enum class EProgressStyle {
    kAuto,   // live on a terminal, lines otherwise
    kLive,   // lines per camera redrawn in place
    kLines,  // a line per phase change
    kJsonl,  // a JSON object per event
    kNone,
};

// "auto", "live", "lines", "jsonl", "none"; false for any other text.
bool ParseProgressStyle(const std::string& text, EProgressStyle& style);

class CCliRunProgress : public IUpgradeRunObserver {
public:
    // names: how each camera is shown (its serial, or its device id); report:
    // the run's report, whose outcomes the done lines tell.
    CCliRunProgress(std::vector<CU3VDevice*> cameras, std::vector<std::string> names, EProgressStyle style,
                    const RunReport& report);
    ~CCliRunProgress() override;
    CCliRunProgress(const CCliRunProgress&) = delete;
    CCliRunProgress& operator=(const CCliRunProgress&) = delete;

    // The run whose wait for the restarting cameras is shown.
    void SetRun(const CUpgradeRun* run) { m_run = run; }

    void OnWorkersStarting() override;
    void OnWorkersFinished() override;
    void OnCamerasReturned() override;
    void OnProducerReleased() override;
    void OnImportFailed(const std::wstring& text) override;
    void OnParametersRestored() override;
    void OnRecordFailed(const std::wstring& text) override;
    void OnHistoryFailed(const std::wstring& text) override;

    // After the run: the live block's last line, or a line of its own, says what it came to.
    void Finish(const std::string& summary);

    // The phases a camera goes through, in this order (some are skipped).
    enum class EPhase { kWaiting, kWriting, kWritten, kRestarting, kBack, kNotBack, kRestoring, kDone };
    static const char* PhaseName(EPhase phase);

private:
    struct Camera {
        std::string name;
        std::string deviceId;
        EPhase phase = EPhase::kWaiting;
        int percent = 0;
        std::uint64_t bytes = 0;
        std::uint64_t total = 0;
        double writingSeconds = 0;  // from the start of the run to the worker's end
        std::string status;         // the worker's status text, then the report's result
        bool failed = false;
    };

    static void Tick();
    // Reads the cameras (and the run's wait) and reports what changed.
    void __Poll(bool force);
    void __Enter(Camera& camera, EPhase phase);
    void __EmitJson(const Camera& camera) const;
    void __Draw(bool force);
    std::string __CameraLine(const Camera& camera) const;
    std::string __RunLine() const;
    // A message of its own on standard error; the live block starts afresh below it.
    void __Message(const std::string& text);
    double __Elapsed() const;

    static CCliRunProgress* s_active;
    std::vector<CU3VDevice*> m_devices;  // valid until the producer is released
    std::vector<Camera> m_cameras;
    EProgressStyle m_style;
    const CUpgradeRun* m_run = nullptr;
    const RunReport& m_report;
    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_lastLap{};
    std::chrono::steady_clock::time_point m_lastDraw{};
    int m_drawnLines = 0;
    bool m_watching = false;
    bool m_restoring = false;
    std::string m_summary;
};
