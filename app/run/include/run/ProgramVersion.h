// What both programs print for --version.
#pragma once

#include <string>
#include <string_view>

// "<program> <version>", the version being the project's, without a final line
// break. The first line is the one tools such as help2man read; lines added
// after it may describe the built-in package.
std::string ProgramVersionText(std::string_view programName);
