// The upgrade worker of one camera.
#include <cstring>
#include <memory>

#include "FailureSites.h"
#include "camera/U3VDevice.h"
#include "package/BurnPlans.h"
#include "package/PackageConfig.h"
#include "package/UpgradeFile.h"
#include "support/FormatString.h"
#include "support/Platform.h"

namespace {
// Arguments of the upgrade extensions the producer expects.
constexpr std::uint32_t kEnterTimeoutMs = 1000;
constexpr std::uint32_t kEnterMode = 0;
constexpr std::uint32_t kEnterRetries = 20;
constexpr std::uint32_t kWriteBlockSize = 4096;
constexpr std::uint32_t kWritePacketCount = 32;
constexpr std::uint32_t kWriteReserved = 0;
constexpr std::uint32_t kWriteVerify = 1;

// The flash part the old files were built for reports this vendor byte.
constexpr std::uint32_t kOriginalFlashVendor = 0xEF;

enum FlashVendorKind {
    kVendorUnknown = 0,     // the read failed
    kVendorOriginal = 1,    // 0xEF
    kVendorOther = 2,       // any other vendor byte
    kVendorNoRegister = 3,  // the camera has no vendor register
};
}  // namespace

void CU3VDevice::StartUpgrade(std::shared_ptr<CBurnPlanSet> plans) {
    // A worker still running owns the error record, the timing and the plan;
    // touching them now would race with it.
    if (m_thread->IsRunning()) {
        __SetStatus(StatusCode::kThreadStartFailed);
        return;
    }
    // Closes the handle of a worker that ended without being waited for.
    m_thread->Join();

    m_error.SetErrorText(std::wstring());
    m_failureText.SetErrorText(std::wstring());
    __SetStatus(StatusCode::kStarting);
    m_burnTime.Reset();
    m_burnProgress.Reset();
    m_upgradeFile.reset();
    m_planSet = plans ? std::move(plans) : std::make_shared<CBurnPlanSet>();
    if (m_thread->Start(&CU3VDevice::__UpgradeProc, this)) return;
    __SetStatus(StatusCode::kThreadStartFailed);
}

bool CU3VDevice::CheckWithoutWriting(bool preparePlan, CBurnPlanSet* plans) {
    if (!m_opened || m_running) return false;
    const std::wstring model = platform::AnsiToWide(FieldText(m_deviceInfo.modelName));
    if (preparePlan) {
        // The plan a run would build, shared by the cameras of the same model.
        CBurnPlanSet ownPlans;
        m_upgradeFile = (plans != nullptr ? *plans : ownPlans).GetPlan(model);
    } else {
        auto burnList = std::make_shared<CUpgradeFile>();
        if (burnList->LoadBurnList(model, m_deviceId.c_str())) m_upgradeFile = std::move(burnList);
    }
    bool passed = false;
    if (!m_upgradeFile)
        __SetStatus(StatusCode::kUpgradeFileParsingFailure);
    else
        passed = __CheckFlashVendor() && __CheckFileVersion();
    // A run's worker takes its plan afresh.
    m_upgradeFile.reset();
    return passed;
}

unsigned int CU3VDevice::__UpgradeProc(void* camera) {
    static_cast<CU3VDevice*>(camera)->__RunUpgrade();
    return 0;
}

void CU3VDevice::__RunUpgrade() {
    try {
        m_upgradeStarted = true;
        m_running = true;
        m_writeFailure = false;
        m_wroteFlash = false;
        __SetStatus(StatusCode::kBurning);

        const bool succeeded = __PrepareUpgradeFile() && __CheckFlashVendor() &&
                               (m_inUpgradeMode || __EnterUpgradeMode()) && __CheckFileVersion() && __BurnFiles() &&
                               __LeaveUpgradeMode();
        if (succeeded) {
            CloseDevice();
            __SetStatus(StatusCode::kSuccess);
        } else {
            // Leaving upgrade mode rewrites the error record; the report needs the failing step's text.
            m_failureText.SetErrorText(m_error.GetErrorText());
            if (m_inUpgradeMode) __LeaveUpgradeMode();
            CloseDevice();
        }
        m_planSet.reset();
        m_running = false;
    } catch (...) {
        m_failureText.SetErrorText(m_error.GetErrorText());
        try {
            CloseDevice();
        } catch (...) {
        }
        m_planSet.reset();
        m_running = false;
    }
}

bool CU3VDevice::__PrepareUpgradeFile() {
    const std::wstring model = platform::AnsiToWide(FieldText(m_deviceInfo.modelName));
    m_upgradeFile = m_planSet->GetPlan(model);
    if (!m_upgradeFile) {
        __SetStatus(StatusCode::kUpgradeFileParsingFailure);
        return false;
    }
    return true;
}

int CU3VDevice::__GetFlashVendorInfo() {
    std::uint32_t value = 0;
    std::size_t size = sizeof(value);
    const gentl::GC_ERROR result =
        m_binding->Call<gentl::Entry::GCReadPort>(m_hPort, kFlashVendorAddress, &value, &size);
    if (result == gentl::kGenCPInvalidAddress) return kVendorNoRegister;
    if (result != gentl::GC_ERR_SUCCESS) return kVendorUnknown;
    return value == kOriginalFlashVendor ? kVendorOriginal : kVendorOther;
}

bool CU3VDevice::__CheckFlashVendor() {
    const int kind = __GetFlashVendorInfo();
    if (kind == kVendorUnknown) {
        __SetStatus(StatusCode::kFlashVendorReadFailed);
        return false;
    }
    std::int32_t flag = 0;
    if (!GetElfVersion(platform::AnsiToWide(FieldText(m_deviceInfo.modelName)), flag)) {
        __SetStatus(StatusCode::kElfFlagReadFailed);
        return false;
    }
    // Old files burn only on the flash the old firmware was built for.
    if (kind == kVendorOther && flag == 0) {
        __SetStatus(StatusCode::kFlashVendorMismatch);
        return false;
    }
    return true;
}

bool CU3VDevice::__EnterUpgradeMode() {
    const gentl::GC_ERROR result =
        m_binding->Call<gentl::Entry::DPEnterUpgradeMode>(m_hPort, kEnterTimeoutMs, kEnterMode, kEnterRetries);
    if (result == gentl::GC_ERR_SUCCESS) {
        m_inUpgradeMode = true;
        return true;
    }
    __RecordFailure(result, U3VDeviceSite::kEnterUpgradeMode);
    platform::OutputDebugText(FormatFailureText(result, U3VDeviceSite::kEnterUpgradeModeDebug, __GetProducerError()));
    __SetStatus(StatusCode::kEnterUpgradeModeError);
    return false;
}

bool CU3VDevice::__CheckFileVersion() {
    __SplitFirmwareVersion();
    if (!__CompareFirmwareVersion()) {
        m_error.SetErrorText(CameraText::kVersionCheckFailed);
        __SetStatus(StatusCode::kFileVersionMismatch);
        return false;
    }
    return true;
}

void CU3VDevice::__SplitFirmwareVersion() {
    const std::string version = platform::WideToAnsi(m_upgradeFile->GetFirmwareVersion());
    const std::size_t underscore = version.find('_');
    if (underscore == std::string::npos) return;
    const std::string partA = version.substr(0, underscore);
    const std::string partB = version.substr(underscore + 1);
    std::memset(m_firmwarePartA, 0, sizeof(m_firmwarePartA));
    std::memset(m_firmwarePartB, 0, sizeof(m_firmwarePartB));
    m_firmwarePartTooLong = partA.size() >= kFirmwarePartCapacity || partB.size() >= kFirmwarePartCapacity;
    if (m_firmwarePartTooLong) return;
    std::memcpy(m_firmwarePartA, partA.data(), partA.size());
    std::memcpy(m_firmwarePartB, partB.data(), partB.size());
}

bool CU3VDevice::__CompareFirmwareVersion() {
    if (m_firmwarePartTooLong) return false;
    return CompareFirmwareVersion(FieldText(m_deviceInfo.firmwareVersion), FieldText(m_firmwarePartA),
                                  FieldText(m_firmwarePartB));
}

bool CU3VDevice::__BurnFiles() {
    std::vector<CRegion*> regions;
    m_upgradeFile->GetRegions(regions);
    if (regions.empty()) {
        m_error.SetErrorText(CameraText::kBurningFileFailed);
        __SetStatus(StatusCode::kBurningFileFailed);
        m_writeFailure = true;
        return false;
    }
    std::uint64_t plannedBytes = 0;
    for (const CRegion* region : regions)
        if (region->GetAddress() != 0) plannedBytes += region->GetSize();
    m_burnProgress.Plan(plannedBytes);
    for (CRegion* region : regions) {
        if (region->GetAddress() == 0) continue;
        m_wroteFlash = true;
        std::size_t count = region->GetSize();
        m_burnProgress.BeginRegion(region->GetSize());
        const gentl::GC_ERROR result = m_binding->Call<gentl::Entry::DPWriteUpgradeFile>(
            m_hPort, static_cast<std::uint64_t>(region->GetAddress()), region->GetData(), &count, kWriteBlockSize,
            kWritePacketCount, kWriteReserved, kWriteVerify);
        if (result != gentl::GC_ERR_SUCCESS) {
            switch (region->GetFileType()) {
                case 0: __SetStatus(StatusCode::kBurningFpgaFailed); break;
                case 1: __SetStatus(StatusCode::kBurningFirmwareFailed); break;
                default: __SetStatus(StatusCode::kBurningParamFailed); break;
            }
            m_writeFailure = true;
            m_error.SetErrorText(CameraText::kWriteFileFailed);
            return false;
        }
        m_burnProgress.EndRegion();
    }
    m_error.SetErrorText(CameraText::kSuccess);
    return true;
}

bool CU3VDevice::__LeaveUpgradeMode() {
    m_error.SetErrorText(std::wstring());
    const gentl::GC_ERROR result = m_binding->Call<gentl::Entry::DPLeaveUpgradeMode>(m_hPort);
    if (result == gentl::GC_ERR_SUCCESS) {
        m_error.SetErrorText(CameraText::kSuccess);
        m_inUpgradeMode = false;
        return true;
    }
    if (!m_writeFailure) {
        m_error.SetErrorText(CameraText::kLeaveUpgradeModeFailed);
        __SetStatus(StatusCode::kLeaveUpgradeModeError);
        m_writeFailure = true;
    }
    return false;
}
