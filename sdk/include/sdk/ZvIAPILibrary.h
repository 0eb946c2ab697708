// Our declarations of the camera maker's SDK, which is imported by ordinal.
// Linux shared objects have no ordinals: the SDK exports ZvIAPI_<ordinal>.
#pragma once

#include <cstdint>
#include <string>

#include "support/Platform.h"

namespace zviapi {

constexpr std::size_t kDeviceInfoEntrySize = 672;
constexpr std::size_t kIdentityOffset = 64;
constexpr std::size_t kIdentityWidth = 256;
constexpr std::size_t kSerialOffset = 320;
constexpr std::size_t kSerialWidth = 48;
constexpr std::size_t kClassCodeOffset = 368;
constexpr std::int32_t kHandledClassCode = 3;

constexpr std::uint32_t kFeatureUserSetSelector = 0x30001B58;
constexpr std::uint32_t kFeatureUserSetSave = 0x70001B59;
constexpr std::uint32_t kFeatureUserSetLoad = 0x70001B5A;

constexpr std::uint32_t kListTimeoutMs = 1000;

struct OpenRequest {
    const char* identity;
    std::uint32_t reserved;    // always 0
    std::uint32_t accessMode;  // always 4
};

using OpenSdkFn = std::int32_t (*)();                                                  // 100
using CloseSdkFn = std::int32_t (*)();                                                 // 101
using GetDeviceCountFn = std::int32_t (*)(std::uint32_t*, std::uint32_t);              // 200
using GetDeviceInfoFn = std::int32_t (*)(void*, std::uint32_t*);                       // 201
using GetErrorDescriptionFn = std::int32_t (*)(std::int32_t*, char*, std::uint32_t*);  // 204
using OpenDeviceFn = std::int32_t (*)(const OpenRequest*, std::uint32_t*);             // 301
using CloseDeviceFn = std::int32_t (*)(std::uint32_t);                                 // 302
using SetIntegerFn = std::int32_t (*)(std::uint32_t, std::uint32_t, std::int64_t);     // 412
using ExecuteCommandFn = std::int32_t (*)(std::uint32_t, std::uint32_t);               // 421
using SaveUserParamsFn = std::int32_t (*)(std::uint32_t, const char*);                 // 700
using LoadUserParamsFn = std::int32_t (*)(std::uint32_t, const char*, std::uint32_t);  // 701

// Result of a call whose entry point the library does not export.
constexpr std::int32_t kMissingEntryPoint = -1;

// The loaded SDK with its entry points. Calls through an absent entry point
// return kMissingEntryPoint, so a partial SDK is a reported failure, not a crash.
class CZvIAPILibrary {
public:
    // Looks for the SDK in the given folder (the program's own, unless told
    // otherwise) first, then through the system loader.
    explicit CZvIAPILibrary(std::wstring folder = platform::GetExecutableDirectory()) : m_folder(std::move(folder)) {}
    bool Load();
    bool IsLoaded() const { return m_library.IsLoaded(); }
    void Unload();
    // Why the last Load failed.
    const std::wstring& LoadErrorText() const { return m_loadError; }

    std::int32_t OpenSdk() const;
    std::int32_t CloseSdk() const;
    std::int32_t GetDeviceCount(std::uint32_t* count, std::uint32_t timeoutMs) const;
    std::int32_t GetDeviceInfo(void* entries, std::uint32_t* size) const;
    std::int32_t GetErrorDescription(std::int32_t* status, char* text, std::uint32_t* size) const;
    std::int32_t OpenDevice(const OpenRequest* request, std::uint32_t* handle) const;
    std::int32_t CloseDevice(std::uint32_t handle) const;
    std::int32_t SetInteger(std::uint32_t handle, std::uint32_t feature, std::int64_t value) const;
    std::int32_t ExecuteCommand(std::uint32_t handle, std::uint32_t feature) const;
    std::int32_t SaveUserParams(std::uint32_t handle, const char* path) const;
    std::int32_t LoadUserParams(std::uint32_t handle, const char* path, std::uint32_t flag) const;

    // libZvIAPI.so on Linux, ZvIAPI.dll on Windows.
    static std::wstring LibraryFileName() { return platform::LibraryFileName(L"ZvIAPI"); }

private:
    template <typename Fn>
    Fn Resolve(int ordinal) const;

    std::wstring m_folder;
    platform::DynamicLibrary m_library;
    std::wstring m_loadError;
    OpenSdkFn m_openSdk = nullptr;
    CloseSdkFn m_closeSdk = nullptr;
    GetDeviceCountFn m_getDeviceCount = nullptr;
    GetDeviceInfoFn m_getDeviceInfo = nullptr;
    GetErrorDescriptionFn m_getErrorDescription = nullptr;
    OpenDeviceFn m_openDevice = nullptr;
    CloseDeviceFn m_closeDevice = nullptr;
    SetIntegerFn m_setInteger = nullptr;
    ExecuteCommandFn m_executeCommand = nullptr;
    SaveUserParamsFn m_saveUserParams = nullptr;
    LoadUserParamsFn m_loadUserParams = nullptr;
};

}  // namespace zviapi
