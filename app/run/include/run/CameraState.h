// What an upgrade would do to a camera, found without writing anything: the
// STATE of flashwright-cli list and the selection of flashwright-cli upgrade.
#pragma once

#include <string>
#include <vector>

#include "package/PackageConfig.h"
#include "package/Release.h"

class CU3VDevice;

enum class ECameraState {
    kUpToDate,      // already reports the package's release version
    kUpgradable,    // every check that needs no writing passed
    kUnsupported,   // its model is not one of the package's
    kNotOpened,     // the producer would not open it
    kInUse,         // the producer reports it held by another process
    kIncompatible,  // flash vendor rule, version rule or burn plan failed
};

// "up to date", "upgradable", "unsupported", "not opened", "in use", "incompatible".
const char* CameraStateName(ECameraState state);

// The release version the package brings the camera's model to; empty for a
// model the package does not serve.
std::string TargetVersion(const CU3VDevice& camera, const std::vector<std::wstring>& models,
                          const package::ReleaseInfo& release);

// Opened, supported, then up to date, then the checks of
// CU3VDevice::CheckWithoutWriting (with preparePlan, the whole burn plan is
// built). The camera's status receives the failing check's code. The run's
// package configuration must be written (CRunPackageConfig).
ECameraState AssessCamera(CU3VDevice& camera, const std::vector<std::wstring>& models,
                          const package::ReleaseInfo& release, bool preparePlan);

// The package configuration for the checks outside an upgrade run, written
// under a name of this process's own and published as the run's path for as
// long as the object lives.
class CRunPackageConfig {
public:
    CRunPackageConfig();
    ~CRunPackageConfig();
    CRunPackageConfig(const CRunPackageConfig&) = delete;
    CRunPackageConfig& operator=(const CRunPackageConfig&) = delete;
    package::ERunConfigResult Result() const { return m_result; }

private:
    package::ERunConfigResult m_result;
};
