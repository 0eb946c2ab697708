// Resources compiled into the program as a table (see cmake/EmbedResources.cmake).
#include "EmbeddedResources.h"

namespace package::detail {

namespace {

struct EmbeddedResource {
    const char* type;
    int id;
    const unsigned char* data;
    const std::size_t* size;
};

bool TypeMatches(const std::wstring& wanted, const char* type) {
    std::size_t i = 0;
    for (; i < wanted.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(type[i]);
        if (c == 0) return false;
        wchar_t w = wanted[i];
        if (w >= L'a' && w <= L'z') w = w - L'a' + L'A';
        const wchar_t t = (c >= 'a' && c <= 'z') ? static_cast<wchar_t>(c - 'a' + 'A') : static_cast<wchar_t>(c);
        if (w != t) return false;
    }
    return type[i] == '\0';
}

}  // namespace

}  // namespace package::detail

#include "ResourceTable.inc"

namespace package::detail {

bool FindEmbeddedResource(const std::wstring& type, int id, const unsigned char*& data, std::size_t& size) {
    for (const EmbeddedResource& resource : kEmbeddedResources) {
        if (resource.id != id || !TypeMatches(type, resource.type)) continue;
        data = resource.data;
        size = *resource.size;
        return true;
    }
    return false;
}

}  // namespace package::detail
