#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace package {

using Sha1Digest = std::array<std::uint8_t, 20>;

// SHA-1 (FIPS 180) of a byte range, in the standard byte order.
Sha1Digest ComputeSha1(const void* data, std::size_t size);

// Lower-case hexadecimal text of bytes.
std::string ToHex(const std::uint8_t* data, std::size_t size);

}  // namespace package
