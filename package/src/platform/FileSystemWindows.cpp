#include "platform/FileSystem.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "support/Platform.h"
#include "support/platform/FileHandleWindows.h"

#undef DeleteFile

namespace package::fs {

using platform::FileHandle;

namespace {
constexpr const wchar_t* kFolderName = L"U3TempFileDirectory";
}  // namespace

// The root of the program's own drive: the module path up to its first "\".
std::wstring TempDirectoryPath() {
    const std::wstring program = platform::GetExecutablePath();
    const std::size_t first = program.find(L'\\');
    if (first == std::wstring::npos || first == 0) return std::wstring();
    return program.substr(0, first) + L"\\" + kFolderName;
}

// Created hidden with an access list for the current user alone; an existing
// folder must be a real folder (no link) owned by the current user, and gets
// the same access list, so no other user can plant files for the program.
namespace {
bool Refuse(std::wstring* reason, const std::wstring& text) {
    if (reason != nullptr) *reason = text;
    return false;
}
}  // namespace

namespace {
// The folders this process has made or narrowed to its user. Narrowing an
// existing folder rewrites the access lists of the files in it, which fails
// while another worker of this process holds one of them open; a folder
// narrowed once stays so, so later calls only check that it is still ours.
std::mutex g_privateMutex;
std::set<std::wstring> g_privateFolders;

bool MakePrivateDirectory(const std::wstring& path, std::wstring* reason) {
    if (platform::CreatePrivateDirectory(path)) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
        if (!platform::IsOwnDirectory(path)) return Refuse(reason, L"it changed while it was examined");
        return true;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Refuse(reason, L"it cannot be created");
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Refuse(reason, L"it is a link");
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Refuse(reason, L"it is not a folder");
    if (!platform::IsOwnDirectory(path)) return Refuse(reason, L"it belongs to another user");
    if (g_privateFolders.count(path) != 0) return true;
    if (!platform::RestrictToOwner(path)) return Refuse(reason, L"its access list cannot be narrowed");
    return true;
}
}  // namespace

bool EnsurePrivateDirectory(const std::wstring& path, std::wstring* reason) {
    if (path.empty()) return Refuse(reason, L"no place for it is known (the program's drive cannot be named)");
    const std::lock_guard<std::mutex> lock(g_privateMutex);
    if (!MakePrivateDirectory(path, reason)) return false;
    g_privateFolders.insert(path);
    return true;
}

bool CreateParentDirectories(const std::wstring& path, std::wstring* reason) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) return Refuse(reason, L"its parent folder cannot be created: " + platform::AnsiToWide(ec.message()));
    return true;
}

// The shell's delete of the folder and everything in it, as the program has
// always removed it, only when the folder is ours.
void RemovePrivateDirectory(const std::wstring& path) {
    if (path.empty() || !platform::IsOwnDirectory(path)) return;
    {
        const std::lock_guard<std::mutex> lock(g_privateMutex);
        g_privateFolders.erase(path);
    }
    std::vector<wchar_t> from(path.begin(), path.end());
    from.push_back(L'\0');
    from.push_back(L'\0');  // the list of paths ends with an empty one
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    ::SHFileOperationW(&operation);
}

bool WriteWholeFile(const std::wstring& path, const std::uint8_t* data, std::size_t size) {
    // A link at the path is refused, never written through.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsOpen()) return false;
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file.Get(), data + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

void DeleteFile(const std::wstring& path) {
    if (!path.empty()) ::DeleteFileW(path.c_str());
}

}  // namespace package::fs
