// Command groups of flashwright-cli. Each group adds its subcommands to the
// program's app; a command that fails throws CLI::RuntimeError with its exit
// status after printing a one-line message to standard error.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

// The exit statuses every command keeps to.
namespace ExitStatus {
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kNothingToDo = 2;  // nothing to do, or nothing matched
inline constexpr int kUsage = 64;       // unknown command or option, bad argument
}  // namespace ExitStatus

// -v/--verbose: commands also print the failure texts of the error records.
bool IsVerbose();
void SetVerbose(bool verbose);

// Prints "flashwright-cli: message" to standard error and ends the command
// with that exit status.
[[noreturn]] void Fail(int status, const std::string& message);

// Rows of text in aligned columns, the first row being the heading.
void PrintTable(std::vector<std::vector<std::string>> rows);

// package models | compile | plan
void AddPackageCommands(CLI::App& app);
// params export | import
void AddParamsCommands(CLI::App& app);
// list | upgrade
void AddCameraCommands(CLI::App& app);
// history
void AddHistoryCommands(CLI::App& app);
