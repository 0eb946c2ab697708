#include <cstring>

#include "camera/U3VDevice.h"

std::string FieldText(const char* field, std::size_t width) {
    const void* zero = std::memchr(field, 0, width);
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : width;
    return std::string(field, length);
}
