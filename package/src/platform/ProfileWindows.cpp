// The profile reader on Windows is the system's own.
#include <windows.h>

// <windows.h> maps these names to the system's own profile functions.
#undef GetProfileString
#undef GetProfileInt

#include <limits>
#include <vector>

#include "package/IniFile.h"

namespace package {

std::wstring GetProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback,
                              std::size_t bufferChars, const std::wstring& path) {
    if (bufferChars == 0) return std::wstring();
    if (bufferChars > std::numeric_limits<DWORD>::max()) bufferChars = std::numeric_limits<DWORD>::max();
    std::vector<wchar_t> buffer(bufferChars, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                                                    static_cast<DWORD>(bufferChars), path.c_str());
    return std::wstring(buffer.data(), length);
}

// The system reads the file itself and keeps it cached between questions.
bool CProfileFile::Load(const std::wstring& path) {
    m_path = path;
    m_exists = ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return m_exists;
}

std::wstring CProfileFile::GetString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback,
                                     std::size_t bufferChars) const {
    return GetProfileString(section, key, fallback, bufferChars, m_path);
}

std::int32_t GetProfileInt(const std::wstring& section, const std::wstring& key, std::int32_t fallback,
                           const std::wstring& path) {
    return static_cast<std::int32_t>(::GetPrivateProfileIntW(section.c_str(), key.c_str(), fallback, path.c_str()));
}

}  // namespace package
