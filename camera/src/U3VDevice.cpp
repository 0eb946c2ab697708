#include "camera/U3VDevice.h"

#include <algorithm>
#include <cstring>

#include "FailureSites.h"
#include "package/UpgradeFile.h"
#include "support/FormatString.h"
#include "support/Platform.h"

CU3VDevice::CU3VDevice(gentl::IF_HANDLE hInterface, const char* deviceId, CGenTLLib* binding)
    : m_hInterface(hInterface), m_binding(binding), m_thread(GenICam::Client::MakeThread()) {
    if (deviceId != nullptr) m_deviceId.assign(deviceId, ::strnlen(deviceId, kDeviceIdCapacity - 1));
}

CU3VDevice::CU3VDevice(gentl::IF_HANDLE hInterface, std::string deviceId, CGenTLLib* binding)
    : m_hInterface(hInterface), m_binding(binding), m_thread(GenICam::Client::MakeThread()) {
    m_deviceId = std::move(deviceId);
}

CU3VDevice::~CU3VDevice() {
    // A worker still running uses this object: wait for it before anything goes.
    if (m_thread) m_thread->Join();
    try {
        if (m_hDevice != nullptr) CloseDevice();
    } catch (...) {
    }
}

void CU3VDevice::__RecordFailure(std::int32_t code, const FailureSite& site) {
    m_error.SetErrorText(FormatFailureText(code, site, __GetProducerError()));
}

void CU3VDevice::__PutInvalid(char* field, std::size_t width) {
    const std::string invalid = platform::WideToAnsi(CameraText::kInvalid);
    const std::size_t length = std::min(invalid.size(), width - 1);
    std::memcpy(field, invalid.data(), length);
    field[length] = '\0';
}

void CU3VDevice::OpenDevice() {
    if (m_hInterface == nullptr) {
        m_opened = false;
        return;
    }
    __GetUpdateInfo();

    gentl::DEV_HANDLE hDevice = nullptr;
    const gentl::GC_ERROR opened = m_binding->Call<gentl::Entry::IFOpenDevice>(
        m_hInterface, m_deviceId.c_str(), gentl::DEVICE_ACCESS_EXCLUSIVE, &hDevice);
    m_openResult = opened;
    if (opened != gentl::GC_ERR_SUCCESS && opened != gentl::kVendorAlreadyOpen) {
        __RecordFailure(opened, U3VDeviceSite::kOpenDevice);
        m_opened = false;
        __SetStatus(StatusCode::kOpenDeviceError);
        return;
    }
    m_hDevice = hDevice;

    gentl::PORT_HANDLE hPort = nullptr;
    const gentl::GC_ERROR port = m_binding->Call<gentl::Entry::DevGetPort>(m_hDevice, &hPort);
    if (port == gentl::GC_ERR_SUCCESS) {
        m_hPort = hPort;
        m_opened = true;
        __ReadDeviceInfo();
        return;
    }
    __RecordFailure(port, U3VDeviceSite::kGetPort);
    m_binding->Call<gentl::Entry::DevClose>(m_hDevice);
    m_hDevice = nullptr;
    m_opened = false;
    __SetStatus(StatusCode::kOpenDeviceError);
}

bool CU3VDevice::__GetUpdateInfo() {
    gentl::INFO_DATATYPE type = gentl::INFO_DATATYPE_STRING;
    std::size_t size = sizeof(m_deviceInfo.modelName);
    gentl::GC_ERROR result = m_binding->IFGetDeviceInfo(m_hInterface, m_deviceId.c_str(), gentl::DEVICE_INFO_MODEL,
                                                        &type, m_deviceInfo.modelName, &size);
    if (result != gentl::GC_ERR_SUCCESS) {
        __RecordFailure(result, U3VDeviceSite::kModelInfo);
        __PutInvalid(m_deviceInfo.modelName, sizeof(m_deviceInfo.modelName));
        return false;
    }

    // The serial number as the producer lists it, which needs no open: it names
    // a camera that cannot be opened. Optional, so a failure is not recorded.
    char serial[sizeof(m_deviceInfo.serialNumber)] = {};
    type = gentl::INFO_DATATYPE_STRING;
    size = sizeof(serial);
    if (m_binding->IFGetDeviceInfo(m_hInterface, m_deviceId.c_str(), gentl::DEVICE_INFO_SERIAL_NUMBER, &type, serial,
                                   &size) == gentl::GC_ERR_SUCCESS)
        m_producerSerial = FieldText(serial, std::min(size, sizeof(serial)));

    char displayName[128] = {};
    type = gentl::INFO_DATATYPE_STRING;
    size = sizeof(displayName);
    result = m_binding->IFGetDeviceInfo(m_hInterface, m_deviceId.c_str(), gentl::DEVICE_INFO_DISPLAYNAME, &type,
                                        displayName, &size);
    if (result != gentl::GC_ERR_SUCCESS) {
        __RecordFailure(result, U3VDeviceSite::kDisplayNameInfo);
        return false;
    }
    return true;
}

void CU3VDevice::__ReadDeviceInfo() {
    __GetVersionInfo(kSerialNumberAddress, m_deviceInfo.serialNumber, sizeof(m_deviceInfo.serialNumber));
    __GetVersionInfo(kFirmwareVersionAddress, m_deviceInfo.firmwareVersion, sizeof(m_deviceInfo.firmwareVersion));
    __GetVersionInfo(kFactoryVersionAddress, m_deviceInfo.factoryVersion, sizeof(m_deviceInfo.factoryVersion));
    __GetVersionInfo(kDeviceVersionAddress, m_deviceInfo.deviceVersion, sizeof(m_deviceInfo.deviceVersion));
    __GetXMLVersionInfo();
    __GetDevGUIDInfo();
}

void CU3VDevice::__GetVersionInfo(std::uint64_t address, char* field, std::size_t width) {
    char scratch[64] = {};
    width = std::min(width, sizeof(scratch));
    std::size_t size = width;
    const gentl::GC_ERROR result = m_binding->Call<gentl::Entry::GCReadPort>(m_hPort, address, scratch, &size);
    if (result == gentl::GC_ERR_SUCCESS) {
        std::memcpy(field, scratch, std::min(size, width));
        return;
    }
    __RecordFailure(result, U3VDeviceSite::kVersionRead);
    __PutInvalid(field, width);
}

void CU3VDevice::__GetXMLVersionInfo() {
    static constexpr gentl::URL_INFO_CMD kCommands[] = {gentl::URL_INFO_FILE_VER_MAJOR, gentl::URL_INFO_FILE_VER_MINOR,
                                                        gentl::URL_INFO_FILE_VER_SUBMINOR};
    std::int32_t values[3] = {};
    bool complete = true;
    for (std::size_t i = 0; i < 3; ++i) {
        gentl::INFO_DATATYPE type = gentl::INFO_DATATYPE_INT32;
        std::size_t size = sizeof(values[i]);
        if (m_binding->Call<gentl::Entry::GCGetPortURLInfo>(m_hPort, 0u, kCommands[i], &type, &values[i], &size) !=
            gentl::GC_ERR_SUCCESS) {
            complete = false;
            break;
        }
    }
    const std::wstring text =
        complete ? FormatString(L"%d.%d.%d", values[0], values[1], values[2]) : std::wstring(CameraText::kInvalid);
    // The longest text three 32-bit numbers make (35 characters) does not fit:
    // it is cut at the field's width, always terminated.
    const std::string bytes = platform::WideToAnsi(text);
    char* field = m_deviceInfo.xmlVersion;
    const std::size_t length = std::min(bytes.size(), sizeof(m_deviceInfo.xmlVersion) - 1);
    std::memcpy(field, bytes.data(), length);
    field[length] = '\0';
}

void CU3VDevice::__GetDevGUIDInfo() {
    std::size_t size = sizeof(m_cameraInfo);
    const gentl::GC_ERROR result =
        m_binding->Call<gentl::Entry::GCReadPort>(m_hPort, kCameraInfoAddress, m_cameraInfo, &size);
    if (result == gentl::GC_ERR_SUCCESS) {
        std::memcpy(m_deviceInfo.guid, m_cameraInfo + kGuidOffset, sizeof(m_deviceInfo.guid));
        return;
    }
    __RecordFailure(result, U3VDeviceSite::kCameraInfoRead);
    __PutInvalid(m_deviceInfo.guid, sizeof(m_deviceInfo.guid));
}

void CU3VDevice::CloseDevice() {
    if (m_hDevice != nullptr) {
        const gentl::GC_ERROR result = m_binding->Call<gentl::Entry::DevClose>(m_hDevice);
        if (result != gentl::GC_ERR_SUCCESS && !m_writeFailure) {
            __SetStatus(StatusCode::kCloseDeviceError);
            return;
        }
        m_hDevice = nullptr;
        m_opened = false;
    }
    // The plan may be shared with other cameras of the model: letting go of it
    // frees its regions once the last of them has done so.
    m_upgradeFile.reset();
}

bool IsModelSupported(const std::vector<std::wstring>& models, CU3VDevice& camera) {
    const std::wstring model = platform::AnsiToWide(FieldText(camera.m_deviceInfo.modelName));
    if (std::find(models.begin(), models.end(), model) != models.end()) return true;
    camera.__SetStatus(StatusCode::kModelNotSupported);
    return false;
}
