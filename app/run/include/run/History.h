// The upgrade history: one JSON line per upgrade run, from either front end,
// in $XDG_STATE_HOME/flashwright/history.jsonl (else ~/.local/state/...).
// Appends are whole lines under a lock, so concurrent runs never interleave
// and a crash never leaves a half record that hides the others.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/Release.h"
#include "run/UpgradeRun.h"

class CAPIDeviceManager;
class CU3VDevice;

struct HistoryCamera {
    std::string serial;
    std::string model;
    std::string deviceId;
    std::string versionBefore;  // firmware version text when the run began
    std::string versionAfter;   // as found again after the run; empty when not back
    std::int32_t statusCode = -1;
    std::string status;
    double burnSeconds = 0;
    bool back = false;
    // The camera wrote flash and came back reporting the package's release
    // version for its model; unset when it did not write, was not back or the
    // release names no version. Decided here, for the history and both front ends.
    std::optional<bool> verified;
    // The user-parameter passes around the run; unset when the run does not
    // know (a camera the SDK did not list).
    std::optional<bool> parametersSaved;
    std::optional<bool> parametersRestored;
    std::string parameterCopy;  // the persistent copy of the saved parameters
    std::string failureText;    // the camera's error record, {code}{Op:line[n]}{detail}
};

struct HistoryRecord {
    std::string started;  // UTC, ISO 8601 with milliseconds: 2026-12-10T17:52:00.123Z
    std::string ended;
    std::string frontEnd;  // "cli" or "dialog"
    std::vector<HistoryCamera> cameras;
};

// The history file's path; empty when neither XDG_STATE_HOME nor HOME is set.
std::wstring HistoryFilePath();

// The current time in the record's format.
std::string HistoryTimestamp();

std::string HistoryRecordToJson(const HistoryRecord& record);
// False for a line that is not a whole record.
bool HistoryRecordFromJson(const std::string& line, HistoryRecord& record);

// Appends one record as one line; creates the folder when missing.
bool AppendHistoryRecord(const std::wstring& path, const HistoryRecord& record, std::wstring& error);

struct HistoryQuery {
    std::string serial;  // only records with this camera (by serial or device id), only its entries
    std::string since;   // only runs started at or after this UTC timestamp (same format)
};

// The records matching the query, newest first. Lines that are not whole
// records (a writer killed by a power cut) are skipped and counted.
bool ReadHistory(const std::wstring& path, const HistoryQuery& query, std::vector<HistoryRecord>& records,
                 std::size_t& skippedLines, std::wstring& error);

// The columns a history table shows, one row per camera of each record.
std::vector<std::string> HistoryColumnNames();
std::vector<std::vector<std::string>> HistoryRows(const std::vector<HistoryRecord>& records);
// The same as CSV (RFC 4180: comma-separated, quoted where needed, CRLF), with
// the column names as the first line.
std::string HistoryCsv(const std::vector<HistoryRecord>& records);

// What a run came to, counted from its record; every camera in one count.
struct RunSummary {
    int cameras = 0;
    int upgraded = 0;     // succeeded, came back, and runs the release's version where it names one
    int failed = 0;       // the worker failed
    int notBack = 0;      // succeeded but was not found again
    int notVerified = 0;  // came back with another version than the release's
};
RunSummary SummarizeRun(const HistoryRecord& record);
// One line for the operator: "Finished in 32.4 s: 6 of 8 cameras upgraded, ...".
std::wstring DescribeRunSummary(const RunSummary& summary, double totalSeconds);

// Collects a run's history record around the front end's observer: the
// cameras' identity before the workers start, their results once they are
// back, their parameter results from the parameter manager (when given) once
// the import pass is over, and the record appended when the run is over. Each
// hook is passed on to the front end's observer.
class CHistoryRecorder : public IUpgradeRunObserver {
public:
    CHistoryRecorder(std::string frontEnd, const std::vector<CU3VDevice*>& cameras, std::vector<std::wstring> models,
                     IUpgradeRunObserver& next, const CAPIDeviceManager* parameters = nullptr);

    void OnWorkersStarting() override;
    void OnWorkersFinished() override;
    void OnCamerasReturned() override;
    void OnProducerReleased() override;
    void OnImportFailed(const std::wstring& text) override;
    void OnParametersRestored() override;
    void OnRecordFailed(const std::wstring& text) override;

    HistoryRecord& Record() { return m_record; }
    // The version the release brings the model to, as verified decides it;
    // empty before the cameras are back or when the release does not name it.
    std::string ReleaseVersionOf(const std::string& model) const { return m_release.FirmwareVersionOf(model); }
    // Ends the record and appends it to the history file. False with the
    // reason when the file cannot be written; the run itself is not affected.
    bool Append(std::wstring& error);

private:
    void __TakeResults();

    IUpgradeRunObserver& m_next;
    std::vector<CU3VDevice*> m_cameras;
    std::vector<std::wstring> m_models;
    const CAPIDeviceManager* m_parameters;
    std::vector<std::string> m_rawSerials;  // as the cameras report them, for the parameter records
    HistoryRecord m_record;
    package::ReleaseInfo m_release;
    bool m_taken = false;
};
