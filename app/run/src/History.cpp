#include "run/History.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>

#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

using nlohmann::json;

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

std::string RunReportToJson(const RunReport& report) {
    json cameras = json::array();
    for (const CameraReport& camera : report.cameras)
        if (camera.selected) cameras.push_back(CameraReportToJson(camera, report.dryRun));
    const RunSummary summary = report.Summary();
    const auto seconds = [](const std::optional<double>& value) {
        return value ? json(std::round(*value * 1000.0) / 1000.0) : json(nullptr);
    };
    const json line = {{"schema", RunReport::kSchemaVersion},
                       {"run_id", report.runId},
                       {"process_id", report.processId},
                       {"state", RunStateName(report.state)},
                       {"front_end", report.frontEnd},
                       {"started", report.started},
                       {"ended", report.ended},
                       {"phases",
                        {{"writing", seconds(report.writingSeconds)},
                         {"restarting", seconds(report.restartingSeconds)},
                         {"restoring", seconds(report.restoringSeconds)},
                         {"total", seconds(report.totalSeconds)}}},
                       {"summary",
                        {{"cameras", summary.cameras},
                         {"upgraded", summary.upgraded},
                         {"failed", summary.failed},
                         {"held_back", summary.heldBack},
                         {"not_back", summary.notBack},
                         {"not_verified", summary.notVerified},
                         {"parameters_not_restored", summary.parametersNotRestored},
                         {"not_opened", summary.notOpened},
                         {"up_to_date", summary.upToDate},
                         {"interrupted", summary.interrupted}}},
                       {"exit_status", report.ExitStatus()},
                       {"cameras", cameras}};
    // Invalid UTF-8 cannot reach here (camera text is cleaned), but a record
    // must never fail to be written over one odd byte.
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool RunReportFromJson(const std::string& line, RunReport& report) {
    const json object = json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return false;
    try {
        RunReport parsed;
        parsed.started = object.at("started").get<std::string>();
        parsed.ended = object.at("ended").get<std::string>();
        parsed.frontEnd = object.at("front_end").get<std::string>();
        parsed.state = ERunState::kCompleted;
        if (object.contains("schema")) {
            parsed.runId = object.at("run_id").get<std::string>();
            parsed.processId = object.value("process_id", 0u);
            const std::string state = object.at("state").get<std::string>();
            if (state == RunStateName(ERunState::kRunning))
                parsed.state = ERunState::kRunning;
            else if (state == RunStateName(ERunState::kInterrupted))
                parsed.state = ERunState::kInterrupted;
            else if (state != RunStateName(ERunState::kCompleted))
                return false;
            if (const auto phases = object.find("phases"); phases != object.end() && phases->is_object()) {
                const auto phase = [&](const char* key) -> std::optional<double> {
                    const auto it = phases->find(key);
                    return it != phases->end() && it->is_number() ? std::optional<double>(it->get<double>())
                                                                  : std::nullopt;
                };
                parsed.writingSeconds = phase("writing");
                parsed.restartingSeconds = phase("restarting");
                parsed.restoringSeconds = phase("restoring");
                parsed.totalSeconds = phase("total");
            }
        }
        for (const json& entry : object.at("cameras")) {
            CameraReport camera;
            if (!CameraReportFromJson(entry, camera)) return false;
            parsed.cameras.push_back(std::move(camera));
        }
        report = std::move(parsed);
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

bool AppendHistoryRecord(const std::wstring& path, const RunReport& report, std::wstring& error) {
    if (path.empty()) {
        error = L"no folder for the upgrade history: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    const std::size_t slash = path.find_last_of(platform::PathSeparator());
    if (slash != std::wstring::npos && slash > 0 && !platform::CreatePrivateDirectories(path.substr(0, slash), error))
        return false;
    return platform::AppendLocked(path, RunReportToJson(report) + "\n", error);
}

bool ReadHistory(const std::wstring& path, const HistoryQuery& query, std::vector<RunReport>& records,
                 std::size_t& skippedLines, std::wstring& error) {
    records.clear();
    skippedLines = 0;
    std::string content;
    if (!platform::ReadLocked(path, content, error)) return false;
    std::istringstream lines(content);
    std::string line;
    std::map<std::string, std::size_t> runs;  // run id -> its record, which later lines replace
    std::vector<RunReport> all;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        RunReport record;
        if (!RunReportFromJson(line, record)) {
            ++skippedLines;
            continue;
        }
        if (!record.runId.empty()) {
            const auto known = runs.find(record.runId);
            if (known != runs.end()) {
                all[known->second] = std::move(record);
                continue;
            }
            runs[record.runId] = all.size();
        }
        all.push_back(std::move(record));
    }
    std::optional<std::uint32_t> runningNow;
    for (RunReport& record : all) {
        // Still running only while its process holds the program's lock.
        if (record.state == ERunState::kRunning) {
            if (!runningNow) runningNow = platform::InstanceLock::RunningHolder();
            if (record.processId == 0 || record.processId != *runningNow) record.state = ERunState::kInterrupted;
        }
        // Timestamps of one format compare as text.
        if (!query.since.empty() && record.started < query.since) continue;
        if (!query.serial.empty()) {
            std::vector<CameraReport> matching;
            for (CameraReport& camera : record.cameras)
                if (camera.name == query.serial || camera.deviceId == query.serial)
                    matching.push_back(std::move(camera));
            if (matching.empty()) continue;
            record.cameras = std::move(matching);
        }
        records.push_back(std::move(record));
    }
    // Runs come in the order they began; the newest start comes first, and of
    // two equal starts the one written later.
    std::reverse(records.begin(), records.end());
    std::stable_sort(records.begin(), records.end(),
                     [](const RunReport& a, const RunReport& b) { return a.started > b.started; });
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
            "Run",
            "From",
            "Device ID",
            "Status code",
            "Ended (UTC)",
            "Parameter copy",
            "Failure text"};
}

std::vector<std::vector<std::string>> HistoryRows(const std::vector<RunReport>& records) {
    std::vector<std::vector<std::string>> rows;
    for (const RunReport& record : records) {
        for (const CameraReport& camera : record.cameras) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", camera.seconds);
            rows.push_back({record.started, camera.name, camera.model, camera.ResultText(), seconds, YesNo(camera.back),
                            camera.versionBefore, camera.FirmwareVersion(), YesNo(camera.verified),
                            YesNo(camera.parametersSaved), YesNo(camera.parametersRestored), RunStateName(record.state),
                            record.frontEnd, camera.deviceId,
                            camera.statusCode ? std::to_string(*camera.statusCode) : std::string(), record.ended,
                            camera.parameterCopy, camera.failureText});
        }
    }
    return rows;
}

std::string HistoryCsv(const std::vector<RunReport>& records) {
    std::string csv;
    const auto addLine = [&csv](const std::vector<std::string>& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) csv += (i == 0 ? "" : ",") + CsvField(fields[i]);
        csv += "\r\n";
    };
    addLine(HistoryColumnNames());
    for (const auto& row : HistoryRows(records)) addLine(row);
    return csv;
}
