#include "camera/GenTLLib.h"

#include <cstring>
#include <new>
#include <vector>

#include "support/FormatString.h"

namespace {
constexpr std::uint64_t kUpdateTimeoutMs = 1000;
}

CGenTLLib::CGenTLLib(const std::wstring& path) {
    m_module.Load(path);
    for (std::size_t i = 0; i < gentl::kEntryPointCount; ++i)
        m_entries[i] = m_module.IsLoaded() ? m_module.Symbol(gentl::kEntryPointNames[i]) : nullptr;
}

CGenTLLib::~CGenTLLib() {
    m_entries.fill(nullptr);
    m_module.Unload();
}

gentl::GC_ERROR CGenTLLib::IFGetDeviceInfo(gentl::IF_HANDLE hIface, const char* deviceId,
                                           gentl::DEVICE_INFO_CMD command, gentl::INFO_DATATYPE* type, void* buffer,
                                           std::size_t* size) {
    return Call<gentl::Entry::IFGetDeviceInfo>(hIface, deviceId, command, type, buffer, size);
}

gentl::GC_ERROR CGenTLLib::TLUpdateInterfaceList(gentl::TL_HANDLE hTL, gentl::bool8_t* changed) {
    return Call<gentl::Entry::TLUpdateInterfaceList>(hTL, changed, kUpdateTimeoutMs);
}

gentl::GC_ERROR CGenTLLib::IFUpdateDeviceList(gentl::IF_HANDLE hIface, gentl::bool8_t* changed) {
    return Call<gentl::Entry::IFUpdateDeviceList>(hIface, changed, kUpdateTimeoutMs);
}

std::wstring GetProducerErrorText(const CGenTLLib* binding) {
    gentl::GC_ERROR code = 0;
    std::size_t size = 0;
    const bool present = binding != nullptr && binding->Has(gentl::Entry::GCGetLastError);
    if (present) binding->Call<gentl::Entry::GCGetLastError>(&code, nullptr, &size);

    // One byte more than the producer is told about, so the message is
    // terminated even when the producer fills the whole buffer.
    std::vector<char> buffer;
    try {
        const std::size_t wanted = size == 0 ? 1 : size;
        if (wanted >= buffer.max_size()) throw std::bad_alloc();
        buffer.assign(wanted + 1, '\0');
    } catch (const std::exception&) {
        return L"Memory allocation failed";
    }
    std::size_t bufferSize = buffer.size() - 1;
    if (present && binding->Call<gentl::Entry::GCGetLastError>(&code, buffer.data(), &bufferSize) == 0) {
        return FormatString(L"{%d}{%S}", code, buffer.data());
    }
    return FormatString(L"{%d}{GCGetLastError failed}", code);
}
