// Usage errors of flashwright-cli, found before the parser runs so the message
// can name the unknown word and suggest what was probably meant.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// The candidate closest to word by edit distance, when it is close enough to
// be what was meant; empty otherwise.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

// Walks the arguments through the command tree: the first word that is neither
// a command of the group it stands in nor an option of the command (or of the
// commands it belongs to) gives a message naming it, with the nearest command
// or option. Nothing for arguments the parser should see.
std::optional<std::string> FindUnknownWord(const CLI::App& app, const std::vector<std::string>& arguments);

// The bash completion script of the program, from the command tree: commands,
// their options and the options' fixed values.
std::string BashCompletionScript(const CLI::App& app);
