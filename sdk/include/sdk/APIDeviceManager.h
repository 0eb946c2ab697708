// Saving and restoring the cameras' user parameters through the camera SDK.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdk/ZvIAPILibrary.h"
#include "support/Error.h"

class CAPIDeviceManager;

// One camera the SDK lists with the handled class code.
class CAPIDevice {
public:
    CAPIDevice(const zviapi::CZvIAPILibrary& sdk, std::string identity);

    bool ExportUserParam();
    bool ImportUserParam();

    const std::string& GetIdentity() const { return m_identity; }
    bool IsOpened() const { return m_opened; }
    std::uint32_t GetHandle() const { return m_handle; }
    const std::wstring& GetParamFilePath() const { return m_paramFilePath; }

private:
    friend class CAPIDeviceManager;

    // The file path as the SDK takes it: 8-bit text in the platform's code page.
    std::string ParamFilePath8Bit() const;

    const zviapi::CZvIAPILibrary& m_sdk;
    std::uint32_t m_handle = 0;
    std::string m_identity;
    bool m_opened = false;
    std::wstring m_paramFilePath;
};

class CAPIDeviceManager {
public:
    CAPIDeviceManager() = default;
    // Looks for the SDK in that folder before the system loader's places.
    explicit CAPIDeviceManager(const std::wstring& sdkFolder) : m_sdk(sdkFolder) {}
    ~CAPIDeviceManager();
    CAPIDeviceManager(const CAPIDeviceManager&) = delete;
    CAPIDeviceManager& operator=(const CAPIDeviceManager&) = delete;

    bool InitEnvironment();
    bool UpdateDeviceList();
    void CloseAllDevices();
    // Closes the SDK (ordinal 101); the library itself stays loaded.
    void CloseEnvironment();
    std::vector<CAPIDevice*> GetDeviceList() const;
    std::wstring GetErrorText() const { return m_error.GetErrorText(); }

private:
    std::wstring DescribeStatus(std::int32_t status) const;

    CError m_error;
    zviapi::CZvIAPILibrary m_sdk;
    std::vector<std::unique_ptr<CAPIDevice>> m_devices;
    std::vector<unsigned char> m_infoBuffer;
};

// The two passes around an upgrade run. Both leave the SDK closed and no
// camera open. A false result means the manager's error text should be shown.
bool ExportUserParams(CAPIDeviceManager& manager);
bool ImportUserParams(CAPIDeviceManager& manager);

// Where every successful export also leaves a dated copy that the program
// never deletes: $XDG_STATE_HOME/flashwright/parameter-backups, else
// ~/.local/state/flashwright/parameter-backups.
std::wstring ParameterBackupFolder();
