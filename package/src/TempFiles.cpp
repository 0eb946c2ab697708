#include "package/TempFiles.h"

#include "platform/FileSystem.h"
#include "support/Platform.h"

namespace package {

std::wstring GetTempDirectoryPath() { return fs::TempDirectoryPath(); }

bool EnsureTempDirectory() { return fs::EnsurePrivateDirectory(fs::TempDirectoryPath()); }

void RemoveTempDirectory() { fs::RemovePrivateDirectory(fs::TempDirectoryPath()); }

std::wstring MakeSafeFileName(const std::wstring& name) {
    std::wstring safe = name;
    for (std::size_t i = 0; i < safe.size(); ++i) {
        wchar_t& c = safe[i];
        const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
        const bool separator = c == L'/' || c == L'\\' || platform::IsReservedFileNameCharacter(c);
        const bool dotRun = c == L'.' && ((i > 0 && name[i - 1] == L'.') || (i + 1 < name.size() && name[i + 1] == L'.'));
        if (control || separator || dotRun) c = L'_';
    }
    return safe;
}

}  // namespace package

void CFileManage::CreateTempDir() {
    m_folderPath = package::fs::TempDirectoryPath();
    m_folderUsable = package::fs::EnsurePrivateDirectory(m_folderPath);
}

void CFileManage::RemoveTempDir() {
    if (!m_folderPath.empty()) package::fs::RemovePrivateDirectory(m_folderPath);
}

bool CFileManage::WriteData(const std::uint8_t* data, std::uint32_t size) {
    if (data == nullptr || size == 0 || !m_folderUsable || m_filePath.empty()) return false;
    return package::fs::WriteWholeFile(m_filePath, data, size);
}

void CFileManage::RemoveFile() { package::fs::DeleteFile(m_filePath); }

void CFileManage::__NameFile(const std::wstring& name, const wchar_t* extension) {
    CreateTempDir();
    m_filePath = m_folderPath + platform::PathSeparator() + package::MakeSafeFileName(name) + extension;
}

CUserParamFile::CUserParamFile(const std::wstring& name) { __NameFile(name, L".ini"); }

CCsvFile::CCsvFile(const std::wstring& name) { __NameFile(name, L".csv"); }

CCsvFile::~CCsvFile() { RemoveFile(); }
