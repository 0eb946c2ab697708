#include <algorithm>
#include <optional>

#include "camera/GenTLLib.h"

std::vector<std::wstring> SplitString(const std::wstring& text, const std::wstring& separator) {
    std::vector<std::wstring> pieces;
    if (text.empty() || separator.empty()) {
        if (!text.empty()) pieces.push_back(text);
        return pieces;
    }
    const std::wstring terminated = text + separator;
    std::size_t position = 0;
    while (position < terminated.size()) {
        const std::size_t next = terminated.find(separator, position);
        if (next == std::wstring::npos) break;
        pieces.push_back(terminated.substr(position, next - position));
        position = next + separator.size();
    }
    return pieces;
}

const wchar_t* ProducerPathVariableName() {
    // A program can load only producers of its own word size.
    return sizeof(void*) == 8 ? L"GENICAM_GENTL64_PATH" : L"GENICAM_GENTL32_PATH";
}

std::vector<std::wstring> GetProducerDirectories() {
    std::vector<std::wstring> directories;
    std::optional<std::wstring> value = platform::FindEnvironmentVariableNoCase(ProducerPathVariableName());
    if (!value) return directories;

    directories = platform::SplitPathList(*value);

    const wchar_t separator = platform::PathSeparator();
    const std::wstring program = platform::GetExecutablePath();
    const std::size_t last = program.find_last_of(separator);
    if (last != std::wstring::npos) directories.push_back(program.substr(0, last + 1));
    return directories;
}

std::vector<std::wstring> SearchProducerFiles(const std::vector<std::wstring>& directories,
                                              const std::vector<std::wstring>& names) {
    std::vector<std::wstring> found;
    const std::wstring separator(1, platform::PathSeparator());
    for (const std::wstring& name : names) {
        for (const std::wstring& directory : directories) {
            const std::wstring candidate = directory + separator + name;
            if (platform::PathExists(candidate)) {
                found.push_back(candidate);
                break;
            }
        }
    }
    return found;
}

std::vector<std::wstring> FindProducerFiles(const std::vector<std::wstring>& names) {
    return SearchProducerFiles(GetProducerDirectories(), names);
}
