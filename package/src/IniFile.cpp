#include "package/IniFile.h"

#include <ini.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>

#include "package/PackageConfig.h"
#include "support/Platform.h"

namespace {

const wchar_t* const kNotFound = L"Not Found";
constexpr std::size_t kValueBufferChars = 260;

// The Windows profile reader knows no continuation lines, no inline comments and
// no "#" comments; its lines have no practical length limit.
void ConfigureIniParser() {
    static std::once_flag once;
    std::call_once(once, [] {
        static char commentPrefixes[] = ";";
        ini_allow_multiline = false;
        ini_allow_inline_comments = false;
        ini_start_comment_prefixes = commentPrefixes;
        ini_use_stack = false;
        ini_allow_realloc = false;
        ini_max_line = 4096;
        ini_initial_alloc = 4096;
    });
}

// Feeds the parser one line at a time from memory. A line longer than the
// parser's buffer is cut, and its rest skipped, so the rest never reads as an
// entry of its own.
struct LineSource {
    const char* next;
    const char* end;
};

char* ReadLine(char* buffer, int bufferSize, void* stream) {
    auto* source = static_cast<LineSource*>(stream);
    if (source->next >= source->end || bufferSize < 2) return nullptr;
    const auto* lineFeed =
        static_cast<const char*>(std::memchr(source->next, '\n', static_cast<std::size_t>(source->end - source->next)));
    const char* lineEnd = lineFeed != nullptr ? lineFeed + 1 : source->end;
    const std::size_t length = static_cast<std::size_t>(lineEnd - source->next);
    const std::size_t copied = std::min(length, static_cast<std::size_t>(bufferSize - 1));
    std::memcpy(buffer, source->next, copied);
    buffer[copied] = '\0';
    source->next = lineEnd;
    return buffer;
}

bool EqualsNoCase(const std::string& wanted, const char* name) {
    const std::size_t length = std::strlen(name);
    if (length != wanted.size()) return false;
    for (std::size_t i = 0; i < length; ++i) {
        auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; };
        if (lower(static_cast<unsigned char>(wanted[i])) != lower(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int DigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'z') return c - L'a' + 10;
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    return 99;
}

}  // namespace

namespace package {

namespace {

int CollectEntry(void* user, const char* section, const char* name, const char* value) {
    static_cast<std::vector<CProfileFile::Entry>*>(user)->push_back({section, name, value != nullptr ? value : ""});
    return 1;
}

}  // namespace

bool CProfileFile::Load(const std::wstring& path) {
    m_entries.clear();
    m_exists = platform::PathExists(path);
    std::ifstream file(platform::ToNativePath(path), std::ios::binary);
    if (!file) return m_exists;
    const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ConfigureIniParser();
    LineSource source{content.data(), content.data() + content.size()};
    ini_parse_stream(&ReadLine, &source, &CollectEntry, &m_entries);
    return m_exists;
}

std::wstring CProfileFile::GetString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& fallback, std::size_t bufferChars) const {
    const std::size_t limit = bufferChars == 0 ? 0 : bufferChars - 1;
    const std::string wantedSection = platform::WideToAnsi(section);
    const std::string wantedKey = platform::WideToAnsi(key);
    std::wstring answer = fallback;
    // The first matching entry wins.
    for (const Entry& entry : m_entries) {
        if (EqualsNoCase(wantedSection, entry.section.c_str()) && EqualsNoCase(wantedKey, entry.key.c_str())) {
            answer = platform::AnsiToWide(entry.value);
            break;
        }
    }
    if (answer.size() > limit) answer.resize(limit);
    return answer;
}

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

std::wstring GetProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback,
                              std::size_t bufferChars, const std::wstring& path) {
    CProfileFile profile;
    profile.Load(path);
    return profile.GetString(section, key, fallback, bufferChars);
}

std::int32_t GetProfileInt(const std::wstring& section, const std::wstring& key, std::int32_t fallback,
                           const std::wstring& path) {
    const std::wstring text = GetProfileString(section, key, L"", kValueBufferChars, path);
    if (text.empty()) return fallback;
    return ParseProfileInteger(text);
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
        if (marker == L'x' || marker == L'X') base = 16;
        else if (marker == L'o' || marker == L'O') base = 8;
        else if (marker == L'b' || marker == L'B') base = 2;
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
