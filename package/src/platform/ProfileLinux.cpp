// The profile reader on Linux: inih behind the Windows profile rules.
#include <ini.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "package/IniFile.h"
#include "support/Platform.h"

namespace {

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

int CollectEntry(void* user, const char* section, const char* name, const char* value) {
    static_cast<std::vector<package::CProfileFile::Entry>*>(user)->push_back(
        {section, name, value != nullptr ? value : ""});
    return 1;
}

}  // namespace

namespace package {

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

std::wstring CProfileFile::GetString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback,
                                     std::size_t bufferChars) const {
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

}  // namespace package
