#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "support/Platform.h"

namespace package::fs {

namespace {
constexpr const wchar_t* kFolderName = L"U3TempFileDirectory";

// A directory we own, reached without following a link.
bool IsOwnDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}
}  // namespace

std::wstring TempDirectoryPath() {
    const auto runtimeDir = platform::GetEnvironmentVariable(L"XDG_RUNTIME_DIR");
    if (runtimeDir && !runtimeDir->empty() && runtimeDir->front() == L'/') {
        std::wstring path = *runtimeDir;
        while (path.size() > 1 && path.back() == L'/') path.pop_back();
        if (path != L"/") path += L'/';
        return path + kFolderName;
    }
    return std::wstring(L"/tmp/") + kFolderName + L"-" + std::to_wstring(::geteuid());
}

namespace {
bool Refuse(std::wstring* reason, const std::wstring& text) {
    if (reason != nullptr) *reason = text;
    return false;
}
std::wstring ErrnoText(int error) { return platform::AnsiToWide(std::generic_category().message(error)); }
}  // namespace

bool EnsurePrivateDirectory(const std::wstring& widePath, std::wstring* reason) {
    if (widePath.empty())
        return Refuse(reason, L"no place for it is known (neither XDG_RUNTIME_DIR nor HOME is usable)");
    const std::string path = platform::ToNativePath(widePath);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return Refuse(reason, L"it cannot be created: " + ErrnoText(errno));

    // Judge the path itself first, so the reason names what is wrong with it.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Refuse(reason, L"it cannot be examined: " + ErrnoText(errno));
    if (S_ISLNK(st.st_mode)) return Refuse(reason, L"it is a symbolic link");
    if (!S_ISDIR(st.st_mode)) return Refuse(reason, L"it is not a folder");
    if (st.st_uid != ::geteuid()) return Refuse(reason, L"it belongs to another user");

    // Open without following a link, then judge what was actually opened.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Refuse(reason, L"it cannot be opened: " + ErrnoText(errno));
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
    if (!ok) Refuse(reason, L"it changed while it was examined");
    if (ok && (st.st_mode & 077) != 0) {
        ok = ::fchmod(fd, 0700) == 0;
        if (!ok) Refuse(reason, L"its permissions cannot be narrowed: " + ErrnoText(errno));
    }
    ::close(fd);
    return ok;
}

bool CreateParentDirectories(const std::wstring& widePath, std::wstring* reason) {
    const std::filesystem::path parent = std::filesystem::path(platform::ToNativePath(widePath)).parent_path();
    if (parent.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) return Refuse(reason, L"its parent folder cannot be created: " + platform::AnsiToWide(ec.message()));
    return true;
}

void RemovePrivateDirectory(const std::wstring& widePath) {
    const std::string path = platform::ToNativePath(widePath);
    if (widePath.empty() || !IsOwnDirectory(path)) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool WriteWholeFile(const std::wstring& widePath, const std::uint8_t* data, std::size_t size) {
    const std::string path = platform::ToNativePath(widePath);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            ok = false;
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

void DeleteFile(const std::wstring& widePath) {
    if (!widePath.empty()) ::unlink(platform::ToNativePath(widePath).c_str());
}

}  // namespace package::fs
