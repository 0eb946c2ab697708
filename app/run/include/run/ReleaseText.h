// What both programs print for --version: the program's version, then the
// firmware version each model of the embedded package is brought to.
#pragma once

#include <string>
#include <string_view>

// "<program> <version>\n" and one indented line per model. The first line is
// the one man-page tools read.
std::string VersionText(std::string_view programName);
