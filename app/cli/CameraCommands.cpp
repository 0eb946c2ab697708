// flashwright-cli list | upgrade: the attached cameras, driven through the
// same device manager, camera objects and upgrade run as the dialog.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "CommandGroups.h"
#include "RunProgress.h"
#include "camera/DeviceManager.h"
#include "run/AppText.h"
#include "camera/GenTLTypes.h"
#include "package/BurnPlans.h"
#include "package/Release.h"
#include "run/CameraRows.h"
#include "run/CameraSession.h"
#include "run/CameraState.h"
#include "run/RunReport.h"
#include "run/UpgradeRun.h"
#include "package/TempFiles.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

namespace {

// The tool's output is UTF-8 on every system.
std::string Narrow(const std::wstring& text) { return platform::WideToUtf8(text); }

// Camera text as valid UTF-8: bytes that are not become U+FFFD.
template <std::size_t N>
std::string Clean(const char (&field)[N]) {
    return Narrow(platform::AnsiToWide(FieldText(field)));
}

// The process-wide device manager and the parameter manager, brought up by
// the same start-up as the dialog's; the producer and the instance are
// released when it goes.
class CameraSession {
public:
    // Takes the per-user lock before anything else.
    explicit CameraSession(const char* command)
        : m_devices(CDeviceManager::GetInstance()), m_session(*m_devices, m_parameters) {
        HoldInstanceLock(command);
    }
    ~CameraSession() {
        m_session.ReleaseProducer();
        CDeviceManager::ReleaseInstance();
    }
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // The session's start-up without the export pass, as listing changes
    // nothing: temporary folder (no SDK or producer call happens in a refused
    // one), the notice of an unfinished run, producer, package models and
    // enumeration. The rows hold the cameras found.
    void OpenForListing() {
        StartFailure failure;
        if (!m_session.Start(EStartScope::kListing, &NoticeUnfinishedRun, failure)) {
            if (failure.step == StartFailure::EStep::kEnvironment) Fail(ExitStatus::kUsage, Narrow(failure.text));
            if (failure.step == StartFailure::EStep::kTemporaryFolder)
                Fail(ExitStatus::kFailure, "the temporary folder " + Narrow(package::GetTempDirectoryPath()) +
                                               " cannot be used: " + Narrow(failure.text));
            Fail(ExitStatus::kFailure, Narrow(failure.text));
        }
        m_rows.Fill(m_session.GetCameras(), m_session.GetModels());
        StopIfRequested();
    }
    // Before a run, as "Update Devices" does: the producer let go, the
    // parameter export pass of these cameras, then the producer and the
    // cameras again. Returns the same cameras as found again; one that went
    // away meanwhile is named in problems.
    std::vector<CU3VDevice*> RefreshForUpgrade(const std::vector<CU3VDevice*>& cameras,
                                               std::vector<std::string>& problems) {
        ParameterScope scope;
        std::vector<std::string> wanted;
        for (CU3VDevice* camera : cameras) {
            wanted.push_back(camera->GetDeviceID());
            scope.serials.push_back(FieldText(camera->GetDeviceInfo().serialNumber));
        }
        // The producer's release takes every camera record with it.
        m_rows.Release();
        std::wstring error;
        if (!m_session.Refresh(error, scope)) Fail(ExitStatus::kFailure, Narrow(error));
        m_rows.Fill(m_session.GetCameras(), m_session.GetModels());
        StopIfRequested();
        std::vector<CU3VDevice*> found;
        for (const std::string& deviceId : wanted) {
            const int row = m_rows.FindDeviceId(deviceId);
            if (!m_rows.IsEligible(row))
                problems.push_back(deviceId + ": the camera went away before the upgrade began");
            found.push_back(m_rows.CameraAt(row));
        }
        return found;
    }
    void SetRebootTimeout(double seconds) {
        RunTiming timing = m_session.GetRunTiming();
        timing.rebootTimeout = std::chrono::milliseconds(std::llround(seconds * 1000.0));
        m_session.SetRunTiming(timing);
    }

    std::vector<CU3VDevice*> Cameras() const { return m_session.GetCameras(); }
    const std::vector<std::wstring>& Models() const { return m_session.GetModels(); }
    // Opened and of a package model; an unsupported model gets its status 28,
    // as the dialog's row does.
    bool IsEligible(CU3VDevice& camera) const { return CCameraRows::IsEligible(camera, Models()); }

    // A row per camera of the last enumeration, as the dialog's list has them.
    CCameraRows& Rows() { return m_rows; }
    CCameraSession& Session() { return m_session; }

private:
    CDeviceManager* m_devices;
    CAPIDeviceManager m_parameters;
    CCameraSession m_session;
    CCameraRows m_rows;
};

package::ReleaseInfo LoadRelease() {
    package::ReleaseInfo release;
    std::string error;
    if (!package::LoadReleaseInfo(release, error)) Fail(ExitStatus::kFailure, error);
    return release;
}

// With -v, the error record of each camera named, as the producer worded it.
void PrintFailureTexts(const std::vector<std::pair<std::string, std::string>>& texts) {
    if (!IsVerbose()) return;
    for (const auto& [name, text] : texts)
        if (!text.empty()) std::cerr << name << ": " << text << '\n';
}

void ListCameras(bool asJson) {
    CameraSession session("list");
    session.OpenForListing();
    const package::ReleaseInfo release = LoadRelease();
    // The version rule reads the package configuration; nothing is written to
    // a camera.
    CRunPackageConfig config;
    if (config.Result() != package::ERunConfigResult::kWritten)
        Fail(ExitStatus::kFailure, Narrow(AppText::kCreateTempFileFailed));

    nlohmann::json list = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows = {
        {"MODEL", "SN", "GUID", "DEVICE", "FIRMWARE", "FACTORY", "XML", "TARGET", "STATE", "STATUS"}};
    std::vector<std::pair<std::string, std::string>> failures;
    for (CU3VDevice* camera : session.Cameras()) {
        const ECameraState state = AssessCamera(*camera, session.Models(), release, false);
        const bool eligible = session.IsEligible(*camera);
        const DeviceInfo info = camera->GetDeviceInfo();
        std::int32_t code = 0;
        std::wstring statusText;
        camera->GetStatus(code, statusText);
        const std::string status = Narrow(statusText);
        const std::string target = TargetVersion(*camera, session.Models(), release);
        if (state == ECameraState::kNotOpened || state == ECameraState::kInUse || state == ECameraState::kIncompatible)
            failures.emplace_back(CameraDisplayName(*camera), Narrow(camera->GetErrorText()));
        if (asJson) {
            list.push_back({{"device_id", Narrow(platform::AnsiToWide(camera->GetDeviceID()))},
                            {"model", Clean(info.modelName)},
                            {"serial", Clean(info.serialNumber)},
                            {"guid", Clean(info.guid)},
                            {"device_version", Clean(info.deviceVersion)},
                            {"firmware_version", Clean(info.firmwareVersion)},
                            {"factory_version", Clean(info.factoryVersion)},
                            {"xml_version", Clean(info.xmlVersion)},
                            {"opened", camera->IsOpened()},
                            {"eligible", eligible},
                            {"status_code", code},
                            {"status", status},
                            {"target_version", target},
                            {"state", CameraStateName(state)}});
        } else {
            rows.push_back({Clean(info.modelName), CameraDisplayName(*camera), Clean(info.guid),
                            Clean(info.deviceVersion), Clean(info.firmwareVersion), Clean(info.factoryVersion),
                            Clean(info.xmlVersion), target, CameraStateName(state), status});
        }
    }
    if (asJson)
        std::cout << list.dump(2) << '\n';
    else
        PrintTable(rows);
    PrintFailureTexts(failures);
}

struct UpgradeOptions {
    bool all = false;
    std::vector<std::string> serials;
    bool json = false;
    bool allowParameterLoss = false;
    // How long to wait at most for the upgraded cameras to come back; unset:
    // the session's own bound (21 s, or the environment's).
    std::optional<double> rebootTimeoutSeconds;
    bool dryRun = false;
    bool reinstall = false;
    // What is shown on standard error while the run goes on.
    std::string progress = "auto";
};

// The PARAMETERS cell: what the passes did for a camera that took part.
std::string ParameterText(const CameraReport& camera) {
    if (!camera.parametersSaved) return "no backup: the SDK does not list the camera";
    if (!*camera.parametersSaved)
        return camera.outcome == ECameraOutcome::kHeldBack ? "not saved" : "not saved: reset to factory values";
    if (!camera.parametersRestored) return "saved, not restored";
    return *camera.parametersRestored ? "restored" : "NOT restored";
}

std::string Seconds(double seconds, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, seconds);
    return text;
}

// The cameras the table shows: those within the request, and with --all the
// cameras of the models the package does not serve, so none goes unnamed.
bool IsShown(const CameraReport& camera, bool all) {
    return camera.selected || (all && camera.outcome == ECameraOutcome::kUnsupported);
}

// The report as the table (or JSON) on standard output; with -v, the failure
// texts of the cameras that failed on standard error.
void PrintUpgradeRows(const RunReport& report, bool all, bool asJson) {
    nlohmann::json results = nlohmann::json::array();
    std::vector<std::vector<std::string>> table = {
        {"SN", "STATUS", "SECONDS", "BACK", "FIRMWARE", "VERIFIED", "TOTAL", "PARAMETERS"}};
    std::vector<std::pair<std::string, std::string>> failures;
    for (const CameraReport& camera : report.cameras) {
        if (!IsShown(camera, all)) continue;
        if (camera.CountsAsFailure() && !camera.failureText.empty())
            failures.emplace_back(camera.name, camera.failureText);
        if (asJson) {
            results.push_back(CameraReportToJson(camera, report.dryRun));
            continue;
        }
        const bool ran = camera.ran && !report.dryRun;
        const bool touched = ran || camera.outcome == ECameraOutcome::kHeldBack;
        const std::string firmware = camera.FirmwareVersion();
        table.push_back({camera.name, camera.ResultText(), ran ? Seconds(camera.seconds, "%.3f") : "-",
                         camera.back ? (*camera.back ? "yes" : "no") : "-", firmware.empty() ? "-" : firmware,
                         camera.verified ? (*camera.verified ? "yes" : "NO") : "-",
                         camera.totalSeconds ? Seconds(*camera.totalSeconds, "%.1f") : "-",
                         touched ? ParameterText(camera) : "-"});
    }
    if (asJson)
        std::cout << results.dump(2) << '\n';
    else
        PrintTable(table);
    std::cout.flush();
    PrintFailureTexts(failures);
}

// What standard error says of the cameras whose parameters are at stake.
void ReportParameterProblems(const RunReport& report) {
    for (const CameraReport& camera : report.cameras) {
        const std::string name = EscapeControls(camera.name);
        if (camera.outcome == ECameraOutcome::kHeldBack) {
            std::cerr << "flashwright-cli: " << name << ": the user parameters could not be saved ("
                      << (camera.parametersText.empty() ? std::string("unknown") : camera.parametersText)
                      << "); not upgraded (--allow-parameter-loss upgrades it anyway, resetting them to factory "
                         "values)\n";
        } else if (camera.parametersSaved == true && camera.parametersRestored == false) {
            std::cerr << "flashwright-cli: the user parameters of " << name << " were saved but not restored ("
                      << camera.parametersText << ")";
            if (camera.parameterCopy.empty())
                std::cerr << "; no persistent copy could be kept\n";
            else
                std::cerr << "; restore them with: flashwright-cli params restore " << name << " --from "
                          << camera.parameterCopy << '\n';
        }
    }
}

[[noreturn]] void EndWith(const RunReport& report) {
    std::cout.flush();
    const int status = report.ExitStatus();
    throw CLI::RuntimeError(status);
}

// Every camera named on the command line, by serial number or device id, or
// with --all every eligible camera. A name that matches no eligible camera is
// reported with the reason; then nothing at all may be written.
std::vector<CU3VDevice*> SelectCameras(CameraSession& session, const UpgradeOptions& options,
                                       std::vector<std::string>& problems) {
    CCameraRows& rows = session.Rows();
    if (options.all) {
        std::vector<CU3VDevice*> selected;
        rows.SelectAll();
        rows.CamerasToStart(selected);
        return selected;
    }
    std::vector<CCameraRows::NameRefusal> refusals;
    std::vector<CU3VDevice*> selected = rows.SelectNamed(options.serials, refusals);
    for (const CCameraRows::NameRefusal& refusal : refusals) {
        switch (refusal.problem) {
            case CCameraRows::ENameProblem::kNoCamera:
                problems.push_back(refusal.name + ": no attached camera has this serial number or device id");
                break;
            case CCameraRows::ENameProblem::kInUse:
                problems.push_back(refusal.name + ": the camera is in use by another process");
                break;
            case CCameraRows::ENameProblem::kNotOpened:
                problems.push_back(refusal.name + ": the camera could not be opened (" +
                                   Narrow(refusal.camera->GetStatusText()) + ")");
                break;
            case CCameraRows::ENameProblem::kUnsupported:
                problems.push_back(refusal.name + ": the package does not serve the model " +
                                   Clean(refusal.camera->GetDeviceInfo().modelName));
                break;
        }
    }
    return selected;
}

[[noreturn]] void FailNamingProblems(const std::vector<std::string>& problems, const std::string& message) {
    for (const std::string& problem : problems) std::cerr << "flashwright-cli: " << EscapeControls(problem) << '\n';
    Fail(ExitStatus::kNothingToDo, message);
}

void FailOnPackageConfig(package::ERunConfigResult result) {
    if (result == package::ERunConfigResult::kResourceMissing)
        Fail(ExitStatus::kFailure, Narrow(AppText::kParseResourceFailed));
    if (result == package::ERunConfigResult::kWriteFailed)
        Fail(ExitStatus::kFailure, Narrow(AppText::kCreateTempFileFailed));
}

// The checks that write nothing, on the cameras a run would upgrade.
void DryRun(RunReport& report, const std::vector<CU3VDevice*>& pending, const UpgradeOptions& options) {
    CRunPackageConfig config;
    FailOnPackageConfig(config.Result());
    CheckWithoutWriting(report, pending);
    PrintUpgradeRows(report, options.all, options.json);
    if (report.ExitStatus() != ExitStatus::kSuccess) EndWith(report);
}

// The run proper, on the cameras as found again after the export pass.
void Run(CameraSession& session, RunReport& report, const std::vector<CU3VDevice*>& cameras,
         const UpgradeOptions& options) {
    // A camera whose parameters could not be saved is not flashed unless the
    // user accepts losing them.
    const std::vector<CU3VDevice*> withoutBackup = NoteParameterBackups(report, session.Session(), cameras);
    const std::vector<CU3VDevice*> toRun =
        ApplyParameterConsent(report, cameras, withoutBackup, options.allowParameterLoss);
    StopIfRequested();

    std::vector<std::string> names;
    for (CU3VDevice* camera : toRun) names.push_back(CameraDisplayName(*camera));
    EProgressStyle style = EProgressStyle::kAuto;
    ParseProgressStyle(options.progress, style);
    // --json alone keeps standard error for messages, as before.
    if (options.json && options.progress == "auto") style = EProgressStyle::kNone;
    CCliRunProgress progress(toRun, std::move(names), style, report);
    CUpgradeRun::EResult outcome;
    {
        // From the first worker to the restored parameters, as the dialog's
        // close guard does.
        CRefuseStops refuseStops;
        CUpgradeRun run(session.Session());
        progress.SetRun(&run);
        outcome = run.Run(toRun, report, progress);
        progress.SetRun(nullptr);
    }
    if (outcome == CUpgradeRun::EResult::kConfigMissing)
        FailOnPackageConfig(package::ERunConfigResult::kResourceMissing);
    if (outcome == CUpgradeRun::EResult::kConfigWriteFailed)
        FailOnPackageConfig(package::ERunConfigResult::kWriteFailed);
    progress.Finish(Narrow(DescribeRunSummary(report)));
    PrintUpgradeRows(report, options.all, options.json);
    ReportParameterProblems(report);
    if (report.ExitStatus() != ExitStatus::kSuccess) EndWith(report);
}

void UpgradeCameras(const UpgradeOptions& options) {
    if (!options.all && options.serials.empty()) throw CLI::RequiredError("--all or at least one SERIAL");

    // Which cameras, before anything is exported or written.
    CameraSession session("upgrade");
    if (options.rebootTimeoutSeconds) session.SetRebootTimeout(*options.rebootTimeoutSeconds);
    session.OpenForListing();
    std::vector<std::string> problems;
    const std::vector<CU3VDevice*> selected = SelectCameras(session, options, problems);
    if (!problems.empty())
        FailNamingProblems(problems, "nothing was written: every camera named must be attached and eligible");
    RunReport report = BeginRunReport("cli", session.Cameras(), selected, session.Models(), LoadRelease(),
                                      RunRequest{options.all, options.reinstall, options.dryRun});
    const std::vector<CU3VDevice*> pending = PendingCameras(report, session.Cameras());
    if (pending.empty()) {
        // Nothing to upgrade: cameras up to date, or none that can be used.
        if (report.Summary().cameras == 0) Fail(ExitStatus::kNothingToDo, "no eligible camera is attached");
        PrintUpgradeRows(report, options.all, options.json);
        if (report.ExitStatus() == ExitStatus::kNothingToDo)
            Fail(ExitStatus::kNothingToDo, "every selected camera is up to date; --reinstall upgrades them again");
        std::cerr << Narrow(DescribeRunSummary(report)) << '\n';
        EndWith(report);
    }
    if (options.dryRun) return DryRun(report, pending, options);

    // The run proper starts as the dialog's does: the parameter export pass
    // (of these cameras only), then the producer and the cameras again.
    const std::vector<CU3VDevice*> cameras = session.RefreshForUpgrade(pending, problems);
    if (!problems.empty()) FailNamingProblems(problems, "nothing was written");
    Run(session, report, cameras, options);
}

}  // namespace

void AddCameraCommands(CLI::App& app) {
    auto* list = app.add_subcommand(
        "list",
        "List the attached cameras with their identity, versions, the version the package brings them to "
        "(TARGET) and what an upgrade would do (STATE: up to date, upgradable, unsupported, not opened, "
        "in use, incompatible), found without writing.");
    auto listJson = std::make_shared<bool>(false);
    list->add_flag("--json", *listJson, "List the cameras as JSON");
    list->callback([listJson] { ListCameras(*listJson); });

    auto* upgrade = app.add_subcommand(
        "upgrade",
        "Upgrade eligible cameras from the embedded package, all at once, wait for them to come back and restore "
        "their user parameters. Every SERIAL (serial number or device id) is matched before anything is written; "
        "with --all every attached camera gets a row. Cameras that already report the package's version are "
        "skipped unless --reinstall is given. A camera whose user parameters cannot be saved is not upgraded (row "
        "\"User parameters not saved\") unless --allow-parameter-loss is given. The table and JSON give each "
        "camera's outcome and result (STATUS: \"Success\" only when it came back with the release's version and "
        "got its parameters back), whether it came back (BACK), was verified (VERIFIED), its burn time (SECONDS), "
        "the seconds until it was back (TOTAL) and its parameters (see RUN REPORT in the manual page). Exit status: "
        "0 when every camera asked for was upgraded (with --dry-run: passed every check), 1 when any was not, 2 "
        "when a SERIAL matched no eligible camera or every camera selected is up to date.");
    auto options = std::make_shared<UpgradeOptions>();
    auto* all = upgrade->add_flag("--all", options->all, "Every eligible camera");
    auto* serials = upgrade->add_option("serials", options->serials, "Serial numbers or device ids of the cameras");
    all->excludes(serials);
    upgrade->add_flag("--dry-run", options->dryRun,
                      "Run every check that needs no writing (open, identity, flash vendor, version rule, burn plan) "
                      "and report what a run would do; no upgrade mode, no flash, no parameter pass");
    upgrade->add_flag("--reinstall", options->reinstall,
                      "Also upgrade cameras that already report the package's version");
    upgrade->add_flag("--json", options->json, "Print the results as JSON");
    upgrade
        ->add_option("--progress", options->progress,
                     "What standard error shows while the run goes on: live (a line per camera with phase, "
                     "percentage, bytes and rate, redrawn in place, then the restart countdown), lines (a plain line "
                     "per phase change), jsonl (one JSON object per event: serial, phase of writing, restarting, "
                     "back, not-back, restoring or done, percent, bytes, total, elapsed), none; auto (the default) "
                     "is live on a terminal, lines otherwise, none with --json")
        ->check(CLI::IsMember({"auto", "live", "lines", "jsonl", "none"}))
        ->type_name("STYLE");
    upgrade->add_flag("--allow-parameter-loss", options->allowParameterLoss,
                      "Also upgrade cameras whose user parameters could not be saved (they are reset to factory "
                      "values)");
    upgrade
        ->add_option("--reboot-timeout", options->rebootTimeoutSeconds,
                     "Seconds after the last camera's writing to wait at most for the upgraded cameras to come "
                     "back (default 21); the wait ends as soon as every one is back")
        ->check(CLI::Validator(
            [](std::string& text) {
                std::string reason;
                return ParseSeconds(text, kRebootTimeoutBounds, reason) ? std::string() : reason;
            },
            "SECONDS"))
        ->type_name("SECONDS");
    upgrade->callback([options] { UpgradeCameras(*options); });
}
