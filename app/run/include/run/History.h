// The upgrade history: the run reports of both front ends, as JSON lines in
// $XDG_STATE_HOME/flashwright/history.jsonl (else ~/.local/state/...).
//
// A run writes its report when its first camera write begins (state
// "running"), again once every worker has ended, and once more when it is over
// ("completed"); each line is the whole report so far, and the last line of a
// run counts. A run whose last line says "running" and whose process is gone
// was killed on the way: the readers show it as "interrupted". Appends are
// whole lines under a lock, so concurrent runs never interleave and a line cut
// by a crash never hides the others.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "run/RunReport.h"

// The history file's path; empty when neither XDG_STATE_HOME nor HOME is set.
std::wstring HistoryFilePath();

// The current time in the record's format: 2026-12-10T17:52:00.123Z.
std::string HistoryTimestamp();

// One history line (without the line end): the run and the cameras within
// its request, each with the fields of upgrade --json.
std::string RunReportToJson(const RunReport& report);
// False for a line that is not a whole record. Lines of the first history
// format (no schema version) are read too.
bool RunReportFromJson(const std::string& line, RunReport& report);

// Appends the report as one line; creates the folder when missing.
bool AppendHistoryRecord(const std::wstring& path, const RunReport& report, std::wstring& error);

struct HistoryQuery {
    std::string serial;  // only runs with this camera (by serial or device id), only its entries
    std::string since;   // only runs started at or after this UTC timestamp (same format)
};

// The runs matching the query, newest first, each as its last line says (a
// run left "running" by a process that has ended is kInterrupted). Lines that
// are not whole records (a writer killed by a power cut) are skipped and counted.
bool ReadHistory(const std::wstring& path, const HistoryQuery& query, std::vector<RunReport>& records,
                 std::size_t& skippedLines, std::wstring& error);

// The columns a history table shows, one row per camera of each run.
std::vector<std::string> HistoryColumnNames();
std::vector<std::vector<std::string>> HistoryRows(const std::vector<RunReport>& records);
// The same as CSV (RFC 4180: comma-separated, quoted where needed, CRLF), with
// the column names as the first line.
std::string HistoryCsv(const std::vector<RunReport>& records);
