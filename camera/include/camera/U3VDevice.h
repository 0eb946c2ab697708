// One camera as the program sees it: its producer handles, identity and
// versions, status, burn timing, error record, worker thread and burn plan.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "camera/BurnProgress.h"
#include "camera/BurnTime.h"
#include "camera/GenTLLib.h"
#include "camera/Result.h"
#include "support/Error.h"
#include "support/Thread.h"

class CBurnPlanSet;
class CUpgradeFile;
class CDeviceManager;

// Identity and version strings of one camera, 8-bit text in fixed fields. A
// field's text ends at its first zero byte or at the end of the field.
struct DeviceInfo {
    char modelName[64];
    char guid[16];
    char deviceVersion[64];
    char firmwareVersion[32];
    char reserved[32];
    char factoryVersion[32];
    char xmlVersion[32];
    char serialNumber[64];
};
static_assert(sizeof(DeviceInfo) == 336, "the record is copied whole");

// The text of a fixed field, never more than its width.
std::string FieldText(const char* field, std::size_t width);
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}

class CU3VDevice {
public:
    // Register addresses the camera is read at.
    static constexpr std::uint64_t kSerialNumberAddress = 0x144;
    static constexpr std::uint64_t kDeviceVersionAddress = 0xC4;
    static constexpr std::uint64_t kFirmwareVersionAddress = 0x300000;
    static constexpr std::uint64_t kFlashVendorAddress = 0x300004;
    static constexpr std::uint64_t kFactoryVersionAddress = 0x80007C;
    static constexpr std::uint64_t kCameraInfoAddress = 0xC00000;
    static constexpr std::size_t kCameraInfoSize = 304;
    static constexpr std::size_t kGuidOffset = 260;
    static constexpr std::size_t kDeviceIdCapacity = 256;
    static constexpr std::size_t kFirmwarePartCapacity = 16;

    // The binding is not owned and must outlive the camera.
    CU3VDevice(gentl::IF_HANDLE hInterface, const char* deviceId, CGenTLLib* binding);
    // The whole id, however long the producer made it.
    CU3VDevice(gentl::IF_HANDLE hInterface, std::string deviceId, CGenTLLib* binding);
    virtual ~CU3VDevice();
    CU3VDevice(const CU3VDevice&) = delete;
    CU3VDevice& operator=(const CU3VDevice&) = delete;

    // Opens the camera exclusively and reads its identity; the outcome is the
    // opened flag and the status.
    void OpenDevice();
    void CloseDevice();
    DeviceInfo GetDeviceInfo() const { return m_deviceInfo; }

    // The checks of an upgrade that write nothing, on the calling thread: the
    // model's burn list (with preparePlan, the whole burn plan), the flash
    // vendor rule and the firmware version rule. Needs an opened camera whose
    // worker is not running, and the run's package configuration
    // (package::WriteRunPackageConfig). False with the failing check's status
    // code set; a pass leaves the status alone.
    // plans: the run's shared plans when preparePlan (else a set of its own).
    bool CheckWithoutWriting(bool preparePlan, CBurnPlanSet* plans = nullptr);

    // Returns at once; the upgrade runs on the camera's own thread. The worker
    // takes its burn plan from plans, which a run shares among its cameras so
    // that each model's plan is built once; without one it builds its own.
    void StartUpgrade(std::shared_ptr<CBurnPlanSet> plans = nullptr);
    // The worker routine given to the camera's thread.
    static unsigned int __UpgradeProc(void* camera);

    std::wstring GetStatusText() const { return m_status.GetText(); }
    std::int32_t GetStatusCode() const { return m_status.GetCode(); }
    void GetStatus(std::int32_t& code, std::wstring& text) const { m_status.Get(code, text); }
    std::wstring GetErrorText() const { return m_error.GetErrorText(); }
    // The error record as the last worker's failing step left it, before its
    // clean-up (leaving upgrade mode) rewrote the record; empty after a success.
    std::wstring GetFailureText() const { return m_failureText.GetErrorText(); }

    const std::string& GetDeviceID() const { return m_deviceId; }
    // The serial number the producer lists for the camera, read before it is
    // opened; empty when the producer does not say.
    const std::string& GetProducerSerial() const { return m_producerSerial; }
    bool IsOpened() const { return m_opened.load(); }
    // The producer's answer to the last open request (GC_ERR_SUCCESS before any).
    gentl::GC_ERROR GetOpenResult() const { return m_openResult.load(); }
    bool IsRunning() const { return m_running.load(); }
    bool IsUpgradeStarted() const { return m_upgradeStarted.load(); }
    bool IsInUpgradeMode() const { return m_inUpgradeMode.load(); }
    bool HasWriteFailure() const { return m_writeFailure.load(); }
    // The last worker asked the producer to write at least one region: the
    // camera's flash may have changed and the camera reboots when it leaves
    // upgrade mode. Cleared when a worker starts.
    bool HasWrittenFlash() const { return m_wroteFlash.load(); }
    gentl::DEV_HANDLE GetDeviceHandle() const { return m_hDevice; }
    CBurnTime& GetBurnTime() { return m_burnTime; }
    const CBurnTime& GetBurnTime() const { return m_burnTime; }
    // Bytes written of the burn plan, readable from any thread while the worker runs.
    const CBurnProgress& GetBurnProgress() const { return m_burnProgress; }
    GenICam::Client::CThreadPtr GetThread() const { return m_thread; }
    // The plan the worker burns, until the camera is closed; null before and after.
    std::shared_ptr<const CUpgradeFile> GetUpgradeFile() const { return m_upgradeFile; }

private:
    friend class CDeviceManager;
    friend bool IsModelSupported(const std::vector<std::wstring>& models, CU3VDevice& camera);

    bool __GetUpdateInfo();
    void __ReadDeviceInfo();
    void __GetVersionInfo(std::uint64_t address, char* field, std::size_t width);
    void __GetXMLVersionInfo();
    void __GetDevGUIDInfo();

    bool __PrepareUpgradeFile();
    int __GetFlashVendorInfo();
    bool __CheckFlashVendor();
    bool __EnterUpgradeMode();
    bool __CheckFileVersion();
    void __SplitFirmwareVersion();
    bool __CompareFirmwareVersion();
    bool __BurnFiles();
    bool __LeaveUpgradeMode();
    void __SetStatus(std::int32_t code) { m_status.SetCode(code); }
    void __RunUpgrade();

    std::wstring __GetProducerError() const { return GetProducerErrorText(m_binding); }
    void __RecordFailure(std::int32_t code, const FailureSite& site);
    static void __PutInvalid(char* field, std::size_t width);

    gentl::IF_HANDLE m_hInterface = nullptr;
    DeviceInfo m_deviceInfo{};
    gentl::DEV_HANDLE m_hDevice = nullptr;
    std::string m_deviceId;
    std::string m_producerSerial;
    gentl::PORT_HANDLE m_hPort = nullptr;
    CResult m_status;
    CBurnTime m_burnTime;
    CBurnProgress m_burnProgress;
    CError m_error;
    CError m_failureText;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_opened{false};
    std::atomic<gentl::GC_ERROR> m_openResult{gentl::GC_ERR_SUCCESS};
    std::atomic<bool> m_inUpgradeMode{false};
    CGenTLLib* m_binding = nullptr;
    char m_firmwarePartA[kFirmwarePartCapacity] = {};
    char m_firmwarePartB[kFirmwarePartCapacity] = {};
    // A package version part that does not fit its field fails the check
    // instead of being cut (a cut part could match a camera it should not).
    bool m_firmwarePartTooLong = false;
    std::uint8_t m_cameraInfo[kCameraInfoSize] = {};
    std::atomic<bool> m_writeFailure{false};
    std::atomic<bool> m_upgradeStarted{false};
    std::atomic<bool> m_wroteFlash{false};
    GenICam::Client::CThreadPtr m_thread;
    std::shared_ptr<CBurnPlanSet> m_planSet;
    std::shared_ptr<const CUpgradeFile> m_upgradeFile;
};

// True when the camera's model equals one of the package models exactly;
// otherwise the camera's status becomes 28.
bool IsModelSupported(const std::vector<std::wstring>& models, CU3VDevice& camera);

// For every ";"-separated segment of the text, the text up to its n-th ".",
// counted from the last capital "V"; the pieces joined by "_".
std::wstring ExtractVersionField(const std::wstring& text, int count);

// The camera's firmware version text checked against the package's parts.
bool CompareFirmwareVersion(std::string_view cameraVersion, std::string_view partA, std::string_view partB);
