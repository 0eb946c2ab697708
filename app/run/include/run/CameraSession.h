// Bringing the cameras up for both front ends: the parameter export pass, the
// producer, the package's model list and the enumeration, in the order that
// keeps the camera SDK and the producer from holding a camera at the same time.
#pragma once

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

class CCameraSession {
public:
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
};
