// The options the dialog program answers on the terminal, without a window.
#pragma once

#include <optional>
#include <ostream>

// Looks through the arguments for -h/--help and --version (up to a "--"); the
// first one found is answered on out and its exit status returned. Anything
// else is left to the toolkit, which takes options of its own (-platform).
// The caller returns before the application object exists, so no display is
// needed.
std::optional<int> AnswerInformationOption(int argc, const char* const* argv, std::ostream& out);
