// The digest itself is the system's (platform/Sha1*.cpp); this is what is ours.
#include "package/Sha1.h"

namespace package {

std::string ToHex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

}  // namespace package
