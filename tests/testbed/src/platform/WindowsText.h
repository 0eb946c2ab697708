// Text conversion shared by the test bed's Windows files.
#pragma once

#include <string>

namespace testbed::system {

// Test texts are in the ANSI code page, as std::filesystem::path takes them on Windows.
std::wstring Wide(const std::string& text);

}  // namespace testbed::system
