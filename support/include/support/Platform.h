// The thin platform layer: every operating-system service the program uses goes
// through here, so a Windows build replaces only the implementation file.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- Text -----------------------------------------------------------------
// Camera strings and file contents are 8-bit; the user interface is wide.
// The 8-bit code page is UTF-8 on Linux and the calling thread's ANSI code
// page on Windows. Invalid byte sequences become U+FFFD, never an error, so a
// camera's garbage still shows as something.
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
// UTF-8 on every system, for texts that leave the program in a fixed
// encoding (JSON, the command-line tool's output).
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// ---- Environment ----------------------------------------------------------
std::optional<std::wstring> GetEnvironmentVariable(const std::wstring& name);
// Matches the name without regard to case (the Windows rule); when several
// variables match, the first one in the environment wins.
std::optional<std::wstring> FindEnvironmentVariableNoCase(const std::wstring& name);
bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value);
bool UnsetEnvironmentVariable(const std::wstring& name);

// ---- Process ---------------------------------------------------------------
std::uint32_t CurrentProcessId();

// ---- Paths ----------------------------------------------------------------
std::string ToNativePath(const std::wstring& path);
std::wstring FromNativePath(const std::string& path);
// The path as the C++ library opens it (wide on Windows, 8-bit on Linux).
std::filesystem::path FileSystemPath(const std::wstring& path);
// The other way: a path of the file system as the program's wide text.
std::wstring FromFileSystemPath(const std::filesystem::path& path);
std::wstring GetExecutablePath();
std::wstring GetExecutableDirectory();  // without a trailing separator
std::wstring GetExecutableStem();       // file name without extension
wchar_t PathSeparator();
// Characters a file name may not hold ("/" on Linux; <>:"/\|?* on Windows).
bool IsReservedFileNameCharacter(wchar_t c);
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
bool IsRegularFile(const std::wstring& path);
// A list of folders in one variable: split on ";" on Windows; on Linux on ":"
// with ";" accepted too, so lists written for Windows work.
std::vector<std::wstring> SplitPathList(const std::wstring& list);

// ---- Per-user files -------------------------------------------------------
// The folder for files a user's programs keep ($XDG_STATE_HOME, else
// ~/.local/state on Linux; %LOCALAPPDATA% on Windows); empty when none.
std::wstring UserStateDirectory();
// Creates a folder only the current user may enter (mode 0700; on Windows a
// protected access list naming the current user alone). False when it could
// not be created, also when something is already at the path.
bool CreatePrivateDirectory(const std::wstring& path);
// A folder, not a link to one, owned by the current user.
bool IsOwnDirectory(const std::wstring& path);
// Gives an existing own folder the access of CreatePrivateDirectory.
bool RestrictToOwner(const std::wstring& path);
// Local calendar time of a moment.
std::tm LocalTime(std::time_t time);
// Calendar time of a moment in UTC.
std::tm UtcTime(std::time_t time);
// The moment of a UTC calendar time (tm_isdst ignored); -1 when it has none.
std::time_t FromUtcTime(std::tm utc);

// ---- Record files ---------------------------------------------------------
// Files that several processes append records to, one line per record.

// Creates the folder and its missing parents, new ones private to the user.
bool CreatePrivateDirectories(const std::wstring& path, std::wstring& error);
// Appends text to the file (created private to the user when missing) with one
// write, under an exclusive lock on the file, so records of concurrent
// appenders never interleave. When the file does not end in a newline (a
// writer died mid-line), the write starts with one, so the damaged line stays
// apart from the new record.
bool AppendLocked(const std::wstring& path, std::string_view text, std::wstring& error);
// Reads the whole file under a shared lock, so no append is half seen. A
// missing file reads as empty.
bool ReadLocked(const std::wstring& path, std::string& content, std::wstring& error);

// ---- Dynamic libraries ----------------------------------------------------
// Owns one loaded library; unloads it when destroyed.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool Load(const std::wstring& path);
    void Unload();
    bool IsLoaded() const { return m_handle != nullptr; }
    void* Symbol(const char* name) const;
    // An entry point a library exports by number: by its ordinal on Windows;
    // Linux shared objects have no ordinals, so there the export's name.
    void* Ordinal(unsigned int ordinal, const char* linuxName) const;
    // The loader's text for the last failed Load, empty after a success.
    const std::string& LoadError() const { return m_loadError; }

private:
    void* m_handle = nullptr;
    std::string m_loadError;
};

// The file name of a loadable library on this system: "libNAME.so" on Linux,
// "NAME.dll" on Windows.
std::wstring LibraryFileName(const std::wstring& name);

// ---- Debugger output ------------------------------------------------------
// Linux has no debugger channel; the text goes to standard error, unless the
// program turned that off (flashwright-cli does, but for -v: its standard
// error is for people and scripts). On Windows the debugger gets it either way.
void OutputDebugText(const std::wstring& text);
void SetDebugOutputToStandardError(bool enabled);

// ---- Message pump ---------------------------------------------------------
// The user-interface toolkit installs a hook that dispatches pending window
// messages; waits on the user-interface thread call it so timers and painting
// keep running. The hook only runs on the thread that installed it, as a
// Windows message queue belongs to one thread.
using MessagePumpHook = void (*)();
void SetMessagePumpHook(MessagePumpHook hook);
void PumpMessages();

// ---- Threads --------------------------------------------------------------
using ThreadRoutine = unsigned int (*)(void*);
struct NativeThread;

// A thread created suspended: the routine starts only after ResumeThread.
class ThreadHandle {
public:
    ThreadHandle() = default;
    explicit operator bool() const { return m_thread != nullptr; }
    std::uint32_t Id() const;
    std::shared_ptr<NativeThread> m_thread;
};

bool CreateSuspendedThread(ThreadRoutine routine, void* argument, ThreadHandle& handle);
// The highest priority available without a real-time class: the normal
// scheduling class at the lowest nice value this process may set.
void SetHighestThreadPriority(const ThreadHandle& handle);
void ResumeThread(const ThreadHandle& handle);
// True when the thread has ended within the timeout.
bool WaitForThread(const ThreadHandle& handle, unsigned int timeoutMs);
void CloseThread(ThreadHandle& handle);
std::uint32_t CurrentThreadId();

// ---- One program at a time -------------------------------------------------
// An exclusive lock for the lifetime of the process, on a file in the user's
// private runtime folder (Linux) or private state folder (Windows), never one
// another user can write. Whoever holds it
// writes its process id and program name into the file, so a refused second
// process can name it. Released when the object goes (or the process ends).
class InstanceLock {
public:
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The lock, or nullptr with the reason in refusal: held by another process
    // ("process 123 (flashwright-cli upgrade)"), or the lock file cannot be used.
    static std::unique_ptr<InstanceLock> Acquire(const std::wstring& program, std::wstring& refusal);
    // Where the lock file lives; empty when no private place can be named.
    static std::wstring LockFilePath();
    // The process id the lock file names when that process still runs; 0 when
    // the file names none or names a process that has ended. Reads only: it
    // never takes the lock, so it cannot turn a starting program away.
    static std::uint32_t RunningHolder();

private:
    explicit InstanceLock(std::intptr_t native) : m_native(native) {}
    std::intptr_t m_native = -1;  // a descriptor on Linux, a HANDLE on Windows
};

// ---- Stop requests ----------------------------------------------------------
// The requests that ask a program to end (Ctrl-C, Ctrl-\, a closed terminal,
// a session ending, a kill without -9). While a StopRequestHandler exists they
// call handler(signal number) instead of ending the process. The handler runs in
// signal context: only async-signal-safe work (set an atomic, write a pipe).
using StopRequestHandlerFn = void (*)(int);
class StopRequestHandler {
public:
    explicit StopRequestHandler(StopRequestHandlerFn handler);
    // The previous dispositions come back.
    ~StopRequestHandler();
    StopRequestHandler(const StopRequestHandler&) = delete;
    StopRequestHandler& operator=(const StopRequestHandler&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

// A write to a closed pipe fails with an error instead of ending the process.
void IgnoreBrokenPipe();

// Async-signal-safe write of bytes to standard error.
void WriteToStandardErrorRaw(const char* text, std::size_t size);
// Standard error is a terminal (a console on Windows) that takes cursor
// movements, not a pipe or a file.
bool IsStandardErrorTerminal();

namespace testing {
// Makes the next CreateSuspendedThread call fail as if the system were out of
// threads, so callers' failure paths can be exercised.
void FailNextThreadCreation();
}  // namespace testing

}  // namespace platform
