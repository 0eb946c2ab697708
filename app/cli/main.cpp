#include <CLI/CLI.hpp>

#include "CommandGroups.h"
#include "run/ProgramVersion.h"

int main(int argc, char** argv) {
    CLI::App app{"Inspects the embedded upgrade package and the attached cameras.", "flashwright-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", [] { return ProgramVersionText("flashwright-cli"); },
                         "Print the program version and exit");
    AddPackageCommands(app);
    AddParamsCommands(app);
    AddCameraCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }
    return 0;
}
