// Command groups of flashwright-cli. Each group adds its subcommands to the
// program's app; a command that fails throws CLI::RuntimeError with its exit
// status after printing a one-line message to standard error.
#pragma once

namespace CLI {
class App;
}

// package models | compile | plan
void AddPackageCommands(CLI::App& app);
// params export | import
void AddParamsCommands(CLI::App& app);
// list | upgrade
void AddCameraCommands(CLI::App& app);
