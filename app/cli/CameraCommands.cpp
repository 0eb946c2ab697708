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
#include "run/History.h"
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
            if (failure.step == StartFailure::EStep::kTemporaryFolder)
                Fail(ExitStatus::kFailure, "the temporary folder " + Narrow(package::GetTempDirectoryPath()) +
                                               " cannot be used: " + Narrow(failure.text));
            Fail(ExitStatus::kFailure, Narrow(failure.text));
        }
        m_rows.Fill(m_session.GetCameras(), m_session.GetModels());
        StopIfRequested();
    }
    // Before a run, as "Update Devices" does: the producer let go, the
    // parameter export pass, then the producer and the cameras again.
    void RefreshForUpgrade() {
        // The producer's release takes every camera record with it.
        m_rows.Release();
        std::wstring error;
        if (!m_session.Refresh(error)) Fail(ExitStatus::kFailure, Narrow(error));
        m_rows.Fill(m_session.GetCameras(), m_session.GetModels());
        StopIfRequested();
    }
    EParameterBackup BackupOf(CU3VDevice& camera) const { return m_session.BackupOf(camera); }

    std::vector<CU3VDevice*> Cameras() const { return m_session.GetCameras(); }
    const std::vector<std::wstring>& Models() const { return m_session.GetModels(); }
    // Opened and of a package model; an unsupported model gets its status 28,
    // as the dialog's row does.
    bool IsEligible(CU3VDevice& camera) const { return CCameraRows::IsEligible(camera, Models()); }

    // A row per camera of the last enumeration, as the dialog's list has them.
    CCameraRows& Rows() { return m_rows; }
    CCameraSession& Session() { return m_session; }
    CAPIDeviceManager& Parameters() { return m_parameters; }

private:
    CDeviceManager* m_devices;
    CAPIDeviceManager m_parameters;
    CCameraSession m_session;
    CCameraRows m_rows;
};

// The serial number, or the device id when the serial cannot be read (a
// camera that did not open, or whose register read failed).
std::string DisplayName(const CU3VDevice& camera) {
    const std::string serial = FieldText(camera.GetDeviceInfo().serialNumber);
    if (camera.IsOpened() && !serial.empty() && serial != Narrow(CameraText::kInvalid))
        return Clean(camera.GetDeviceInfo().serialNumber);
    return Narrow(platform::AnsiToWide(camera.GetDeviceID()));
}

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
            failures.emplace_back(DisplayName(*camera), Narrow(camera->GetErrorText()));
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
            rows.push_back({Clean(info.modelName), DisplayName(*camera), Clean(info.guid), Clean(info.deviceVersion),
                            Clean(info.firmwareVersion), Clean(info.factoryVersion), Clean(info.xmlVersion), target,
                            CameraStateName(state), status});
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
    // How long to wait at most for the upgraded cameras to come back.
    double rebootTimeoutSeconds = std::chrono::duration<double>(RunTiming{}.rebootTimeout).count();
    bool dryRun = false;
    bool reinstall = false;
    // What is shown on standard error while the run goes on.
    std::string progress = "auto";
};

// One row of the upgrade table and JSON, for a camera that ran, was checked
// (dry run), was skipped as up to date or was held back because its user
// parameters could not be saved.
struct UpgradeRow {
    HistoryCamera camera;
    std::string targetVersion;
    bool skipped = false;
    bool heldBack = false;
    // Seconds from the start of the writing until the camera was found again;
    // unset when it was not.
    std::optional<double> totalSeconds{};
};

constexpr const char* kParametersNotSaved = "User parameters not saved";

// The PARAMETERS cell of a camera that took part in the run.
std::string ParameterText(const UpgradeRow& row) {
    const HistoryCamera& camera = row.camera;
    if (!camera.parametersSaved) return "no backup: the SDK does not list the camera";
    if (!*camera.parametersSaved) return row.heldBack ? "not saved" : "not saved: reset to factory values";
    if (!camera.parametersRestored) return "saved, not restored";
    return *camera.parametersRestored ? "restored" : "NOT restored";
}

nlohmann::json Optional(const std::optional<bool>& value) { return value ? nlohmann::json(*value) : nlohmann::json(); }

std::string DeviceIdOf(const CU3VDevice& camera) { return Narrow(platform::AnsiToWide(camera.GetDeviceID())); }

HistoryCamera DescribeCamera(const CU3VDevice& camera) {
    const DeviceInfo info = camera.GetDeviceInfo();
    HistoryCamera entry;
    entry.serial = DisplayName(camera);
    entry.model = Clean(info.modelName);
    entry.deviceId = DeviceIdOf(camera);
    entry.versionBefore = Clean(info.firmwareVersion);
    return entry;
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

void PrintUpgradeRows(const std::vector<UpgradeRow>& rows, bool asJson, bool dryRun) {
    nlohmann::json results = nlohmann::json::array();
    std::vector<std::vector<std::string>> table = {
        {"SN", "STATUS", "SECONDS", "BACK", "FIRMWARE", "VERIFIED", "TOTAL", "PARAMETERS"}};
    std::vector<std::pair<std::string, std::string>> failures;
    for (const UpgradeRow& row : rows) {
        const HistoryCamera& camera = row.camera;
        const bool ran = !row.skipped && !row.heldBack && !dryRun;
        const bool touched = ran || row.heldBack;  // its parameters went through the passes
        if (camera.statusCode != StatusCode::kSuccess && camera.statusCode != StatusCode::kNone)
            failures.emplace_back(camera.serial, camera.failureText);
        if (asJson) {
            results.push_back(
                {{"device_id", camera.deviceId},
                 {"serial", camera.serial},
                 {"model", camera.model},
                 {"status_code", row.heldBack ? nlohmann::json() : nlohmann::json(camera.statusCode)},
                 {"status", camera.status},
                 {"seconds", std::round(camera.burnSeconds * 1000.0) / 1000.0},
                 {"returned", camera.back},
                 {"back", ran ? nlohmann::json(camera.back) : nlohmann::json()},
                 {"verified", ran ? Optional(camera.verified) : nlohmann::json()},
                 {"total_seconds", row.totalSeconds ? nlohmann::json(std::round(*row.totalSeconds * 1000.0) / 1000.0)
                                                    : nlohmann::json()},
                 {"firmware_version", camera.versionAfter},
                 {"version_before", camera.versionBefore},
                 {"target_version", row.targetVersion},
                 {"skipped", row.skipped},
                 {"dry_run", dryRun},
                 {"parameters_saved", touched ? Optional(camera.parametersSaved) : nlohmann::json()},
                 {"parameters_restored", ran ? Optional(camera.parametersRestored) : nlohmann::json()}});
        } else {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", camera.burnSeconds);
            char total[32] = "-";
            if (row.totalSeconds) std::snprintf(total, sizeof total, "%.1f", *row.totalSeconds);
            const std::string verified = !ran || !camera.verified ? "-" : *camera.verified ? "yes" : "NO";
            table.push_back({camera.serial, camera.status, ran ? seconds : "-",
                             ran ? (camera.back ? "yes" : "no") : "-", ran ? camera.versionAfter : camera.versionBefore,
                             verified, ran ? total : "-", touched ? ParameterText(row) : "-"});
        }
    }
    if (asJson)
        std::cout << results.dump(2) << '\n';
    else
        PrintTable(table);
    PrintFailureTexts(failures);
}

// The checks of a run that need no writing, on every camera: no upgrade
// mode, no flash, no parameter pass.
int DryRun(CameraSession& session, const std::vector<CU3VDevice*>& cameras, std::vector<UpgradeRow> rows,
           const package::ReleaseInfo& release, bool asJson) {
    CRunPackageConfig config;
    switch (config.Result()) {
        case package::ERunConfigResult::kResourceMissing:
            Fail(ExitStatus::kFailure, Narrow(AppText::kParseResourceFailed));
        case package::ERunConfigResult::kWriteFailed:
            Fail(ExitStatus::kFailure, Narrow(AppText::kCreateTempFileFailed));
        case package::ERunConfigResult::kWritten: break;
    }
    bool allPass = true;
    CBurnPlanSet plans;  // one plan per model, as a run builds them
    for (CU3VDevice* camera : cameras) {
        UpgradeRow row{DescribeCamera(*camera), TargetVersion(*camera, session.Models(), release), false};
        // Up to date cameras reach here only with --reinstall: check them as any other.
        if (camera->CheckWithoutWriting(true, &plans)) {
            row.camera.status = "Ready to upgrade";
        } else {
            allPass = false;
            std::wstring text;
            camera->GetStatus(row.camera.statusCode, text);
            row.camera.status = Narrow(text);
            row.camera.failureText = Narrow(camera->GetErrorText());
        }
        rows.push_back(std::move(row));
    }
    PrintUpgradeRows(rows, asJson, true);
    return allPass ? ExitStatus::kSuccess : ExitStatus::kFailure;
}

void UpgradeCameras(const UpgradeOptions& options) {
    if (!options.all && options.serials.empty()) throw CLI::RequiredError("--all or at least one SERIAL");

    // Which cameras, before anything is exported or written.
    CameraSession session("upgrade");
    RunTiming timing = session.Session().GetRunTiming();
    timing.rebootTimeout = std::chrono::milliseconds(std::llround(options.rebootTimeoutSeconds * 1000.0));
    session.Session().SetRunTiming(timing);
    session.OpenForListing();
    const package::ReleaseInfo release = LoadRelease();
    std::vector<std::string> problems;
    std::vector<CU3VDevice*> selected = SelectCameras(session, options, problems);
    if (!problems.empty()) {
        for (const std::string& problem : problems) std::cerr << "flashwright-cli: " << EscapeControls(problem) << '\n';
        Fail(ExitStatus::kNothingToDo, "nothing was written: every camera named must be attached and eligible");
    }
    if (selected.empty()) Fail(ExitStatus::kNothingToDo, "no eligible camera is attached");

    // Cameras already on the release version are left alone unless asked.
    std::vector<UpgradeRow> rows;
    std::vector<CU3VDevice*> toUpgrade;
    for (CU3VDevice* camera : selected) {
        const std::string target = TargetVersion(*camera, session.Models(), release);
        const bool upToDate = !target.empty() && FieldText(camera->GetDeviceInfo().firmwareVersion) == target;
        if (upToDate && !options.reinstall) {
            UpgradeRow row{DescribeCamera(*camera), target, true};
            row.camera.status = "Up to date";
            rows.push_back(std::move(row));
        } else {
            toUpgrade.push_back(camera);
        }
    }
    if (toUpgrade.empty()) {
        PrintUpgradeRows(rows, options.json, options.dryRun);
        Fail(ExitStatus::kNothingToDo, "every selected camera is up to date; --reinstall upgrades them again");
    }
    if (options.dryRun) {
        const int status = DryRun(session, toUpgrade, std::move(rows), release, options.json);
        if (status != ExitStatus::kSuccess) throw CLI::RuntimeError(status);
        return;
    }

    // The run proper starts as the dialog does: parameter export pass, then the
    // producer and the cameras again.
    std::vector<std::string> wanted;
    for (CU3VDevice* camera : toUpgrade) wanted.push_back(camera->GetDeviceID());
    session.RefreshForUpgrade();
    std::vector<CU3VDevice*> cameras;
    for (const std::string& deviceId : wanted) {
        const int row = session.Rows().FindDeviceId(deviceId);
        if (!session.Rows().IsEligible(row))
            problems.push_back(deviceId + ": the camera went away before the upgrade began");
        cameras.push_back(session.Rows().CameraAt(row));
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems) std::cerr << "flashwright-cli: " << EscapeControls(problem) << '\n';
        Fail(ExitStatus::kNothingToDo, "nothing was written");
    }

    // A camera whose parameters could not be saved is not flashed unless the
    // user accepts losing them: its row says so and the exit status is 1.
    std::vector<CU3VDevice*> toRun;
    std::vector<UpgradeRow> heldBack;
    for (CU3VDevice* camera : cameras) {
        if (session.BackupOf(*camera) != EParameterBackup::kNotSaved || options.allowParameterLoss) {
            toRun.push_back(camera);
            continue;
        }
        UpgradeRow row{DescribeCamera(*camera), TargetVersion(*camera, session.Models(), release)};
        row.heldBack = true;
        row.camera.status = kParametersNotSaved;
        row.camera.parametersSaved = false;
        const CameraParameters* record =
            session.Parameters().FindBySerial(FieldText(camera->GetDeviceInfo().serialNumber));
        std::cerr << "flashwright-cli: " << EscapeControls(row.camera.serial)
                  << ": the user parameters could not be saved ("
                  << (record && record->exported ? Narrow(record->exported->Describe()) : std::string("unknown"))
                  << "); not upgraded (--allow-parameter-loss upgrades it anyway, resetting them to factory values)\n";
        heldBack.push_back(std::move(row));
    }

    bool allSucceeded = heldBack.empty();
    if (!toRun.empty()) {
        StopIfRequested();
        std::vector<std::string> names;
        for (CU3VDevice* camera : toRun) names.push_back(DisplayName(*camera));
        EProgressStyle style = EProgressStyle::kAuto;
        ParseProgressStyle(options.progress, style);
        // --json alone keeps standard error for messages, as before.
        if (options.json && options.progress == "auto") style = EProgressStyle::kNone;
        CCliRunProgress progress(toRun, std::move(names), style);
        const auto runStart = std::chrono::steady_clock::now();
        CHistoryRecorder recorder("cli", toRun, session.Models(), progress, &session.Parameters());
        CUpgradeRun::EResult outcome;
        std::vector<std::optional<double>> totals;
        {
            // From the first worker to the restored parameters, as the dialog's
            // close guard does.
            CRefuseStops refuseStops;
            CUpgradeRun run(session.Session());
            progress.SetRun(&run);
            std::vector<std::string> runIds;
            for (CU3VDevice* camera : toRun) runIds.push_back(camera->GetDeviceID());
            outcome = run.Run(toRun, recorder);
            progress.SetRun(nullptr);
            for (const std::string& deviceId : runIds) {
                const auto after = run.GetBackAfter(deviceId);
                totals.push_back(after ? std::optional<double>(std::chrono::duration<double>(*after).count())
                                       : std::nullopt);
            }
        }
        switch (outcome) {
            case CUpgradeRun::EResult::kConfigMissing:
                Fail(ExitStatus::kFailure, Narrow(AppText::kParseResourceFailed));
            case CUpgradeRun::EResult::kConfigWriteFailed:
                Fail(ExitStatus::kFailure, Narrow(AppText::kCreateTempFileFailed));
            case CUpgradeRun::EResult::kCompleted: break;
        }
        progress.Finish(Narrow(
            DescribeRunSummary(SummarizeRun(recorder.Record()),
                               std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count())));
        std::wstring historyError;
        if (!recorder.Append(historyError))
            std::cerr << "flashwright-cli: the run was not added to the upgrade history: " << Narrow(historyError)
                      << '\n';
        allSucceeded = allSucceeded && !progress.ImportFailed();
        const std::vector<HistoryCamera>& results = recorder.Record().cameras;
        for (std::size_t i = 0; i < results.size(); ++i) {
            const HistoryCamera& camera = results[i];
            // A camera that came back with other firmware than the release's is not upgraded.
            allSucceeded = allSucceeded && camera.statusCode == StatusCode::kSuccess && camera.back &&
                           camera.verified != false && camera.parametersRestored != false;
            UpgradeRow row{camera, release.FirmwareVersionOf(camera.model), false};
            if (camera.back && i < totals.size()) row.totalSeconds = totals[i];
            rows.push_back(std::move(row));
        }
    }
    rows.insert(rows.end(), heldBack.begin(), heldBack.end());
    PrintUpgradeRows(rows, options.json, false);

    const std::vector<const CameraParameters*> unrestored = UnrestoredCameras(session.Parameters());
    for (const CameraParameters* camera : unrestored) {
        const std::string serial = EscapeControls(camera->serial);
        std::cerr << "flashwright-cli: the user parameters of " << serial << " were saved but not restored ("
                  << Narrow(camera->imported ? camera->imported->Describe() : std::wstring(L"not attempted")) << ")";
        if (camera->persistentCopy.empty())
            std::cerr << "; no persistent copy could be kept\n";
        else
            std::cerr << "; restore them with: flashwright-cli params restore " << serial << " --from "
                      << Narrow(camera->persistentCopy) << '\n';
    }
    if (!unrestored.empty()) allSucceeded = false;
    std::cout.flush();
    if (!allSucceeded) throw CLI::RuntimeError(ExitStatus::kFailure);
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
        "their user parameters. Every SERIAL (serial number or device id) is matched before anything is written. "
        "Cameras that already report the package's version are skipped unless --reinstall is given. The table and "
        "JSON say per camera whether it came back (BACK, back), whether it then reported the package's release "
        "version (VERIFIED, verified: true, false, or null when it did not come back, did not write or the release "
        "names no version), its burn time (SECONDS) and the seconds from the start of the writing until it was back "
        "(TOTAL, total_seconds). Exit status: 0 "
        "when every camera upgraded succeeded, came back and was verified (with --dry-run: passed every check), 1 "
        "otherwise, 2 "
        "when a SERIAL matched no eligible camera or every camera selected is up to date. A camera whose user "
        "parameters cannot be saved is not upgraded (row \"User parameters not saved\") unless "
        "--allow-parameter-loss is given.");
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
        ->check(CLI::Range(0.001, 86400.0))
        ->type_name("SECONDS");
    upgrade->callback([options] { UpgradeCameras(*options); });
}
