#include "sdk/APIDeviceManager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "package/TempFiles.h"
#include "support/Platform.h"

namespace {

const wchar_t kInterfaceCallFailed[] = L"Interface call failed";

}  // namespace

// ---- Results ----------------------------------------------------------------

ParameterPassResult ParameterPassResult::Failure(int ordinal, std::int32_t status, std::wstring reason) {
    return ParameterPassResult{false, ordinal, status, std::move(reason)};
}

std::wstring ParameterPassResult::Describe() const {
    if (succeeded) return L"done";
    std::wstring text;
    if (ordinal != 0) text = L"ordinal " + std::to_wstring(ordinal) + L" failed with status " + std::to_wstring(status);
    if (!reason.empty()) text += text.empty() ? reason : L" (" + reason + L")";
    return text.empty() ? std::wstring(L"failed") : text;
}

// ---- CAPIDevice -------------------------------------------------------------

CAPIDevice::CAPIDevice(const zviapi::CZvIAPILibrary& sdk, std::string identity, std::string serial)
    : m_sdk(sdk), m_identity(std::move(identity)), m_serial(std::move(serial)) {
    // Making the file object creates the temporary folder, not the file.
    m_paramFilePath = CUserParamFile::ForCamera(platform::AnsiToWide(m_identity)).GetFilePath();
}

ParameterPassResult CAPIDevice::ExportUserParam() {
    // A stale file of an earlier export must never stand in for this one.
    package::RemoveFileAt(m_paramFilePath);
    std::int32_t status = m_sdk.SetInteger(m_handle, zviapi::kFeatureUserSetSelector, 1);
    if (status != 0) return ParameterPassResult::Failure(412, status, L"selecting user set 1");
    status = m_sdk.ExecuteCommand(m_handle, zviapi::kFeatureUserSetSave);
    if (status != 0) return ParameterPassResult::Failure(421, status, L"saving the live parameters into user set 1");
    const std::string path = platform::ToNativePath(m_paramFilePath);
    status = m_sdk.SaveUserParams(m_handle, path.c_str());
    if (status != 0) {
        package::RemoveFileAt(m_paramFilePath);  // whatever a failed write left
        return ParameterPassResult::Failure(700, status, L"writing the parameter file");
    }
    if (!platform::IsRegularFile(m_paramFilePath))
        return ParameterPassResult::Failure(700, status, L"the SDK reported success but wrote no file");
    return ParameterPassResult::Success();
}

ParameterPassResult CAPIDevice::ImportUserParam(const std::wstring& fromFile) {
    const std::wstring& file = fromFile.empty() ? m_paramFilePath : fromFile;
    if (!platform::IsRegularFile(file)) return ParameterPassResult::Failure(0, 0, L"no parameter file " + file);
    const std::string path = platform::ToNativePath(file);
    std::int32_t status = m_sdk.LoadUserParams(m_handle, path.c_str(), 1);
    if (status != 0) return ParameterPassResult::Failure(701, status, L"loading the parameter file");
    status = m_sdk.SetInteger(m_handle, zviapi::kFeatureUserSetSelector, 1);
    if (status != 0) return ParameterPassResult::Failure(412, status, L"selecting user set 1");
    status = m_sdk.ExecuteCommand(m_handle, zviapi::kFeatureUserSetLoad);
    if (status != 0) return ParameterPassResult::Failure(421, status, L"loading user set 1");
    status = m_sdk.SetInteger(m_handle, zviapi::kFeatureUserSetSelector, 0);
    if (status != 0) return ParameterPassResult::Failure(412, status, L"selecting the power-on set");
    status = m_sdk.ExecuteCommand(m_handle, zviapi::kFeatureUserSetSave);
    if (status != 0) return ParameterPassResult::Failure(421, status, L"saving the power-on set");
    return ParameterPassResult::Success();
}

// ---- CAPIDeviceManager ------------------------------------------------------

CAPIDeviceManager::~CAPIDeviceManager() {
    CloseAllDevices();
    CloseEnvironment();
}

bool CAPIDeviceManager::InitEnvironment() {
    m_failedOrdinal = 0;
    m_failedStatus = 0;
    if (!m_sdk.Load()) {
        m_failedOrdinal = 100;
        m_failedStatus = zviapi::kMissingEntryPoint;
        m_error.SetErrorText(FormatFailureText(zviapi::kMissingEntryPoint, "CAPIDeviceManager::InitEnvironment", 32,
                                               m_sdk.LoadErrorText()));
        return false;
    }
    const std::int32_t status = m_sdk.OpenSdk();
    if (status == 0) return true;
    m_failedOrdinal = 100;
    m_failedStatus = status;
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
    m_failedOrdinal = status != 0 ? 200 : 0;
    if (status == 0) {
        m_failedOrdinal = 201;
        const std::uint64_t bytes = static_cast<std::uint64_t>(count) * zviapi::kDeviceInfoEntrySize;
        if (bytes > UINT32_MAX) {
            status = zviapi::kMissingEntryPoint;  // the listing cannot be held: a failed call
        } else {
            try {
                // Never a null buffer, even for no camera: the SDK may not accept one.
                m_infoBuffer.assign(std::max<std::size_t>(static_cast<std::size_t>(bytes), 1), 0);
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
        m_failedStatus = status;
        m_error.SetErrorText(
            FormatFailureText(status, "CAPIDeviceManager::UpdateDeviceList", 188, DescribeStatus(status)));
        return false;
    }
    m_failedOrdinal = 0;

    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = m_infoBuffer.data() + i * zviapi::kDeviceInfoEntrySize;
        std::int32_t classCode = 0;
        std::memcpy(&classCode, entry + zviapi::kClassCodeOffset, sizeof classCode);
        if (classCode != zviapi::kHandledClassCode) continue;
        // Each text field ends at its width, terminated or not.
        const char* identity = reinterpret_cast<const char*>(entry + zviapi::kIdentityOffset);
        const char* serial = reinterpret_cast<const char*>(entry + zviapi::kSerialOffset);
        if (m_scope && !m_scope->Covers(std::string(serial, strnlen(serial, zviapi::kSerialWidth)))) continue;
        auto device =
            std::make_unique<CAPIDevice>(m_sdk, std::string(identity, strnlen(identity, zviapi::kIdentityWidth)),
                                         std::string(serial, strnlen(serial, zviapi::kSerialWidth)));
        const zviapi::OpenRequest request{device->m_identity.c_str(), 0, 4};
        device->m_openStatus = m_sdk.OpenDevice(&request, &device->m_handle);
        if (device->m_openStatus == 0) device->m_opened = true;
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

const CameraParameters* CAPIDeviceManager::FindBySerial(const std::string& serial) const {
    for (const CameraParameters& camera : m_cameras)
        if (!serial.empty() && camera.serial == serial) return &camera;
    return nullptr;
}

CameraParameters* CAPIDeviceManager::FindByIdentity(const std::string& identity) {
    for (CameraParameters& camera : m_cameras)
        if (camera.identity == identity) return &camera;
    return nullptr;
}

CameraParameters& CAPIDeviceManager::RecordFor(const CAPIDevice& device) {
    if (CameraParameters* known = FindByIdentity(device.GetIdentity())) return *known;
    m_cameras.push_back(
        CameraParameters{device.GetIdentity(), device.GetSerial(), device.GetParamFilePath(), {}, {}, {}});
    return m_cameras.back();
}

bool ParameterScope::Covers(const std::string& serial) const {
    return serial.empty() || std::find(serials.begin(), serials.end(), serial) != serials.end();
}

void CAPIDeviceManager::ForgetResults() {
    m_cameras.clear();
    m_exportRan = false;
}

std::vector<CAPIDevice*> CAPIDeviceManager::GetDeviceList() const {
    std::vector<CAPIDevice*> list;
    list.reserve(m_devices.size());
    for (const auto& device : m_devices) list.push_back(device.get());
    return list;
}

// ---- Persistent copies ------------------------------------------------------

std::wstring PersistentStateFolder() {
    const std::wstring base = platform::UserStateDirectory();
    if (base.empty()) return std::wstring();
    return base + platform::PathSeparator() + L"flashwright";
}

std::wstring ParameterBackupFolder() {
    const std::wstring state = PersistentStateFolder();
    return state.empty() ? state : state + platform::PathSeparator() + L"parameter-backups";
}

namespace {

namespace fs = std::filesystem;

// "YYYYMMDD-HHMMSS-mmm" optionally followed by "-N": the order key of a copy,
// or nothing when the text is not a stamp.
std::optional<std::pair<std::string, long>> StampKey(const std::string& text) {
    static constexpr char kPattern[] = "dddddddd-dddddd-ddd";
    const std::size_t length = sizeof kPattern - 1;
    if (text.size() < length) return std::nullopt;
    for (std::size_t i = 0; i < length; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return std::nullopt;
    }
    long n = 1;
    if (text.size() > length) {
        if (text[length] != '-' || text.size() == length + 1 || text.size() > length + 10) return std::nullopt;
        n = 0;
        for (std::size_t i = length + 1; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            n = n * 10 + (text[i] - '0');
        }
    }
    return std::make_pair(text.substr(0, length), n);
}

// Copies a freshly exported parameter file next to its earlier copies, named
// after the file and the time, so a later failed restore loses nothing.
// Returns the copy's path, empty when none could be kept.
std::wstring KeepPersistentCopy(const std::wstring& exportedFile) {
    const std::wstring folder = ParameterBackupFolder();
    std::wstring reason;
    if (!package::EnsurePrivateFolder(folder, reason)) {
        platform::OutputDebugText(L"The parameter backup folder " + folder + L" cannot be used: " + reason);
        return std::wstring();
    }
    std::error_code ec;
    const fs::path folderPath(platform::FileSystemPath(folder));
    const fs::path source(platform::FileSystemPath(exportedFile));
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
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
    for (int n = 2; fs::exists(fs::symlink_status(target, ec)); ++n) target = Named("-" + std::to_string(n));
    fs::copy_file(source, target, fs::copy_options::none, ec);
    if (ec) {
        platform::OutputDebugText(L"Cannot keep a copy of " + exportedFile + L": " +
                                  platform::AnsiToWide(ec.message()));
        return std::wstring();
    }
    return platform::FromFileSystemPath(target);
}

std::wstring TempFolderRefusal() {
    std::wstring reason;
    if (package::CheckTempDirectory(reason)) return std::wstring();
    return L"The temporary folder " + package::GetTempDirectoryPath() + L" cannot be used: " + reason;
}

// Lists the cameras after checking the temporary folder; false with the
// manager's error text set.
bool OpenAndList(CAPIDeviceManager& manager, bool needsTempFolder) {
    if (needsTempFolder) {
        const std::wstring refusal = TempFolderRefusal();
        if (!refusal.empty()) {
            manager.SetErrorText(refusal);
            return false;
        }
    }
    if (!manager.InitEnvironment()) return false;
    if (!manager.UpdateDeviceList()) {
        manager.CloseAllDevices();
        manager.CloseEnvironment();
        return false;
    }
    return true;
}

ParameterPassResult OpenFailure(const CAPIDevice& device, std::int32_t status) {
    return ParameterPassResult::Failure(
        301, status, L"the SDK cannot open the camera " + platform::AnsiToWide(device.GetIdentity()));
}

}  // namespace

std::wstring FindLatestPersistentCopy(const std::string& identity) {
    const std::wstring folder = ParameterBackupFolder();
    if (folder.empty()) return std::wstring();
    const std::string prefix =
        platform::ToNativePath(package::MakeUniqueFileName(platform::AnsiToWide(identity), L"")) + "_";
    std::optional<std::pair<std::string, long>> best;
    fs::path bestPath;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(platform::ToNativePath(folder), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - 4, 4, ".ini") != 0) continue;
        const auto key = StampKey(name.substr(prefix.size(), name.size() - prefix.size() - 4));
        if (!key || !entry.is_regular_file(ec)) continue;
        if (!best || *key > *best) {
            best = key;
            bestPath = entry.path();
        }
    }
    return best ? platform::FromNativePath(bestPath.string()) : std::wstring();
}

// ---- The passes -------------------------------------------------------------

bool ExportUserParams(CAPIDeviceManager& manager, std::optional<ParameterScope> scope) {
    manager.ForgetResults();
    manager.SetScope(std::move(scope));
    if (!OpenAndList(manager, true)) return false;
    manager.m_exportRan = true;
    for (CAPIDevice* device : manager.GetDeviceList()) {
        CameraParameters& record = manager.RecordFor(*device);
        if (!device->IsOpened()) {
            record.exported = OpenFailure(*device, device->GetOpenStatus());
            continue;
        }
        record.exported = device->ExportUserParam();
        if (record.exported->succeeded) record.persistentCopy = KeepPersistentCopy(device->GetParamFilePath());
    }
    manager.CloseAllDevices();
    manager.CloseEnvironment();
    return true;
}

bool ImportUserParams(CAPIDeviceManager& manager) {
    const bool afterExport = manager.HasExportResults();
    auto failSaved = [&](const ParameterPassResult& failure) {
        for (const CameraParameters& camera : manager.GetCameraParameters()) {
            if (camera.exported && camera.exported->succeeded && !camera.imported)
                manager.FindByIdentity(camera.identity)->imported = failure;
        }
    };
    if (!OpenAndList(manager, true)) {
        failSaved(ParameterPassResult::Failure(manager.GetFailedOrdinal(), manager.GetFailedStatus(),
                                               manager.GetErrorText()));
        return false;
    }
    for (CAPIDevice* device : manager.GetDeviceList()) {
        CameraParameters* record = manager.FindByIdentity(device->GetIdentity());
        if (afterExport) {
            // Only what this process saved goes back.
            if (record == nullptr || !record->exported || !record->exported->succeeded) continue;
        } else {
            record = &manager.RecordFor(*device);
        }
        record->imported =
            device->IsOpened() ? device->ImportUserParam() : OpenFailure(*device, device->GetOpenStatus());
    }
    failSaved(ParameterPassResult::Failure(0, 0, L"the SDK does not list the camera any more"));
    manager.CloseAllDevices();
    manager.CloseEnvironment();
    return true;
}

bool RestoreUserParams(CAPIDeviceManager& manager, const std::vector<RestoreRequest>& requests,
                       std::vector<RestoreResult>& results) {
    results.clear();
    if (!OpenAndList(manager, false)) return false;
    // Every listed camera gets a record, so callers can tell "no camera attached".
    for (CAPIDevice* device : manager.GetDeviceList()) manager.RecordFor(*device);
    for (const RestoreRequest& request : requests) {
        RestoreResult result{request.serial, {}, request.file, {}};
        CAPIDevice* device = nullptr;
        for (CAPIDevice* candidate : manager.GetDeviceList())
            if (candidate->GetSerial() == request.serial) device = candidate;
        if (device == nullptr) {
            result.result =
                ParameterPassResult::Failure(0, 0, L"the SDK does not list a camera with this serial number");
        } else {
            result.identity = device->GetIdentity();
            if (result.file.empty()) result.file = FindLatestPersistentCopy(device->GetIdentity());
            if (result.file.empty())
                result.result = ParameterPassResult::Failure(
                    0, 0, L"no saved copy of its parameters in " + ParameterBackupFolder());
            else if (!device->IsOpened())
                result.result = OpenFailure(*device, device->GetOpenStatus());
            else
                result.result = device->ImportUserParam(result.file);
        }
        results.push_back(std::move(result));
    }
    manager.CloseAllDevices();
    manager.CloseEnvironment();
    return true;
}
