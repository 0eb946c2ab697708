#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The package configuration: the resource CONFIG 131, read as the file
// Config.ini in the temporary folder.

// Start-up: writes Config.ini, reads the model list into models and deletes the
// file again. False when the resource cannot be loaded or written, or the list
// cannot be read (the file is then left for the shutdown to remove).
bool LoadPackageConfig(std::vector<std::wstring>& models);

// The models of a written configuration file, in DeviceModel key order; a
// missing DeviceModel key is skipped. False when [DeviceTotal] Total is missing.
bool ReadDeviceModels(const std::wstring& path, std::vector<std::wstring>& models);

// The model's [ELF_VERSION] flag (1 new files, 0 old files) from the run's
// package configuration.
bool GetElfVersion(const std::wstring& model, std::int32_t& value);

namespace package {

// The run's package configuration path: one per process, empty at start, set by
// the upgrade run before its workers start and read by them. Safe to read from
// any thread.
void SetPackageConfigPath(const std::wstring& path);
std::wstring GetPackageConfigPath();

enum class ERunConfigResult {
    kWritten,          // Config.ini written and recorded as the run's path
    kResourceMissing,  // the CONFIG resource cannot be loaded or is empty
    kWriteFailed,      // the file cannot be written
};

// What an upgrade run does before its workers start: writes the CONFIG resource
// to Config.ini in the temporary folder and records that path as the run's
// package configuration path. path receives the file's path.
ERunConfigResult WriteRunPackageConfig(std::wstring& path);

inline constexpr int kConfigResourceId = 131;
inline constexpr const wchar_t* kConfigResourceType = L"CONFIG";
inline constexpr const wchar_t* kUpgradeFileResourceType = L"UPGRADEFILE";

}  // namespace package
