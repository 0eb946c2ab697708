// Operating-system services of the package: the private temporary folder and
// plain file writes. A Windows build replaces FileSystemLinux.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace package::fs {

// Where the temporary folder belongs; empty when no place can be named.
std::wstring TempDirectoryPath();
// See package::EnsurePrivateFolder. reason (when given) receives why a path is
// refused.
bool EnsurePrivateDirectory(const std::wstring& path, std::wstring* reason = nullptr);
// Creates the missing parent folders of path (never the last component).
bool CreateParentDirectories(const std::wstring& path, std::wstring* reason);
// See package::RemoveTempDirectory.
void RemovePrivateDirectory(const std::wstring& path);
// Creates or truncates the file and writes every byte; never follows a symbolic
// link at the path.
bool WriteWholeFile(const std::wstring& path, const std::uint8_t* data, std::size_t size);
void DeleteFile(const std::wstring& path);

}  // namespace package::fs
