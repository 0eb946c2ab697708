// The few operating-system services the test bed needs, one implementation per
// system (SystemLinux.cpp; a Windows file may follow).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testbed::system {

std::optional<std::string> GetEnv(const std::string& name);
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);
std::vector<std::string> EnvironmentNames();
bool NamesEqualNoCase(const std::string& a, const std::string& b);

long CurrentProcessId();
std::filesystem::path ExecutableDirectory();
// What the system appends to a program's name ("" here, ".exe" on Windows).
std::string ProgramSuffix();

// Null with the loader's reason in error when the library cannot be opened.
void* OpenLibrary(const std::filesystem::path& file, std::string& error);
void CloseLibrary(void* handle);
void* LibrarySymbol(void* handle, const char* name);

}  // namespace testbed::system
