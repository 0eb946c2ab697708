#include "System.h"
#include "WindowsText.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <cwchar>
#include <string_view>
#include <vector>

namespace testbed::system {

namespace {

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length != 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return Narrow(message);
}

}  // namespace

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::optional<std::string> GetEnv(const std::string& name) {
    const std::wstring wideName = Wide(name);
    ::SetLastError(ERROR_SUCCESS);
    const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(length);
    return Narrow(value);
}

// Through the C library, so both its copy of the environment (which getenv
// reads, in the test and in every library it loads) and the system's change.
void SetEnv(const std::string& name, const std::string& value) {
    if (value.empty()) {
        // The C library would remove a variable set to nothing; the system keeps it empty.
        ::_wputenv_s(Wide(name).c_str(), L"");
        ::SetEnvironmentVariableW(Wide(name).c_str(), L"");
        return;
    }
    ::_wputenv_s(Wide(name).c_str(), Wide(value).c_str());
}

void UnsetEnv(const std::string& name) {
    ::_wputenv_s(Wide(name).c_str(), L"");
    ::SetEnvironmentVariableW(Wide(name).c_str(), nullptr);
}

std::vector<std::string> EnvironmentNames() {
    std::vector<std::string> names;
    wchar_t* block = ::GetEnvironmentStringsW();
    if (block == nullptr) return names;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        // Entries such as "=C:=C:\work" are the shell's drive folders, not variables.
        const wchar_t* equals = std::wcschr(entry + 1, L'=');
        if (entry[0] != L'=' && equals != nullptr)
            names.push_back(Narrow(std::wstring(entry, static_cast<std::size_t>(equals - entry))));
    }
    ::FreeEnvironmentStringsW(block);
    return names;
}

bool NamesEqualNoCase(const std::string& a, const std::string& b) {
    const std::wstring wideA = Wide(a), wideB = Wide(b);
    return ::CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                  static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

// The program keeps its state under %LOCALAPPDATA%, so that is the state home;
// TEMP and TMP are where the test's and its processes' temporary files go.
std::vector<std::pair<std::string, std::filesystem::path>> PrivateFolderVariables(
    const std::filesystem::path&, const std::filesystem::path& stateHome, const std::filesystem::path& tmp) {
    return {{"LOCALAPPDATA", stateHome}, {"TEMP", tmp}, {"TMP", tmp}};
}

// The program's temporary folder is at the root of its own drive, whatever the environment says.
std::filesystem::path ProgramTempFolder(const std::filesystem::path&, const std::filesystem::path& binDir) {
    return binDir.root_path() / "U3TempFileDirectory";
}

long CurrentProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

std::filesystem::path ExecutableDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::filesystem::current_path();
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

std::string ProgramSuffix() { return ".exe"; }

std::string LibraryFileName(const std::string& baseName) { return baseName + ".dll"; }

void* OpenLibrary(const std::filesystem::path& file, std::string& error) {
    // A missing dependency gives an error, not a message box.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = ::LoadLibraryW(file.c_str());
    const DWORD failure = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (handle == nullptr) error = ErrorText(failure);
    return reinterpret_cast<void*>(handle);
}

void CloseLibrary(void* handle) {
    if (handle != nullptr) ::FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

void* LibrarySymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
}

void* LibraryOrdinal(void* handle, unsigned ordinal, const char*) {
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(handle), MAKEINTRESOURCEA(ordinal)));
}

bool IsLibraryLoaded(const std::filesystem::path& file) {
    // The loader matches a full path against the paths of the loaded modules.
    const std::filesystem::path full = std::filesystem::absolute(file).make_preferred();
    HMODULE module = nullptr;
    return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, full.c_str(), &module) != 0;
}

namespace {

// The system's handle table, as NtQuerySystemInformation(SystemExtendedHandleInformation) gives it.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT backTraceIndex;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

bool IsFileObject(HANDLE handle) {
    alignas(PUBLIC_OBJECT_TYPE_INFORMATION) unsigned char buffer[512];
    ULONG size = 0;
    if (::NtQueryObject(handle, ObjectTypeInformation, buffer, sizeof buffer, &size) != 0) return false;
    const UNICODE_STRING& name = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer)->TypeName;
    return std::wstring_view(name.Buffer, name.Length / sizeof(wchar_t)) == L"File";
}

}  // namespace

// GetProcessHandleCount would count every kind of handle, and Wine answers it
// with 0; the system's handle table is read right by both.
std::size_t OpenFileCount() {
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            ::NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemExtendedHandleInformation),
                                       buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {  // the table grew meanwhile
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) throw std::runtime_error("cannot read the handle table: status " + std::to_string(status));
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        const ULONG_PTR self = ::GetCurrentProcessId();
        std::size_t count = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i) {
            const HandleEntry& entry = table->entries[i];
            if (entry.processId == self && IsFileObject(reinterpret_cast<HANDLE>(entry.handle))) ++count;
        }
        return count;
    }
}

std::string SimulatorStateFolderName() { return "flashwright-sim"; }

}  // namespace testbed::system
