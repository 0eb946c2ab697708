// Code page 936 (Simplified Chinese) text as UTF-8, from the system's own
// converter (platform/CodePage936*.cpp); an explanation in angle brackets when
// the bytes are not code page 936.
#pragma once

#include <string>

std::string FromCodePage936(const std::string& bytes);
