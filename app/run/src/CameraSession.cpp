#include "run/CameraSession.h"

#include <cmath>
#include <cwchar>
#include <optional>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "run/AppText.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

namespace {

// A plain number of seconds from the environment, within the bounds; nothing
// for an unset variable or any other text.
std::optional<std::chrono::milliseconds> SecondsFromEnvironment(const wchar_t* name, double least, double most) {
    const auto text = platform::GetEnvironmentVariable(name);
    if (!text || text->empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const double seconds = std::wcstod(text->c_str(), &end);
    if (end == nullptr || *end != L'\0' || !std::isfinite(seconds) || seconds < least || seconds > most)
        return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

}  // namespace

RunTiming RunTimingFromEnvironment() {
    RunTiming timing;
    if (const auto allowance = SecondsFromEnvironment(L"FLASHWRIGHT_REBOOT_ALLOWANCE", 0.0, 600.0))
        timing.rebootAllowance = *allowance;
    // The same bounds as flashwright-cli's --reboot-timeout.
    if (const auto timeout = SecondsFromEnvironment(L"FLASHWRIGHT_REBOOT_TIMEOUT", 0.001, 86400.0))
        timing.rebootTimeout = *timeout;
    return timing;
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
    : m_devices(devices), m_parameters(parameters), m_runTiming(RunTimingFromEnvironment()) {}

bool CCameraSession::RunExportPass(std::wstring& errorText) {
    if (ExportUserParams(m_parameters)) return true;
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
    MirrorRuntimeVariables();
    if (!package::CheckTempDirectory(failure.text)) return fail(EStep::kTemporaryFolder);
    if (frontEndStep) frontEndStep();
    if (scope == EStartScope::kUpgrade && !RunExportPass(failure.text)) return fail(EStep::kExportPass);
    if (!LoadProducer(failure.text)) return fail(EStep::kProducer);
    if (!LoadModelList(failure.text)) return fail(EStep::kModelList);
    Enumerate();
    return true;
}

bool CCameraSession::Refresh(std::wstring& errorText) {
    ReleaseProducer();
    if (!RunExportPass(errorText) || !LoadProducer(errorText)) return false;
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
