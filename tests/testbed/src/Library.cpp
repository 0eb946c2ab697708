#include "testbed/Library.h"

#include <stdexcept>

#include "platform/System.h"

namespace testbed {

LoadedLibrary::LoadedLibrary(const std::filesystem::path& file) {
    std::string error;
    m_handle = system::OpenLibrary(file, error);
    if (m_handle == nullptr) throw std::runtime_error("cannot load " + file.string() + ": " + error);
}

LoadedLibrary::~LoadedLibrary() { system::CloseLibrary(m_handle); }

void* LoadedLibrary::Symbol(const char* name) const { return system::LibrarySymbol(m_handle, name); }

void* LoadedLibrary::Ordinal(unsigned ordinal, const char* name) const {
    return system::LibraryOrdinal(m_handle, ordinal, name);
}

std::string LibraryFileName(const std::string& baseName) { return system::LibraryFileName(baseName); }

bool IsLibraryLoaded(const std::filesystem::path& file) { return system::IsLibraryLoaded(file); }

std::set<std::string> ExportedEntryPoints(const std::filesystem::path& file) {
    return system::ExportedEntryPoints(file);
}

std::string NumberedEntryPoint(unsigned ordinal, const char* name) { return system::NumberedEntryPoint(ordinal, name); }

}  // namespace testbed
