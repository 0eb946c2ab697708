// Helpers every command group shares.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>

#include "CliProcess.h"
#include "CommandGroups.h"
#include "support/Platform.h"

void Fail(int status, const std::string& message) {
    std::cerr << "flashwright-cli: " << message << '\n';
    throw CLI::RuntimeError(status);
}

void PrintTable(std::vector<std::vector<std::string>> rows) {
    // Camera text may hold control characters: they must not drive the terminal.
    for (auto& row : rows)
        for (std::string& cell : row) cell = EscapeControls(cell);
    // Widths in characters, so names with non-ASCII letters still line up.
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], platform::Utf8ToWide(row[i]).size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - platform::Utf8ToWide(row[i]).size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        std::cout << line << '\n';
    }
}
