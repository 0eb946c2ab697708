// flashwright-cli history: the upgrade runs of both front ends, newest first.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "CommandGroups.h"
#include "run/History.h"
#include "support/Platform.h"

namespace {

struct HistoryOptions {
    std::string serial;
    std::string since;
    bool json = false;
};

// "2026-12-10", "2026-12-10 08:30", "2026-12-10T08:30:15", local time unless
// it ends in "Z", as the record's UTC timestamp. Empty when not a date.
std::string SinceTimestamp(const std::string& text) {
    std::string value = text;
    const bool utc = !value.empty() && (value.back() == 'Z' || value.back() == 'z');
    if (utc) value.pop_back();
    std::tm when{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 'T';
    int consumed = 0;
    const int fields = std::sscanf(value.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &year, &month, &day, &consumed,
                                   &separator, &hour, &minute, &consumed, &second, &consumed);
    const bool shapeOk = (fields == 3 || fields == 6 || fields == 7) &&
                         static_cast<std::size_t>(consumed) == value.size() &&
                         (fields == 3 || separator == 'T' || separator == ' ');
    if (!shapeOk || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        year < 1970)
        return std::string();
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_isdst = -1;
    const std::time_t seconds = utc ? platform::FromUtcTime(when) : std::mktime(&when);
    if (seconds == static_cast<std::time_t>(-1)) return std::string();
    const std::tm back = platform::UtcTime(seconds);
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", back.tm_year + 1900, back.tm_mon + 1,
                  back.tm_mday, back.tm_hour, back.tm_min, back.tm_sec);
    return stamp;
}

// The record's UTC timestamp in local time, to the second.
std::string LocalTime(const std::string& timestamp) {
    std::tm when{};
    int year = 0, month = 0, day = 0;
    if (std::sscanf(timestamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &when.tm_hour, &when.tm_min,
                    &when.tm_sec) != 6)
        return timestamp;
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    const std::time_t seconds = platform::FromUtcTime(when);
    const std::tm local = platform::LocalTime(seconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string YesNo(const std::optional<bool>& value) { return value ? (*value ? "yes" : "no") : "-"; }

void ShowHistory(const HistoryOptions& options) {
    HistoryQuery query;
    query.serial = options.serial;
    if (!options.since.empty()) {
        query.since = SinceTimestamp(options.since);
        if (query.since.empty())
            throw CLI::ValidationError("--since", "\"" + options.since +
                                                      "\" is not a date: use YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS] "
                                                      "(local time, or UTC with a trailing Z)");
    }
    const std::wstring path = HistoryFilePath();
    if (path.empty()) Fail(ExitStatus::kFailure, "no upgrade history: neither XDG_STATE_HOME nor HOME is set");
    std::vector<RunReport> records;
    std::size_t skipped = 0;
    std::wstring error;
    if (!ReadHistory(path, query, records, skipped, error)) Fail(ExitStatus::kFailure, platform::WideToAnsi(error));
    if (skipped > 0)
        std::cerr << "flashwright-cli: " << skipped << " damaged line(s) of " << platform::WideToAnsi(path)
                  << " skipped\n";

    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const RunReport& record : records) list.push_back(nlohmann::json::parse(RunReportToJson(record)));
        std::cout << list.dump(2) << '\n';
    } else if (!records.empty()) {
        std::vector<std::vector<std::string>> rows = {{"STARTED", "FROM", "RUN", "SN", "MODEL", "BEFORE", "AFTER",
                                                       "STATUS", "SECONDS", "BACK", "VERIFIED", "PARAMETERS"}};
        for (const RunReport& record : records) {
            for (const CameraReport& camera : record.cameras) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.3f", camera.seconds);
                std::string parameters = "-";
                if (camera.parametersSaved)
                    parameters =
                        std::string(*camera.parametersSaved ? "saved" : "not saved") +
                        (camera.parametersRestored ? (*camera.parametersRestored ? ", restored" : ", not restored")
                                                   : "");
                const std::string after = camera.FirmwareVersion();
                rows.push_back({LocalTime(record.started), record.frontEnd, RunStateName(record.state), camera.name,
                                camera.model, camera.versionBefore, after.empty() ? "-" : after, camera.ResultText(),
                                seconds, YesNo(camera.back), YesNo(camera.verified), parameters});
            }
        }
        PrintTable(rows);
    }
    if (records.empty()) {
        std::cerr << "flashwright-cli: no upgrade run recorded"
                  << (options.serial.empty() ? "" : " for " + options.serial)
                  << (options.since.empty() ? "" : " since " + options.since) << '\n';
        throw CLI::RuntimeError(ExitStatus::kNothingToDo);
    }
}

}  // namespace

void AddHistoryCommands(CLI::App& app) {
    auto* history = app.add_subcommand(
        "history",
        "Show the recorded upgrade runs of both programs, newest first, one line per camera. Exit status 2 "
        "when no run matches.");
    auto options = std::make_shared<HistoryOptions>();
    history->add_option("serial", options->serial, "Only this camera (serial number or device id)");
    history
        ->add_option("--since", options->since,
                     "Only runs started at or after DATE: YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], local time "
                     "(UTC with a trailing Z)")
        ->type_name("DATE");
    history->add_flag("--json", options->json, "Print the records as JSON");
    history->callback([options] { ShowHistory(*options); });
}
