#include "package/Resources.h"

#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "EmbeddedResources.h"

bool CSourceFile::Assign(const std::uint8_t* data, std::uint32_t size) {
    m_data.reset();
    m_size = 0;
    if (size == 0) return true;
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[size]);
    if (!copy) return false;
    std::memcpy(copy.get(), data, size);
    m_data = std::move(copy);
    m_size = size;
    return true;
}

namespace {

std::mutex g_overrideMutex;
std::map<std::pair<std::wstring, int>, std::shared_ptr<const std::string>> g_overrides;
bool g_anyOverride = false;  // guarded by g_overrideMutex

std::wstring UpperAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
    return text;
}

// 1 found, 0 not overridden, -1 overridden as missing or empty.
int FindOverride(const std::wstring& type, int id, ResourceBytes& bytes) {
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    if (!g_anyOverride) return 0;
    const auto it = g_overrides.find({UpperAscii(type), id});
    if (it == g_overrides.end()) return 0;
    if (it->second->empty()) return -1;
    bytes.data = reinterpret_cast<const std::uint8_t*>(it->second->data());
    bytes.size = static_cast<std::uint32_t>(it->second->size());
    bytes.owner = it->second;
    return 1;
}

}  // namespace

namespace package::testing {
void OverrideResource(const std::wstring& type, int id, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    g_overrides[{UpperAscii(type), id}] = std::make_shared<const std::string>(bytes);
    g_anyOverride = true;
}
void ClearResourceOverrides() {
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    g_overrides.clear();
    g_anyOverride = false;
}
}  // namespace package::testing

bool FindResourceBytes(const std::wstring& type, int id, ResourceBytes& bytes) try {
    bytes = ResourceBytes{};
    if (id < 0 || type.empty()) return false;
    if (const int overridden = FindOverride(type, id, bytes); overridden != 0) return overridden > 0;
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    if (!package::detail::FindEmbeddedResource(type, id, data, size)) return false;
    if (size == 0 || size > std::numeric_limits<std::uint32_t>::max()) return false;
    bytes.data = data;
    bytes.size = static_cast<std::uint32_t>(size);
    return true;
} catch (const std::exception&) {
    return false;
}

bool GetResourceData(const std::wstring& type, int id, CSourceFile& source) {
    ResourceBytes bytes;
    return FindResourceBytes(type, id, bytes) && source.Assign(bytes.data, bytes.size);
}
