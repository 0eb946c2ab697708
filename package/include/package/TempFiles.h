#pragma once

#include <cstddef>
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
// The same check with the reason of a refusal ("it is a symbolic link", ...).
bool CheckTempDirectory(std::wstring& reason);

// Any private folder of the program (the persistent parameter backups, the
// state folder): missing parents are created, the folder itself is created
// 0700; a link, a non-folder or a folder of another user is refused and never
// changed. reason receives why.
bool EnsurePrivateFolder(const std::wstring& path, std::wstring& reason);

// Deletes the folder with everything in it (shutdown). Symbolic links inside are
// removed, never followed; a path that is not our own directory is left alone.
void RemoveTempDirectory();

// A file name made from outside text (a device identifier, an SDK identity
// string) that cannot leave the folder: "/", "\", control characters and every
// dot of a ".." run become "_".
std::wstring MakeSafeFileName(const std::wstring& name);

// Deletes one file; a missing file is no error. Links are removed, not followed.
void RemoveFileAt(const std::wstring& path);

// The file name (stem + extension) the program gives a file named after outside
// text in one of its folders, so two texts never share a file: the text itself
// when it is already safe, short and not a name the program uses for its own
// files; otherwise a cleaned, shortened prefix, "-" and a short hash of the raw
// text. Names of the hashed form are always hashed, so no raw text can take the
// name of another text's file.
std::wstring MakeUniqueFileName(const std::wstring& name, const std::wstring& extension);

// Longest stem kept as it is, in UTF-8 bytes (the file system allows 255 for
// the whole name).
inline constexpr std::size_t kMaxPlainStemBytes = 120;

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
    // A camera's parameter file: named by MakeUniqueFileName, so cameras whose
    // identities differ only in replaced characters, or an identity such as
    // "Config", never share a file with another.
    static CUserParamFile ForCamera(const std::wstring& identity);

private:
    struct Unique {};
    CUserParamFile(Unique, const std::wstring& fileName);
};

// name.csv in the temporary folder; deleted when the object goes.
class CCsvFile : public CFileManage {
public:
    explicit CCsvFile(const std::wstring& name);
    // A file of exactly that name (already made by MakeUniqueFileName).
    static CCsvFile Named(const std::wstring& fileName) { return CCsvFile(Exact{}, fileName); }
    ~CCsvFile() override;
    CCsvFile(const CCsvFile&) = delete;
    CCsvFile& operator=(const CCsvFile&) = delete;

private:
    struct Exact {};
    CCsvFile(Exact, const std::wstring& fileName);
};
