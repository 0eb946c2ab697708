// The few operating-system services the test bed needs, one implementation per
// system (SystemLinux.cpp, SystemWindows.cpp).
#pragma once

#include <filesystem>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace testbed::system {

std::optional<std::string> GetEnv(const std::string& name);
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);
std::vector<std::string> EnvironmentNames();
bool NamesEqualNoCase(const std::string& a, const std::string& b);

// The variables that send the program's and the test's own folders into a
// test's private ones (the state home, the runtime and temporary folders).
std::vector<std::pair<std::string, std::filesystem::path>> PrivateFolderVariables(
    const std::filesystem::path& runtime, const std::filesystem::path& stateHome, const std::filesystem::path& tmp);
// Where the program of the bin folder makes its temporary folder.
std::filesystem::path ProgramTempFolder(const std::filesystem::path& runtime, const std::filesystem::path& binDir);

long CurrentProcessId();
std::filesystem::path ExecutableDirectory();
// What the system appends to a program's name ("" here, ".exe" on Windows).
std::string ProgramSuffix();
// A loadable library's file name from its base name: "libZvIAPI.so", "ZvIAPI.dll".
std::string LibraryFileName(const std::string& baseName);

// Null with the loader's reason in error when the library cannot be opened.
void* OpenLibrary(const std::filesystem::path& file, std::string& error);
void CloseLibrary(void* handle);
void* LibrarySymbol(void* handle, const char* name);
// An entry point exported by number (Windows); on Linux the library names it.
void* LibraryOrdinal(void* handle, unsigned ordinal, const char* name);
// Whether the file is loaded into this process; loads nothing.
bool IsLibraryLoaded(const std::filesystem::path& file);
// Read from the file's export table (ExportsLinux.cpp, ExportsWindows.cpp).
std::set<std::string> ExportedEntryPoints(const std::filesystem::path& file);
std::string NumberedEntryPoint(unsigned ordinal, const char* name);

std::size_t OpenFileCount();
// The simulator's state folder under the temporary folder when none is named.
std::string SimulatorStateFolderName();

}  // namespace testbed::system
