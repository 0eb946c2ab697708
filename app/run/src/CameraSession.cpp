#include "run/CameraSession.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "run/AppText.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

std::optional<double> ParseSeconds(const std::string& text, const SecondsBounds& bounds, std::string& reason) {
    // Digits, a point and an exponent only: no blanks, hexadecimal, "inf" or "nan".
    const bool plain = !text.empty() && text.find_first_not_of("0123456789.eE+-") == std::string::npos;
    char* end = nullptr;
    const double seconds = plain ? std::strtod(text.c_str(), &end) : 0.0;
    if (!plain || end != text.c_str() + text.size() || !std::isfinite(seconds)) {
        reason = "\"" + text + "\" is not a number of seconds";
        return std::nullopt;
    }
    const bool aboveLeast = bounds.leastIncluded ? seconds >= bounds.least : seconds > bounds.least;
    if (!aboveLeast || seconds > bounds.most) {
        char range[96];
        std::snprintf(range, sizeof range, "%s %g and at most %g seconds",
                      bounds.leastIncluded ? "at least" : "more than", bounds.least, bounds.most);
        reason = text + " is out of range: it must be " + range;
        return std::nullopt;
    }
    return seconds;
}

namespace {

// The variable's seconds within the bounds; false with a text naming it when
// it is set but cannot be used.
bool SecondsFromEnvironment(const wchar_t* name, const SecondsBounds& bounds, std::chrono::milliseconds& value,
                            std::wstring& error) {
    const auto text = platform::GetEnvironmentVariable(name);
    if (!text) return true;
    std::string reason;
    const auto seconds = ParseSeconds(platform::WideToUtf8(*text), bounds, reason);
    if (!seconds) {
        error = std::wstring(name) + L": " + platform::Utf8ToWide(reason);
        return false;
    }
    value = std::chrono::milliseconds(std::llround(*seconds * 1000.0));
    return true;
}

}  // namespace

bool RunTimingFromEnvironment(RunTiming& timing, std::wstring& error) {
    timing = RunTiming{};
    return SecondsFromEnvironment(L"FLASHWRIGHT_REBOOT_ALLOWANCE", kRebootAllowanceBounds, timing.rebootAllowance,
                                  error) &&
           SecondsFromEnvironment(L"FLASHWRIGHT_REBOOT_TIMEOUT", kRebootTimeoutBounds, timing.rebootTimeout, error);
}

void MirrorRuntimeVariables() {
    static const struct {
        const wchar_t* from;
        const wchar_t* to;
    } kMirroredVariables[] = {
        {L"ZORVAN_GENICAM_ROOT", L"GENICAM_ROOT_V2_3"},
        {L"ZORVAN_GENICAM_LOG_CONFIG", L"GENICAM_LOG_CONFIG_V2_3"},
        {L"ZORVAN_GENICAM_CACHE", L"GENICAM_CACHE_V2_3"},
    };
    for (const auto& pair : kMirroredVariables) {
        if (const auto value = platform::GetEnvironmentVariable(pair.from))
            platform::SetEnvironmentVariable(pair.to, *value);
    }
}

CCameraSession::CCameraSession(CDeviceManager& devices, CAPIDeviceManager& parameters)
    : m_devices(devices), m_parameters(parameters) {
    if (!RunTimingFromEnvironment(m_runTiming, m_environmentError)) m_runTiming = RunTiming{};
}

bool CCameraSession::RunExportPass(std::wstring& errorText, std::optional<ParameterScope> scope) {
    if (ExportUserParams(m_parameters, std::move(scope))) return true;
    errorText = m_parameters.GetErrorText();
    return false;
}

bool CCameraSession::LoadProducer(std::wstring& errorText) {
    if (m_devices.InitEnvironment(AppText::kProducerFileName)) return true;
    errorText = m_devices.GetErrorText();
    return false;
}

bool CCameraSession::LoadModelList(std::wstring& errorText) {
    if (LoadPackageConfig(m_devices.ModelList())) {
        m_models = m_devices.GetModelList();
        return true;
    }
    errorText = AppText::kParseResourceFailed;
    return false;
}

void CCameraSession::Enumerate() { m_devices.UpdateDeviceList(); }

void CCameraSession::ReleaseProducer() {
    if (m_devices.IsProducerLoaded()) m_devices.ReleaseEnvironment();
}

bool CCameraSession::Start(EStartScope scope, const std::function<void()>& frontEndStep, StartFailure& failure) {
    using EStep = StartFailure::EStep;
    failure = StartFailure{};
    const auto fail = [&failure](EStep step) {
        failure.step = step;
        return false;
    };
    if (!m_environmentError.empty()) {
        failure.text = m_environmentError;
        return fail(EStep::kEnvironment);
    }
    MirrorRuntimeVariables();
    if (!package::CheckTempDirectory(failure.text)) return fail(EStep::kTemporaryFolder);
    if (frontEndStep) frontEndStep();
    if (scope == EStartScope::kUpgrade && !RunExportPass(failure.text)) return fail(EStep::kExportPass);
    if (!LoadProducer(failure.text)) return fail(EStep::kProducer);
    if (!LoadModelList(failure.text)) return fail(EStep::kModelList);
    Enumerate();
    return true;
}

bool CCameraSession::Refresh(std::wstring& errorText, std::optional<ParameterScope> scope) {
    ReleaseProducer();
    if (!RunExportPass(errorText, std::move(scope)) || !LoadProducer(errorText)) return false;
    Enumerate();
    return true;
}

std::vector<CU3VDevice*> CCameraSession::GetCameras() const { return m_devices.GetDeviceList(); }

EParameterBackup CCameraSession::BackupOf(CU3VDevice& camera) const { return BackupOf(m_parameters, camera); }

EParameterBackup CCameraSession::BackupOf(const CAPIDeviceManager& parameters, CU3VDevice& camera) {
    const CameraParameters* record = parameters.FindBySerial(FieldText(camera.GetDeviceInfo().serialNumber));
    if (record == nullptr) return EParameterBackup::kNotListed;
    return record->exported && record->exported->succeeded ? EParameterBackup::kSaved : EParameterBackup::kNotSaved;
}
