// SHA-1 through OpenSSL's libcrypto, a well-kept verified implementation.
#include <openssl/evp.h>

#include <stdexcept>

#include "package/Sha1.h"

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

}  // namespace package
