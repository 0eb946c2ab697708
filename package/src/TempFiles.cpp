#include "package/TempFiles.h"

#include <algorithm>
#include <cwctype>

#include "package/Sha1.h"
#include "platform/FileSystem.h"
#include "support/Platform.h"

namespace package {

std::wstring GetTempDirectoryPath() { return fs::TempDirectoryPath(); }

bool EnsureTempDirectory() { return fs::EnsurePrivateDirectory(fs::TempDirectoryPath()); }

void RemoveFileAt(const std::wstring& path) { fs::DeleteFile(path); }

bool CheckTempDirectory(std::wstring& reason) { return fs::EnsurePrivateDirectory(fs::TempDirectoryPath(), &reason); }

bool EnsurePrivateFolder(const std::wstring& path, std::wstring& reason) {
    if (path.empty()) return fs::EnsurePrivateDirectory(path, &reason);
    return fs::CreateParentDirectories(path, &reason) && fs::EnsurePrivateDirectory(path, &reason);
}

void RemoveTempDirectory() { fs::RemovePrivateDirectory(fs::TempDirectoryPath()); }

std::wstring MakeSafeFileName(const std::wstring& name) {
    std::wstring safe = name;
    for (std::size_t i = 0; i < safe.size(); ++i) {
        wchar_t& c = safe[i];
        const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
        const bool separator = c == L'/' || c == L'\\' || platform::IsReservedFileNameCharacter(c);
        const bool dotRun =
            c == L'.' && ((i > 0 && name[i - 1] == L'.') || (i + 1 < name.size() && name[i + 1] == L'.'));
        if (control || separator || dotRun) c = L'_';
    }
    return safe;
}

namespace {

// Stems of the program's own files in the temporary folder, compared without
// regard to case (the Windows rule).
bool IsReservedStem(const std::wstring& stem) {
    static const wchar_t* const kReserved[] = {L"Config"};
    std::wstring lower = stem;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return std::towlower(c); });
    for (const wchar_t* reserved : kReserved) {
        std::wstring r = reserved;
        std::transform(r.begin(), r.end(), r.begin(), [](wchar_t c) { return std::towlower(c); });
        if (lower == r) return true;
    }
    return false;
}

constexpr std::size_t kHashDigits = 16;
constexpr std::size_t kHashedPrefixChars = 40;

// "<anything>-<16 lower-case hex digits>": the form hashed names take.
bool LooksHashed(const std::wstring& stem) {
    if (stem.size() < kHashDigits + 1 || stem[stem.size() - kHashDigits - 1] != L'-') return false;
    return std::all_of(stem.end() - kHashDigits, stem.end(),
                       [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); });
}

}  // namespace

std::wstring MakeUniqueFileName(const std::wstring& name, const std::wstring& extension) {
    const std::wstring safe = MakeSafeFileName(name);
    const std::string raw = platform::WideToAnsi(name);
    const bool plain = !name.empty() && safe == name && raw.size() <= kMaxPlainStemBytes && name != L"." &&
                       !IsReservedStem(name) && !LooksHashed(name) && platform::AnsiToWide(raw) == name;
    if (plain) return name + extension;
    const Sha1Digest digest = ComputeSha1(raw.data(), raw.size());
    const std::string hash = ToHex(digest.data(), digest.size()).substr(0, kHashDigits);
    std::wstring prefix = safe.substr(0, kHashedPrefixChars);
    if (prefix == L".") prefix = L"_";
    return prefix + L"-" + platform::AnsiToWide(hash) + extension;
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

CUserParamFile::CUserParamFile(Unique, const std::wstring& fileName) {
    CreateTempDir();
    m_filePath = m_folderPath + platform::PathSeparator() + fileName;
}

CUserParamFile CUserParamFile::ForCamera(const std::wstring& identity) {
    return CUserParamFile(Unique{}, package::MakeUniqueFileName(identity, L".ini"));
}

CCsvFile::CCsvFile(const std::wstring& name) { __NameFile(name, L".csv"); }

CCsvFile::CCsvFile(Exact, const std::wstring& fileName) {
    CreateTempDir();
    m_filePath = m_folderPath + platform::PathSeparator() + fileName;
}

CCsvFile::~CCsvFile() { RemoveFile(); }
