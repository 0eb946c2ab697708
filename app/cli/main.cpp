#include <CLI/CLI.hpp>

#include "CliProcess.h"
#include "CommandGroups.h"
#include "support/Platform.h"
#include "run/ProgramVersion.h"

int main(int argc, char** argv) {
    // Output to a closed pipe fails quietly; it never ends a run.
    platform::IgnoreBrokenPipe();
    CLI::App app{"Inspects the embedded upgrade package and the attached cameras.", "flashwright-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", [] { return ProgramVersionText("flashwright-cli"); },
                         "Print the program version and exit");
    AddPackageCommands(app);
    AddParamsCommands(app);
    AddCameraCommands(app);
    int status = 0;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        status = app.exit(error);
    }
    EndCliProcess();
    return status;
}
