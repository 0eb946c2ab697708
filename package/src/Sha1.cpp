#include "package/Sha1.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace package {

Sha1Digest ComputeSha1(const void* data, std::size_t size) {
    Sha1Digest digest{};
    unsigned int length = 0;
    const unsigned char empty = 0;
    // EVP_Digest is the one-shot form; it needs a non-null pointer even for no bytes.
    if (EVP_Digest(data != nullptr ? data : &empty, size, digest.data(), &length, EVP_sha1(), nullptr) != 1 ||
        length != digest.size())
        throw std::runtime_error("SHA-1 computation failed");
    return digest;
}

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
