#pragma once

#include <cstdint>
#include <string>

namespace package {

// The program's private temporary folder: U3TempFileDirectory in
// $XDG_RUNTIME_DIR when that is set, else /tmp/U3TempFileDirectory-<uid>.
// Shared by every file object and every camera of the process.
std::wstring GetTempDirectoryPath();

// Creates the folder (mode 0700) when missing. An existing path is accepted only
// when it is a real directory owned by this user; a folder of ours that others
// may enter is narrowed to 0700. False means the folder must not be used.
bool EnsureTempDirectory();

// Deletes the folder with everything in it (shutdown). Symbolic links inside are
// removed, never followed; a path that is not our own directory is left alone.
void RemoveTempDirectory();

// A file name made from outside text (a device identifier, an SDK identity
// string) that cannot leave the folder: "/", "\", control characters and every
// dot of a ".." run become "_".
std::wstring MakeSafeFileName(const std::wstring& name);

}  // namespace package

// A file in the temporary folder: knows the folder and the file path, writes the
// file and removes it. The file stays on disk when the object goes.
class CFileManage {
public:
    CFileManage() = default;
    virtual ~CFileManage() = default;

    // Computes the folder path and makes sure the folder exists.
    virtual void CreateTempDir();
    // Removes the folder with everything in it.
    virtual void RemoveTempDir();
    // Writes the bytes to the file path (created or truncated). False for no
    // bytes, a refused folder, or a file that cannot be opened or fully written.
    virtual bool WriteData(const std::uint8_t* data, std::uint32_t size);
    // Deletes the file; the result is not reported.
    virtual void RemoveFile();
    virtual std::wstring GetFilePath() const { return m_filePath; }

    std::wstring GetFolderPath() const { return m_folderPath; }

protected:
    // Folder + "/" + safe(name) + extension, after making sure the folder exists.
    void __NameFile(const std::wstring& name, const wchar_t* extension);

    std::wstring m_folderPath;
    std::wstring m_filePath;
    bool m_folderUsable = false;
};

// name.ini in the temporary folder (the package configuration, user parameters).
class CUserParamFile : public CFileManage {
public:
    explicit CUserParamFile(const std::wstring& name);
};

// name.csv in the temporary folder; deleted when the object goes.
class CCsvFile : public CFileManage {
public:
    explicit CCsvFile(const std::wstring& name);
    ~CCsvFile() override;
    CCsvFile(const CCsvFile&) = delete;
    CCsvFile& operator=(const CCsvFile&) = delete;
};
