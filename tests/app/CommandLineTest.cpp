#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dialog/CommandLine.h"
#include "run/Version.h"
#include "testbed/Environment.h"
#include "testbed/Files.h"
#include "testbed/Process.h"

// The dialog program's --help and --version: answered on the terminal, before
// any window or display exists.
namespace apptest {

using testbed::ScopedEnvironment;
namespace {

const std::string kVersionLine = std::string("flashwright ") + version::kProgramVersion + "\n";

TEST(CommandLineTest, InformationOptionsAreAnsweredAndEverythingElseIsLeftToTheWindow) {
    struct Case {
        std::vector<const char*> arguments;
        bool answered;
        std::string startOfOutput;
    };
    const Case cases[] = {
        {{}, false, ""},
        {{"--version"}, true, kVersionLine},
        {{"--help"}, true, "Usage: flashwright [OPTION]...\n"},
        {{"-h"}, true, "Usage: flashwright [OPTION]...\n"},
        // The first information option wins, wherever it stands.
        {{"-platform", "offscreen", "--version", "--help"}, true, kVersionLine},
        {{"--help", "--version"}, true, "Usage: "},
        // The toolkit's own options and anything after "--" are not ours.
        {{"-platform", "offscreen", "-style", "fusion"}, false, ""},
        {{"--", "--version"}, false, ""},
        {{"--versions", "-help"}, false, ""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"flashwright"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string shown;
        for (const char* argument : c.arguments) shown += std::string(argument) + " ";
        SCOPED_TRACE(shown);

        std::ostringstream out;
        const std::optional<int> status = AnswerInformationOption(static_cast<int>(argv.size()), argv.data(), out);
        EXPECT_EQ(status.has_value(), c.answered);
        if (c.answered) {
            EXPECT_EQ(*status, 0);
            EXPECT_EQ(out.str().rfind(c.startOfOutput, 0), 0u) << out.str();
        } else {
            EXPECT_EQ(out.str(), "");
        }
    }
}

// The program itself, started with the X11 platform and no display: creating
// the application object would end it with an error, so a clean answer proves
// no window was started.
TEST(CommandLineTest, TheProgramAnswersWithoutADisplay) {
    ScopedEnvironment environment;
    environment.Unset("DISPLAY");
    environment.Unset("WAYLAND_DISPLAY");
    environment.Set("QT_QPA_PLATFORM", "xcb");
    const struct {
        const char* option;
        std::string startsWith;
        const char* holds;
    } cases[] = {
        {"--help", "Usage: flashwright [OPTION]...", "--version"},
        {"-h", "Usage: flashwright [OPTION]...", "--version"},
        // The program's version first, then the package's firmware versions.
        {"--version", kVersionLine, "Firmware versions of the embedded package:\n  ORV-2C    V01.03.002.001:V01.06\n"},
    };
    testbed::ProcessOptions options;
    options.errorIntoOutput = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const testbed::ProcessResult answer =
            testbed::RunProcess(testbed::BuiltProgram("flashwright"), {c.option}, options);
        EXPECT_EQ(answer.exitCode, 0) << answer.out;
        EXPECT_EQ(answer.out.rfind(c.startsWith, 0), 0u) << answer.out;
        EXPECT_NE(answer.out.find(c.holds), std::string::npos) << answer.out;
    }
}

}  // namespace
}  // namespace apptest
