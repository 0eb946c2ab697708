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

// With the X11 platform and no display, creating the application object would
// end the program with an error: a clean answer proves no window was started.
TEST(CommandLineTest, TheProgramAnswersWithoutADisplay) {
    ScopedEnvironment environment;
    environment.Unset("DISPLAY");
    environment.Unset("WAYLAND_DISPLAY");
    environment.Set("QT_QPA_PLATFORM", "xcb");
    testbed::ProcessOptions options;
    options.errorIntoOutput = true;
    for (const std::string option : {"--version", "--help"}) {
        SCOPED_TRACE(option);
        const testbed::ProcessResult answer = testbed::RunProcess(testbed::BuiltProgram("flashwright"), {option}, options);
        const std::string& output = answer.out;
        ASSERT_TRUE(answer.Exited()) << output;
        EXPECT_EQ(answer.exitCode, 0) << output;
        if (option == "--version") {
            // The program's version first, then the package's firmware versions.
            EXPECT_EQ(output.rfind(kVersionLine, 0), 0u) << output;
            EXPECT_NE(output.find("ORV-2C "), std::string::npos) << output;
        } else {
            EXPECT_NE(output.find("--version"), std::string::npos) << output;
        }
    }
}

}  // namespace
}  // namespace apptest
