// The few operating-system services the simulated libraries need, one file per
// system. The simulator stands apart from the program, so it keeps its own
// small layer here instead of linking the program's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zvsim::platform {

int64_t CurrentThreadId();
int64_t CurrentProcessId();
// True only when the process is known to have ended; a process that may still
// run (or that cannot be asked) counts as alive.
bool ProcessHasEnded(int64_t processId);

// The path of the loaded library (or program) that holds the address; empty when unknown.
std::string ModulePathOf(const void* address);

// A private folder of this user for the cameras' state when none is named:
// created when missing, refused (StateError) when it is a link or another user's.
std::filesystem::path DefaultStateFolder();

// Appends the text with one write, so that records of many threads and
// processes never interleave. False when the file cannot be opened or written.
bool AppendWhole(const std::filesystem::path& path, const std::string& text);

// Creates or truncates the file and writes all bytes; throws StateError.
void WriteNewFile(const std::filesystem::path& path, const void* data, size_t size);
// Puts the file in place of the target in one step, so that readers see the old
// or the new file, never a mix; throws StateError.
void MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);
// The whole file, or nothing when it does not exist; throws StateError.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& path);

// An open lock file. The lock is advisory for everything but other holders of
// the same lock: its content stays readable while it is held. The lock ends
// with the object, or with the process that holds it.
class LockFile {
public:
    // Opens or creates the file; throws StateError.
    static std::unique_ptr<LockFile> Open(const std::filesystem::path& path);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    void Lock();     // waits for the lock; throws StateError
    bool TryLock();  // false when another holder has it; throws StateError on other failures
    // Replaces the file's content (the holder's name); throws StateError.
    void Rewrite(const std::string& text);

private:
    LockFile(std::filesystem::path path, std::intptr_t native) : m_path(std::move(path)), m_native(native) {}
    std::filesystem::path m_path;
    std::intptr_t m_native;  // a descriptor on Linux, a HANDLE on Windows
    bool m_locked = false;
};

}  // namespace zvsim::platform
