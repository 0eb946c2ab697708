// The record of an upgrade run whose parameters have not all been restored yet.
// A run writes it before its first write to a camera and takes its cameras out
// again once their parameters are back; whatever is left after a crash, a power
// loss or a failed restore tells the next start which saved copies to load.
#pragma once

#include <string>
#include <vector>

struct UnfinishedRunEntry {
    std::string serial;
    std::string identity;         // the SDK identity
    std::wstring persistentCopy;  // the dated copy to restore from
};

// $XDG_STATE_HOME/flashwright/unfinished-run.json (else ~/.local/state/...);
// empty when no state folder can be named.
std::wstring UnfinishedRunRecordPath();

// The recorded cameras; an absent record is an empty list and no error. False
// with the reason when the record exists but cannot be read.
bool ReadUnfinishedRun(std::vector<UnfinishedRunEntry>& entries, std::wstring& error);

// Replaces the record (written to a new file, then renamed over it); no entries
// remove it. The state folder is refused when it is a link or another user's.
bool WriteUnfinishedRun(const std::vector<UnfinishedRunEntry>& entries, std::wstring& error);
