#include "package/PackageConfig.h"

#include <mutex>

#include "package/IniFile.h"
#include "package/Resources.h"
#include "package/TempFiles.h"
#include "support/FormatString.h"

namespace {
std::mutex g_configPathMutex;
std::wstring g_configPath;
}  // namespace

namespace package {

void SetPackageConfigPath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(g_configPathMutex);
    g_configPath = path;
}

std::wstring GetPackageConfigPath() {
    std::lock_guard<std::mutex> lock(g_configPathMutex);
    return g_configPath;
}

ERunConfigResult WriteRunPackageConfig(std::wstring& path) {
    CUserParamFile file(L"Config");
    CSourceFile resource;
    if (!GetResourceData(kConfigResourceType, kConfigResourceId, resource)) return ERunConfigResult::kResourceMissing;
    if (!file.WriteData(resource.GetData(), resource.GetSize())) return ERunConfigResult::kWriteFailed;
    path = file.GetFilePath();
    SetPackageConfigPath(path);
    return ERunConfigResult::kWritten;
}

}  // namespace package

bool LoadPackageConfig(std::vector<std::wstring>& models) {
    CUserParamFile file(L"Config");
    CSourceFile resource;
    if (!GetResourceData(package::kConfigResourceType, package::kConfigResourceId, resource)) return false;
    if (!file.WriteData(resource.GetData(), resource.GetSize())) return false;
    if (!ReadDeviceModels(file.GetFilePath(), models)) return false;
    file.RemoveFile();
    return true;
}

bool ReadDeviceModels(const std::wstring& path, std::vector<std::wstring>& models) {
    models.clear();
    CINIFileBase reader;
    std::int32_t total = 0;
    if (!reader.ReadInt(path, L"Total", L"DeviceTotal", total)) return false;
    for (std::int32_t i = 0; i < total; ++i) {
        std::wstring model;
        if (reader.ReadString(L"DeviceModel", FormatString(L"DeviceModel%d", i), path, model)) models.push_back(model);
    }
    return true;
}

bool GetElfVersion(const std::wstring& model, std::int32_t& value) {
    CINIFileBase reader;
    return reader.ReadInt(package::GetPackageConfigPath(), model, L"ELF_VERSION", value);
}
