// Windows implementation of the platform layer.
#include "support/Platform.h"
#include "support/platform/FileHandleWindows.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

// <windows.h> maps these names to their W forms; ours are the layer's own.
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

namespace platform {

FileHandle::~FileHandle() {
    if (IsOpen()) ::CloseHandle(m_handle);
}

// ---- Text -----------------------------------------------------------------

namespace {

// One conversion helper for every code page: invalid input never fails, it
// becomes U+FFFD (or the code page's default character on the way back).
std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), needed);
    return out;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

}  // namespace

// Camera strings and 8-bit texts follow the calling thread's ANSI code page.
std::wstring AnsiToWide(std::string_view text) { return ToWide(CP_THREAD_ACP, text); }
std::string WideToAnsi(std::wstring_view text) { return FromWide(CP_THREAD_ACP, text); }

std::wstring Utf8ToWide(std::string_view text) { return ToWide(CP_UTF8, text); }
std::string WideToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text); }

// ---- Environment ----------------------------------------------------------

std::optional<std::wstring> GetEnvironmentVariable(const std::wstring& name) {
    ::SetLastError(ERROR_SUCCESS);
    DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (needed == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::wstring();
    }
    std::wstring value(needed, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), needed);
    if (length >= needed) return std::nullopt;  // changed under us; treat as missing
    value.resize(length);
    return value;
}

// Windows itself matches variable names without regard to case.
std::optional<std::wstring> FindEnvironmentVariableNoCase(const std::wstring& name) {
    return GetEnvironmentVariable(name);
}

bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) {
    return ::SetEnvironmentVariableW(name.c_str(), value.c_str()) != FALSE;
}

bool UnsetEnvironmentVariable(const std::wstring& name) {
    return ::SetEnvironmentVariableW(name.c_str(), nullptr) != FALSE || ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
}

// ---- Process ---------------------------------------------------------------

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

// ---- Paths ----------------------------------------------------------------

std::string ToNativePath(const std::wstring& path) { return WideToAnsi(path); }
std::wstring FromNativePath(const std::string& path) { return AnsiToWide(path); }
std::filesystem::path FileSystemPath(const std::wstring& path) { return std::filesystem::path(path); }

std::wstring FromFileSystemPath(const std::filesystem::path& path) { return path.wstring(); }

std::wstring GetExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring GetExecutableDirectory() {
    const std::wstring path = GetExecutablePath();
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return path.substr(0, slash);
}

std::wstring GetExecutableStem() {
    std::wstring name = GetExecutablePath();
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) name.erase(dot);
    return name;
}

wchar_t PathSeparator() { return L'\\'; }

bool IsReservedFileNameCharacter(wchar_t c) { return c != L'\0' && std::wcschr(L"<>:\"/\\|?*", c) != nullptr; }

std::vector<std::wstring> SplitPathList(const std::wstring& list) {
    std::vector<std::wstring> pieces;
    std::size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        const std::size_t end = list.find(L';', start);
        pieces.push_back(list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return pieces;
}

namespace {
DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }
}  // namespace

bool PathExists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// ---- Per-user files -------------------------------------------------------

std::wstring UserStateDirectory() {
    const auto local = GetEnvironmentVariable(L"LOCALAPPDATA");
    if (local && !local->empty()) return *local;
    return std::wstring();
}

namespace {

// The current user's SID as text, from the process token.
std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::wstring text;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        wchar_t* sid = nullptr;
        if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            text = sid;
            ::LocalFree(sid);
        }
    }
    ::CloseHandle(token);
    return text;
}

// A security descriptor whose protected access list grants the current user
// alone full control, inherited by everything made inside: the equivalent of
// mode 0700. Owns the descriptor's memory.
class OwnerOnlySecurity {
public:
    OwnerOnlySecurity() {
        const std::wstring sid = CurrentUserSid();
        if (sid.empty()) return;
        const std::wstring sddl = L"O:" + sid + L"D:P(A;OICI;FA;;;" + sid + L")";
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_descriptor, nullptr);
    }
    ~OwnerOnlySecurity() {
        if (m_descriptor != nullptr) ::LocalFree(m_descriptor);
    }
    OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
    OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

    PSECURITY_DESCRIPTOR Get() const { return m_descriptor; }
    PACL Dacl() const {
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        if (m_descriptor == nullptr || !::GetSecurityDescriptorDacl(m_descriptor, &present, &dacl, &defaulted))
            return nullptr;
        return present ? dacl : nullptr;
    }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
};

// Opens the folder itself, never what a link at the path points to.
HANDLE OpenFolderNoFollow(const std::wstring& path, DWORD access) {
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool OwnedByCurrentUser(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    bool own = false;
    wchar_t* text = nullptr;
    if (owner != nullptr && ::ConvertSidToStringSidW(owner, &text)) {
        own = CurrentUserSid() == text;
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return own;
}

}  // namespace

bool CreatePrivateDirectory(const std::wstring& path) {
    OwnerOnlySecurity security;
    if (security.Get() == nullptr) return false;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), security.Get(), FALSE};
    return ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

bool IsOwnDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    FileHandle folder(OpenFolderNoFollow(path, READ_CONTROL));
    return folder.IsOpen() && OwnedByCurrentUser(folder.Get());
}

bool RestrictToOwner(const std::wstring& path) {
    if (!IsOwnDirectory(path)) return false;
    OwnerOnlySecurity security;
    PACL dacl = security.Dacl();
    if (dacl == nullptr) return false;
    std::wstring name = path;  // the call takes a writable string
    return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   dacl, nullptr) == ERROR_SUCCESS;
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_s(&local, &time);
    return local;
}

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    ::gmtime_s(&utc, &time);
    return utc;
}

std::time_t FromUtcTime(std::tm utc) { return ::_mkgmtime(&utc); }

// ---- Dynamic libraries ----------------------------------------------------

namespace {
// The system's text for an error code, without the trailing line break.
std::string SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    if (text.empty()) text = L"error " + std::to_wstring(code);
    return WideToUtf8(text);
}
}  // namespace

bool DynamicLibrary::Load(const std::wstring& path) {
    Unload();
    // No error box for a missing dependency: the caller reports the failure.
    const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryW(path.c_str());
    const DWORD error = ::GetLastError();
    ::SetErrorMode(previousMode);
    if (module == nullptr) {
        m_loadError = WideToUtf8(path) + ": " + SystemMessage(error);
        return false;
    }
    m_handle = reinterpret_cast<void*>(module);
    m_loadError.clear();
    return true;
}

void DynamicLibrary::Unload() {
    if (m_handle != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(m_handle));
        m_handle = nullptr;
    }
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (m_handle == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void* DynamicLibrary::Ordinal(unsigned int ordinal, const char*) const {
    if (m_handle == nullptr || ordinal == 0 || ordinal > 0xFFFF) return nullptr;
    return reinterpret_cast<void*>(
        ::GetProcAddress(static_cast<HMODULE>(m_handle), MAKEINTRESOURCEA(static_cast<WORD>(ordinal))));
}

std::wstring LibraryFileName(const std::wstring& name) { return name + L".dll"; }

// ---- Debugger output ------------------------------------------------------

// The debugger gets the text either way; standard error never does unless
// asked, as the Linux default would have it.
namespace {
std::atomic<bool> g_debugOutputToStandardError{false};
}  // namespace

void SetDebugOutputToStandardError(bool enabled) { g_debugOutputToStandardError.store(enabled); }

void OutputDebugText(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    ::OutputDebugStringW(line.c_str());
    if (!g_debugOutputToStandardError.load()) return;
    const std::string bytes = WideToUtf8(line);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

// ---- Message pump ---------------------------------------------------------

namespace {
std::atomic<MessagePumpHook> g_pumpHook{nullptr};
std::atomic<std::uint32_t> g_pumpThread{0};
}  // namespace

void SetMessagePumpHook(MessagePumpHook hook) {
    g_pumpThread.store(hook != nullptr ? CurrentThreadId() : 0);
    g_pumpHook.store(hook);
}

// At most one message of the calling thread's queue is dispatched per call, so
// a waiting thread keeps its windows' timers and painting alive. A toolkit
// hook, when one was installed on this thread, runs as well.
void PumpMessages() {
    MSG message;
    if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    const MessagePumpHook hook = g_pumpHook.load();
    if (hook != nullptr && g_pumpThread.load() == CurrentThreadId()) hook();
}

// ---- Record files ---------------------------------------------------------
// Byte-range locks on Windows are mandatory: while an appender holds the whole
// range exclusively, readers wait in LockFileEx for their shared lock instead of
// seeing half a record.

namespace {

std::wstring FileErrorText(const char* what, const std::wstring& path, DWORD code) {
    return Utf8ToWide(what) + L" " + path + L": " + Utf8ToWide(SystemMessage(code));
}

// Locks the whole file (every offset, also beyond its end) and unlocks it on
// every path out; closing the handle would release it as well.
class WholeFileLock {
public:
    WholeFileLock(HANDLE file, bool exclusive) : m_file(file) {
        m_locked =
            ::LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD, &m_range) != FALSE;
    }
    ~WholeFileLock() {
        if (m_locked) ::UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &m_range);
    }
    WholeFileLock(const WholeFileLock&) = delete;
    WholeFileLock& operator=(const WholeFileLock&) = delete;
    bool Locked() const { return m_locked; }

private:
    HANDLE m_file;
    OVERLAPPED m_range{};
    bool m_locked = false;
};

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Folder prefixes that are no folders of their own: "C:", "\\server\share".
std::size_t RootLength(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') return 2;
    if (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/')) {
        std::size_t position = path.find_first_of(L"\\/", 2);
        if (position != std::wstring::npos) position = path.find_first_of(L"\\/", position + 1);
        return position == std::wstring::npos ? path.size() : position;
    }
    return 0;
}

}  // namespace

bool CreatePrivateDirectories(const std::wstring& path, std::wstring& error) {
    if (path.empty()) {
        error = L"no folder given";
        return false;
    }
    std::size_t position = RootLength(path);
    while (position != std::wstring::npos) {
        position = path.find_first_of(L"\\/", position + 1);
        const std::wstring partial = path.substr(0, position);
        if (partial.empty() || partial.size() <= RootLength(path) || IsDirectory(partial)) continue;
        if (CreatePrivateDirectory(partial)) continue;
        const DWORD code = ::GetLastError();
        if (code == ERROR_ALREADY_EXISTS && IsDirectory(partial)) continue;
        error = FileErrorText("cannot create", partial, code);
        return false;
    }
    if (!IsDirectory(path)) {
        error = path + L" is not a folder";
        return false;
    }
    return true;
}

bool AppendLocked(const std::wstring& path, std::string_view text, std::wstring& error) {
    OwnerOnlySecurity security;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), security.Get(), FALSE};
    // A link at the path is opened as itself and then refused, never written through.
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  security.Get() != nullptr ? &attributes : nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsOpen()) {
        error = FileErrorText("cannot open", path, ::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(file.Get(), &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = L"cannot open " + path + L": it is a link";
        return false;
    }
    WholeFileLock lock(file.Get(), true);
    if (!lock.Locked()) {
        error = FileErrorText("cannot lock", path, ::GetLastError());
        return false;
    }
    std::string buffer;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0) {
        // The last byte is looked at before the record goes in.
        OVERLAPPED at{};
        const ULONGLONG last = static_cast<ULONGLONG>(size.QuadPart - 1);
        at.Offset = static_cast<DWORD>(last & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(last >> 32);
        char byte = '\n';
        DWORD got = 0;
        if (::ReadFile(file.Get(), &byte, 1, &got, &at) && got == 1 && byte != '\n') buffer.push_back('\n');
    }
    buffer.append(text);
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file.Get(), zero, nullptr, FILE_END) ||
        !WriteAll(file.Get(), buffer.data(), buffer.size())) {
        error = FileErrorText("cannot write", path, ::GetLastError());
        return false;
    }
    if (!::FlushFileBuffers(file.Get())) {
        error = FileErrorText("cannot flush", path, ::GetLastError());
        return false;
    }
    return true;
}

bool ReadLocked(const std::wstring& path, std::string& content, std::wstring& error) {
    content.clear();
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
        error = FileErrorText("cannot open", path, code);
        return false;
    }
    WholeFileLock lock(file.Get(), false);
    if (!lock.Locked()) {
        error = FileErrorText("cannot lock", path, ::GetLastError());
        return false;
    }
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) {
            error = FileErrorText("cannot read", path, ::GetLastError());
            return false;
        }
        if (got == 0) break;
        content.append(chunk, got);
    }
    return true;
}

// ---- One program at a time -------------------------------------------------
// The lock file lives in the user's own state folder (%LOCALAPPDATA%\flashwright,
// private to the user). The lock covers one byte far beyond the file's end, so
// the holder's record at the start stays readable to the process it refuses.

namespace {
constexpr DWORD kInstanceLockOffsetHigh = 0x7FFFFFFF;

OVERLAPPED InstanceLockRange() {
    OVERLAPPED range{};
    range.OffsetHigh = kInstanceLockOffsetHigh;
    return range;
}
}  // namespace

InstanceLock::~InstanceLock() {
    const HANDLE file = reinterpret_cast<HANDLE>(m_native);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return;
    OVERLAPPED range = InstanceLockRange();
    ::UnlockFileEx(file, 0, 1, 0, &range);
    ::CloseHandle(file);
}

std::wstring InstanceLock::LockFilePath() {
    const std::wstring state = UserStateDirectory();
    if (state.empty()) return std::wstring();
    const std::wstring folder = state + L"\\flashwright";
    std::wstring ignored;
    if (!CreatePrivateDirectories(folder, ignored) || !IsOwnDirectory(folder)) return std::wstring();
    return folder + L"\\flashwright.lock";
}

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::wstring& program, std::wstring& refusal) {
    const std::wstring path = LockFilePath();
    if (path.empty()) {
        refusal = L"no private folder for the lock file (%LOCALAPPDATA%\\flashwright is unusable)";
        return nullptr;
    }
    OwnerOnlySecurity security;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), security.Get(), FALSE};
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                security.Get() != nullptr ? &attributes : nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        refusal = L"the lock file " + path + L" cannot be opened: " + Utf8ToWide(SystemMessage(::GetLastError()));
        return nullptr;
    }
    OVERLAPPED range = InstanceLockRange();
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        const DWORD code = ::GetLastError();
        std::string holder;
        char buffer[512];
        DWORD got = 0;
        OVERLAPPED start{};
        if (::ReadFile(file, buffer, sizeof buffer - 1, &got, &start) && got > 0) holder.assign(buffer, got);
        ::CloseHandle(file);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r' || holder.back() == '\0'))
            holder.pop_back();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            refusal = L"the lock file " + path + L" cannot be locked: " + Utf8ToWide(SystemMessage(code));
        } else if (holder.empty()) {
            refusal = L"another Flashwright process is running";
        } else {
            const std::size_t space = holder.find(' ');
            refusal = L"another Flashwright process is running: process " + Utf8ToWide(holder.substr(0, space)) +
                      (space == std::string::npos ? L"" : L" (" + Utf8ToWide(holder.substr(space + 1)) + L")");
        }
        return nullptr;
    }
    const std::string record = std::to_string(::GetCurrentProcessId()) + " " + WideToUtf8(program) + "\n";
    LARGE_INTEGER zero{};
    if (::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && ::SetEndOfFile(file))
        WriteAll(file, record.data(), record.size());
    return std::unique_ptr<InstanceLock>(new InstanceLock(reinterpret_cast<std::intptr_t>(file)));
}

std::uint32_t InstanceLock::RunningHolder() {
    // Where LockFilePath would put it, without making its folder.
    const std::wstring state = UserStateDirectory();
    if (state.empty()) return 0;
    const std::wstring path = state + L"\\flashwright\\flashwright.lock";
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    char buffer[32] = {};
    DWORD got = 0;
    OVERLAPPED start{};
    const bool read = ::ReadFile(file, buffer, sizeof buffer - 1, &got, &start) && got > 0;
    ::CloseHandle(file);
    if (!read) return 0;
    const unsigned long pid = std::strtoul(buffer, nullptr, 10);
    if (pid == 0) return 0;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return 0;
    DWORD exitCode = 0;
    const bool running = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    ::CloseHandle(process);
    return running ? static_cast<std::uint32_t>(pid) : 0;
}

// ---- Stop requests ---------------------------------------------------------
// The console's Ctrl-C and Ctrl-Break are the stop requests a Windows program
// can refuse; they reach the handler as SIGINT and SIGBREAK. Closing the
// console cannot be refused.

namespace {
std::atomic<StopRequestHandlerFn> g_stopHandler{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const StopRequestHandlerFn handler = g_stopHandler.load();
    if (handler == nullptr) return FALSE;
    if (event == CTRL_C_EVENT) {
        handler(SIGINT);
        return TRUE;
    }
    if (event == CTRL_BREAK_EVENT) {
        handler(SIGBREAK);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

struct StopRequestHandler::Saved {
    StopRequestHandlerFn previous = nullptr;
};

StopRequestHandler::StopRequestHandler(StopRequestHandlerFn handler) : m_saved(std::make_unique<Saved>()) {
    m_saved->previous = g_stopHandler.exchange(handler);
    if (m_saved->previous == nullptr) ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

StopRequestHandler::~StopRequestHandler() {
    if (m_saved->previous == nullptr) ::SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
    g_stopHandler.store(m_saved->previous);
}

// Windows ends no process for a write to a closed pipe: the write fails.
void IgnoreBrokenPipe() {}

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool IsStandardErrorTerminal() {
    // A console that takes the cursor movements of a terminal.
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void WriteToStandardErrorRaw(const char* text, std::size_t size) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(size), &written, nullptr);
}

// ---- Threads --------------------------------------------------------------

struct NativeThread {
    HANDLE handle = nullptr;
    DWORD id = 0;
    ThreadRoutine routine = nullptr;
    void* argument = nullptr;
    std::atomic<bool> resumed{false};
    std::atomic<bool> cancelled{false};  // closed before it was ever resumed

    ~NativeThread() {
        if (handle != nullptr) ::CloseHandle(handle);
    }
};

namespace {
std::atomic<bool> g_failNextCreation{false};

DWORD WINAPI ThreadEntry(LPVOID raw) {
    // The entry owns one reference so the record outlives a caller that lets go early.
    std::unique_ptr<std::shared_ptr<NativeThread>> holder(static_cast<std::shared_ptr<NativeThread>*>(raw));
    NativeThread& self = **holder;
    if (!self.cancelled.load()) return self.routine(self.argument);
    return 0;
}
}  // namespace

std::uint32_t ThreadHandle::Id() const { return m_thread ? m_thread->id : 0; }

bool CreateSuspendedThread(ThreadRoutine routine, void* argument, ThreadHandle& handle) {
    handle.m_thread.reset();
    if (g_failNextCreation.exchange(false)) return false;

    auto thread = std::make_shared<NativeThread>();
    thread->routine = routine;
    thread->argument = argument;
    auto* holder = new std::shared_ptr<NativeThread>(thread);
    DWORD id = 0;
    HANDLE created = ::CreateThread(nullptr, 0, &ThreadEntry, holder, CREATE_SUSPENDED, &id);
    if (created == nullptr) {
        delete holder;
        return false;
    }
    thread->handle = created;
    thread->id = id;
    handle.m_thread = std::move(thread);
    return true;
}

// The class the program's workers have always had on Windows.
void SetHighestThreadPriority(const ThreadHandle& handle) {
    if (handle) ::SetThreadPriority(handle.m_thread->handle, THREAD_PRIORITY_TIME_CRITICAL);
}

void ResumeThread(const ThreadHandle& handle) {
    if (!handle || handle.m_thread->resumed.exchange(true)) return;
    ::ResumeThread(handle.m_thread->handle);
}

bool WaitForThread(const ThreadHandle& handle, unsigned int timeoutMs) {
    if (!handle) return true;
    return ::WaitForSingleObject(handle.m_thread->handle, timeoutMs) == WAIT_OBJECT_0;
}

void CloseThread(ThreadHandle& handle) {
    if (!handle) return;
    NativeThread& self = *handle.m_thread;
    if (!self.resumed.exchange(true)) {
        // Never resumed: let it run to its end without the routine.
        self.cancelled.store(true);
        ::ResumeThread(self.handle);
        ::WaitForSingleObject(self.handle, INFINITE);
    }
    // A running thread is left to end on its own; its handle closes with the record.
    handle.m_thread.reset();
}

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::GetCurrentThreadId()); }

namespace testing {
void FailNextThreadCreation() { g_failNextCreation.store(true); }
}  // namespace testing

}  // namespace platform
