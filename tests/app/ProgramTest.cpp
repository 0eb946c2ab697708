#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <thread>

#include "SimulatedCameras.h"

extern char** environ;

// The program itself, started as a person would start it.
namespace apptest {
namespace {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

TEST(ProgramTest, TerminationSignalClosesTheIdleProgramWithTheNormalShutdown) {
    SimulatedCameras sim(Description({Camera("A0001"), Camera("A0002", "ORV-2M")}));
    const std::filesystem::path runtime = sim.StateFolder() / "runtime";
    std::filesystem::create_directories(runtime);
    ScopedEnvironment environment;
    environment.Set("XDG_RUNTIME_DIR", runtime.string());
    environment.Set("QT_QPA_PLATFORM", "offscreen");

    const std::string program = (BinDir() / "flashwright").string();
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0) << program;

    // The cameras are listed once the window is up.
    const bool listed = WaitFor(
        [&] {
            for (const json& event : sim.Events())
                if (event["call"] == "IFOpenDevice" && event["device_id"] == "SIM-A0002") return true;
            return false;
        },
        std::chrono::seconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(listed);
    EXPECT_TRUE(std::filesystem::is_directory(runtime / "U3TempFileDirectory"));

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(20));
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The normal shutdown ran: the producer let go of every camera and the
    // temporary folder is gone.
    EXPECT_FALSE(std::filesystem::exists(runtime / "U3TempFileDirectory"));
    int opened = 0, closed = 0;
    for (const json& event : sim.Events()) {
        if (event["source"] != "producer") continue;
        if (event["call"] == "IFOpenDevice" && event["result"] == 0) ++opened;
        if (event["call"] == "DevClose" && event["result"] == 0) ++closed;
    }
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 2);
}

// --help and --version are answered without a window: with the toolkit told to
// use a display that does not exist, any attempt to open one would fail.
TEST(ProgramTest, HelpAndVersionNeedNoDisplay) {
    ScopedEnvironment environment;
    environment.Unset("DISPLAY");
    environment.Unset("WAYLAND_DISPLAY");
    environment.Set("QT_QPA_PLATFORM", "xcb");
    const struct {
        const char* option;
        const char* expected;
    } cases[] = {
        {"--help", "Usage: flashwright [OPTION]..."},
        {"-h", "Usage: flashwright [OPTION]..."},
        {"--version", "Firmware versions of the embedded package:\n  ORV-2C    V01.03.002.001:V01.06\n"},
    };
    for (const auto& c : cases) {
        const std::string command = (BinDir() / "flashwright").string() + " " + c.option + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        const int status = ::pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.option << "\n" << out;
        EXPECT_NE(out.find(c.expected), std::string::npos) << c.option << "\n" << out;
    }
}

}  // namespace
}  // namespace apptest
