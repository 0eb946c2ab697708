// Saving and restoring the cameras' user parameters through the camera SDK.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/ZvIAPILibrary.h"
#include "support/Error.h"

class CAPIDeviceManager;

// How one camera's export or import ended.
struct ParameterPassResult {
    bool succeeded = false;
    // The SDK ordinal that failed (301 open, 412, 421, 700, 701; 100/200/201 when
    // the pass itself failed), 0 when no SDK call failed (for example no file).
    int ordinal = 0;
    std::int32_t status = 0;
    // What went wrong in a few words, empty after a success.
    std::wstring reason;

    static ParameterPassResult Success() { return ParameterPassResult{true, 0, 0, {}}; }
    static ParameterPassResult Failure(int ordinal, std::int32_t status, std::wstring reason = {});
    // "ordinal 700 failed with status -10 (...)", or the reason alone.
    std::wstring Describe() const;
};

// What the parameter manager knows about one camera the SDK listed.
struct CameraParameters {
    std::string identity;
    std::string serial;
    std::wstring file;                            // the camera's file in the temporary folder
    std::optional<ParameterPassResult> exported;  // absent: no export was attempted
    std::optional<ParameterPassResult> imported;  // absent: no import was attempted
    std::wstring persistentCopy;  // the dated copy of a successful export; empty when none could be kept
};

// One camera the SDK lists with the handled class code.
class CAPIDevice {
public:
    CAPIDevice(const zviapi::CZvIAPILibrary& sdk, std::string identity, std::string serial = {});

    // Deletes the camera's file, then saves the live parameters into user set 1
    // and that set into the file: a failed export leaves no file behind.
    ParameterPassResult ExportUserParam();
    // Loads the camera's own file, or the given one, back into the camera.
    ParameterPassResult ImportUserParam(const std::wstring& fromFile = {});

    const std::string& GetIdentity() const { return m_identity; }
    const std::string& GetSerial() const { return m_serial; }
    bool IsOpened() const { return m_opened; }
    // The status ordinal 301 answered.
    std::int32_t GetOpenStatus() const { return m_openStatus; }
    const std::wstring& GetParamFilePath() const { return m_paramFilePath; }

private:
    friend class CAPIDeviceManager;

    const zviapi::CZvIAPILibrary& m_sdk;
    std::uint32_t m_handle = 0;
    std::string m_identity;
    std::string m_serial;
    bool m_opened = false;
    std::int32_t m_openStatus = 0;
    std::wstring m_paramFilePath;
};

// Which of the cameras the SDK lists a parameter pass covers: those whose entry
// names one of these serial numbers. An entry without a serial number cannot
// be told apart from the cameras asked for, so it is always covered.
struct ParameterScope {
    std::vector<std::string> serials;
    bool Covers(const std::string& serial) const;
};

// The export pass (see below). With a scope, it and the import pass after it
// cover only the cameras the scope names.
bool ExportUserParams(CAPIDeviceManager& manager, std::optional<ParameterScope> scope = std::nullopt);

class CAPIDeviceManager {
public:
    CAPIDeviceManager() = default;
    // Looks for the SDK in that folder before the system loader's places.
    explicit CAPIDeviceManager(const std::wstring& sdkFolder) : m_sdk(sdkFolder) {}
    ~CAPIDeviceManager();
    CAPIDeviceManager(const CAPIDeviceManager&) = delete;
    CAPIDeviceManager& operator=(const CAPIDeviceManager&) = delete;

    bool InitEnvironment();
    // Lists the cameras and opens each one the pass covers (every camera when
    // the manager has no scope); the others are neither opened nor listed.
    bool UpdateDeviceList();
    void CloseAllDevices();
    // Closes the SDK (ordinal 101); the library itself stays loaded.
    void CloseEnvironment();
    std::vector<CAPIDevice*> GetDeviceList() const;
    std::wstring GetErrorText() const { return m_error.GetErrorText(); }
    void SetErrorText(const std::wstring& text) { m_error.SetErrorText(text); }
    // The ordinal and status of the last call that failed the pass as a whole.
    int GetFailedOrdinal() const { return m_failedOrdinal; }
    std::int32_t GetFailedStatus() const { return m_failedStatus; }

    // Per camera, the results of the last export pass and the import pass after
    // it, in the SDK's listing order.
    const std::vector<CameraParameters>& GetCameraParameters() const { return m_cameras; }
    // The camera the SDK lists with that serial number (the SDK entry's serial
    // field), nullptr when it lists none.
    const CameraParameters* FindBySerial(const std::string& serial) const;
    CameraParameters* FindByIdentity(const std::string& identity);
    CameraParameters& RecordFor(const CAPIDevice& device);
    bool HasExportResults() const { return m_exportRan; }
    void ForgetResults();
    // The cameras the passes cover until the next export pass without one.
    void SetScope(std::optional<ParameterScope> scope) { m_scope = std::move(scope); }

private:
    friend bool ExportUserParams(CAPIDeviceManager& manager, std::optional<ParameterScope> scope);
    std::wstring DescribeStatus(std::int32_t status) const;

    CError m_error;
    zviapi::CZvIAPILibrary m_sdk;
    std::vector<std::unique_ptr<CAPIDevice>> m_devices;
    std::vector<unsigned char> m_infoBuffer;
    std::vector<CameraParameters> m_cameras;
    bool m_exportRan = false;
    std::optional<ParameterScope> m_scope;
    int m_failedOrdinal = 0;
    std::int32_t m_failedStatus = 0;
};

// The two passes around an upgrade run. Both check the temporary folder before
// any SDK call, record each camera's result in the manager, and leave the SDK
// closed and no camera open. A false result means the pass failed as a whole
// and the manager's error text says why; single cameras' failures are in
// GetCameraParameters(). After an export pass, the import pass loads only the
// cameras whose export succeeded; without one, every listed camera.
bool ExportUserParams(CAPIDeviceManager& manager, std::optional<ParameterScope> scope);
bool ImportUserParams(CAPIDeviceManager& manager);

// Loading given parameter files back into cameras picked by serial number,
// with the import pass's SDK sequence.
struct RestoreRequest {
    std::string serial;
    std::wstring file;  // empty: the camera's latest persistent copy
};
struct RestoreResult {
    std::string serial;
    std::string identity;  // empty when the SDK does not list the camera
    std::wstring file;
    ParameterPassResult result;
};
// False when the pass failed as a whole (text in the manager); results holds
// one entry per request otherwise.
bool RestoreUserParams(CAPIDeviceManager& manager, const std::vector<RestoreRequest>& requests,
                       std::vector<RestoreResult>& results);

// Where every successful export also leaves a dated copy that the program
// never deletes: $XDG_STATE_HOME/flashwright/parameter-backups, else
// ~/.local/state/flashwright/parameter-backups.
std::wstring ParameterBackupFolder();
// The program's persistent state folder: $XDG_STATE_HOME/flashwright, else
// ~/.local/state/flashwright; empty when neither is set.
std::wstring PersistentStateFolder();
// The newest dated copy kept for the camera with that SDK identity; empty when none.
std::wstring FindLatestPersistentCopy(const std::string& identity);
