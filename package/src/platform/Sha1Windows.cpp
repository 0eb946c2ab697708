// SHA-1 through the system's cryptography (CNG): no library of our own to ship.
#include <windows.h>
#include <bcrypt.h>

#include <limits>
#include <stdexcept>

#include "package/Sha1.h"

namespace package {

namespace {
// One provider for the process; CNG providers may be shared between threads.
BCRYPT_ALG_HANDLE Sha1Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA1_ALGORITHM, nullptr, 0)))
            handle = nullptr;
        return handle;
    }();
    return provider;
}
}  // namespace

Sha1Digest ComputeSha1(const void* data, std::size_t size) {
    Sha1Digest digest{};
    const unsigned char empty = 0;
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data != nullptr ? data : &empty));
    // BCryptHash takes a 32-bit length; a single resource never comes near it.
    const BCRYPT_ALG_HANDLE provider = Sha1Provider();
    if (provider == nullptr || size > std::numeric_limits<ULONG>::max() ||
        !BCRYPT_SUCCESS(::BCryptHash(provider, nullptr, 0, bytes, static_cast<ULONG>(size), digest.data(),
                                     static_cast<ULONG>(digest.size()))))
        throw std::runtime_error("SHA-1 computation failed");
    return digest;
}

}  // namespace package
