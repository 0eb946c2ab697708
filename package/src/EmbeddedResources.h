// The resources compiled into the program from data/resources.list.
#pragma once

#include <cstddef>
#include <string>

namespace package::detail {

// The bytes of the resource of that type (matched without regard to case) and
// id; they live as long as the program. False when there is none.
bool FindEmbeddedResource(const std::wstring& type, int id, const unsigned char*& data, std::size_t& size);

}  // namespace package::detail
