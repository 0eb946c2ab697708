#include "run/CameraState.h"

#include "camera/GenTLTypes.h"
#include "camera/U3VDevice.h"
#include "package/Resources.h"
#include "package/TempFiles.h"
#include "run/CameraRows.h"
#include "run/CameraSession.h"
#include "support/Platform.h"

const char* CameraStateName(ECameraState state) {
    switch (state) {
        case ECameraState::kUpToDate: return "up to date";
        case ECameraState::kUpgradable: return "upgradable";
        case ECameraState::kUnsupported: return "unsupported";
        case ECameraState::kNotOpened: return "not opened";
        case ECameraState::kInUse: return "in use";
        case ECameraState::kIncompatible: return "incompatible";
    }
    return "";
}

namespace {

bool IsPackageModel(const std::string& model, const std::vector<std::wstring>& models) {
    const std::wstring wide = platform::AnsiToWide(model);
    for (const std::wstring& m : models)
        if (m == wide) return true;
    return false;
}

}  // namespace

std::string TargetVersion(const CU3VDevice& camera, const std::vector<std::wstring>& models,
                          const package::ReleaseInfo& release) {
    const std::string model = FieldText(camera.GetDeviceInfo().modelName);
    if (!IsPackageModel(model, models)) return std::string();
    return release.FirmwareVersionOf(model);
}

ECameraState AssessCamera(CU3VDevice& camera, const std::vector<std::wstring>& models,
                          const package::ReleaseInfo& release, bool preparePlan) {
    if (!camera.IsOpened())
        return camera.GetOpenResult() == gentl::GC_ERR_RESOURCE_IN_USE ? ECameraState::kInUse
                                                                       : ECameraState::kNotOpened;
    if (!CCameraRows::IsEligible(camera, models)) return ECameraState::kUnsupported;
    const std::string target = TargetVersion(camera, models, release);
    if (!target.empty() && FieldText(camera.GetDeviceInfo().firmwareVersion) == target) return ECameraState::kUpToDate;
    return camera.CheckWithoutWriting(preparePlan) ? ECameraState::kUpgradable : ECameraState::kIncompatible;
}

namespace {

// A name of this process's own: a run of another process of the same user
// shares the temporary folder, and its Config.ini must not be replaced or
// removed under its workers.
std::wstring CheckConfigName() { return L"Config-check-" + std::to_wstring(platform::CurrentProcessId()); }

}  // namespace

CRunPackageConfig::CRunPackageConfig() {
    CUserParamFile file(CheckConfigName());
    CSourceFile resource;
    if (!GetResourceData(package::kConfigResourceType, package::kConfigResourceId, resource)) {
        m_result = package::ERunConfigResult::kResourceMissing;
    } else if (!file.WriteData(resource.GetData(), resource.GetSize())) {
        m_result = package::ERunConfigResult::kWriteFailed;
    } else {
        m_result = package::ERunConfigResult::kWritten;
        package::SetPackageConfigPath(file.GetFilePath());
    }
}

CRunPackageConfig::~CRunPackageConfig() {
    if (m_result != package::ERunConfigResult::kWritten) return;
    CUserParamFile(CheckConfigName()).RemoveFile();
    package::SetPackageConfigPath(std::wstring());
}
