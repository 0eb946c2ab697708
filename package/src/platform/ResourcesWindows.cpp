// Resources compiled into the program's own module from the resource script
// (see cmake/EmbedResources.cmake).
#include <windows.h>

#include "EmbeddedResources.h"

namespace package::detail {

bool FindEmbeddedResource(const std::wstring& type, int id, const unsigned char*& data, std::size_t& size) {
    if (id < 0 || id > 0xFFFF) return false;
    // The id is an integer resource name; type names match without regard to case.
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type.c_str());
    if (found == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr) return false;
    const void* bytes = ::LockResource(loaded);
    if (bytes == nullptr) return false;
    data = static_cast<const unsigned char*>(bytes);
    size = ::SizeofResource(module, found);
    return true;
}

}  // namespace package::detail
