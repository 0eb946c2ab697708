// A camera's status: a code and the display text that belongs to it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// Texts of the string table the camera code shows or records.
namespace CameraText {
inline constexpr const wchar_t* kSuccess = L"Success";                            // 102
inline constexpr const wchar_t* kInvalid = L"Invalid";                            // 105
inline constexpr const wchar_t* kBurningFileFailed = L"Burning the file failed";  // 128
inline constexpr const wchar_t* kVersionCheckFailed =                             // 1012
    L"Upgrade file version check failed: please check the matching library or confirm whether "
    L"the upgrade file is compatible with hardware devices!";
inline constexpr const wchar_t* kLeaveUpgradeModeFailed = L"Failed to exit upgrade mode";  // 1013
inline constexpr const wchar_t* kWriteFileFailed =                                         // 1014
    L"Failed to write the file: please do not power down, try to burn it again!";
inline constexpr const wchar_t* kLoadLibraryError = L"Load TL library error!";
}  // namespace CameraText

namespace StatusCode {
inline constexpr std::int32_t kNone = -1;
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kOpenDeviceError = 2;
inline constexpr std::int32_t kEnterUpgradeModeError = 5;
inline constexpr std::int32_t kBurningFileFailed = 7;
inline constexpr std::int32_t kLeaveUpgradeModeError = 9;
inline constexpr std::int32_t kUpgradeFileParsingFailure = 11;
inline constexpr std::int32_t kFileVersionMismatch = 13;
inline constexpr std::int32_t kStarting = 14;
inline constexpr std::int32_t kThreadStartFailed = 15;
inline constexpr std::int32_t kCloseDeviceError = 17;
inline constexpr std::int32_t kBurning = 21;
inline constexpr std::int32_t kBurningFirmwareFailed = 22;
inline constexpr std::int32_t kBurningFpgaFailed = 23;
inline constexpr std::int32_t kBurningParamFailed = 24;
inline constexpr std::int32_t kModelNotSupported = 28;
inline constexpr std::int32_t kFlashVendorReadFailed = 29;
inline constexpr std::int32_t kElfFlagReadFailed = 30;
inline constexpr std::int32_t kFlashVendorMismatch = 31;
}  // namespace StatusCode

// The display text of a status code; empty for codes without one.
std::wstring GetStatusCodeText(std::int32_t code);

// The status holder. The worker thread sets it while the user-interface
// thread reads it, so code and text change together under a small lock.
class CResult {
public:
    CResult() = default;
    virtual ~CResult() = default;
    CResult(const CResult&) = delete;
    CResult& operator=(const CResult&) = delete;

    void SetCode(std::int32_t code);
    std::int32_t GetCode() const;
    std::wstring GetText() const;
    // Code and text as one consistent pair.
    void Get(std::int32_t& code, std::wstring& text) const;

private:
    mutable std::mutex m_mutex;
    std::int32_t m_code = StatusCode::kNone;
    std::wstring m_text;
};
