#include "System.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace testbed::system {

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void SetEnv(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }

void UnsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

std::vector<std::string> EnvironmentNames() {
    std::vector<std::string> names;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr) names.emplace_back(*entry, static_cast<std::size_t>(equals - *entry));
    }
    return names;
}

bool NamesEqualNoCase(const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) == 0; }

std::vector<std::pair<std::string, std::filesystem::path>> PrivateFolderVariables(
    const std::filesystem::path& runtime, const std::filesystem::path& stateHome, const std::filesystem::path& tmp) {
    return {{"XDG_RUNTIME_DIR", runtime}, {"XDG_STATE_HOME", stateHome}, {"TMPDIR", tmp}};
}

std::filesystem::path ProgramTempFolder(const std::filesystem::path& runtime, const std::filesystem::path&) {
    return runtime / "U3TempFileDirectory";
}

long CurrentProcessId() { return static_cast<long>(::getpid()); }

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

std::string ProgramSuffix() { return ""; }

std::string LibraryFileName(const std::string& baseName) { return "lib" + baseName + ".so"; }

void* OpenLibrary(const std::filesystem::path& file, std::string& error) {
    // As the program loads producers: every symbol bound now, none shared.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : "unknown reason";
    }
    return handle;
}

void CloseLibrary(void* handle) {
    if (handle != nullptr) ::dlclose(handle);
}

void* LibrarySymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void* LibraryOrdinal(void* handle, unsigned, const char* name) { return ::dlsym(handle, name); }

bool IsLibraryLoaded(const std::filesystem::path& file) {
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);  // only asks, loads nothing
    if (handle == nullptr) return false;
    ::dlclose(handle);  // gives back the reference the question took
    return true;
}

std::size_t OpenFileCount() {
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd"); it != std::filesystem::directory_iterator();
         ++it)
        ++count;
    return count;  // the listing's own descriptor included, every time alike
}

std::string SimulatorStateFolderName() { return "flashwright-sim-" + std::to_string(::getuid()); }

}  // namespace testbed::system
