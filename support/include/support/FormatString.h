#pragma once

#include <cstdarg>
#include <string>

// printf-style wide formatting with the Windows conversions: %s takes a wide
// string, %S an 8-bit one, %c a wide character and %C an 8-bit one. The result
// is bounded at 1023 characters (a longer text is cut, never an error).
std::wstring FormatString(const wchar_t* format, ...);
std::wstring FormatStringV(const wchar_t* format, va_list args);

inline constexpr std::size_t kFormatStringMaxChars = 1023;
