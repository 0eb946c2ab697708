#include <cwctype>

#include "camera/U3VDevice.h"
#include "support/Platform.h"

std::wstring ExtractVersionField(const std::wstring& text, int count) {
    std::wstring upper(text);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));

    std::size_t start = 0;
    int dots = 0;
    bool armed = true;
    int pieces = 0;
    std::wstring result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'V') {
            start = i + 1;
        } else if (c == L';') {
            start = i + 1;
            dots = 0;
            armed = true;
        } else if (armed) {
            if (c == L'.') ++dots;
            if (dots == count) {
                armed = false;
                const std::wstring piece = upper.substr(start, i - start);
                result = pieces == 0 ? piece : result + L"_" + piece;
                ++pieces;
            }
        }
    }
    return result;
}

namespace {
// Byte-wise on unsigned bytes; a prefix sorts first.
bool SortsAfter(std::string_view left, std::string_view right) {
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(left[i]);
        const auto b = static_cast<unsigned char>(right[i]);
        if (a != b) return a > b;
    }
    return left.size() > right.size();
}
}  // namespace

bool CompareFirmwareVersion(std::string_view cameraVersion, std::string_view partA, std::string_view partB) {
    const std::size_t colon = cameraVersion.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view left = cameraVersion.substr(0, colon);
    const std::string_view right = cameraVersion.substr(colon + 1);

    std::wstring major = ExtractVersionField(platform::AnsiToWide(left), 2);
    const std::size_t dot = major.find(L'.');
    if (dot == std::wstring::npos) return false;
    major.erase(0, dot + 1);
    const std::wstring minor = ExtractVersionField(platform::AnsiToWide(right), 1);

    // Cameras with these placeholder versions accept any major part.
    if (left != "00.00.000.000" && left != "55.55.255.255") {
        if (platform::WideToAnsi(major) != partA) return false;
    }
    if (SortsAfter(platform::WideToAnsi(minor), partB)) return false;
    return true;
}
