// Linux implementation of the platform layer.
#include "support/Platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <array>
#include <mutex>
#include <string>
#include <strings.h>

extern char** environ;

namespace platform {

// ---- Text -----------------------------------------------------------------

namespace {
constexpr wchar_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}
}  // namespace

// A strict decoder (no overlongs, no surrogates, nothing above U+10FFFF); each
// maximal invalid subsequence becomes one U+FFFD, as the Unicode standard advises.
std::wstring AnsiToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int length = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool valid = true;
        for (int k = 1; k < length; ++k, ++j) {
            const unsigned char lower = (k == 1) ? lo : 0x80;
            const unsigned char upper = (k == 1) ? hi : 0xBF;
            if (j >= n || p[j] < lower || p[j] > upper) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (p[j] & 0x3F);
        }
        out.push_back(valid ? static_cast<wchar_t>(cp) : kReplacement);
        i = j;
    }
    return out;
}

std::string WideToAnsi(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::wstring Utf8ToWide(std::string_view text) { return AnsiToWide(text); }
std::string WideToUtf8(std::wstring_view text) { return WideToAnsi(text); }

// ---- Environment ----------------------------------------------------------

std::optional<std::wstring> GetEnvironmentVariable(const std::wstring& name) {
    const char* value = std::getenv(WideToAnsi(name).c_str());
    if (value == nullptr) return std::nullopt;
    return AnsiToWide(value);
}

std::optional<std::wstring> FindEnvironmentVariableNoCase(const std::wstring& name) {
    const std::string wanted = WideToAnsi(name);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (eq == nullptr) continue;
        const std::size_t length = static_cast<std::size_t>(eq - *entry);
        if (length == wanted.size() && strncasecmp(*entry, wanted.c_str(), length) == 0) return AnsiToWide(eq + 1);
    }
    return std::nullopt;
}

bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) {
    return ::setenv(WideToAnsi(name).c_str(), WideToAnsi(value).c_str(), 1) == 0;
}

bool UnsetEnvironmentVariable(const std::wstring& name) { return ::unsetenv(WideToAnsi(name).c_str()) == 0; }

// ---- Process ---------------------------------------------------------------

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

// ---- Paths ----------------------------------------------------------------

std::string ToNativePath(const std::wstring& path) { return WideToAnsi(path); }
std::wstring FromNativePath(const std::string& path) { return AnsiToWide(path); }
std::filesystem::path FileSystemPath(const std::wstring& path) { return std::filesystem::path(WideToAnsi(path)); }

std::wstring FromFileSystemPath(const std::filesystem::path& path) { return FromNativePath(path.string()); }

std::wstring GetExecutablePath() {
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return std::wstring();
    buffer.resize(static_cast<std::size_t>(length));
    return FromNativePath(buffer);
}

std::wstring GetExecutableDirectory() {
    const std::wstring path = GetExecutablePath();
    const auto slash = path.find_last_of(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    return slash == 0 ? std::wstring(L"/") : path.substr(0, slash);
}

std::wstring GetExecutableStem() {
    std::wstring name = GetExecutablePath();
    const auto slash = name.find_last_of(L'/');
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) name.erase(dot);
    return name;
}

wchar_t PathSeparator() { return L'/'; }

bool IsReservedFileNameCharacter(wchar_t c) { return c == L'/'; }

bool PathExists(const std::wstring& path) {
    struct stat st {};
    return ::stat(ToNativePath(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::wstring& path) {
    struct stat st {};
    return ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::wstring& path) {
    struct stat st {};
    return ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::wstring> SplitPathList(const std::wstring& list) {
    std::vector<std::wstring> pieces;
    if (list.empty()) return pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = list.find_first_of(L":;", start);
        pieces.push_back(list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return pieces;
}

// ---- Per-user files -------------------------------------------------------

std::wstring UserStateDirectory() {
    if (auto state = GetEnvironmentVariable(L"XDG_STATE_HOME"); state && !state->empty() && (*state)[0] == L'/')
        return *state;
    if (auto home = GetEnvironmentVariable(L"HOME"); home && !home->empty()) return *home + L"/.local/state";
    return std::wstring();
}

bool CreatePrivateDirectory(const std::wstring& path) { return ::mkdir(ToNativePath(path).c_str(), 0700) == 0; }

bool IsOwnDirectory(const std::wstring& path) {
    struct stat st {};
    return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool RestrictToOwner(const std::wstring& path) {
    return IsOwnDirectory(path) && ::chmod(ToNativePath(path).c_str(), 0700) == 0;
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    return local;
}

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    return utc;
}

std::time_t FromUtcTime(std::tm utc) { return ::timegm(&utc); }

// ---- Dynamic libraries ----------------------------------------------------

bool DynamicLibrary::Load(const std::wstring& path) {
    Unload();
    // RTLD_LOCAL: producers may bring their own copies of common libraries.
    m_handle = ::dlopen(ToNativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* error = ::dlerror();
        m_loadError = error != nullptr ? error : "unknown loader error";
        return false;
    }
    m_loadError.clear();
    return true;
}

void DynamicLibrary::Unload() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (m_handle == nullptr) return nullptr;
    return ::dlsym(m_handle, name);
}

void* DynamicLibrary::Ordinal(unsigned int, const char* linuxName) const { return Symbol(linuxName); }

std::wstring LibraryFileName(const std::wstring& name) { return L"lib" + name + L".so"; }

// ---- Debugger output ------------------------------------------------------

namespace {
std::atomic<bool> g_debugOutputToStandardError{true};
}  // namespace

void SetDebugOutputToStandardError(bool enabled) { g_debugOutputToStandardError.store(enabled); }

void OutputDebugText(const std::wstring& text) {
    if (!g_debugOutputToStandardError.load()) return;
    std::string line = WideToAnsi(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
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

void PumpMessages() {
    const MessagePumpHook hook = g_pumpHook.load();
    if (hook != nullptr && g_pumpThread.load() == CurrentThreadId()) hook();
}

// ---- Threads --------------------------------------------------------------

struct NativeThread {
    pthread_t thread{};
    ThreadRoutine routine = nullptr;
    void* argument = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    std::uint32_t tid = 0;  // published by the thread as it starts
    bool resumed = false;
    bool cancelled = false;  // closed before it was ever resumed
    bool finished = false;
    bool joined = false;
};

namespace {
std::atomic<bool> g_failNextCreation{false};

void* ThreadEntry(void* raw) {
    // The entry owns one reference so the record outlives a caller that lets go early.
    std::unique_ptr<std::shared_ptr<NativeThread>> holder(static_cast<std::shared_ptr<NativeThread>*>(raw));
    NativeThread& self = **holder;
    bool run = false;
    {
        std::unique_lock<std::mutex> lock(self.mutex);
        self.tid = static_cast<std::uint32_t>(::syscall(SYS_gettid));
        self.changed.notify_all();
        self.changed.wait(lock, [&] { return self.resumed || self.cancelled; });
        run = self.resumed && !self.cancelled;
    }
    if (run) self.routine(self.argument);
    {
        std::lock_guard<std::mutex> lock(self.mutex);
        self.finished = true;
    }
    self.changed.notify_all();
    return nullptr;
}

// The lowest nice value we may set: privileged processes reach -20, others are
// bounded by RLIMIT_NICE and by their current value.
int LowestPermittedNice(std::uint32_t tid) {
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    const int ceiling = (errno == 0) ? current : 0;
    for (int nice = -20; nice < ceiling; ++nice) {
        if (::setpriority(PRIO_PROCESS, tid, nice) == 0) return nice;
    }
    return ceiling;
}
}  // namespace

std::uint32_t ThreadHandle::Id() const {
    if (!m_thread) return 0;
    std::lock_guard<std::mutex> lock(m_thread->mutex);
    return m_thread->tid;
}

bool CreateSuspendedThread(ThreadRoutine routine, void* argument, ThreadHandle& handle) {
    handle.m_thread.reset();
    if (g_failNextCreation.exchange(false)) return false;

    auto thread = std::make_shared<NativeThread>();
    thread->routine = routine;
    thread->argument = argument;
    auto* holder = new std::shared_ptr<NativeThread>(thread);
    if (::pthread_create(&thread->thread, nullptr, &ThreadEntry, holder) != 0) {
        delete holder;
        return false;
    }
    std::unique_lock<std::mutex> lock(thread->mutex);
    thread->changed.wait(lock, [&] { return thread->tid != 0; });
    lock.unlock();
    handle.m_thread = std::move(thread);
    return true;
}

void SetHighestThreadPriority(const ThreadHandle& handle) {
    if (handle) LowestPermittedNice(handle.Id());
}

void ResumeThread(const ThreadHandle& handle) {
    if (!handle) return;
    {
        std::lock_guard<std::mutex> lock(handle.m_thread->mutex);
        handle.m_thread->resumed = true;
    }
    handle.m_thread->changed.notify_all();
}

bool WaitForThread(const ThreadHandle& handle, unsigned int timeoutMs) {
    if (!handle) return true;
    std::unique_lock<std::mutex> lock(handle.m_thread->mutex);
    return handle.m_thread->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [&] { return handle.m_thread->finished; });
}

void CloseThread(ThreadHandle& handle) {
    if (!handle) return;
    NativeThread& self = *handle.m_thread;
    bool finished = false;
    {
        std::lock_guard<std::mutex> lock(self.mutex);
        if (!self.resumed) self.cancelled = true;
        finished = self.finished;
    }
    self.changed.notify_all();
    if (!self.joined) {
        // A thread that never ran finishes at once; a running one is left to end on its own.
        if (finished || self.cancelled)
            ::pthread_join(self.thread, nullptr);
        else
            ::pthread_detach(self.thread);
        self.joined = true;
    }
    handle.m_thread.reset();
}

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

// ---- Record files ------------------------------------------------------------

namespace {

std::wstring ErrnoText(const char* what, const std::string& path, int code) {
    return AnsiToWide(std::string(what) + " " + path + ": " + std::strerror(code));
}

// Closes the descriptor (and so drops its lock) on every path out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

bool LockFile(int fd, int operation) {
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

bool CreatePrivateDirectories(const std::wstring& path, std::wstring& error) {
    const std::string native = ToNativePath(path);
    if (native.empty()) {
        error = L"no folder given";
        return false;
    }
    std::string partial;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = native.find('/', position + 1);
        partial = native.substr(0, position);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0700) == 0 || errno == EEXIST) continue;
        error = ErrnoText("cannot create", partial, errno);
        return false;
    }
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = AnsiToWide(native + " is not a folder");
        return false;
    }
    return true;
}

bool AppendLocked(const std::wstring& path, std::string_view text, std::wstring& error) {
    const std::string native = ToNativePath(path);
    FileDescriptor file(::open(native.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.Get() < 0) {
        error = ErrnoText("cannot open", native, errno);
        return false;
    }
    if (!LockFile(file.Get(), LOCK_EX)) {
        error = ErrnoText("cannot lock", native, errno);
        return false;
    }
    std::string buffer;
    struct stat info {};
    if (::fstat(file.Get(), &info) == 0 && info.st_size > 0) {
        // Read and write: the last byte is looked at before the record goes in.
        char last = '\n';
        if (::pread(file.Get(), &last, 1, info.st_size - 1) == 1 && last != '\n') buffer.push_back('\n');
    }
    buffer.append(text);
    // One write for the whole record; a short write (a full disk) is finished
    // under the same lock, so no other record lands in the middle.
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t written = ::write(file.Get(), buffer.data() + done, buffer.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            error = ErrnoText("cannot write", native, errno);
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    if (::fsync(file.Get()) != 0) {
        error = ErrnoText("cannot flush", native, errno);
        return false;
    }
    return true;
}

bool ReadLocked(const std::wstring& path, std::string& content, std::wstring& error) {
    content.clear();
    const std::string native = ToNativePath(path);
    FileDescriptor file(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT) return true;
        error = ErrnoText("cannot open", native, errno);
        return false;
    }
    if (!LockFile(file.Get(), LOCK_SH)) {
        error = ErrnoText("cannot lock", native, errno);
        return false;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file.Get(), chunk, sizeof chunk);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            error = ErrnoText("cannot read", native, errno);
            return false;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
}

namespace testing {
void FailNextThreadCreation() { g_failNextCreation.store(true); }
}  // namespace testing

// ---- One program at a time -------------------------------------------------

namespace {

// The private runtime folder: $XDG_RUNTIME_DIR when it is an absolute path to a
// folder of ours that nobody else may write, else /tmp/flashwright-<uid>,
// created 0700 and refused when it is a link or another user's.
std::string PrivateRuntimeFolder() {
    struct stat st {};
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0)
            return runtime;
    }
    const std::string folder = "/tmp/flashwright-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0)
        return std::string();
    return folder;
}

}  // namespace

InstanceLock::~InstanceLock() {
    if (m_native >= 0) ::close(static_cast<int>(m_native));  // closing the last descriptor releases the lock
}

std::wstring InstanceLock::LockFilePath() {
    const std::string folder = PrivateRuntimeFolder();
    return folder.empty() ? std::wstring() : FromNativePath(folder + "/flashwright.lock");
}

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::wstring& program, std::wstring& refusal) {
    const std::wstring widePath = LockFilePath();
    if (widePath.empty()) {
        refusal =
            L"no private runtime folder for the lock file (XDG_RUNTIME_DIR and /tmp/flashwright-<uid> are unusable)";
        return nullptr;
    }
    const std::string path = ToNativePath(widePath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        refusal = L"the lock file " + widePath + L" cannot be opened: " + AnsiToWide(std::strerror(errno));
        return nullptr;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        std::string holder;
        char buffer[512];
        const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
        if (n > 0) holder.assign(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
        if (error != EWOULDBLOCK) {
            refusal = L"the lock file " + widePath + L" cannot be locked: " + AnsiToWide(std::strerror(error));
        } else if (holder.empty()) {
            refusal = L"another Flashwright process is running";
        } else {
            const std::size_t space = holder.find(' ');
            refusal = L"another Flashwright process is running: process " + AnsiToWide(holder.substr(0, space)) +
                      (space == std::string::npos ? L"" : L" (" + AnsiToWide(holder.substr(space + 1)) + L")");
        }
        return nullptr;
    }
    const std::string record = std::to_string(::getpid()) + " " + WideToAnsi(program) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, record.data(), record.size(), 0);
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

std::uint32_t InstanceLock::RunningHolder() {
    // Where LockFilePath would put it, without making the fallback folder.
    std::string folder = "/tmp/flashwright-" + std::to_string(::geteuid());
    struct stat st {};
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0)
            folder = runtime;
    }
    const int fd = ::open((folder + "/flashwright.lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[32] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    ::close(fd);
    if (n <= 0) return 0;
    const unsigned long pid = std::strtoul(buffer, nullptr, 10);
    if (pid == 0 || pid > 0x7FFFFFFFul) return 0;
    // A process of another user answers EPERM: it exists, but cannot hold our lock.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 ? static_cast<std::uint32_t>(pid) : 0;
}

// ---- Stop requests ----------------------------------------------------------

namespace {
constexpr std::array<int, 4> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
}  // namespace

struct StopRequestHandler::Saved {
    std::array<struct sigaction, kStopSignals.size()> actions{};
};

StopRequestHandler::StopRequestHandler(StopRequestHandlerFn handler) : m_saved(std::make_unique<Saved>()) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) ::sigaction(kStopSignals[i], &action, &m_saved->actions[i]);
}

StopRequestHandler::~StopRequestHandler() {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) ::sigaction(kStopSignals[i], &m_saved->actions[i], nullptr);
}

void IgnoreBrokenPipe() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

bool IsStandardErrorTerminal() {
    if (::isatty(STDERR_FILENO) == 0) return false;
    // A terminal that says it understands no cursor movement gets plain lines.
    const char* term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

void WriteToStandardErrorRaw(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace platform
