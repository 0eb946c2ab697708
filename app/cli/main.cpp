#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "CommandGroups.h"
#include "support/Platform.h"
#include "Usage.h"
#include "run/ReleaseText.h"

namespace {

constexpr const char* kExitStatusText =
    "Exit status:\n"
    "  0   success\n"
    "  1   failure (a camera failed, the package or the producer could not be used)\n"
    "  2   nothing to do, or nothing matched\n"
    "  64  usage error (unknown command or option, bad argument)\n"
    "\"package compile\" exits with the compiler's result code instead.";

bool g_verbose = false;

// --help-all shows every command at every depth with its options, so the
// manual page made from it is complete.
class ExpandingFormatter : public CLI::Formatter {
public:
    std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override {
        return CLI::Formatter::make_subcommands(app, mode == CLI::AppFormatMode::Sub ? CLI::AppFormatMode::All : mode);
    }
};

}  // namespace

bool IsVerbose() { return g_verbose; }
void SetVerbose(bool verbose) { g_verbose = verbose; }

int main(int argc, char** argv) {
    // Output to a closed pipe fails quietly; it never ends a run.
    platform::IgnoreBrokenPipe();
    CLI::App app{
        "Lists the attached cameras and upgrades their firmware from the embedded package; "
        "inspects the package and keeps a history of the upgrade runs.",
        "flashwright-cli"};
    app.formatter(std::make_shared<ExpandingFormatter>());
    // Options of the program (-v) are accepted after a command too.
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(kExitStatusText);
    app.set_help_all_flag("--help-all", "Print the help of every command and exit");
    app.set_version_flag(
        "--version",
        [] {
            std::string text = VersionText("flashwright-cli");
            text.pop_back();
            return text;
        },
        "Print the program version and the firmware versions of the package's models, and exit");
    // The failure records are for -v only, the debugger output's among them.
    platform::SetDebugOutputToStandardError(false);
    app.add_flag_callback(
        "-v,--verbose",
        [] {
            SetVerbose(true);
            platform::SetDebugOutputToStandardError(true);
        },
        "Also print the failure texts of the cameras' error records");
    AddPackageCommands(app);
    AddParamsCommands(app);
    AddCameraCommands(app);
    AddHistoryCommands(app);
    auto* completion = app.add_subcommand("completion", "Print the bash completion script of this program.");
    std::string shell;
    completion->add_option("shell", shell, "The shell (only \"bash\")")->required()->check(CLI::IsMember({"bash"}));
    completion->callback([&app] { std::cout << BashCompletionScript(app); });

    // A bare call shows what the program can do, as a usage error.
    if (argc <= 1) {
        std::cout << app.help();
        return ExitStatus::kUsage;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (const auto unknown = FindUnknownWord(app, arguments)) {
        std::cerr << "flashwright-cli: " << *unknown << "\nRun \"flashwright-cli --help\" for the commands.\n";
        return ExitStatus::kUsage;
    }
    int status = ExitStatus::kSuccess;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        status = app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        status = app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        status = app.exit(version);
    } catch (const CLI::RuntimeError& failure) {
        // A command that ran and failed; it printed its own message.
        status = failure.get_exit_code();
    } catch (const CLI::ParseError& error) {
        std::cerr << "flashwright-cli: " << error.what() << "\nRun \"flashwright-cli --help\" for the commands.\n";
        status = ExitStatus::kUsage;
    }
    EndCliProcess();
    return status;
}
