// The options the dialog program answers on the terminal, without a window.
#pragma once

#include <optional>
#include <ostream>

// Looks through the arguments for -h/--help and --version (up to a "--"); the
// first one found is answered on out and its exit status returned. Anything
// else is left to the toolkit, which takes its own options (-platform, -style).
// The caller ends the process before creating the application object, so the
// answer needs no display.
std::optional<int> AnswerInformationOption(int argc, const char* const* argv, std::ostream& out);
