// flashwright-cli params ...: the user-parameter passes on their own, as the
// program runs them before loading the producer and after releasing it.
#include <CLI/CLI.hpp>

#include <iostream>

#include "CommandGroups.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

namespace {

void RunPass(bool (*pass)(CAPIDeviceManager&), const char* done) {
    CAPIDeviceManager manager;
    if (!pass(manager)) {
        std::cerr << "flashwright-cli: " << platform::WideToAnsi(manager.GetErrorText()) << '\n';
        throw CLI::RuntimeError(1);
    }
    std::cout << done << '\n';
}

}  // namespace

void AddParamsCommands(CLI::App& app) {
    CLI::App* params = app.add_subcommand("params", "Save or restore the cameras' user parameters through the camera SDK");
    params->require_subcommand(1);
    params->add_subcommand("export", "Save every camera's user parameters to its file in the temporary folder")
        ->callback([] { RunPass(&ExportUserParams, "User parameters saved."); });
    params->add_subcommand("import", "Load every camera's user parameters back from its file")
        ->callback([] { RunPass(&ImportUserParams, "User parameters restored."); });
}
