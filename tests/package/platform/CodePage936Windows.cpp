#include <windows.h>

#include "../CodePage936.h"

std::string FromCodePage936(const std::string& bytes) {
    if (bytes.empty()) return std::string();
    const int length = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (wide <= 0) return "<not CP936>";
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes.data(), length, text.data(), wide);
    const int narrow = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(narrow), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), narrow, nullptr, nullptr);
    return out;
}
