#include "zvsim/Platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "zvsim/StateStore.h"

namespace zvsim::platform {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

}  // namespace

int64_t CurrentThreadId() { return static_cast<int64_t>(::syscall(SYS_gettid)); }

int64_t CurrentProcessId() { return static_cast<int64_t>(::getpid()); }

bool ProcessHasEnded(int64_t processId) {
    return processId > 0 && ::kill(static_cast<pid_t>(processId), 0) != 0 && errno == ESRCH;
}

std::string ModulePathOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) != 0 && info.dli_fname != nullptr) {
        return info.dli_fname;
    }
    return "";
}

fs::path DefaultStateFolder() {
    const char* temporary = std::getenv("TMPDIR");
    fs::path base = (temporary != nullptr && *temporary != '\0') ? fs::path(temporary) : fs::path("/tmp");
    fs::path folder = base / ("flashwright-sim-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw StateError("cannot create the state folder \"" + folder.string() + "\": " + ErrnoText(errno));
    }
    // A predictable name in a shared folder: refuse one planted by someone else.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        throw StateError("the state folder \"" + folder.string() +
                         "\" is not a directory of this user; set FLASHWRIGHT_SIM_STATE");
    }
    return folder;
}

bool AppendWhole(const fs::path& path, const std::string& text) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        return false;
    }
    return ::write(fd.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void WriteNewFile(const fs::path& path, const void* data, size_t size) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        throw StateError("cannot write \"" + path.string() + "\": " + ErrnoText(errno));
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd.Get(), bytes + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw StateError("cannot write \"" + path.string() + "\": " + ErrnoText(errno));
        }
        done += static_cast<size_t>(written);
    }
    if (::close(fd.Release()) != 0) {
        throw StateError("cannot write \"" + path.string() + "\": " + ErrnoText(errno));
    }
}

void MoveIntoPlace(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw StateError("cannot replace \"" + to.string() + "\": " + ErrnoText(errno));
    }
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const fs::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw StateError("cannot read \"" + path.string() + "\": " + ErrnoText(errno));
    }
    std::vector<uint8_t> content;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw StateError("cannot read \"" + path.string() + "\": " + ErrnoText(errno));
        }
        if (got == 0) {
            break;
        }
        content.insert(content.end(), buffer, buffer + got);
    }
    return content;
}

std::unique_ptr<LockFile> LockFile::Open(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw StateError("cannot open \"" + path.string() + "\": " + ErrnoText(errno));
    }
    return std::unique_ptr<LockFile>(new LockFile(path, fd));
}

LockFile::~LockFile() {
    const int fd = static_cast<int>(m_native);
    if (m_locked) {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
}

void LockFile::Lock() {
    while (::flock(static_cast<int>(m_native), LOCK_EX) != 0) {
        if (errno != EINTR) {
            throw StateError("cannot lock \"" + m_path.string() + "\": " + ErrnoText(errno));
        }
    }
    m_locked = true;
}

bool LockFile::TryLock() {
    int result;
    while ((result = ::flock(static_cast<int>(m_native), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        if (errno != EWOULDBLOCK) {
            throw StateError("cannot lock \"" + m_path.string() + "\": " + ErrnoText(errno));
        }
        return false;
    }
    m_locked = true;
    return true;
}

void LockFile::Rewrite(const std::string& text) {
    const int fd = static_cast<int>(m_native);
    if (::ftruncate(fd, 0) != 0 || (!text.empty() && ::pwrite(fd, text.data(), text.size(), 0) < 0)) {
        throw StateError("cannot write \"" + m_path.string() + "\": " + ErrnoText(errno));
    }
}

}  // namespace zvsim::platform
