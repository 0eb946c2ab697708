#include "package/IniFile.h"

#include <algorithm>
#include <limits>

#include "package/PackageConfig.h"
#include "support/Platform.h"

namespace {

const wchar_t* const kNotFound = L"Not Found";
constexpr std::size_t kValueBufferChars = 260;

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int DigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'z') return c - L'a' + 10;
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    return 99;
}

}  // namespace

namespace package {

bool CProfileFile::ReadString(const std::wstring& section, const std::wstring& key, std::wstring& value) const {
    if (!m_exists) return false;
    const std::wstring answer = GetString(section, key, kNotFound, kValueBufferChars);
    if (answer.empty() || answer == kNotFound) return false;
    value = answer;
    return true;
}

bool CProfileFile::ReadInt(const std::wstring& section, const std::wstring& key, std::int32_t& value) const {
    if (!m_exists) return false;
    const std::wstring text = GetString(section, key, L"", kValueBufferChars);
    const std::int32_t answer = text.empty() ? -1 : ParseProfileInteger(text);
    if (answer == -1) return false;
    value = answer;
    return true;
}

bool CProfileFile::ReadHex(const std::wstring& section, const std::wstring& key, std::int32_t& value) const {
    const std::wstring answer = GetString(section, key, kNotFound, kValueBufferChars);
    if (answer.empty() || answer == kNotFound) return false;
    value = ParseHexLong(answer);
    return true;
}

// Decimal with an optional sign; 0x, 0o and 0b switch the base; stops at the
// first other character; wraps modulo 2^32.
std::int32_t ParseProfileInteger(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] <= L' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    int base = 10;
    if (i + 1 < text.size() && text[i] == L'0') {
        const wchar_t marker = text[i + 1];
        if (marker == L'x' || marker == L'X')
            base = 16;
        else if (marker == L'o' || marker == L'O')
            base = 8;
        else if (marker == L'b' || marker == L'B')
            base = 2;
        if (base != 10) i += 2;
    }
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= base) break;
        value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    }
    if (negative) value = ~value + 1;
    return static_cast<std::int32_t>(value);
}

// Base 16 as a 32-bit signed long: blanks, sign and a 0x prefix accepted,
// stops at the first other character, saturates at the limits.
std::int32_t ParseHexLong(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i + 2 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X') &&
        DigitValue(text[i + 2]) < 16)
        i += 2;
    constexpr std::uint64_t kBeyond = 0x100000000ull;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= 16) break;
        magnitude = std::min(kBeyond, magnitude * 16 + static_cast<std::uint64_t>(digit));
    }
    if (negative) {
        if (magnitude >= 0x80000000ull) return std::numeric_limits<std::int32_t>::min();
        return -static_cast<std::int32_t>(magnitude);
    }
    if (magnitude > 0x7FFFFFFFull) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(magnitude);
}

}  // namespace package

bool CINIFileBase::ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& path,
                              std::wstring& value) const {
    if (!platform::PathExists(path)) return false;
    const std::wstring answer = package::GetProfileString(section, key, kNotFound, kValueBufferChars, path);
    if (answer.empty() || answer == kNotFound) return false;
    value = answer;
    return true;
}

bool CINIFileBase::ReadInt(const std::wstring& path, const std::wstring& key, const std::wstring& section,
                           std::int32_t& value) const {
    if (!platform::PathExists(path)) return false;
    const std::int32_t answer = package::GetProfileInt(section, key, -1, path);
    if (answer == -1) return false;
    value = answer;
    return true;
}

bool CINIFileBase::ReadHex(const std::wstring& key, const std::wstring& section, std::int32_t& value) const {
    const std::wstring answer =
        package::GetProfileString(section, key, kNotFound, kValueBufferChars, package::GetPackageConfigPath());
    if (answer.empty() || answer == kNotFound) return false;
    value = package::ParseHexLong(answer);
    return true;
}
