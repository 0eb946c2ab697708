#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>

#include "testbed/Cameras.h"
#include "testbed/Environment.h"
#include "testbed/Files.h"
#include "testbed/Process.h"

// The program itself, started as a person would start it.
namespace apptest {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::ScopedEnvironment;
using testbed::SimulatedCameras;
namespace {

TEST(ProgramTest, TerminationSignalClosesTheIdleProgramWithTheNormalShutdown) {
    SimulatedCameras sim(Description({Camera("A0001"), Camera("A0002", "ORV-2M")}));
    const ScopedEnvironment offscreen("QT_QPA_PLATFORM", "offscreen");
    testbed::ProcessOptions options;
    options.timeout = std::chrono::seconds(40);
    testbed::ChildProcess program(testbed::BuiltProgram("flashwright"), {}, options);
    ASSERT_TRUE(program.Started()) << program.Wait().startError;

    // The cameras are listed once the window is up.
    EXPECT_TRUE(testbed::WaitUntil([&] {
        return !sim.Events({.deviceId = "SIM-A0002", .call = "IFOpenDevice"}).empty();
    })) << program.ErrorSoFar();
    EXPECT_TRUE(std::filesystem::is_directory(sim.ProgramTempFolder()));

    ASSERT_TRUE(program.Signal(SIGTERM));
    const testbed::ProcessResult& ended = program.Wait();
    ASSERT_FALSE(ended.timedOut);
    ASSERT_TRUE(ended.Exited()) << "ended by signal " << ended.signal;
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    // The normal shutdown ran: the producer let go of every camera and the
    // temporary folder is gone.
    EXPECT_FALSE(std::filesystem::exists(sim.ProgramTempFolder()));
    int opened = 0, closed = 0;
    for (const json& event : sim.Events()) {
        if (event["source"] != "producer") continue;
        if (event["call"] == "IFOpenDevice" && event["result"] == 0) ++opened;
        if (event["call"] == "DevClose" && event["result"] == 0) ++closed;
    }
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 2);
}

}  // namespace
}  // namespace apptest
