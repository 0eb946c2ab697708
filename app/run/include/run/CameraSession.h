// Bringing the cameras up for both front ends: the parameter export pass, the
// producer, the package's model list and the enumeration, in the order that
// keeps the camera SDK and the producer from holding a camera at the same time.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sdk/APIDeviceManager.h"

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
    // The wait ends this long after the workers ended at the latest; the
    // environment variable FLASHWRIGHT_REBOOT_TIMEOUT (seconds) sets it for
    // every session, as flashwright-cli's --reboot-timeout does for one run.
    std::chrono::milliseconds rebootTimeout{21000};
};

// A number of seconds as an option or environment variable gives it: the
// whole text a plain finite decimal number within the bounds. Anything else
// (empty, "nan", "inf", "5s", a number out of range) is refused with the reason.
struct SecondsBounds {
    double least;
    double most;
    bool leastIncluded;
};
inline constexpr SecondsBounds kRebootAllowanceBounds{0.0, 600.0, true};
inline constexpr SecondsBounds kRebootTimeoutBounds{0.0, 86400.0, false};
std::optional<double> ParseSeconds(const std::string& text, const SecondsBounds& bounds, std::string& reason);

// The default timing with the environment's reboot allowance
// (FLASHWRIGHT_REBOOT_ALLOWANCE, seconds from 0 to 600) and reboot timeout
// (FLASHWRIGHT_REBOOT_TIMEOUT, more than 0 up to 86400 s). A variable that is
// set but not such a number is refused: false, with a text naming it.
bool RunTimingFromEnvironment(RunTiming& timing, std::wstring& error);

// Older installations of the camera maker's runtime set their own variable
// names; the GenICam libraries read the versioned ones. Copies each older
// variable that is set to its versioned name, before any camera library loads.
void MirrorRuntimeVariables();

// What a session's start-up brings up.
enum class EStartScope {
    kListing,  // producer, package model list, enumeration: the cameras' parameters are left alone
    kUpgrade,  // the parameter export pass first, then as kListing
};

// The step a start-up failed in, with the text to show; for the temporary
// folder, the reason only (each front end words that failure its own way).
struct StartFailure {
    // kEnvironment: a setting of the environment cannot be used (a usage error).
    enum class EStep { kNone, kEnvironment, kTemporaryFolder, kExportPass, kProducer, kModelList };
    EStep step = EStep::kNone;
    std::wstring text;
};

class CCameraSession {
public:
    // The run timing starts as RunTimingFromEnvironment(); a variable it
    // refuses makes Start fail at its first step, before anything is touched.
    CCameraSession(CDeviceManager& devices, CAPIDeviceManager& parameters);

    // Start-up, the same for both front ends: the runtime's variables mirrored,
    // the temporary folder checked (no SDK or producer call happens in a folder
    // that cannot be used), the front end's own step (it may use the SDK, never
    // the producer), then for kUpgrade the export pass, which ends and closes
    // the SDK before the producer is loaded, then producer, package model list
    // and enumeration. False with the failing step; the result of the
    // enumeration itself is not examined.
    bool Start(EStartScope scope, const std::function<void()>& frontEndStep, StartFailure& failure);
    // "Update Devices": the producer released (every camera record goes), then
    // export pass, producer and enumeration again. The model list stays. With
    // a scope, the export pass (and the import pass of the run after it)
    // covers only those cameras.
    bool Refresh(std::wstring& errorText, std::optional<ParameterScope> scope = std::nullopt);

    // The steps one at a time.
    bool RunExportPass(std::wstring& errorText, std::optional<ParameterScope> scope = std::nullopt);
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

    // The export pass's result for the camera.
    EParameterBackup BackupOf(CU3VDevice& camera) const;
    static EParameterBackup BackupOf(const CAPIDeviceManager& parameters, CU3VDevice& camera);

private:
    CDeviceManager& m_devices;
    CAPIDeviceManager& m_parameters;
    std::vector<std::wstring> m_models;
    RunTiming m_runTiming;
    std::wstring m_environmentError;
};
