#include "dialog/CommandLine.h"

#include <string_view>

#include "run/ReleaseText.h"

namespace {

constexpr std::string_view kHelpText =
    "Usage: flashwright [OPTION]...\n"
    "Lists the attached USB3 Vision cameras of the models the built-in upgrade package\n"
    "serves and upgrades their firmware, many cameras at once, in one window. Every run\n"
    "is added to the upgrade history (right-click the window: Upgrade History...).\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and the firmware versions of the package's\n"
    "                 models, and exit\n"
    "\n"
    "The window toolkit's own options, such as -platform NAME, are accepted too.\n"
    "Cameras are reached through the GenTL producer ZvU3VTL.cti, looked for in the folders\n"
    "GENICAM_GENTL64_PATH names (then beside the program); the camera SDK libZvIAPI.so is\n"
    "loaded from beside the program or through the system's library search.\n"
    "flashwright-cli offers the same upgrade on the command line.\n";

}  // namespace

std::optional<int> AnswerInformationOption(int argc, const char* const* argv, std::ostream& out) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") break;
        if (argument == "-h" || argument == "--help") {
            out << kHelpText;
            return out.flush() ? 0 : 1;
        }
        if (argument == "--version") {
            out << VersionText("flashwright");
            return out.flush() ? 0 : 1;
        }
    }
    return std::nullopt;
}
