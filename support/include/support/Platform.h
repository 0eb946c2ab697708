// The thin platform layer: every operating-system service the program uses goes
// through here, so a Windows build replaces only the implementation file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// ---- Text -----------------------------------------------------------------
// Camera strings and file contents are 8-bit; the user interface is wide.
// On Linux the 8-bit code page is UTF-8. Invalid byte sequences become
// U+FFFD, never an error, so a camera's garbage still shows as something.
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

// ---- Environment ----------------------------------------------------------
std::optional<std::wstring> GetEnvironmentVariable(const std::wstring& name);
// Matches the name without regard to case (the Windows rule); when several
// variables match, the first one in the environment wins.
std::optional<std::wstring> FindEnvironmentVariableNoCase(const std::wstring& name);
bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value);

// ---- Paths ----------------------------------------------------------------
std::string ToNativePath(const std::wstring& path);
std::wstring FromNativePath(const std::string& path);
std::wstring GetExecutablePath();
std::wstring GetExecutableDirectory();  // without a trailing separator
std::wstring GetExecutableStem();       // file name without extension
wchar_t PathSeparator();
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
bool IsRegularFile(const std::wstring& path);

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
    // The loader's text for the last failed Load, empty after a success.
    const std::string& LoadError() const { return m_loadError; }

private:
    void* m_handle = nullptr;
    std::string m_loadError;
};

// ---- Debugger output ------------------------------------------------------
// Linux has no debugger channel; the text goes to standard error.
void OutputDebugText(const std::wstring& text);

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

namespace testing {
// Makes the next CreateSuspendedThread call fail as if the system were out of
// threads, so callers' failure paths can be exercised.
void FailNextThreadCreation();
}  // namespace testing

}  // namespace platform
