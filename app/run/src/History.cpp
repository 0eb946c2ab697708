#include "run/History.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <cmath>
#include <ctime>
#include <sstream>

#include "camera/U3VDevice.h"
#include "package/Release.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

using nlohmann::json;

namespace {

// Camera text as valid UTF-8: bytes that are not become U+FFFD.
std::string CleanField(const char* field, std::size_t width) {
    return platform::WideToAnsi(platform::AnsiToWide(FieldText(field, width)));
}
template <std::size_t N>
std::string CleanField(const char (&field)[N]) {
    return CleanField(field, N);
}

json Optional(const std::optional<bool>& value) { return value ? json(*value) : json(nullptr); }

std::optional<bool> OptionalBool(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

}  // namespace

std::wstring HistoryFilePath() {
    const std::wstring folder = PersistentStateFolder();
    return folder.empty() ? folder : folder + platform::PathSeparator() + L"history.jsonl";
}

std::string HistoryTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm utc = platform::UtcTime(seconds);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

std::string HistoryRecordToJson(const HistoryRecord& record) {
    json cameras = json::array();
    for (const HistoryCamera& camera : record.cameras) {
        cameras.push_back({{"serial", camera.serial},
                           {"model", camera.model},
                           {"device_id", camera.deviceId},
                           {"version_before", camera.versionBefore},
                           {"version_after", camera.versionAfter},
                           {"status_code", camera.statusCode},
                           {"status", camera.status},
                           {"burn_seconds", std::round(camera.burnSeconds * 1000.0) / 1000.0},
                           {"back", camera.back},
                           {"verified", Optional(camera.verified)},
                           {"parameters_saved", Optional(camera.parametersSaved)},
                           {"parameters_restored", Optional(camera.parametersRestored)},
                           {"parameter_copy", camera.parameterCopy},
                           {"failure_text", camera.failureText}});
    }
    const json line = {
        {"started", record.started}, {"ended", record.ended}, {"front_end", record.frontEnd}, {"cameras", cameras}};
    // Invalid UTF-8 cannot reach here (camera text is cleaned), but a record
    // must never fail to be written over one odd byte.
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool HistoryRecordFromJson(const std::string& line, HistoryRecord& record) {
    const json object = json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return false;
    try {
        HistoryRecord parsed;
        parsed.started = object.at("started").get<std::string>();
        parsed.ended = object.at("ended").get<std::string>();
        parsed.frontEnd = object.at("front_end").get<std::string>();
        for (const json& entry : object.at("cameras")) {
            HistoryCamera camera;
            camera.serial = entry.at("serial").get<std::string>();
            camera.model = entry.value("model", "");
            camera.deviceId = entry.value("device_id", "");
            camera.versionBefore = entry.value("version_before", "");
            camera.versionAfter = entry.value("version_after", "");
            camera.statusCode = entry.value("status_code", -1);
            camera.status = entry.value("status", "");
            camera.burnSeconds = entry.value("burn_seconds", 0.0);
            camera.back = entry.value("back", false);
            camera.verified = OptionalBool(entry, "verified");
            camera.parametersSaved = OptionalBool(entry, "parameters_saved");
            camera.parametersRestored = OptionalBool(entry, "parameters_restored");
            camera.parameterCopy = entry.value("parameter_copy", "");
            camera.failureText = entry.value("failure_text", "");
            parsed.cameras.push_back(std::move(camera));
        }
        record = std::move(parsed);
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

bool AppendHistoryRecord(const std::wstring& path, const HistoryRecord& record, std::wstring& error) {
    if (path.empty()) {
        error = L"no folder for the upgrade history: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    const std::size_t slash = path.find_last_of(platform::PathSeparator());
    if (slash != std::wstring::npos && slash > 0 && !platform::CreatePrivateDirectories(path.substr(0, slash), error))
        return false;
    return platform::AppendLocked(path, HistoryRecordToJson(record) + "\n", error);
}

bool ReadHistory(const std::wstring& path, const HistoryQuery& query, std::vector<HistoryRecord>& records,
                 std::size_t& skippedLines, std::wstring& error) {
    records.clear();
    skippedLines = 0;
    std::string content;
    if (!platform::ReadLocked(path, content, error)) return false;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        HistoryRecord record;
        if (!HistoryRecordFromJson(line, record)) {
            ++skippedLines;
            continue;
        }
        // Timestamps of one format compare as text.
        if (!query.since.empty() && record.started < query.since) continue;
        if (!query.serial.empty()) {
            std::vector<HistoryCamera> matching;
            for (HistoryCamera& camera : record.cameras)
                if (camera.serial == query.serial || camera.deviceId == query.serial)
                    matching.push_back(std::move(camera));
            if (matching.empty()) continue;
            record.cameras = std::move(matching);
        }
        records.push_back(std::move(record));
    }
    // Appends come in the order runs end; the newest start comes first, and
    // of two equal starts the one written later.
    std::reverse(records.begin(), records.end());
    std::stable_sort(records.begin(), records.end(),
                     [](const HistoryRecord& a, const HistoryRecord& b) { return a.started > b.started; });
    return true;
}

// ---- Tables -------------------------------------------------------------------

namespace {

std::string YesNo(const std::optional<bool>& value) { return value ? (*value ? "yes" : "no") : ""; }

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

// What a person looks for first comes first: when, which camera, how it went.
std::vector<std::string> HistoryColumnNames() {
    return {"Started (UTC)",
            "SN",
            "Model",
            "Status",
            "Time(s)",
            "Back",
            "Firmware before",
            "Firmware after",
            "Verified",
            "Parameters saved",
            "Parameters restored",
            "From",
            "Device ID",
            "Status code",
            "Ended (UTC)",
            "Parameter copy",
            "Failure text"};
}

std::vector<std::vector<std::string>> HistoryRows(const std::vector<HistoryRecord>& records) {
    std::vector<std::vector<std::string>> rows;
    for (const HistoryRecord& record : records) {
        for (const HistoryCamera& camera : record.cameras) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", camera.burnSeconds);
            rows.push_back({record.started, camera.serial, camera.model, camera.status, seconds,
                            camera.back ? "yes" : "no", camera.versionBefore, camera.versionAfter,
                            YesNo(camera.verified), YesNo(camera.parametersSaved), YesNo(camera.parametersRestored),
                            record.frontEnd, camera.deviceId, std::to_string(camera.statusCode), record.ended,
                            camera.parameterCopy, camera.failureText});
        }
    }
    return rows;
}

std::string HistoryCsv(const std::vector<HistoryRecord>& records) {
    std::string csv;
    const auto addLine = [&csv](const std::vector<std::string>& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) csv += (i == 0 ? "" : ",") + CsvField(fields[i]);
        csv += "\r\n";
    };
    addLine(HistoryColumnNames());
    for (const auto& row : HistoryRows(records)) addLine(row);
    return csv;
}

// ---- Summary -------------------------------------------------------------------

RunSummary SummarizeRun(const HistoryRecord& record) {
    RunSummary summary;
    for (const HistoryCamera& camera : record.cameras) {
        ++summary.cameras;
        if (camera.statusCode != StatusCode::kSuccess)
            ++summary.failed;
        else if (!camera.back)
            ++summary.notBack;
        else if (camera.verified == false)
            ++summary.notVerified;
        else
            ++summary.upgraded;
    }
    return summary;
}

std::wstring DescribeRunSummary(const RunSummary& summary, double totalSeconds) {
    wchar_t text[256];
    std::swprintf(text, sizeof text / sizeof text[0],
                  L"Finished in %.1f s: %d of %d camera%ls upgraded, %d failed, %d not back, %d not verified",
                  totalSeconds, summary.upgraded, summary.cameras, summary.cameras == 1 ? L"" : L"s", summary.failed,
                  summary.notBack, summary.notVerified);
    return text;
}

// ---- CHistoryRecorder ---------------------------------------------------------

CHistoryRecorder::CHistoryRecorder(std::string frontEnd, const std::vector<CU3VDevice*>& cameras,
                                   std::vector<std::wstring> models, IUpgradeRunObserver& next,
                                   const CAPIDeviceManager* parameters)
    : m_next(next), m_cameras(cameras), m_models(std::move(models)), m_parameters(parameters) {
    m_record.started = HistoryTimestamp();
    m_record.frontEnd = std::move(frontEnd);
    for (CU3VDevice* camera : m_cameras) {
        const DeviceInfo info = camera->GetDeviceInfo();
        HistoryCamera entry;
        entry.serial = CleanField(info.serialNumber);
        entry.model = CleanField(info.modelName);
        entry.deviceId = platform::WideToAnsi(platform::AnsiToWide(camera->GetDeviceID()));
        entry.versionBefore = CleanField(info.firmwareVersion);
        m_rawSerials.push_back(FieldText(info.serialNumber));
        if (m_parameters != nullptr) {
            // The export pass is over: a camera the SDK does not list stays unknown.
            if (const CameraParameters* saved = m_parameters->FindBySerial(m_rawSerials.back()))
                entry.parametersSaved = saved->exported && saved->exported->succeeded;
        }
        m_record.cameras.push_back(std::move(entry));
    }
}

void CHistoryRecorder::OnWorkersStarting() { m_next.OnWorkersStarting(); }
void CHistoryRecorder::OnWorkersFinished() { m_next.OnWorkersFinished(); }

void CHistoryRecorder::OnCamerasReturned() {
    __TakeResults();
    m_next.OnCamerasReturned();
}

void CHistoryRecorder::OnProducerReleased() {
    // The camera records are gone from here on.
    m_cameras.clear();
    m_next.OnProducerReleased();
}

void CHistoryRecorder::OnImportFailed(const std::wstring& text) {
    // The pass as a whole failed: no camera had its parameters loaded back.
    for (HistoryCamera& camera : m_record.cameras)
        if (camera.parametersSaved.value_or(false)) camera.parametersRestored = false;
    m_next.OnImportFailed(text);
}

void CHistoryRecorder::OnParametersRestored() {
    if (m_parameters != nullptr) {
        for (std::size_t i = 0; i < m_record.cameras.size(); ++i) {
            HistoryCamera& entry = m_record.cameras[i];
            const CameraParameters* camera = m_parameters->FindBySerial(m_rawSerials[i]);
            if (camera == nullptr || !entry.parametersSaved.value_or(false)) continue;
            if (camera->imported) entry.parametersRestored = camera->imported->succeeded;
            entry.parameterCopy = platform::WideToAnsi(camera->persistentCopy);
        }
    }
    m_next.OnParametersRestored();
}

void CHistoryRecorder::OnRecordFailed(const std::wstring& text) { m_next.OnRecordFailed(text); }

void CHistoryRecorder::__TakeResults() {
    if (m_taken || m_cameras.size() != m_record.cameras.size()) return;
    m_taken = true;
    std::string releaseError;
    if (!package::LoadReleaseInfo(m_release, releaseError)) m_release = package::ReleaseInfo{};
    for (std::size_t i = 0; i < m_cameras.size(); ++i) {
        CU3VDevice& camera = *m_cameras[i];
        HistoryCamera& entry = m_record.cameras[i];
        std::wstring text;
        camera.GetStatus(entry.statusCode, text);
        entry.status = platform::WideToAnsi(text);
        entry.burnSeconds = camera.GetBurnTime().GetElapsedSeconds();
        entry.failureText = platform::WideToAnsi(camera.GetErrorText());
        entry.back = CUpgradeRun::HasReturned(camera, m_models);
        if (!entry.back) continue;
        // The polls refreshed the identity of a camera found again.
        entry.versionAfter = CleanField(camera.GetDeviceInfo().firmwareVersion);
        // Only a camera whose flash was written has a new version to check.
        const std::string target = m_release.FirmwareVersionOf(entry.model);
        if (!target.empty() && camera.HasWrittenFlash()) entry.verified = entry.versionAfter == target;
    }
}

bool CHistoryRecorder::Append(std::wstring& error) {
    m_record.ended = HistoryTimestamp();
    return AppendHistoryRecord(HistoryFilePath(), m_record, error);
}
