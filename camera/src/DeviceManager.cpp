#include "camera/DeviceManager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "FailureSites.h"
#include "support/FormatString.h"
#include "support/Platform.h"

CDeviceManager* CDeviceManager::s_instance = nullptr;

CDeviceManager* CDeviceManager::GetInstance() {
    if (s_instance == nullptr) s_instance = new CDeviceManager();
    return s_instance;
}

void CDeviceManager::ReleaseInstance() {
    delete s_instance;
    s_instance = nullptr;
}

CDeviceManager::~CDeviceManager() {
    ReleaseEnvironment();
    // Cameras or interfaces left without a binding have nothing to close through.
    m_devices.clear();
    m_reDevices.clear();
}

void CDeviceManager::__RecordFailure(std::int32_t code, const FailureSite& site) {
    m_error.SetErrorText(FormatFailureText(code, site, __GetProducerError()));
}

bool CDeviceManager::__LoadProducer(const std::vector<std::wstring>& names) {
    const std::vector<std::wstring> paths = FindProducerFiles(names);
    if (paths.empty()) return false;
    m_binding = std::make_unique<CGenTLLib>(paths.front());
    return true;
}

bool CDeviceManager::InitEnvironment(const std::wstring& producerNames) {
    // Loading over a loaded producer would leak its handles; start afresh.
    ReleaseEnvironment();

    if (!__LoadProducer(SplitString(producerNames, L";"))) {
        m_error.SetErrorText(FormatString(CameraText::kLoadLibraryError));
        return false;
    }
    gentl::GC_ERROR result = m_binding->Call<gentl::Entry::GCInitLib>();
    if (result != gentl::GC_ERR_SUCCESS) {
        __RecordFailure(result, DeviceManagerSite::kInitLib);
        return false;
    }
    result = m_binding->Call<gentl::Entry::TLOpen>(&m_hTL);
    if (result != gentl::GC_ERR_SUCCESS) {
        __RecordFailure(result, DeviceManagerSite::kOpenTransportLayer);
        return false;
    }
    return true;
}

gentl::IF_HANDLE CDeviceManager::__OpenInterface(std::uint32_t index) {
    std::size_t size = 0;
    if (m_binding->Has(gentl::Entry::TLGetInterfaceID))
        m_binding->Call<gentl::Entry::TLGetInterfaceID>(m_hTL, index, nullptr, &size);

    // One byte more than the producer is told about keeps the ID terminated.
    std::vector<char> buffer;
    try {
        if (size >= buffer.max_size()) return nullptr;
        buffer.assign(size + 1, '\0');
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (m_binding->Call<gentl::Entry::TLGetInterfaceID>(m_hTL, index, buffer.data(), &size) != gentl::GC_ERR_SUCCESS)
        return nullptr;

    const std::string id(buffer.data());
    const auto known = m_interfaces.find(id);
    if (known != m_interfaces.end()) return known->second;

    gentl::IF_HANDLE hInterface = nullptr;
    if (m_binding->Call<gentl::Entry::TLOpenInterface>(m_hTL, id.c_str(), &hInterface) != gentl::GC_ERR_SUCCESS)
        return nullptr;
    m_interfaces.emplace(id, hInterface);
    return hInterface;
}

bool CDeviceManager::__Enumerate(DeviceList& list, const EnumerationSites& sites, bool useWrappers) {
    list.clear();
    return __Enumerate(sites, useWrappers, [&](gentl::IF_HANDLE hInterface, const std::string& id) {
        list.push_back(std::make_unique<CU3VDevice>(hInterface, id, m_binding.get()));
        list.back()->OpenDevice();
    });
}

bool CDeviceManager::__Enumerate(const EnumerationSites& sites, bool useWrappers, const DeviceVisitor& found) {
    gentl::bool8_t changed = 0;
    gentl::GC_ERROR result =
        useWrappers ? m_binding->TLUpdateInterfaceList(m_hTL, &changed)
                    : m_binding->Call<gentl::Entry::TLUpdateInterfaceList>(m_hTL, &changed, std::uint64_t{1000});
    if (result != gentl::GC_ERR_SUCCESS) {
        __RecordFailure(result, sites.updateInterfaces);
        if (useWrappers) platform::OutputDebugText(m_error.GetErrorText());
        return false;
    }

    std::uint32_t interfaceCount = 0;
    result = m_binding->Call<gentl::Entry::TLGetNumInterfaces>(m_hTL, &interfaceCount);
    if (result != gentl::GC_ERR_SUCCESS) {
        __RecordFailure(result, sites.numInterfaces);
        return false;
    }

    for (std::uint32_t i = 0; i < interfaceCount; ++i) {
        const gentl::IF_HANDLE hInterface = __OpenInterface(i);
        if (hInterface == nullptr) continue;

        changed = 0;
        result = useWrappers
                     ? m_binding->IFUpdateDeviceList(hInterface, &changed)
                     : m_binding->Call<gentl::Entry::IFUpdateDeviceList>(hInterface, &changed, std::uint64_t{1000});
        if (result != gentl::GC_ERR_SUCCESS) {
            __RecordFailure(result, sites.updateDevices);
            return false;
        }

        std::uint32_t deviceCount = 0;
        result = m_binding->Call<gentl::Entry::IFGetNumDevices>(hInterface, &deviceCount);
        if (result != gentl::GC_ERR_SUCCESS) {
            __RecordFailure(result, sites.numDevices);
            return false;
        }

        for (std::uint32_t d = 0; d < deviceCount; ++d) {
            // One spare zero byte so an ID that fills the buffer still ends.
            std::vector<char> id(CU3VDevice::kDeviceIdCapacity + 1, '\0');
            std::size_t size = CU3VDevice::kDeviceIdCapacity;
            result = m_binding->Call<gentl::Entry::IFGetDeviceID>(hInterface, d, id.data(), &size);
            if (result == gentl::GC_ERR_BUFFER_TOO_SMALL) {
                // A longer id: ask for the size it needs, then fetch it whole.
                size = 0;
                result = m_binding->Call<gentl::Entry::IFGetDeviceID>(hInterface, d, nullptr, &size);
                if (result == gentl::GC_ERR_SUCCESS) {
                    id.assign(size + 1, '\0');
                    result = m_binding->Call<gentl::Entry::IFGetDeviceID>(hInterface, d, id.data(), &size);
                }
            }
            if (result != gentl::GC_ERR_SUCCESS) {
                __RecordFailure(result, sites.deviceId);
                return false;
            }
            found(hInterface, std::string(id.data(), ::strnlen(id.data(), id.size())));
        }
    }
    return true;
}

bool CDeviceManager::UpdateDeviceList() {
    if (!m_binding) return false;
    try {
        return __Enumerate(m_devices, DeviceManagerSite::kEnumeration, true);
    } catch (...) {
        return false;
    }
}

bool CDeviceManager::__ReUpdateDeviceList() {
    if (!m_binding) return false;
    return __Enumerate(m_reDevices, DeviceManagerSite::kReEnumeration, false);
}

std::vector<CU3VDevice*> CDeviceManager::GetDeviceList() const {
    std::vector<CU3VDevice*> devices;
    devices.reserve(m_devices.size());
    for (const auto& device : m_devices) devices.push_back(device.get());
    return devices;
}

void CDeviceManager::__TakeOverFreshRecord(const CU3VDevice& fresh) {
    for (const auto& old : m_devices) {
        if (!old->IsUpgradeStarted() || old->GetDeviceID() != fresh.GetDeviceID()) continue;
        if (old.get() != &fresh) {
            old->m_opened = fresh.m_opened.load();
            old->m_deviceInfo = fresh.m_deviceInfo;
        }
        break;
    }
}

bool CDeviceManager::CheckReenumeration() {
    __ReUpdateDeviceList();
    for (const auto& fresh : m_reDevices) __TakeOverFreshRecord(*fresh);
    return m_devices.size() == m_reDevices.size();
}

bool CDeviceManager::PollReenumeration(const std::vector<std::string>& toOpen, std::vector<std::string>& present,
                                       std::vector<std::string>& opened) {
    present.clear();
    opened.clear();
    if (!m_binding) return false;
    return __Enumerate(
        DeviceManagerSite::kReEnumeration, false, [&](gentl::IF_HANDLE hInterface, const std::string& id) {
            present.push_back(id);
            if (std::find(toOpen.begin(), toOpen.end(), present.back()) == toOpen.end()) return;
            auto fresh = std::make_unique<CU3VDevice>(hInterface, id, m_binding.get());
            fresh->OpenDevice();
            if (!fresh->IsOpened()) return;  // closed again as the record goes
            // An earlier fresh record of the camera, if any, closes as it goes.
            const auto same = std::find_if(m_reDevices.begin(), m_reDevices.end(), [&](const auto& record) {
                return record->GetDeviceID() == fresh->GetDeviceID();
            });
            if (same != m_reDevices.end()) m_reDevices.erase(same);
            __TakeOverFreshRecord(*fresh);
            opened.push_back(fresh->GetDeviceID());
            m_reDevices.push_back(std::move(fresh));
        });
}

void CDeviceManager::ClearReDeviceList() { m_reDevices.clear(); }

void CDeviceManager::CloseInterfaces() {
    m_devices.clear();
    m_reDevices.clear();
    for (const auto& [id, hInterface] : m_interfaces) {
        if (m_binding && m_binding->Has(gentl::Entry::IFClose)) m_binding->Call<gentl::Entry::IFClose>(hInterface);
    }
    m_interfaces.clear();
}

void CDeviceManager::ReleaseEnvironment() {
    if (!m_binding) return;
    CloseInterfaces();
    m_binding->Call<gentl::Entry::TLClose>(m_hTL);
    m_hTL = nullptr;
    m_binding->Call<gentl::Entry::GCCloseLib>();
    m_binding.reset();
}
