#include "run/CameraSession.h"

#include <cmath>
#include <cwchar>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/PackageConfig.h"
#include "run/AppText.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

RunTiming RunTimingFromEnvironment() {
    RunTiming timing;
    const auto text = platform::GetEnvironmentVariable(L"FLASHWRIGHT_REBOOT_ALLOWANCE");
    if (!text || text->empty()) return timing;
    wchar_t* end = nullptr;
    const double seconds = std::wcstod(text->c_str(), &end);
    // Not a plain number of seconds within reason: the built-in allowance stays.
    if (end == nullptr || *end != L'\0' || !std::isfinite(seconds) || seconds < 0.0 || seconds > 600.0) return timing;
    timing.rebootAllowance = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    return timing;
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

bool CCameraSession::Start(std::wstring& errorText) {
    if (!RunExportPass(errorText) || !LoadProducer(errorText) || !LoadModelList(errorText)) return false;
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

bool CCameraSession::IsEligible(CU3VDevice& camera, const std::vector<std::wstring>& models) {
    return camera.IsOpened() && IsModelSupported(models, camera);
}

EParameterBackup CCameraSession::BackupOf(CU3VDevice& camera) const { return BackupOf(m_parameters, camera); }

EParameterBackup CCameraSession::BackupOf(const CAPIDeviceManager& parameters, CU3VDevice& camera) {
    const CameraParameters* record = parameters.FindBySerial(FieldText(camera.GetDeviceInfo().serialNumber));
    if (record == nullptr) return EParameterBackup::kNotListed;
    return record->exported && record->exported->succeeded ? EParameterBackup::kSaved : EParameterBackup::kNotSaved;
}
