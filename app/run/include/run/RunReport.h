// What one upgrade run did, as every view of it tells it: flashwright-cli's
// table, JSON, progress lines and summary, the dialog's rows, phase line and
// summary, and the upgrade history. The run fills in the facts; each camera's
// outcome, the summary and the exit status are decided here and nowhere else.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "package/Release.h"

class CCameraSession;
class CU3VDevice;

// What became of one camera the run saw.
enum class ECameraOutcome {
    kPending,  // to be upgraded; the run has not decided yet (or was killed first)
    // Cameras the run upgraded:
    kUpgraded,               // wrote, came back with the release's version, parameters back
    kFailed,                 // its worker failed (the status says at which step)
    kNotBack,                // wrote flash and was not found again
    kNotVerified,            // came back reporting another version than the release's
    kParametersNotRestored,  // upgraded, but its saved parameters did not go back
    // Cameras the run did not upgrade:
    kHeldBack,     // its user parameters could not be saved and losing them was not accepted
    kUpToDate,     // already reports the release's version
    kNotSelected,  // eligible, but not asked for
    kUnsupported,  // its model is not one of the package's
    kNotOpened,    // the producer would not open it
    kInUse,        // held by another process
    // A dry run's verdicts:
    kReady,         // every check that writes nothing passed
    kIncompatible,  // a check failed (flash vendor, version rule, burn plan)
};

// The JSON and history name: "upgraded", "not-back", "held-back", ...
const char* OutcomeName(ECameraOutcome outcome);
// False for an unknown name.
bool OutcomeFromName(const std::string& name, ECameraOutcome& outcome);

struct CameraReport {
    // Who: the serial number (or, when it cannot be read, the device id) is the
    // name every view shows.
    std::string name;
    std::string model;
    std::string deviceId;
    std::string versionBefore;  // firmware version when the run began
    std::string targetVersion;  // the release's version for the model; empty when none

    bool selected = false;  // within what the user asked for
    ECameraOutcome outcome = ECameraOutcome::kPending;
    std::string reason;  // why a camera was not upgraded or checked, in words

    // The run's facts.
    bool ran = false;  // its worker was started (or, in a dry run, it was checked)
    bool wroteFlash = false;
    std::optional<std::int32_t> statusCode;  // the final status; none for a camera that did not run
    std::string status;                      // its text
    std::string failureText;                 // the error record as the failing step left it
    double seconds = 0;                      // burn time
    std::optional<bool> back;                // only for a camera that wrote flash
    std::optional<double> totalSeconds;      // from the start of the writing until it was back
    std::string versionAfter;                // as found again after the run
    std::optional<bool> verified;            // back and reporting the release's version
    // The user parameters: saved by the export pass (none: the SDK does not
    // list the camera), restored by the import pass (none: not attempted).
    std::optional<bool> parametersSaved;
    std::optional<bool> parametersRestored;
    bool parameterLossAccepted = false;  // upgraded without a backup, as the user allowed
    std::string parametersText;          // why saving or restoring failed
    std::string parameterCopy;           // the persistent copy of the saved parameters

    // What the camera's row, done line and history say: "Success", "Not back",
    // "Burning the FPGA failed", "User parameters not saved", ...
    std::string ResultText() const;
    // The firmware version the camera is known to report now.
    std::string FirmwareVersion() const;
    // Within the request and not done as asked: counts against the run.
    bool CountsAsFailure() const;
};

// The camera's outcome from its facts; the one rule every view follows. A
// camera whose facts are not all in yet (the run goes on, or was killed)
// stays kPending.
ECameraOutcome DecideOutcome(const CameraReport& camera, bool dryRun);

// What a run came to, over the cameras within the request.
struct RunSummary {
    int cameras = 0;
    int upgraded = 0;
    int failed = 0;
    int heldBack = 0;
    int notBack = 0;
    int notVerified = 0;
    int parametersNotRestored = 0;
    int notOpened = 0;  // not opened or in use
    int upToDate = 0;
    int ready = 0;         // dry run
    int incompatible = 0;  // dry run
    int interrupted = 0;   // the run ended before their outcome was known
};

enum class ERunState {
    kRunning,      // recorded when the first write began; still going
    kCompleted,    // ended: every outcome decided
    kInterrupted,  // a running record whose process is gone
};
const char* RunStateName(ERunState state);

// How a run's report begins: what the user asked for.
struct RunRequest {
    // Every eligible camera: the cameras of a package model that cannot be
    // used (not opened, in use) are within the request too, and fail it.
    bool all = false;
    // Also cameras that already report the release's version.
    bool reinstall = false;
    bool dryRun = false;
};

struct RunReport {
    static constexpr int kSchemaVersion = 2;

    std::string runId;
    std::uint32_t processId = 0;
    std::string frontEnd;  // "cli" or "dialog"
    std::string started;   // UTC, ISO 8601 with milliseconds: 2026-12-10T17:52:00.123Z
    std::string ended;
    ERunState state = ERunState::kRunning;
    bool dryRun = false;
    // Seconds from the start to the end of each phase; none when it did not end.
    std::optional<double> writingSeconds;     // every worker waited for
    std::optional<double> restartingSeconds;  // the wait for the cameras to come back
    std::optional<double> restoringSeconds;   // the import pass
    std::optional<double> totalSeconds;       // the whole run
    std::vector<CameraReport> cameras;        // in the front end's order
    std::chrono::steady_clock::time_point startClock{};

    RunSummary Summary() const;
    // 0: every camera asked for was upgraded (dry run: passed); 1: any of them
    // was not; 2: nothing to do (nothing selected, or every one up to date).
    int ExitStatus() const;
    // Decides every camera's outcome from the facts gathered so far.
    void Decide();
    // The entry of the camera with that device id; null when none.
    CameraReport* Find(const std::string& deviceId);
    const CameraReport* Find(const std::string& deviceId) const;
    double SecondsSinceStart() const;
};

// The operator's line: "Finished in 32.4 s: 6 of 8 cameras upgraded, 1 failed,
// 1 held back". A dry run: "Checked 3 cameras: 2 ready, 1 incompatible".
std::wstring DescribeRunSummary(const RunReport& report);

// A camera as the front ends name it: the serial number the camera reports,
// else the one the producer lists, else the device id.
std::string CameraDisplayName(const CU3VDevice& camera);
// Camera text as valid UTF-8 (invalid bytes become U+FFFD).
std::string CleanCameraText(const char* field, std::size_t width);

// A new report: every camera of the enumeration, the selected ones marked, and
// what is to be done with each (kPending: to be upgraded or checked).
RunReport BeginRunReport(const std::string& frontEnd, const std::vector<CU3VDevice*>& cameras,
                         const std::vector<CU3VDevice*>& selected, const std::vector<std::wstring>& models,
                         const package::ReleaseInfo& release, const RunRequest& request);

// The cameras of the enumeration still to be upgraded or checked, in the
// report's order; camera records are matched by device id.
std::vector<CU3VDevice*> PendingCameras(const RunReport& report, const std::vector<CU3VDevice*>& cameras);

// What the export pass saved of each pending camera; those without a backup
// are returned (the dialog asks about them, naming them).
std::vector<CU3VDevice*> NoteParameterBackups(RunReport& report, const CCameraSession& session,
                                              const std::vector<CU3VDevice*>& cameras);
// The cameras without a backup are held back, unless the user accepted
// losing their parameters. Returns the cameras to upgrade.
std::vector<CU3VDevice*> ApplyParameterConsent(RunReport& report, const std::vector<CU3VDevice*>& cameras,
                                               const std::vector<CU3VDevice*>& withoutBackup, bool lossAccepted);

// A dry run's checks on the pending cameras (the run's package configuration
// must be written): no upgrade mode, no flash, no parameter pass.
void CheckWithoutWriting(RunReport& report, const std::vector<CU3VDevice*>& cameras);

// One camera as upgrade --json and the history write it.
nlohmann::json CameraReportToJson(const CameraReport& camera, bool dryRun);
bool CameraReportFromJson(const nlohmann::json& object, CameraReport& camera);
