// The table of resources compiled into the program from data/resources.list.
#pragma once

#include <cstddef>

namespace package::detail {

struct EmbeddedResource {
    const char* type;
    int id;
    const unsigned char* data;
    const std::size_t* size;
};

extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

}  // namespace package::detail
