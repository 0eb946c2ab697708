#include "RunProgress.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "CliProcess.h"
#include "camera/U3VDevice.h"
#include "run/RunRefresh.h"
#include "support/Platform.h"

namespace {

// The live block is redrawn at most this often; the burn time advances every tick.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr auto kLapInterval = std::chrono::milliseconds(20);
// Wider lines wrap on a standard terminal and break the redraw.
constexpr std::size_t kLiveLineWidth = 79;

std::string Megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
    return text;
}

// The report names cameras by their device id in UTF-8.
std::string ReportId(const std::string& deviceId) { return platform::WideToUtf8(platform::AnsiToWide(deviceId)); }

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

bool ParseProgressStyle(const std::string& text, EProgressStyle& style) {
    static const struct {
        const char* name;
        EProgressStyle style;
    } kStyles[] = {{"auto", EProgressStyle::kAuto},
                   {"live", EProgressStyle::kLive},
                   {"lines", EProgressStyle::kLines},
                   {"jsonl", EProgressStyle::kJsonl},
                   {"none", EProgressStyle::kNone}};
    for (const auto& entry : kStyles) {
        if (text != entry.name) continue;
        style = entry.style;
        return true;
    }
    return false;
}

const char* CCliRunProgress::PhaseName(EPhase phase) {
    switch (phase) {
        case EPhase::kWaiting: return "waiting";
        case EPhase::kWriting: return "writing";
        case EPhase::kWritten: return "written";
        case EPhase::kRestarting: return "restarting";
        case EPhase::kBack: return "back";
        case EPhase::kNotBack: return "not-back";
        case EPhase::kRestoring: return "restoring";
        case EPhase::kDone: return "done";
    }
    return "";
}

CCliRunProgress* CCliRunProgress::s_active = nullptr;

CCliRunProgress::CCliRunProgress(std::vector<CU3VDevice*> cameras, std::vector<std::string> names, EProgressStyle style,
                                 const RunReport& report)
    : m_devices(std::move(cameras)), m_style(style), m_report(report) {
    if (m_style == EProgressStyle::kAuto)
        m_style = platform::IsStandardErrorTerminal() ? EProgressStyle::kLive : EProgressStyle::kLines;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        Camera camera;
        camera.name = i < names.size() ? EscapeControls(names[i]) : std::string();
        camera.deviceId = m_devices[i]->GetDeviceID();
        m_cameras.push_back(std::move(camera));
    }
}

CCliRunProgress::~CCliRunProgress() {
    if (s_active == this) {
        platform::SetMessagePumpHook(nullptr);
        s_active = nullptr;
    }
}

double CCliRunProgress::__Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void CCliRunProgress::OnWorkersStarting() {
    m_start = std::chrono::steady_clock::now();
    m_lastLap = m_start;
    if (m_style == EProgressStyle::kLines)
        std::cerr << "Upgrading " << m_cameras.size() << " camera" << (m_cameras.size() == 1 ? "" : "s") << "...\n";
    for (Camera& camera : m_cameras) __Enter(camera, EPhase::kWriting);
    s_active = this;
    // The waits for the workers and for the restarting cameras call the pump on this thread.
    platform::SetMessagePumpHook(&CCliRunProgress::Tick);
    __Draw(true);
}

void CCliRunProgress::OnWorkersFinished() {
    // Every worker has ended: the last laps and the last statuses.
    __Poll(true);
    m_watching = true;
    if (m_style == EProgressStyle::kLines) {
        int waiting = 0;
        for (const Camera& camera : m_cameras) waiting += camera.phase == EPhase::kRestarting ? 1 : 0;
        if (waiting > 0)
            std::cerr << "Waiting for " << waiting << " camera" << (waiting == 1 ? "" : "s") << " to restart...\n";
    }
    __Draw(true);
}

void CCliRunProgress::OnCamerasReturned() {
    __Poll(true);
    platform::SetMessagePumpHook(nullptr);
    s_active = nullptr;
    m_watching = false;
    for (Camera& camera : m_cameras) {
        const CameraReport* entry = m_report.Find(ReportId(camera.deviceId));
        if (entry != nullptr && entry->back == false) __Enter(camera, EPhase::kNotBack);
    }
    __Draw(true);
}

void CCliRunProgress::OnProducerReleased() {
    m_devices.clear();
    m_restoring = true;
    for (Camera& camera : m_cameras) __Enter(camera, EPhase::kRestoring);
    __Draw(true);
}

void CCliRunProgress::OnImportFailed(const std::wstring& text) {
    __Message("flashwright-cli: " + platform::WideToUtf8(text));
}

void CCliRunProgress::OnParametersRestored() {
    // The report is final: each done line tells the camera's outcome.
    for (Camera& camera : m_cameras) {
        if (const CameraReport* entry = m_report.Find(ReportId(camera.deviceId))) camera.status = entry->ResultText();
        __Enter(camera, EPhase::kDone);
    }
}

void CCliRunProgress::OnHistoryFailed(const std::wstring& text) {
    __Message("flashwright-cli: the run was not added to the upgrade history: " + platform::WideToUtf8(text));
}

void CCliRunProgress::Finish(const std::string& summary) {
    m_restoring = false;
    m_summary = summary;
    if (m_style == EProgressStyle::kLines) std::cerr << summary << '\n';
    __Draw(true);
}

void CCliRunProgress::OnRecordFailed(const std::wstring& text) {
    __Message("flashwright-cli: the unfinished-run record cannot be kept: " + platform::WideToUtf8(text));
}

void CCliRunProgress::Tick() {
    if (s_active != nullptr) s_active->__Poll(false);
}

void CCliRunProgress::__Poll(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastLap < kLapInterval) return;
    m_lastLap = now;
    for (std::size_t i = 0; i < m_devices.size() && i < m_cameras.size(); ++i) {
        CU3VDevice& device = *m_devices[i];
        Camera& camera = m_cameras[i];
        if (camera.phase != EPhase::kWriting) continue;
        // The burn time counts the laps measured here, as the window's timer does.
        const CameraRefresh refresh = RefreshCamera(device);
        camera.status = platform::WideToUtf8(refresh.statusText);
        const bool moved = refresh.progress.percent != camera.percent;
        camera.percent = refresh.progress.percent;
        camera.bytes = refresh.progress.bytes;
        camera.total = refresh.progress.total;
        if (!refresh.finished) {
            if (moved && refresh.running && m_style == EProgressStyle::kJsonl) __EmitJson(camera);
            continue;
        }
        camera.writingSeconds = __Elapsed();
        camera.failed = refresh.failed;
        if (moved && m_style == EProgressStyle::kJsonl) __EmitJson(camera);
        __Enter(camera, EPhase::kWritten);
        // A camera whose flash was written restarts when it leaves upgrade mode.
        if (device.HasWrittenFlash()) __Enter(camera, EPhase::kRestarting);
    }
    if (m_watching && m_run != nullptr) {
        const CUpgradeRun::WatchState watch = m_run->GetWatchState();
        for (Camera& camera : m_cameras)
            if (camera.phase == EPhase::kRestarting && Contains(watch.back, camera.deviceId))
                __Enter(camera, EPhase::kBack);
    }
    __Draw(force);
}

void CCliRunProgress::__Enter(Camera& camera, EPhase phase) {
    if (camera.phase == phase) return;
    camera.phase = phase;
    switch (m_style) {
        case EProgressStyle::kJsonl:
            if (phase != EPhase::kWritten) __EmitJson(camera);
            break;
        case EProgressStyle::kLines: {
            std::string line = camera.name + ": ";
            switch (phase) {
                case EPhase::kWritten: line += (camera.failed ? "failed: " : "written: ") + camera.status; break;
                case EPhase::kRestoring: line += "restoring user parameters"; break;
                case EPhase::kNotBack: line += "not back"; break;
                case EPhase::kDone: line += "done: " + camera.status; break;
                default: line += PhaseName(phase); break;
            }
            std::cerr << line << '\n';
            break;
        }
        default: break;
    }
}

void CCliRunProgress::__EmitJson(const Camera& camera) const {
    nlohmann::json event = {{"serial", camera.name},     {"phase", PhaseName(camera.phase)},
                            {"percent", camera.percent}, {"bytes", camera.bytes},
                            {"total", camera.total},     {"elapsed", std::round(__Elapsed() * 1000.0) / 1000.0}};
    if (camera.phase == EPhase::kDone) {
        const CameraReport* entry = m_report.Find(ReportId(camera.deviceId));
        event["status"] = camera.status;
        event["outcome"] = entry != nullptr ? OutcomeName(entry->outcome) : "";
        event["back"] = entry != nullptr && entry->back ? nlohmann::json(*entry->back) : nlohmann::json();
    }
    // One whole line per write, so a reader never sees half an event.
    const std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

std::string CCliRunProgress::__CameraLine(const Camera& camera) const {
    char text[160];
    switch (camera.phase) {
        case EPhase::kWaiting:
        case EPhase::kWriting: {
            const double seconds = __Elapsed();
            // No rate before the first region is written: the producer writes a region in one call.
            char rate[32] = "- MB/s";
            if (camera.bytes > 0 && seconds > 0)
                std::snprintf(rate, sizeof rate, "%.1f MB/s", static_cast<double>(camera.bytes) / 1e6 / seconds);
            std::snprintf(text, sizeof text, "%-16.16s writing    %3d%%  %s/%s MB  %s", camera.name.c_str(),
                          camera.percent, Megabytes(camera.bytes).c_str(), Megabytes(camera.total).c_str(), rate);
            break;
        }
        default: {
            const char* phase = camera.phase == EPhase::kNotBack ? "NOT BACK" : PhaseName(camera.phase);
            std::snprintf(text, sizeof text, "%-16.16s %-10s %3d%%  %s", camera.name.c_str(), phase, camera.percent,
                          camera.status.c_str());
            break;
        }
    }
    std::string line = text;
    if (line.size() > kLiveLineWidth) line.resize(kLiveLineWidth);
    return line;
}

std::string CCliRunProgress::__RunLine() const {
    int writing = 0, restarting = 0;
    for (const Camera& camera : m_cameras) {
        writing += camera.phase == EPhase::kWriting ? 1 : 0;
        restarting += camera.phase == EPhase::kRestarting ? 1 : 0;
    }
    char text[160];
    if (!m_summary.empty()) return m_summary;
    if (m_restoring) return "Restoring user parameters...";
    if (m_watching && restarting > 0 && m_run != nullptr) {
        const auto left = m_run->GetWatchState().timeLeft;
        std::snprintf(text, sizeof text, "Waiting for %d camera%s to restart: %lld s left", restarting,
                      restarting == 1 ? "" : "s", static_cast<long long>((left.count() + 999) / 1000));
        return text;
    }
    if (writing > 0 || !m_watching) {
        const int total = static_cast<int>(m_cameras.size());
        std::snprintf(text, sizeof text, "Writing: %d of %d camera%s done", total - writing, total,
                      total == 1 ? "" : "s");
        return text;
    }
    return "";
}

void CCliRunProgress::__Draw(bool force) {
    if (m_style != EProgressStyle::kLive) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < kRedrawInterval) return;
    m_lastDraw = now;
    std::string block;
    // Back to the first line of the block drawn last, then every line anew.
    if (m_drawnLines > 0) block += "\x1b[" + std::to_string(m_drawnLines) + "A";
    int lines = 0;
    for (const Camera& camera : m_cameras) {
        block += "\r\x1b[2K" + __CameraLine(camera) + "\n";
        ++lines;
    }
    const std::string runLine = __RunLine();
    block += "\r\x1b[2K" + runLine + "\n";
    ++lines;
    std::cerr.write(block.data(), static_cast<std::streamsize>(block.size()));
    std::cerr.flush();
    m_drawnLines = lines;
}

void CCliRunProgress::__Message(const std::string& text) {
    std::cerr << text << '\n';
    m_drawnLines = 0;
}
