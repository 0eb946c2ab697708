// The camera SDK's entry points (exported as ZvIAPI_<ordinal>) and its status
// codes. 0 is success; every failure is negative.
#pragma once

#include <cstdint>

namespace zvsim::sdk {

struct ZvOpenRequest {
    const char* identity;
    uint32_t reserved;    // 0
    uint32_t accessMode;  // 4: exclusive
};

constexpr uint32_t kEntrySize = 672;
constexpr uint32_t kEntryModelOffset = 0;              // 64 bytes
constexpr uint32_t kEntryIdentityOffset = 64;          // 256 bytes, NUL-terminated
constexpr uint32_t kEntrySerialOffset = 320;           // 48 bytes
constexpr uint32_t kEntryClassCodeOffset = 368;        // int32
constexpr uint32_t kEntryVendorOffset = 372;           // 64 bytes
constexpr uint32_t kEntryDeviceVersionOffset = 436;    // 64 bytes
constexpr uint32_t kEntryFirmwareVersionOffset = 500;  // 32 bytes
constexpr uint32_t kEntryGuidOffset = 532;             // 16 bytes
constexpr uint32_t kEntryDeviceIdOffset = 548;         // 124 bytes, cut when longer

constexpr uint32_t kAccessExclusive = 4;

constexpr uint32_t kFeatureUserSetSelector = 0x30001B58;  // integer 0..3; 0 is the power-on set
constexpr uint32_t kFeatureUserSetSave = 0x70001B59;      // command: live parameters -> selected set
constexpr uint32_t kFeatureUserSetLoad = 0x70001B5A;      // command: selected set -> live parameters
constexpr int kUserSetCount = 4;

enum Status : int32_t {
    ZV_OK = 0,
    ZV_ERR_GENERIC = -1,
    ZV_ERR_NOT_OPEN = -2,
    ZV_ERR_INVALID_PARAMETER = -3,
    ZV_ERR_INVALID_HANDLE = -4,
    ZV_ERR_NOT_FOUND = -5,
    ZV_ERR_IN_USE = -6,
    ZV_ERR_BUFFER_TOO_SMALL = -7,
    ZV_ERR_FEATURE_NOT_AVAILABLE = -8,
    ZV_ERR_OUT_OF_RANGE = -9,
    ZV_ERR_FILE = -10,
    ZV_ERR_FILE_MISMATCH = -11,
    ZV_ERR_NO_RESPONSE = -12,
    ZV_ERR_CONFIGURATION = -13,
    ZV_ERR_ACCESS_DENIED = -14,
};

extern "C" {
using PZvIAPI_100 = int32_t (*)();
using PZvIAPI_101 = int32_t (*)();
using PZvIAPI_200 = int32_t (*)(uint32_t* count, uint32_t timeoutMs);
using PZvIAPI_201 = int32_t (*)(void* entries, uint32_t* size);
using PZvIAPI_204 = int32_t (*)(int32_t* status, char* text, uint32_t* size);
using PZvIAPI_301 = int32_t (*)(const ZvOpenRequest* request, uint32_t* handle);
using PZvIAPI_302 = int32_t (*)(uint32_t handle);
using PZvIAPI_412 = int32_t (*)(uint32_t handle, uint32_t featureId, int64_t value);
using PZvIAPI_421 = int32_t (*)(uint32_t handle, uint32_t featureId);
using PZvIAPI_700 = int32_t (*)(uint32_t handle, const char* path);
using PZvIAPI_701 = int32_t (*)(uint32_t handle, const char* path, uint32_t one);
}

}  // namespace zvsim::sdk
