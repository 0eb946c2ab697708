#include "zvsim/Platform.h"

#include <windows.h>

#include <aclapi.h>

#include <cstdlib>

#include "zvsim/StateStore.h"

namespace zvsim::platform {

namespace fs = std::filesystem;

namespace {

// Locks take one byte far beyond any content, so that the holder's name at the
// start of a lock file stays readable to others (Windows locks are mandatory).
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// How long a replace or a read waits for a reader or writer that has the file
// open for a moment (Windows cannot replace a file that is open).
constexpr int kBusyRetries = 2000;

std::string LastErrorText(DWORD error) {
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 ? std::string(text, length) : "system error " + std::to_string(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

std::string LastErrorText() { return LastErrorText(::GetLastError()); }

bool IsBusy(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

// Closes a handle on every path out of a scope.
class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() {
        if (Valid()) {
            ::CloseHandle(m_handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE m_handle;
};

// Every file is opened so that others may read, write, rename and delete it meanwhile.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool WriteAll(HANDLE file, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

// The SID of the user this process runs as.
std::vector<uint8_t> CurrentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    Handle owned(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    return std::vector<uint8_t>(static_cast<uint8_t*>(sid), static_cast<uint8_t*>(sid) + ::GetLengthSid(sid));
}

bool IsOwnedByCurrentUser(const fs::path& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<uint8_t> user = CurrentUserSid();
    const bool own = owner != nullptr && !user.empty() && ::EqualSid(owner, user.data());
    ::LocalFree(descriptor);
    return own;
}

}  // namespace

int64_t CurrentThreadId() { return static_cast<int64_t>(::GetCurrentThreadId()); }

int64_t CurrentProcessId() { return static_cast<int64_t>(::GetCurrentProcessId()); }

bool ProcessHasEnded(int64_t processId) {
    if (processId <= 0 || processId > 0xFFFFFFFF) {
        return false;
    }
    Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId)));
    if (!process.Valid()) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    }
    DWORD exitCode = 0;
    return ::GetExitCodeProcess(process.Get(), &exitCode) && exitCode != STILL_ACTIVE;
}

std::string ModulePathOf(const void* address) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module)) {
        return "";
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return "";
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    // GenTL text is in the system's ANSI code page.
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), text.data(), size, nullptr, nullptr);
    return text;
}

fs::path DefaultStateFolder() {
    // The user's own temporary folder (TMP, TEMP or the profile's).
    wchar_t temporary[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH) {
        throw StateError("cannot find the temporary folder: " + LastErrorText() + "; set FLASHWRIGHT_SIM_STATE");
    }
    const fs::path folder = fs::path(temporary) / "flashwright-sim";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        throw StateError("cannot create the state folder \"" + folder.string() + "\": " + LastErrorText());
    }
    // A predictable name: refuse a link or a folder planted by someone else.
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !IsOwnedByCurrentUser(folder)) {
        throw StateError("the state folder \"" + folder.string() +
                         "\" is not a directory of this user; set FLASHWRIGHT_SIM_STATE");
    }
    return folder;
}

bool AppendWhole(const fs::path& path, const std::string& text) {
    // With only the right to append, every write goes to the end in one piece.
    Handle file(
        ::CreateFileW(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && WriteAll(file.Get(), text.data(), text.size());
}

void WriteNewFile(const fs::path& path, const void* data, size_t size) {
    Handle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || !WriteAll(file.Get(), data, size)) {
        throw StateError("cannot write \"" + path.string() + "\": " + LastErrorText());
    }
    if (!::CloseHandle(file.Release())) {
        throw StateError("cannot write \"" + path.string() + "\": " + LastErrorText());
    }
}

void MoveIntoPlace(const fs::path& from, const fs::path& to) {
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            return;
        }
        const DWORD error = ::GetLastError();
        if (!IsBusy(error) || attempt == kBusyRetries) {
            throw StateError("cannot replace \"" + to.string() + "\": " + LastErrorText(error));
        }
        ::Sleep(1);
    }
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const fs::path& path) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        opened = ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (opened != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return std::nullopt;
        }
        if (!IsBusy(error) || attempt == kBusyRetries) {
            throw StateError("cannot read \"" + path.string() + "\": " + LastErrorText(error));
        }
        ::Sleep(1);
    }
    Handle file(opened);
    std::vector<uint8_t> content;
    uint8_t buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            throw StateError("cannot read \"" + path.string() + "\": " + LastErrorText());
        }
        if (got == 0) {
            break;
        }
        content.insert(content.end(), buffer, buffer + got);
    }
    return content;
}

std::unique_ptr<LockFile> LockFile::Open(const fs::path& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw StateError("cannot open \"" + path.string() + "\": " + LastErrorText());
    }
    return std::unique_ptr<LockFile>(new LockFile(path, reinterpret_cast<std::intptr_t>(file)));
}

LockFile::~LockFile() {
    HANDLE file = reinterpret_cast<HANDLE>(m_native);
    if (m_locked) {
        OVERLAPPED range{};
        range.OffsetHigh = kLockOffsetHigh;
        ::UnlockFileEx(file, 0, 1, 0, &range);
    }
    ::CloseHandle(file);
}

void LockFile::Lock() {
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(reinterpret_cast<HANDLE>(m_native), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range)) {
        throw StateError("cannot lock \"" + m_path.string() + "\": " + LastErrorText());
    }
    m_locked = true;
}

bool LockFile::TryLock() {
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(reinterpret_cast<HANDLE>(m_native), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &range)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
            return false;
        }
        throw StateError("cannot lock \"" + m_path.string() + "\": " + LastErrorText(error));
    }
    m_locked = true;
    return true;
}

void LockFile::Rewrite(const std::string& text) {
    HANDLE file = reinterpret_cast<HANDLE>(m_native);
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file) ||
        !WriteAll(file, text.data(), text.size())) {
        throw StateError("cannot write \"" + m_path.string() + "\": " + LastErrorText());
    }
}

}  // namespace zvsim::platform
