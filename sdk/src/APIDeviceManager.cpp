#include "sdk/APIDeviceManager.h"


#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <system_error>

#include "package/TempFiles.h"
#include "support/Platform.h"

namespace {

const wchar_t kInterfaceCallFailed[] = L"Interface call failed";

}  // namespace

// ---- CAPIDevice -------------------------------------------------------------

CAPIDevice::CAPIDevice(const zviapi::CZvIAPILibrary& sdk, std::string identity)
    : m_sdk(sdk), m_identity(std::move(identity)) {
    // Making the file object creates the temporary folder, not the file.
    CUserParamFile file(platform::AnsiToWide(m_identity));
    m_paramFilePath = file.GetFilePath();
}

std::string CAPIDevice::ParamFilePath8Bit() const {
    return platform::ToNativePath(m_paramFilePath);
}

bool CAPIDevice::ExportUserParam() {
    if (m_sdk.SetInteger(m_handle, zviapi::kFeatureUserSetSelector, 1) != 0) return false;
    if (m_sdk.ExecuteCommand(m_handle, zviapi::kFeatureUserSetSave) != 0) return false;
    const std::string path = ParamFilePath8Bit();
    return m_sdk.SaveUserParams(m_handle, path.c_str()) == 0;
}

bool CAPIDevice::ImportUserParam() {
    const std::string path = ParamFilePath8Bit();
    if (m_sdk.LoadUserParams(m_handle, path.c_str(), 1) != 0) return false;
    if (m_sdk.SetInteger(m_handle, zviapi::kFeatureUserSetSelector, 1) != 0) return false;
    if (m_sdk.ExecuteCommand(m_handle, zviapi::kFeatureUserSetLoad) != 0) return false;
    if (m_sdk.SetInteger(m_handle, zviapi::kFeatureUserSetSelector, 0) != 0) return false;
    return m_sdk.ExecuteCommand(m_handle, zviapi::kFeatureUserSetSave) == 0;
}

// ---- CAPIDeviceManager ------------------------------------------------------

CAPIDeviceManager::~CAPIDeviceManager() {
    CloseAllDevices();
    CloseEnvironment();
}

bool CAPIDeviceManager::InitEnvironment() {
    if (!m_sdk.Load()) {
        m_error.SetErrorText(FormatFailureText(zviapi::kMissingEntryPoint, "CAPIDeviceManager::InitEnvironment", 32,
                                               m_sdk.LoadErrorText()));
        return false;
    }
    const std::int32_t status = m_sdk.OpenSdk();
    if (status == 0) return true;
    m_error.SetErrorText(FormatFailureText(status, "CAPIDeviceManager::InitEnvironment", 32, DescribeStatus(status)));
    return false;
}

void CAPIDeviceManager::CloseEnvironment() {
    if (m_sdk.IsLoaded()) m_sdk.CloseSdk();
}

std::wstring CAPIDeviceManager::DescribeStatus(std::int32_t status) const {
    std::int32_t code = status;
    std::uint32_t size = 0;
    m_sdk.GetErrorDescription(&code, nullptr, &size);
    if (size == 0) return kInterfaceCallFailed;
    std::vector<char> text;
    try {
        text.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        return kInterfaceCallFailed;
    }
    code = status;
    std::uint32_t capacity = size;
    if (m_sdk.GetErrorDescription(&code, text.data(), &capacity) != 0) return kInterfaceCallFailed;
    // The SDK promises a terminated text; read no further than the buffer either way.
    return platform::AnsiToWide(std::string(text.data(), strnlen(text.data(), text.size())));
}

bool CAPIDeviceManager::UpdateDeviceList() {
    CloseAllDevices();
    std::uint32_t count = 0;
    std::int32_t status = m_sdk.GetDeviceCount(&count, zviapi::kListTimeoutMs);
    if (status == 0) {
        const std::uint64_t bytes = static_cast<std::uint64_t>(count) * zviapi::kDeviceInfoEntrySize;
        if (bytes > UINT32_MAX) {
            status = zviapi::kMissingEntryPoint;  // the listing cannot be held: a failed call
        } else {
            try {
                m_infoBuffer.assign(static_cast<std::size_t>(bytes), 0);
            } catch (const std::bad_alloc&) {
                status = zviapi::kMissingEntryPoint;
            }
            if (status == 0) {
                std::uint32_t size = static_cast<std::uint32_t>(bytes);
                status = m_sdk.GetDeviceInfo(m_infoBuffer.data(), &size);
            }
        }
    }
    if (status != 0) {
        m_error.SetErrorText(
            FormatFailureText(status, "CAPIDeviceManager::UpdateDeviceList", 188, DescribeStatus(status)));
        return false;
    }

    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = m_infoBuffer.data() + i * zviapi::kDeviceInfoEntrySize;
        std::int32_t classCode = 0;
        std::memcpy(&classCode, entry + zviapi::kClassCodeOffset, sizeof classCode);
        if (classCode != zviapi::kHandledClassCode) continue;
        // The identity field ends where the class code begins, terminated or not.
        const char* identity = reinterpret_cast<const char*>(entry + zviapi::kIdentityOffset);
        const std::size_t length = strnlen(identity, zviapi::kClassCodeOffset - zviapi::kIdentityOffset);
        auto device = std::make_unique<CAPIDevice>(m_sdk, std::string(identity, length));
        const zviapi::OpenRequest request{device->m_identity.c_str(), 0, 4};
        if (m_sdk.OpenDevice(&request, &device->m_handle) == 0) device->m_opened = true;
        m_devices.push_back(std::move(device));
    }
    return true;
}

void CAPIDeviceManager::CloseAllDevices() {
    for (auto& device : m_devices) {
        if (device->m_opened) {
            device->m_opened = false;
            if (device->m_handle != 0) {
                m_sdk.CloseDevice(device->m_handle);
                device->m_handle = 0;
            }
        }
    }
    m_devices.clear();
    m_infoBuffer.clear();
    m_infoBuffer.shrink_to_fit();
}

std::vector<CAPIDevice*> CAPIDeviceManager::GetDeviceList() const {
    std::vector<CAPIDevice*> list;
    list.reserve(m_devices.size());
    for (const auto& device : m_devices) list.push_back(device.get());
    return list;
}

// ---- Persistent copies ------------------------------------------------------

std::wstring ParameterBackupFolder() {
    const std::wstring base = platform::UserStateDirectory();
    if (base.empty()) return std::wstring();
    const wchar_t separator = platform::PathSeparator();
    return base + separator + L"flashwright" + separator + L"parameter-backups";
}

namespace {

// Copies a freshly exported parameter file next to its earlier copies, named
// after the file and the time, so a later failed restore loses nothing.
void KeepPersistentCopy(const std::wstring& exportedFile) {
    namespace fs = std::filesystem;
    const std::wstring folder = ParameterBackupFolder();
    if (folder.empty()) {
        platform::OutputDebugText(L"No folder for parameter backups: neither XDG_STATE_HOME nor HOME is set");
        return;
    }
    std::error_code ec;
    const fs::path folderPath(platform::FileSystemPath(folder));
    fs::create_directories(folderPath, ec);
    if (ec) {
        platform::OutputDebugText(L"Cannot create " + folder + L": " + platform::AnsiToWide(ec.message()));
        return;
    }
    platform::RestrictToOwner(folder);

    const fs::path source(platform::FileSystemPath(exportedFile));
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm local = platform::LocalTime(seconds);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d-%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    // Path pieces stay in the path's own encoding (wide on Windows).
    const auto Named = [&](const std::string& suffix) {
        fs::path name = source.stem();
        name += "_" + std::string(stamp) + suffix + ".ini";
        return folderPath / name;
    };
    fs::path target = Named("");
    for (int n = 2; fs::exists(target, ec); ++n) target = Named("-" + std::to_string(n));
    fs::copy_file(source, target, fs::copy_options::none, ec);
    if (ec)
        platform::OutputDebugText(L"Cannot keep a copy of " + exportedFile + L": " + platform::AnsiToWide(ec.message()));
}

}  // namespace

// ---- The passes -------------------------------------------------------------

bool ExportUserParams(CAPIDeviceManager& manager) {
    if (!manager.InitEnvironment()) return false;
    if (!manager.UpdateDeviceList()) {
        manager.CloseAllDevices();
        manager.CloseEnvironment();
        return false;
    }
    for (CAPIDevice* device : manager.GetDeviceList()) {
        if (device->IsOpened() && device->ExportUserParam()) KeepPersistentCopy(device->GetParamFilePath());
    }
    manager.CloseAllDevices();
    manager.CloseEnvironment();
    return true;
}

bool ImportUserParams(CAPIDeviceManager& manager) {
    if (!manager.InitEnvironment()) return false;
    if (!manager.UpdateDeviceList()) {
        manager.CloseAllDevices();
        manager.CloseEnvironment();
        return false;
    }
    for (CAPIDevice* device : manager.GetDeviceList()) {
        if (device->IsOpened()) device->ImportUserParam();
    }
    manager.CloseAllDevices();
    manager.CloseEnvironment();
    return true;
}
