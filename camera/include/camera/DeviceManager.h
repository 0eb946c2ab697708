// The program's connection to the GenTL producer: the binding, the transport
// layer, the open interfaces and the cameras found on them. One per process.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/GenTLLib.h"
#include "camera/U3VDevice.h"
#include "support/Error.h"

struct EnumerationSites;

class CDeviceManager {
public:
    static CDeviceManager* GetInstance();
    static void ReleaseInstance();

    CDeviceManager() = default;
    // Releases whatever is still open.
    virtual ~CDeviceManager();
    CDeviceManager(const CDeviceManager&) = delete;
    CDeviceManager& operator=(const CDeviceManager&) = delete;

    // Producer file names separated by ";". A producer still loaded is
    // released first.
    bool InitEnvironment(const std::wstring& producerNames);
    bool UpdateDeviceList();
    // The cameras stay owned here and are valid until the list is next cleared.
    std::vector<CU3VDevice*> GetDeviceList() const;
    bool CheckReenumeration();
    void ClearReDeviceList();
    void ReleaseEnvironment();
    void CloseInterfaces();

    std::wstring GetErrorText() const { return m_error.GetErrorText(); }
    std::vector<std::wstring> GetModelList() const { return m_modelList; }
    // The package loader fills this list in place.
    std::vector<std::wstring>& ModelList() { return m_modelList; }

    bool IsProducerLoaded() const { return m_binding != nullptr; }
    CGenTLLib* GetBinding() const { return m_binding.get(); }
    std::size_t GetInterfaceCount() const { return m_interfaces.size(); }

private:
    bool __LoadProducer(const std::vector<std::wstring>& names);
    gentl::IF_HANDLE __OpenInterface(std::uint32_t index);
    bool __ReUpdateDeviceList();
    std::wstring __GetProducerError() const { return GetProducerErrorText(m_binding.get()); }
    void __RecordFailure(std::int32_t code, const FailureSite& site);

    using DeviceList = std::vector<std::unique_ptr<CU3VDevice>>;
    // Enumerates every camera of every interface into the list; sites names
    // the failure text of each step.
    bool __Enumerate(DeviceList& list, const EnumerationSites& sites, bool useWrappers);

    std::map<std::string, gentl::IF_HANDLE> m_interfaces;
    gentl::TL_HANDLE m_hTL = nullptr;
    CError m_error;
    std::unique_ptr<CGenTLLib> m_binding;
    DeviceList m_devices;
    DeviceList m_reDevices;
    std::vector<std::wstring> m_modelList;

    static CDeviceManager* s_instance;
};
