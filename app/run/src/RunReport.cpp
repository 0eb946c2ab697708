#include "run/RunReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "camera/GenTLTypes.h"
#include "camera/Result.h"
#include "camera/U3VDevice.h"
#include "package/BurnPlans.h"
#include "run/CameraRows.h"
#include "run/CameraSession.h"
#include "run/CameraState.h"
#include "run/RunRefresh.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

using nlohmann::json;

namespace {

const struct {
    ECameraOutcome outcome;
    const char* name;
} kOutcomeNames[] = {
    {ECameraOutcome::kPending, "pending"},
    {ECameraOutcome::kUpgraded, "upgraded"},
    {ECameraOutcome::kFailed, "failed"},
    {ECameraOutcome::kNotBack, "not-back"},
    {ECameraOutcome::kNotVerified, "not-verified"},
    {ECameraOutcome::kParametersNotRestored, "parameters-not-restored"},
    {ECameraOutcome::kHeldBack, "held-back"},
    {ECameraOutcome::kUpToDate, "up-to-date"},
    {ECameraOutcome::kNotSelected, "not-selected"},
    {ECameraOutcome::kUnsupported, "unsupported"},
    {ECameraOutcome::kNotOpened, "not-opened"},
    {ECameraOutcome::kInUse, "in-use"},
    {ECameraOutcome::kReady, "ready"},
    {ECameraOutcome::kIncompatible, "incompatible"},
};

template <std::size_t N>
std::string Clean(const char (&field)[N]) {
    return CleanCameraText(field, N);
}

bool IsPackageModel(const std::string& model, const std::vector<std::wstring>& models) {
    const std::wstring wide = platform::AnsiToWide(model);
    return std::find(models.begin(), models.end(), wide) != models.end();
}

json Optional(const std::optional<bool>& value) { return value ? json(*value) : json(nullptr); }

std::optional<bool> OptionalBool(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

std::optional<double> OptionalNumber(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

double Milliseconds(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

std::string Text(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void AddCount(std::wstring& text, int count, const wchar_t* what) {
    if (count == 0) return;
    text += L", " + std::to_wstring(count) + L" " + what;
}

}  // namespace

const char* OutcomeName(ECameraOutcome outcome) {
    for (const auto& entry : kOutcomeNames)
        if (entry.outcome == outcome) return entry.name;
    return "";
}

bool OutcomeFromName(const std::string& name, ECameraOutcome& outcome) {
    for (const auto& entry : kOutcomeNames) {
        if (name != entry.name) continue;
        outcome = entry.outcome;
        return true;
    }
    return false;
}

const char* RunStateName(ERunState state) {
    switch (state) {
        case ERunState::kRunning: return "running";
        case ERunState::kCompleted: return "completed";
        case ERunState::kInterrupted: return "interrupted";
    }
    return "";
}

std::string CleanCameraText(const char* field, std::size_t width) {
    return platform::WideToUtf8(platform::AnsiToWide(FieldText(field, width)));
}

std::string CameraDisplayName(const CU3VDevice& camera) {
    const std::string serial = FieldText(camera.GetDeviceInfo().serialNumber);
    if (camera.IsOpened() && !serial.empty() && serial != platform::WideToAnsi(CameraText::kInvalid))
        return Clean(camera.GetDeviceInfo().serialNumber);
    if (!camera.GetProducerSerial().empty())
        return platform::WideToUtf8(platform::AnsiToWide(camera.GetProducerSerial()));
    return platform::WideToUtf8(platform::AnsiToWide(camera.GetDeviceID()));
}

// ---- One camera --------------------------------------------------------------

ECameraOutcome DecideOutcome(const CameraReport& camera, bool dryRun) {
    // What was settled before the run (skipped, held back, not usable) stays.
    if (!camera.ran) return camera.outcome;
    if (!camera.statusCode || IsStillWriting(*camera.statusCode)) return ECameraOutcome::kPending;
    if (dryRun)
        return *camera.statusCode == StatusCode::kSuccess ? ECameraOutcome::kReady : ECameraOutcome::kIncompatible;
    if (*camera.statusCode != StatusCode::kSuccess) return ECameraOutcome::kFailed;
    if (camera.wroteFlash) {
        if (!camera.back) return ECameraOutcome::kPending;  // the wait is not over
        if (!*camera.back) return ECameraOutcome::kNotBack;
    }
    if (camera.verified == false) return ECameraOutcome::kNotVerified;
    if (camera.parametersSaved == true) {
        if (!camera.parametersRestored) return ECameraOutcome::kPending;  // the import pass is not over
        if (!*camera.parametersRestored) return ECameraOutcome::kParametersNotRestored;
    }
    return ECameraOutcome::kUpgraded;
}

std::string CameraReport::ResultText() const {
    switch (outcome) {
        case ECameraOutcome::kPending: return "Interrupted";
        case ECameraOutcome::kUpgraded:
            return parametersSaved == false ? "Success, user parameters reset to factory values" : "Success";
        case ECameraOutcome::kFailed:
        case ECameraOutcome::kIncompatible: return status;
        case ECameraOutcome::kNotBack: return "Not back";
        case ECameraOutcome::kNotVerified: return "Not verified";
        case ECameraOutcome::kParametersNotRestored: return "User parameters not restored";
        case ECameraOutcome::kHeldBack: return "User parameters not saved";
        case ECameraOutcome::kUpToDate: return "Up to date";
        case ECameraOutcome::kNotSelected: return "Not selected";
        case ECameraOutcome::kUnsupported: return "Unsupported model";
        case ECameraOutcome::kNotOpened: return "Not opened: " + status;
        case ECameraOutcome::kInUse: return "In use by another process";
        case ECameraOutcome::kReady: return "Ready to upgrade";
    }
    return status;
}

std::string CameraReport::FirmwareVersion() const {
    if (!versionAfter.empty()) return versionAfter;
    // A camera that rebooted and was not seen again reports what nobody knows.
    return wroteFlash ? std::string() : versionBefore;
}

bool CameraReport::CountsAsFailure() const {
    if (!selected) return false;
    switch (outcome) {
        case ECameraOutcome::kUpgraded:
        case ECameraOutcome::kUpToDate:
        case ECameraOutcome::kReady:
        case ECameraOutcome::kNotSelected:
        case ECameraOutcome::kUnsupported: return false;
        default: return true;
    }
}

// ---- The run ---------------------------------------------------------------------

void RunReport::Decide() {
    for (CameraReport& camera : cameras) camera.outcome = DecideOutcome(camera, dryRun);
}

RunSummary RunReport::Summary() const {
    RunSummary summary;
    for (const CameraReport& camera : cameras) {
        if (!camera.selected) continue;
        ++summary.cameras;
        switch (camera.outcome) {
            case ECameraOutcome::kUpgraded: ++summary.upgraded; break;
            case ECameraOutcome::kFailed: ++summary.failed; break;
            case ECameraOutcome::kNotBack: ++summary.notBack; break;
            case ECameraOutcome::kNotVerified: ++summary.notVerified; break;
            case ECameraOutcome::kParametersNotRestored: ++summary.parametersNotRestored; break;
            case ECameraOutcome::kHeldBack: ++summary.heldBack; break;
            case ECameraOutcome::kUpToDate: ++summary.upToDate; break;
            case ECameraOutcome::kNotOpened:
            case ECameraOutcome::kInUse: ++summary.notOpened; break;
            case ECameraOutcome::kReady: ++summary.ready; break;
            case ECameraOutcome::kIncompatible: ++summary.incompatible; break;
            case ECameraOutcome::kPending: ++summary.interrupted; break;
            case ECameraOutcome::kNotSelected:
            case ECameraOutcome::kUnsupported: break;
        }
    }
    return summary;
}

int RunReport::ExitStatus() const {
    bool anything = false;
    for (const CameraReport& camera : cameras) {
        if (!camera.selected || camera.outcome == ECameraOutcome::kUpToDate) continue;
        anything = true;
        if (camera.CountsAsFailure()) return 1;
    }
    return anything ? 0 : 2;
}

CameraReport* RunReport::Find(const std::string& deviceId) {
    for (CameraReport& camera : cameras)
        if (camera.deviceId == deviceId) return &camera;
    return nullptr;
}

const CameraReport* RunReport::Find(const std::string& deviceId) const {
    return const_cast<RunReport*>(this)->Find(deviceId);
}

double RunReport::SecondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startClock).count();
}

std::wstring DescribeRunSummary(const RunReport& report) {
    const RunSummary summary = report.Summary();
    const wchar_t* plural = summary.cameras == 1 ? L"" : L"s";
    std::wstring text;
    if (report.dryRun) {
        text = L"Checked " + std::to_wstring(summary.cameras) + L" camera" + plural + L": " +
               std::to_wstring(summary.ready) + L" ready";
        AddCount(text, summary.incompatible, L"incompatible");
    } else {
        wchar_t head[96];
        std::swprintf(head, sizeof head / sizeof head[0], L"Finished in %.1f s: ", report.totalSeconds.value_or(0));
        text = head + std::to_wstring(summary.upgraded) + L" of " + std::to_wstring(summary.cameras) + L" camera" +
               plural + L" upgraded, " + std::to_wstring(summary.failed) + L" failed";
        AddCount(text, summary.heldBack, L"held back");
        AddCount(text, summary.notBack, L"not back");
        AddCount(text, summary.notVerified, L"not verified");
        AddCount(text, summary.parametersNotRestored, L"parameters not restored");
        AddCount(text, summary.interrupted, L"not finished");
    }
    AddCount(text, summary.notOpened, L"not opened");
    AddCount(text, summary.upToDate, L"up to date");
    return text;
}

// ---- Before the run ----------------------------------------------------------------

RunReport BeginRunReport(const std::string& frontEnd, const std::vector<CU3VDevice*>& cameras,
                         const std::vector<CU3VDevice*>& selected, const std::vector<std::wstring>& models,
                         const package::ReleaseInfo& release, const RunRequest& request) {
    RunReport report;
    report.frontEnd = frontEnd;
    report.dryRun = request.dryRun;
    report.processId = platform::CurrentProcessId();
    report.startClock = std::chrono::steady_clock::now();
    const auto isSelected = [&](CU3VDevice* camera) {
        return std::find(selected.begin(), selected.end(), camera) != selected.end();
    };
    // The selected cameras first, in the order they were asked for, then the others.
    std::vector<CU3VDevice*> order(selected.begin(), selected.end());
    for (CU3VDevice* camera : cameras)
        if (!isSelected(camera)) order.push_back(camera);
    for (CU3VDevice* camera : order) {
        const DeviceInfo info = camera->GetDeviceInfo();
        CameraReport entry;
        entry.name = CameraDisplayName(*camera);
        entry.model = Clean(info.modelName);
        entry.deviceId = platform::WideToUtf8(platform::AnsiToWide(camera->GetDeviceID()));
        entry.versionBefore = camera->IsOpened() ? Clean(info.firmwareVersion) : std::string();
        entry.targetVersion = IsPackageModel(FieldText(info.modelName), models)
                                  ? release.FirmwareVersionOf(FieldText(info.modelName))
                                  : std::string();
        entry.selected = isSelected(camera);
        const bool upToDate = !entry.targetVersion.empty() && entry.versionBefore == entry.targetVersion;
        const auto takeStatus = [&] {
            std::int32_t code = StatusCode::kNone;
            std::wstring text;
            camera->GetStatus(code, text);
            entry.statusCode = code;
            entry.status = platform::WideToUtf8(text);
            entry.failureText = platform::WideToUtf8(camera->GetErrorText());
        };
        if (entry.selected) {
            entry.outcome = upToDate && !request.reinstall ? ECameraOutcome::kUpToDate : ECameraOutcome::kPending;
        } else if (!camera->IsOpened()) {
            // Asked for all cameras, one of a package model (or of a model nobody
            // could read) that cannot be used is within the request and fails it.
            const bool mayBeOurs = IsPackageModel(FieldText(info.modelName), models) ||
                                   FieldText(info.modelName) == platform::WideToAnsi(CameraText::kInvalid);
            entry.selected = request.all && mayBeOurs;
            entry.outcome = camera->GetOpenResult() == gentl::GC_ERR_RESOURCE_IN_USE ? ECameraOutcome::kInUse
                                                                                     : ECameraOutcome::kNotOpened;
            takeStatus();
        } else if (!IsPackageModel(FieldText(info.modelName), models)) {
            entry.outcome = ECameraOutcome::kUnsupported;
            CCameraRows::IsEligible(*camera, models);  // gives the camera its "not supported" status
            takeStatus();
        } else if (request.all && upToDate && !request.reinstall) {
            entry.selected = true;
            entry.outcome = ECameraOutcome::kUpToDate;
        } else {
            entry.outcome = ECameraOutcome::kNotSelected;
        }
        if (entry.outcome == ECameraOutcome::kNotOpened)
            entry.reason = "the camera could not be opened (" + entry.status + ")";
        if (entry.outcome == ECameraOutcome::kInUse) entry.reason = "the camera is in use by another process";
        if (entry.outcome == ECameraOutcome::kUnsupported)
            entry.reason = "the package does not serve the model " + entry.model;
        if (entry.outcome == ECameraOutcome::kUpToDate)
            entry.reason = "the camera already reports the package's version";
        report.cameras.push_back(std::move(entry));
    }
    return report;
}

std::vector<CU3VDevice*> PendingCameras(const RunReport& report, const std::vector<CU3VDevice*>& cameras) {
    std::vector<CU3VDevice*> pending;
    for (const CameraReport& entry : report.cameras) {
        if (!entry.selected || entry.outcome != ECameraOutcome::kPending || entry.ran) continue;
        for (CU3VDevice* camera : cameras)
            if (platform::WideToUtf8(platform::AnsiToWide(camera->GetDeviceID())) == entry.deviceId)
                pending.push_back(camera);
    }
    return pending;
}

std::vector<CU3VDevice*> NoteParameterBackups(RunReport& report, const CCameraSession& session,
                                              const std::vector<CU3VDevice*>& cameras) {
    std::vector<CU3VDevice*> withoutBackup;
    for (CU3VDevice* camera : cameras) {
        CameraReport* entry = report.Find(platform::WideToUtf8(platform::AnsiToWide(camera->GetDeviceID())));
        const EParameterBackup backup = session.BackupOf(*camera);
        const CameraParameters* saved =
            session.Parameters().FindBySerial(FieldText(camera->GetDeviceInfo().serialNumber));
        if (backup == EParameterBackup::kNotSaved) withoutBackup.push_back(camera);
        if (entry == nullptr) continue;
        entry->parametersSaved = backup == EParameterBackup::kNotListed
                                     ? std::nullopt
                                     : std::optional<bool>(backup == EParameterBackup::kSaved);
        if (saved != nullptr && saved->exported && !saved->exported->succeeded)
            entry->parametersText = platform::WideToUtf8(saved->exported->Describe());
        if (saved != nullptr) entry->parameterCopy = platform::WideToUtf8(saved->persistentCopy);
    }
    return withoutBackup;
}

std::vector<CU3VDevice*> ApplyParameterConsent(RunReport& report, const std::vector<CU3VDevice*>& cameras,
                                               const std::vector<CU3VDevice*>& withoutBackup, bool lossAccepted) {
    std::vector<CU3VDevice*> toRun;
    for (CU3VDevice* camera : cameras) {
        const bool unsaved = std::find(withoutBackup.begin(), withoutBackup.end(), camera) != withoutBackup.end();
        CameraReport* entry = report.Find(platform::WideToUtf8(platform::AnsiToWide(camera->GetDeviceID())));
        if (unsaved && !lossAccepted) {
            if (entry != nullptr) {
                entry->outcome = ECameraOutcome::kHeldBack;
                entry->reason = "its user parameters could not be saved (" +
                                (entry->parametersText.empty() ? std::string("unknown") : entry->parametersText) + ")";
            }
            continue;
        }
        if (unsaved && entry != nullptr) entry->parameterLossAccepted = true;
        toRun.push_back(camera);
    }
    return toRun;
}

void CheckWithoutWriting(RunReport& report, const std::vector<CU3VDevice*>& cameras) {
    CBurnPlanSet plans;  // one plan per model, as a run builds them
    for (CU3VDevice* camera : cameras) {
        CameraReport* entry = report.Find(platform::WideToUtf8(platform::AnsiToWide(camera->GetDeviceID())));
        if (entry == nullptr) continue;
        entry->ran = true;
        if (camera->CheckWithoutWriting(true, &plans)) {
            entry->statusCode = StatusCode::kSuccess;
            entry->status = "Ready to upgrade";
        } else {
            std::int32_t code = StatusCode::kNone;
            std::wstring text;
            camera->GetStatus(code, text);
            entry->statusCode = code;
            entry->status = platform::WideToUtf8(text);
            entry->failureText = platform::WideToUtf8(camera->GetErrorText());
        }
    }
    report.Decide();
}

// ---- JSON ----------------------------------------------------------------------------

json CameraReportToJson(const CameraReport& camera, bool dryRun) {
    return json{
        {"device_id", camera.deviceId},
        {"serial", camera.name},
        {"model", camera.model},
        {"selected", camera.selected},
        {"outcome", OutcomeName(camera.outcome)},
        {"result", camera.ResultText()},
        {"reason", camera.reason},
        {"status_code", camera.statusCode ? json(*camera.statusCode) : json(nullptr)},
        {"status", camera.statusCode ? camera.status : camera.ResultText()},
        {"ran", camera.ran},
        {"wrote_flash", camera.wroteFlash},
        {"seconds", Milliseconds(camera.seconds)},
        {"back", Optional(camera.back)},
        {"verified", Optional(camera.verified)},
        {"total_seconds", camera.totalSeconds ? json(Milliseconds(*camera.totalSeconds)) : json(nullptr)},
        {"firmware_version", camera.FirmwareVersion()},
        {"version_before", camera.versionBefore},
        {"target_version", camera.targetVersion},
        {"skipped", camera.outcome == ECameraOutcome::kUpToDate},
        {"dry_run", dryRun},
        {"parameters_saved", Optional(camera.parametersSaved)},
        {"parameters_restored", Optional(camera.parametersRestored)},
        {"parameter_loss_accepted", camera.parameterLossAccepted},
        {"parameters_text", camera.parametersText},
        {"parameter_copy", camera.parameterCopy},
        {"failure_text", camera.failureText},
    };
}

bool CameraReportFromJson(const json& object, CameraReport& camera) {
    if (!object.is_object() || !object.contains("serial") || !object["serial"].is_string()) return false;
    CameraReport parsed;
    parsed.name = Text(object, "serial");
    parsed.model = Text(object, "model");
    parsed.deviceId = Text(object, "device_id");
    parsed.versionBefore = Text(object, "version_before");
    parsed.targetVersion = Text(object, "target_version");
    parsed.selected = object.value("selected", true);
    parsed.reason = Text(object, "reason");
    const auto code = object.find("status_code");
    if (code != object.end() && code->is_number_integer()) parsed.statusCode = code->get<std::int32_t>();
    parsed.status = Text(object, "status");
    parsed.failureText = Text(object, "failure_text");
    parsed.seconds = OptionalNumber(object, "seconds").value_or(0);
    parsed.totalSeconds = OptionalNumber(object, "total_seconds");
    parsed.verified = OptionalBool(object, "verified");
    parsed.parametersSaved = OptionalBool(object, "parameters_saved");
    parsed.parametersRestored = OptionalBool(object, "parameters_restored");
    parsed.parameterLossAccepted = object.value("parameter_loss_accepted", false);
    parsed.parametersText = Text(object, "parameters_text");
    parsed.parameterCopy = Text(object, "parameter_copy");
    if (object.contains("outcome")) {
        // Written by this schema: the facts as recorded.
        if (!OutcomeFromName(Text(object, "outcome"), parsed.outcome)) return false;
        parsed.ran = object.value("ran", false);
        parsed.wroteFlash = object.value("wrote_flash", false);
        parsed.back = OptionalBool(object, "back");
        // The version found again; a camera that did not write reports the one it had.
        const std::string firmware = Text(object, "firmware_version");
        if (parsed.wroteFlash || firmware != parsed.versionBefore) parsed.versionAfter = firmware;
    } else {
        // The first history lines: every camera ran; one that succeeded wrote
        // flash, and "back" was said of every camera.
        parsed.ran = true;
        parsed.seconds = OptionalNumber(object, "burn_seconds").value_or(0);
        parsed.versionAfter = Text(object, "version_after");
        parsed.wroteFlash = parsed.statusCode == StatusCode::kSuccess;
        if (parsed.wroteFlash) parsed.back = object.value("back", false);
        parsed.outcome = DecideOutcome(parsed, false);
    }
    camera = std::move(parsed);
    return true;
}
