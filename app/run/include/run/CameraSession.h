// Bringing the cameras up for both front ends: the parameter export pass, the
// producer, the package's model list and the enumeration, in the order that
// keeps the camera SDK and the producer from holding a camera at the same time.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class CAPIDeviceManager;
class CDeviceManager;
class CU3VDevice;

// What the export pass holds for a camera the producer lists, matched by serial
// number.
enum class EParameterBackup {
    kSaved,      // exported: the camera may be upgraded
    kNotSaved,   // the SDK lists the camera but its export failed
    kNotListed,  // the SDK does not list the camera: nothing can be saved
};

// How an upgrade run waits for the cameras that wrote flash to come back.
struct RunTiming {
    // Between the starts of two polls of the re-enumeration watcher.
    std::chrono::milliseconds pollInterval{250};
    // A camera that wrote flash but was never seen gone (a producer that hides
    // the reboot, or a reboot quicker than one poll) counts as back once it is
    // found and opened this long after the workers ended. The environment
    // variable FLASHWRIGHT_REBOOT_ALLOWANCE (seconds) sets it for every session,
    // for cameras whose reboots are known to be quicker (simulated cameras,
    // test rigs).
    std::chrono::milliseconds rebootAllowance{10000};
    // The wait ends this long after the workers ended at the latest.
    std::chrono::milliseconds rebootTimeout{21000};
};

// The default timing with the environment's reboot allowance, when it names a
// number of seconds from 0 to 600; any other value is ignored.
RunTiming RunTimingFromEnvironment();

class CCameraSession {
public:
    // The run timing starts as RunTimingFromEnvironment().
    CCameraSession(CDeviceManager& devices, CAPIDeviceManager& parameters);

    // Start-up: export pass, producer, package model list, enumeration. False
    // with the text to show when one of the first three fails; the result of
    // the enumeration itself is not examined.
    bool Start(std::wstring& errorText);
    // "Update Devices": the producer released (every camera record goes), then
    // export pass, producer and enumeration again. The model list stays.
    bool Refresh(std::wstring& errorText);

    // The steps one at a time, for a front end that does window work between them.
    bool RunExportPass(std::wstring& errorText);
    bool LoadProducer(std::wstring& errorText);
    bool LoadModelList(std::wstring& errorText);
    void Enumerate();
    void ReleaseProducer();

    std::vector<CU3VDevice*> GetCameras() const;
    const std::vector<std::wstring>& GetModels() const { return m_models; }

    // The timing of the upgrade runs made on this session.
    void SetRunTiming(const RunTiming& timing) { m_runTiming = timing; }
    const RunTiming& GetRunTiming() const { return m_runTiming; }

    CDeviceManager& Devices() const { return m_devices; }
    CAPIDeviceManager& Parameters() const { return m_parameters; }

    // A camera that may be ticked: opened, and its model is one of the package's.
    // An unsupported camera's status becomes "Don't support upgrade".
    static bool IsEligible(CU3VDevice& camera, const std::vector<std::wstring>& models);

    // The export pass's result for the camera.
    EParameterBackup BackupOf(CU3VDevice& camera) const;
    static EParameterBackup BackupOf(const CAPIDeviceManager& parameters, CU3VDevice& camera);

private:
    CDeviceManager& m_devices;
    CAPIDeviceManager& m_parameters;
    std::vector<std::wstring> m_models;
    RunTiming m_runTiming;
};
