// Windows only: the owner of a file handle, for the Windows files of the
// platform layer (the support library's and the package's). Kept free of
// <windows.h>: a HANDLE is a void*, INVALID_HANDLE_VALUE is (void*)-1.
#pragma once

namespace platform {

// Owns a handle from CreateFileW and closes it.
class FileHandle {
public:
    explicit FileHandle(void* handle) : m_handle(handle) {}
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    void* Get() const { return m_handle; }
    bool IsOpen() const { return m_handle != reinterpret_cast<void*>(-1); }

private:
    void* m_handle;
};

}  // namespace platform
