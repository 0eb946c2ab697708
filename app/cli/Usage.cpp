#include "Usage.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace {

// Edit distance with adjacent transpositions counted as one edit, the
// commonest typing slip.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::vector<const CLI::App*> Subcommands(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
}

const CLI::App* FindSubcommand(const CLI::App& app, const std::string& word) {
    for (const CLI::App* sub : Subcommands(app))
        if (sub->check_name(word)) return sub;
    return nullptr;
}

bool HasPositionals(const CLI::App& app) {
    return !app.get_options([](const CLI::Option* option) { return option->get_positional(); }).empty();
}

bool TakesValue(const CLI::Option& option) { return option.get_items_expected_min() > 0; }

// Every spelling of the named options: "-o", "--output".
std::vector<std::string> OptionSpellings(const CLI::App& app) {
    std::vector<std::string> spellings;
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional() && !option->nonpositional()) continue;
        for (const std::string& name : option->get_snames()) spellings.push_back("-" + name);
        for (const std::string& name : option->get_lnames()) spellings.push_back("--" + name);
    }
    return spellings;
}

std::string CommandPath(const std::vector<const CLI::App*>& chain) {
    std::string path;
    for (std::size_t i = 1; i < chain.size(); ++i) path += (path.empty() ? "" : " ") + chain[i]->get_name();
    return path;
}

std::string Suggestion(const std::string& nearest) {
    return nearest.empty() ? std::string() : "; did you mean \"" + nearest + "\"?";
}

}  // namespace

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = std::string::npos;
    for (const std::string& candidate : candidates) {
        // A clear beginning of a longer word counts as close.
        const bool prefix = word.size() >= 2 && candidate.compare(0, word.size(), word) == 0;
        const std::size_t distance = prefix ? 1 : Distance(word, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    const std::size_t allowed = std::max<std::size_t>(2, word.size() / 3);
    return bestDistance <= allowed ? best : std::string();
}

std::optional<std::string> FindUnknownWord(const CLI::App& app, const std::vector<std::string>& arguments) {
    std::vector<const CLI::App*> chain = {&app};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") break;
        if (argument.size() > 1 && argument[0] == '-') {
            const bool longForm = argument.compare(0, 2, "--") == 0;
            const std::string name = longForm ? argument.substr(0, argument.find('=')) : argument.substr(0, 2);
            const CLI::Option* option = nullptr;
            for (auto it = chain.rbegin(); it != chain.rend() && option == nullptr; ++it)
                option = (*it)->get_option_no_throw(name);
            if (option == nullptr) {
                std::vector<std::string> known;
                for (const CLI::App* level : chain) {
                    const auto spellings = OptionSpellings(*level);
                    known.insert(known.end(), spellings.begin(), spellings.end());
                }
                const std::string command = CommandPath(chain);
                return "unknown option \"" + name + "\"" + (command.empty() ? "" : " for \"" + command + "\"") +
                       Suggestion(NearestWord(name, known));
            }
            // The value of "-o FILE" or "--output FILE" is the next argument.
            const bool attached = longForm ? argument.find('=') != std::string::npos : argument.size() > 2;
            if (TakesValue(*option) && !attached) ++i;
            continue;
        }
        const CLI::App& current = *chain.back();
        if (const CLI::App* sub = FindSubcommand(current, argument)) {
            chain.push_back(sub);
            continue;
        }
        if (!Subcommands(current).empty() && !HasPositionals(current)) {
            std::vector<std::string> names;
            for (const CLI::App* sub : Subcommands(current)) names.push_back(sub->get_name());
            const std::string command = CommandPath(chain);
            return "unknown command \"" + (command.empty() ? argument : command + " " + argument) + "\"" +
                   Suggestion(NearestWord(argument, names));
        }
    }
    return std::nullopt;
}

// ---- Completion -------------------------------------------------------------

namespace {

void CollectPaths(const CLI::App& app, const std::string& path, std::map<std::string, const CLI::App*>& paths) {
    paths[path] = &app;
    for (const CLI::App* sub : Subcommands(app)) CollectPaths(*sub, path + "/" + sub->get_name(), paths);
}

// The words once each, in their first order.
std::string Join(const std::vector<std::string>& words) {
    std::string text;
    std::vector<std::string> seen;
    for (const std::string& word : words) {
        if (std::find(seen.begin(), seen.end(), word) != seen.end()) continue;
        seen.push_back(word);
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

}  // namespace

std::string BashCompletionScript(const CLI::App& app) {
    std::map<std::string, const CLI::App*> paths;
    CollectPaths(app, "", paths);
    const std::string program = app.get_name();
    std::string function = "_";
    for (const char c : program) function += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';

    std::ostringstream out;
    out << "# bash completion for " << program << "\n"
        << "# Generated by \"" << program << " completion bash\" from the program's own commands; do not edit.\n"
        << function << "() {\n"
        << "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"\"\n"
        << "    (( COMP_CWORD > 0 )) && prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        << "    local path=\"\" i word\n"
        << "    for (( i = 1; i < COMP_CWORD; i++ )); do\n"
        << "        word=\"${COMP_WORDS[i]}\"\n"
        << "        case \"$path/$word\" in\n";
    std::vector<std::string> commandPaths;
    for (const auto& [path, command] : paths)
        if (!path.empty()) commandPaths.push_back("\"" + path + "\"");
    if (!commandPaths.empty()) {
        std::string alternatives;
        for (const std::string& path : commandPaths) alternatives += (alternatives.empty() ? "" : "|") + path;
        out << "            " << alternatives << ") path=\"$path/$word\" ;;\n";
    }
    out << "        esac\n"
        << "    done\n";

    // Options whose value follows them: file names are offered for the value.
    std::vector<std::string> valueOptions;
    for (const auto& [path, command] : paths) {
        for (const CLI::Option* option : command->get_options()) {
            if (option->get_positional() && !option->nonpositional()) continue;
            if (!TakesValue(*option)) continue;
            for (const std::string& name : option->get_snames()) valueOptions.push_back("-" + name);
            for (const std::string& name : option->get_lnames()) valueOptions.push_back("--" + name);
        }
    }
    std::sort(valueOptions.begin(), valueOptions.end());
    valueOptions.erase(std::unique(valueOptions.begin(), valueOptions.end()), valueOptions.end());
    if (!valueOptions.empty()) {
        std::string alternatives;
        for (const std::string& option : valueOptions) alternatives += (alternatives.empty() ? "" : "|") + option;
        out << "    case \"$prev\" in\n"
            << "        " << alternatives << ") COMPREPLY=( $(compgen -f -- \"$cur\") ); return ;;\n"
            << "    esac\n";
    }

    out << "    local words\n"
        << "    case \"$path\" in\n";
    for (const auto& [path, command] : paths) {
        std::vector<std::string> words;
        for (const CLI::App* sub : Subcommands(*command)) words.push_back(sub->get_name());
        // Options of the enclosing commands are accepted after a command too.
        std::vector<const CLI::App*> chain;
        for (const CLI::App* level = command; level != nullptr; level = level->get_parent()) chain.push_back(level);
        for (const CLI::App* level : chain) {
            const auto spellings = OptionSpellings(*level);
            words.insert(words.end(), spellings.begin(), spellings.end());
            if (!level->get_fallthrough()) break;
        }
        out << "        \"" << path << "\") words=\"" << Join(words) << "\" ;;\n";
    }
    out << "    esac\n"
        << "    COMPREPLY=( $(compgen -W \"$words\" -- \"$cur\") )\n"
        << "}\n"
        << "complete -F " << function << " " << program << "\n";
    return out.str();
}
