// The parts of the library handle that are the same on every system; loading,
// unloading and symbol lookup are in the system's own file.
#include <utility>

#include "support/Platform.h"

namespace platform {

DynamicLibrary::~DynamicLibrary() { Unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(other.m_handle), m_loadError(std::move(other.m_loadError)) {
    other.m_handle = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Unload();
        m_handle = other.m_handle;
        m_loadError = std::move(other.m_loadError);
        other.m_handle = nullptr;
    }
    return *this;
}

}  // namespace platform
