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

bool EnsurePrivateDirectory(const std::wstring& widePath) {
    if (widePath.empty()) return false;
    const std::string path = platform::ToNativePath(widePath);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;

    // Open without following a link, then judge what was actually opened.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
    if (ok && (st.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok;
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
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else ok = false;
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

void DeleteFile(const std::wstring& widePath) {
    if (!widePath.empty()) ::unlink(platform::ToNativePath(widePath).c_str());
}

}  // namespace package::fs
