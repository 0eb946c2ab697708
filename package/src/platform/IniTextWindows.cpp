// inih's line rules, for the metadata texts of the package: "[section]", then
// "key=value" or "key:value" with blanks around key and value removed; lines
// starting with ";" or "#" are comments; a line that is none of these fails.
#include <cstring>
#include <string>

#include "IniText.h"

namespace package::ini {

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string Trimmed(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

}  // namespace

int ParseText(const char* text, EntryHandler handler, void* user) {
    std::string section;
    int firstError = 0;
    int lineNumber = 0;
    const char* next = text;
    while (*next != '\0') {
        const char* lineFeed = std::strchr(next, '\n');
        const char* end = lineFeed != nullptr ? lineFeed : next + std::strlen(next);
        std::string line = Trimmed(std::string(next, end));
        next = lineFeed != nullptr ? lineFeed + 1 : end;
        ++lineNumber;
        // A byte-order mark before the first line is no part of it.
        if (lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line = Trimmed(line.substr(3));
        bool failed = false;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string::npos)
                failed = true;
            else
                section = line.substr(1, close - 1);
        } else {
            const std::size_t delimiter = line.find_first_of("=:");
            if (delimiter == std::string::npos) {
                failed = true;
            } else {
                const std::string key = Trimmed(line.substr(0, delimiter));
                const std::string value = Trimmed(line.substr(delimiter + 1));
                failed = handler(user, section.c_str(), key.c_str(), value.c_str()) == 0;
            }
        }
        if (failed && firstError == 0) firstError = lineNumber;
    }
    return firstError;
}

}  // namespace package::ini
