// Release metadata of the embedded package (resource RELEASE 132): per model,
// the firmware version text a camera reports once it runs this package. The
// package configuration's FIRMWARE_VERSION is a compatibility rule for the
// camera's current firmware and says nothing about the version it ends with.
#pragma once

#include <map>
#include <string>

namespace package {

inline constexpr int kReleaseResourceId = 132;
inline constexpr const wchar_t* kReleaseResourceType = L"RELEASE";

struct ReleaseInfo {
    // Model name -> firmware version text (register 0x300000), exactly as the
    // camera reports it.
    std::map<std::string, std::string> firmwareVersions;

    // Empty for a model the release metadata does not name.
    std::string FirmwareVersionOf(const std::string& model) const;
};

// Reads the RELEASE resource. False with a reason when it is missing or
// cannot be parsed.
bool LoadReleaseInfo(ReleaseInfo& info, std::string& error);

// The same from INI text, for tests and tools.
bool ParseReleaseInfo(const std::string& text, ReleaseInfo& info, std::string& error);

}  // namespace package
