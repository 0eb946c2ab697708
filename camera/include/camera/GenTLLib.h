// Finding, loading and calling the GenTL producer.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "camera/GenTLTypes.h"
#include "support/Platform.h"

// Pieces between separators, empty pieces included; an empty text has none.
std::vector<std::wstring> SplitString(const std::wstring& text, const std::wstring& separator);

// Directories named by the GenTL path variable of this program's word size,
// then the program's own directory. An unset variable means no search at all.
std::vector<std::wstring> GetProducerDirectories();
// For each name, the first directory holding something of that name.
std::vector<std::wstring> SearchProducerFiles(const std::vector<std::wstring>& directories,
                                              const std::vector<std::wstring>& names);
std::vector<std::wstring> FindProducerFiles(const std::vector<std::wstring>& names);

// The name of the producer path variable for this program's word size.
const wchar_t* ProducerPathVariableName();

// One loaded producer and its table of entry points. Loading never fails
// loudly: a library that did not load leaves every entry absent, and each call
// of an absent entry yields -1.
class CGenTLLib {
public:
    explicit CGenTLLib(const std::wstring& path);
    virtual ~CGenTLLib();
    CGenTLLib(const CGenTLLib&) = delete;
    CGenTLLib& operator=(const CGenTLLib&) = delete;

    // Slot 1: passes the arguments on unchanged.
    virtual gentl::GC_ERROR IFGetDeviceInfo(gentl::IF_HANDLE hIface, const char* deviceId,
                                            gentl::DEVICE_INFO_CMD command, gentl::INFO_DATATYPE* type, void* buffer,
                                            std::size_t* size);

    // Both with a time-out of 1000 ms.
    gentl::GC_ERROR TLUpdateInterfaceList(gentl::TL_HANDLE hTL, gentl::bool8_t* changed);
    gentl::GC_ERROR IFUpdateDeviceList(gentl::IF_HANDLE hIface, gentl::bool8_t* changed);

    bool IsLoaded() const { return m_module.IsLoaded(); }
    // The loader's reason when the library did not load.
    const std::string& LoadError() const { return m_module.LoadError(); }

    bool Has(gentl::Entry entry) const { return m_entries[static_cast<std::size_t>(entry)] != nullptr; }

    template <gentl::Entry E>
    typename gentl::EntryType<E>::type Get() const {
        return reinterpret_cast<typename gentl::EntryType<E>::type>(m_entries[static_cast<std::size_t>(E)]);
    }

    // Calls the entry, or yields -1 without calling when it is absent.
    template <gentl::Entry E, typename... Args>
    gentl::GC_ERROR Call(Args&&... args) const {
        const auto function = Get<E>();
        if (function == nullptr) return gentl::kEntryPointMissing;
        return function(std::forward<Args>(args)...);
    }

private:
    platform::DynamicLibrary m_module;
    std::array<void*, gentl::kEntryPointCount> m_entries{};
};

// The producer error text {code}{message} of the calling thread's last
// producer failure; {code}{GCGetLastError failed} when it cannot be had.
std::wstring GetProducerErrorText(const CGenTLLib* binding);
