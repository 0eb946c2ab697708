// What flashwright-cli tells of a run, against cameras that end every way a
// camera can: each is named with what became of it, in the table, the JSON,
// the progress lines and the summary alike, and the exit status counts them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testbed/Cameras.h"
#include "testbed/Process.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::ProcessResult;
using testbed::RunCli;
using testbed::SimulatedCameras;
using testbed::WithFaults;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
    const auto lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// One camera for each way a run can end for it.
json EveryOutcome() {
    return Description({
        Camera("A1"),                                                           // upgraded
        WithFaults(Camera("B2"), {{"sdk_export_fails", 700}}),                  // held back: no backup
        WithFaults(Camera("C3"), {{"sdk_import_fails", 701}}),                  // parameters not restored
        WithFaults(Camera("D4", "ORV-2M"), {{"open", -1005}}),                  // not opened
        WithFaults(Camera("E5", "ORV-2M"), {{"open", -1004}}),                  // in use by another process
        Camera("F6", "ORV-9X"),                                                 // a model the package does not serve
        WithFaults(Camera("G7", "ORV-2M"), {{"write_fails_at", "0x1200000"}}),  // the FPGA region fails
        WithFaults(Camera("H8", "ORV-2C-L"), {{"enter", true}}),                // fails before writing
    });
}

TEST(RunReportCliTest, EveryCameraIsNamedWithItsOutcomeAndCounted) {
    SimulatedCameras sim(EveryOutcome());
    const ProcessResult run = RunCli("-v upgrade --all --json --progress=lines");
    ASSERT_EQ(run.exitCode, 1) << run.err;
    const json rows = json::parse(run.out);
    std::map<std::string, json> bySerial;
    for (const json& row : rows) bySerial[row["serial"]] = row;
    ASSERT_EQ(bySerial.size(), 8u) << run.out;

    const struct {
        const char* serial;
        const char* outcome;
        const char* result;
        json back;
    } expected[] = {
        {"A1", "upgraded", "Success", true},
        {"B2", "held-back", "User parameters not saved", nullptr},
        {"C3", "parameters-not-restored", "User parameters not restored", true},
        {"D4", "not-opened", "Not opened: Open device error", nullptr},
        {"E5", "in-use", "In use by another process", nullptr},
        {"F6", "unsupported", "Unsupported model", nullptr},
        {"G7", "failed", "Burning the FPGA failed", true},
        {"H8", "failed", "Enter upgrade mode error", nullptr},  // wrote nothing, so it did not restart
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.serial);
        const json& row = bySerial[e.serial];
        EXPECT_EQ(row["outcome"], e.outcome) << row.dump();
        EXPECT_EQ(row["result"], e.result);
        EXPECT_EQ(row["back"], e.back);
        EXPECT_FALSE(row.contains("returned"));
        // The selected cameras are within the request; the unsupported one is only named.
        EXPECT_EQ(row["selected"], std::string(e.serial) != "F6");
    }
    // What was never flashed was never put into upgrade mode.
    for (const char* serial : {"B2", "D4", "E5", "F6"})
        EXPECT_TRUE(sim.Events({.deviceId = "SIM-" + std::string(serial), .call = "DPEnterUpgradeMode"}).empty())
            << serial;

    // The progress lines end with each camera's outcome, never a success that was not one.
    for (const char* line : {"A1: done: Success", "C3: done: User parameters not restored",
                             "G7: done: Burning the FPGA failed", "H8: done: Enter upgrade mode error"})
        EXPECT_TRUE(HasLine(run.err, line)) << line << "\n" << run.err;
    EXPECT_EQ(run.err.find("done: Success, "), std::string::npos) << run.err;
    const std::vector<std::string> lines = Lines(run.err);
    const auto finished =
        std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Finished in ", 0) == 0; });
    ASSERT_NE(finished, lines.end()) << run.err;
    EXPECT_EQ(finished->substr(finished->find(": ")),
              ": 1 of 7 cameras upgraded, 2 failed, 1 held back, 1 parameters not restored, 2 not opened");

    // -v names each failure with the failing step's record, not the clean-up's "Success".
    EXPECT_EQ(run.err.find("G7: Success"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("H8: {"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("G7: "), std::string::npos) << run.err;
}

TEST(RunReportCliTest, WithoutVerboseNoFailureRecordReachesStandardError) {
    SimulatedCameras sim(Description({Camera("A1"), WithFaults(Camera("H8", "ORV-2C-L"), {{"enter", true}})}));
    for (const char* arguments : {"upgrade --all", "upgrade --all --json", "list"}) {
        const ProcessResult run = RunCli(arguments);
        EXPECT_EQ(run.err.find("{CU3VDevice::"), std::string::npos) << arguments << "\n" << run.err;
    }
    const ProcessResult verbose = RunCli("upgrade --all -v --progress=none");
    EXPECT_NE(verbose.err.find("H8: {-1010}{CU3VDevice::__EnterUpgradeMode:line[558]}"), std::string::npos)
        << verbose.err;
}

TEST(RunReportCliTest, ACameraThatCannotBeUsedIsReportedByItsSerialNumberToo) {
    SimulatedCameras sim(Description(
        {Camera("A1"), WithFaults(Camera("D4"), {{"open", -1005}}), WithFaults(Camera("E5"), {{"open", -1004}})}));
    for (const char* name : {"D4", "SIM-D4"}) {
        const ProcessResult run = RunCli(std::string("upgrade ") + name);
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_NE(run.err.find(std::string(name) + ": the camera could not be opened (Open device error)"),
                  std::string::npos)
            << run.err;
    }
    for (const char* name : {"E5", "SIM-E5"}) {
        const ProcessResult run = RunCli(std::string("upgrade ") + name);
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_NE(run.err.find(std::string(name) + ": the camera is in use by another process"), std::string::npos)
            << run.err;
    }
    // Asked for all, A1 is upgraded and the others make the run fail, named in the table.
    const ProcessResult all = RunCli("upgrade --all --progress=none");
    EXPECT_EQ(all.exitCode, 1) << all.err;
    EXPECT_TRUE(all.out.find("D4  Not opened: Open device error") != std::string::npos) << all.out;
    EXPECT_TRUE(all.out.find("E5  In use by another process") != std::string::npos) << all.out;
    EXPECT_TRUE(all.out.find("A1  Success") != std::string::npos) << all.out;
}

TEST(RunReportCliTest, TheParameterPassesCoverTheCamerasUpgradedAndNoOthers) {
    // B2 cannot take parameters back and C3 is of another model: neither is
    // touched when A1 alone is upgraded.
    SimulatedCameras sim(
        Description({Camera("A1"), WithFaults(Camera("B2"), {{"sdk_import_fails", 701}}), Camera("C3", "ORV-9X")}));
    const ProcessResult run = RunCli("upgrade A1 --progress=none");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* other : {"SIM-B2", "SIM-C3"}) {
        for (const char* ordinal : {"ZvIAPI_301", "ZvIAPI_700", "ZvIAPI_701"})
            EXPECT_TRUE(sim.Events({.deviceId = other, .call = ordinal}).empty()) << other << " " << ordinal;
    }
    EXPECT_FALSE(sim.Events({.deviceId = "SIM-A1", .call = "ZvIAPI_700"}).empty());
    EXPECT_FALSE(sim.Events({.deviceId = "SIM-A1", .call = "ZvIAPI_701"}).empty());
}

TEST(RunReportCliTest, NumbersAreParsedStrictlyAndRefusedBeforeAnyCameraIsTouched) {
    SimulatedCameras sim(Description({Camera("A1")}));
    for (const char* value : {"nan", "inf", "5s", "''", "1e999", "0", "-3"}) {
        const ProcessResult run = RunCli(std::string("upgrade --all --reboot-timeout ") + value);
        EXPECT_EQ(run.exitCode, 64) << value << ": " << run.err;
        EXPECT_NE(run.err.find("--reboot-timeout"), std::string::npos) << value << ": " << run.err;
    }
    EXPECT_NE(RunCli("upgrade --all --reboot-timeout nan").err.find("is not a number of seconds"), std::string::npos);
    EXPECT_NE(RunCli("upgrade --all --reboot-timeout 0").err.find("out of range"), std::string::npos);
    for (const char* variable : {"FLASHWRIGHT_REBOOT_TIMEOUT", "FLASHWRIGHT_REBOOT_ALLOWANCE"}) {
        for (const char* value : {"nan", "5s", "-1"}) {
            testbed::ProcessOptions options;
            options.environment = {{variable, std::string(value)}};
            for (const char* command : {"upgrade --all", "list"}) {
                const ProcessResult run = RunCli(command, options);
                EXPECT_EQ(run.exitCode, 64) << variable << "=" << value << " " << command;
                EXPECT_NE(run.err.find(std::string(variable) + ": "), std::string::npos) << run.err;
            }
        }
    }
    // Nothing reached a camera.
    EXPECT_TRUE(sim.Events({.call = "IFOpenDevice"}).empty());
    EXPECT_TRUE(sim.Events({.source = "sdk"}).empty());
}

}  // namespace
