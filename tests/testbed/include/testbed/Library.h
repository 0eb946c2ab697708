// A loadable library opened the way a consumer opens it, closed when the
// object goes.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace testbed {

class LoadedLibrary {
public:
    // Throws std::runtime_error naming the file and the loader's reason.
    explicit LoadedLibrary(const std::filesystem::path& file);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // Null when the library has no such symbol.
    void* Symbol(const char* name) const;
    template <typename Function>
    Function Get(const char* name) const {
        return reinterpret_cast<Function>(Symbol(name));
    }
    // An entry point exported by number on Windows (by name on Linux), as the
    // camera SDK's are; null when there is none.
    void* Ordinal(unsigned ordinal, const char* name) const;
    template <typename Function>
    Function GetOrdinal(unsigned ordinal, const char* name) const {
        return reinterpret_cast<Function>(Ordinal(ordinal, name));
    }

private:
    void* m_handle = nullptr;
};

// The library file name of a base name: "libZvIAPI.so", "ZvIAPI.dll".
std::string LibraryFileName(const std::string& baseName);

// Whether the file is loaded into this process now; asks only, loads nothing.
bool IsLibraryLoaded(const std::filesystem::path& file);

// The entry points the library file exports, read from the file itself: each
// by its name, and one exported by number alone as NumberedEntryPoint names it.
// Throws when the file is not a library of this system.
std::set<std::string> ExportedEntryPoints(const std::filesystem::path& file);
// How ExportedEntryPoints lists an entry point consumers reach by number:
// "#<ordinal>" on Windows, where it has no name, and its name on Linux.
std::string NumberedEntryPoint(unsigned ordinal, const char* name);

}  // namespace testbed
