// The sites of the camera code's failure texts, {code}{Class::Operation:line[n]}{detail},
// one table per class. The numbers are stable message identifiers, not source
// lines: they are kept for compatibility with the texts users and scripts
// already know, and never follow the code when it moves.
#pragma once

#include "support/Error.h"

// The steps of one enumeration, in the order they are called.
struct EnumerationSites {
    FailureSite updateInterfaces;
    FailureSite numInterfaces;
    FailureSite updateDevices;
    FailureSite numDevices;
    FailureSite deviceId;
};

namespace DeviceManagerSite {
inline constexpr FailureSite kInitLib{"CDeviceManager::InitEnvironment", 394};
inline constexpr FailureSite kOpenTransportLayer{"CDeviceManager::InitEnvironment", 405};

inline constexpr const char* kUpdateDeviceList = "CDeviceManager::UpdateDeviceList";
inline constexpr EnumerationSites kEnumeration{{kUpdateDeviceList, 92},
                                               {kUpdateDeviceList, 106},
                                               {kUpdateDeviceList, 128},
                                               {kUpdateDeviceList, 140},
                                               {kUpdateDeviceList, 164}};

inline constexpr const char* kReUpdateDeviceList = "CDeviceManager::__ReUpdateDeviceList";
inline constexpr EnumerationSites kReEnumeration{{kReUpdateDeviceList, 213},
                                                 {kReUpdateDeviceList, 226},
                                                 {kReUpdateDeviceList, 248},
                                                 {kReUpdateDeviceList, 260},
                                                 {kReUpdateDeviceList, 284}};
}  // namespace DeviceManagerSite

namespace U3VDeviceSite {
inline constexpr FailureSite kOpenDevice{"CU3VDevice::OpenDevice", 251};
inline constexpr FailureSite kGetPort{"CU3VDevice::OpenDevice", 266};
inline constexpr FailureSite kModelInfo{"CU3VDevice::__GetUpdateInfo", 400};
inline constexpr FailureSite kDisplayNameInfo{"CU3VDevice::__GetUpdateInfo", 421};
inline constexpr FailureSite kVersionRead{"CU3VDevice::__GetVersionInfo", 366};
inline constexpr FailureSite kCameraInfoRead{"CU3VDevice::__GetDevGUIDInfo", 1082};
// The same failure, once in the camera's record and once in the debug output.
inline constexpr FailureSite kEnterUpgradeMode{"CU3VDevice::__EnterUpgradeMode", 558};
inline constexpr FailureSite kEnterUpgradeModeDebug{"CU3VDevice::__EnterUpgradeMode", 564};
}  // namespace U3VDeviceSite
