// A loadable library opened the way a consumer opens it, closed when the
// object goes.
#pragma once

#include <filesystem>
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

}  // namespace testbed
