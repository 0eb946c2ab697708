// The program's connection to the GenTL producer: the binding, the transport
// layer, the open interfaces and the cameras found on them. One per process.
#pragma once

#include <functional>
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
    // The re-enumeration watcher's poll: enumerates afresh, like
    // CheckReenumeration, but opens only the cameras whose device ids are in
    // toOpen, each through a fresh record kept in the second list. present
    // receives the device id of every camera found, opened the ids in toOpen
    // that were found and opened. A record of the camera list with the same
    // id and its upgrade-started flag set receives the fresh opened flag and
    // information record. False when the enumeration failed.
    bool PollReenumeration(const std::vector<std::string>& toOpen, std::vector<std::string>& present,
                           std::vector<std::string>& opened);
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
    // Enumerates every camera of every interface; sites names the failure
    // text of each step. Calls found for every camera listed, in interface order.
    using DeviceVisitor = std::function<void(gentl::IF_HANDLE hInterface, const std::string& deviceId)>;
    bool __Enumerate(const EnumerationSites& sites, bool useWrappers, const DeviceVisitor& found);
    // Into the list, every camera opened.
    bool __Enumerate(DeviceList& list, const EnumerationSites& sites, bool useWrappers);
    // Copies what a fresh record found into the upgraded record of the same id.
    void __TakeOverFreshRecord(const CU3VDevice& fresh);

    std::map<std::string, gentl::IF_HANDLE> m_interfaces;
    gentl::TL_HANDLE m_hTL = nullptr;
    CError m_error;
    std::unique_ptr<CGenTLLib> m_binding;
    DeviceList m_devices;
    DeviceList m_reDevices;
    std::vector<std::wstring> m_modelList;

    static CDeviceManager* s_instance;
};
