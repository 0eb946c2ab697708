// flashwright-cli upgrade as a script or a production line's display reads
// it: the --progress=jsonl events on standard error, and the verified, back
// and total_seconds results of a run in which one camera comes back with
// firmware other than the release's.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "testbed/Cameras.h"
#include "testbed/Process.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::RunCli;
using testbed::SimulatedCameras;

constexpr const char* kRelease = testbed::kReleaseFirmware;

json Upgrading(const std::string& serial, const std::string& firmwareAfter = kRelease) {
    json camera = Camera(serial, "ORV-2C", 2e6);
    camera["after_upgrade"]["firmware_version"] = firmwareAfter;
    return camera;
}

TEST(CliProgressTest, JsonlEventsOfATwoCameraRunParseAndFollowEachCamerasPhasesInOrder) {
    json lost = Upgrading("P2");
    lost["faults"] = {{"returns", false}};
    SimulatedCameras sim(Description({Upgrading("P1"), lost}));
    const testbed::ProcessResult run = RunCli("upgrade --all --progress=jsonl --reboot-timeout 2");
    ASSERT_EQ(run.exitCode, 1) << run.err;  // P2 is not back

    std::map<std::string, std::vector<json>> events;
    std::istringstream lines(run.err);
    std::string line;
    while (std::getline(lines, line)) {
        // Other messages (the unrestored parameters of P2) are not JSON.
        if (line.empty() || line[0] != '{') continue;
        const json event = json::parse(line, nullptr, false);
        ASSERT_FALSE(event.is_discarded()) << line;
        for (const char* key : {"serial", "phase", "percent", "bytes", "total", "elapsed"})
            ASSERT_TRUE(event.contains(key)) << key << " missing in " << line;
        events[event["serial"]].push_back(event);
    }
    ASSERT_EQ(events.size(), 2u) << run.err;

    const std::vector<std::string> order = {"writing", "restarting", "back", "not-back", "restoring", "done"};
    const std::map<std::string, std::vector<std::string>> expected = {
        {"P1", {"writing", "restarting", "back", "restoring", "done"}},
        {"P2", {"writing", "restarting", "not-back", "restoring", "done"}}};
    for (const auto& [serial, list] : events) {
        SCOPED_TRACE(serial);
        std::vector<std::string> phases;
        int lastPercent = 0;
        double lastElapsed = 0;
        for (const json& event : list) {
            const std::string phase = event["phase"];
            if (phases.empty() || phases.back() != phase) phases.push_back(phase);
            EXPECT_GE(event["percent"].get<int>(), lastPercent) << event.dump();
            EXPECT_GE(event["elapsed"].get<double>(), lastElapsed) << event.dump();
            EXPECT_LE(event["bytes"].get<std::uint64_t>(), event["total"].get<std::uint64_t>()) << event.dump();
            // 100 % only with every byte written, and every byte written by the time it restarts.
            EXPECT_EQ(event["percent"] == 100, event["total"] > 0 && event["bytes"] == event["total"]) << event.dump();
            if (phase != "writing") {
                EXPECT_EQ(event["percent"], 100) << event.dump();
            }
            lastPercent = event["percent"];
            lastElapsed = event["elapsed"];
        }
        EXPECT_EQ(phases, expected.at(serial));
    }
    // The done events tell the outcome: never "Success" for a camera that did not come back.
    EXPECT_EQ(events["P1"].back()["status"], "Success");
    EXPECT_EQ(events["P1"].back()["outcome"], "upgraded");
    EXPECT_EQ(events["P1"].back()["back"], true);
    EXPECT_EQ(events["P2"].back()["status"], "Not back");
    EXPECT_EQ(events["P2"].back()["outcome"], "not-back");
    EXPECT_EQ(events["P2"].back()["back"], false);
    // The run's own wait: the lost camera was given up on at the bound.
    EXPECT_GE(events["P2"].back()["elapsed"].get<double>(), 2.0);
}

TEST(CliProgressTest, ACameraBackWithOtherFirmwareIsNotVerifiedAndFailsTheRun) {
    SimulatedCameras sim(Description({Upgrading("V1"), Upgrading("V2", "V01.03.001.999:V01.06")}));
    const testbed::ProcessResult run = RunCli("upgrade --all --json");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const json rows = json::parse(run.out);
    ASSERT_EQ(rows.size(), 2u);
    const struct {
        const char* serial;
        bool verified;
        const char* firmware;
    } cases[] = {{"V1", true, kRelease}, {"V2", false, "V01.03.001.999:V01.06"}};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(cases[i].serial);
        const json& row = rows[i];
        EXPECT_EQ(row["serial"], cases[i].serial);
        // The worker succeeded either way; verification is its own result.
        EXPECT_EQ(row["status"], "Success");
        EXPECT_EQ(row["back"], true);
        EXPECT_EQ(row["verified"], cases[i].verified);
        EXPECT_EQ(row["firmware_version"], cases[i].firmware);
        // Writing plus the restart: longer than the burn time alone.
        ASSERT_TRUE(row["total_seconds"].is_number()) << row.dump();
        EXPECT_GT(row["total_seconds"].get<double>(), row["seconds"].get<double>());
    }

    // The table says the same.
    const testbed::ProcessResult table = RunCli("upgrade --all --progress=none --reinstall");
    EXPECT_EQ(table.exitCode, 1) << table.err;
    EXPECT_NE(table.out.find("VERIFIED  TOTAL"), std::string::npos) << table.out;
    std::istringstream lines(table.out);
    std::string line;
    std::map<std::string, std::string> rowOf;
    while (std::getline(lines, line)) rowOf[line.substr(0, line.find(' '))] = line;
    EXPECT_NE(rowOf["V1"].find("Success  "), std::string::npos) << rowOf["V1"];
    EXPECT_NE(rowOf["V1"].find(std::string(kRelease) + "  yes  "), std::string::npos) << rowOf["V1"];
    EXPECT_NE(rowOf["V2"].find("Not verified  "), std::string::npos) << rowOf["V2"];
    EXPECT_NE(rowOf["V2"].find("V01.03.001.999:V01.06  NO  "), std::string::npos) << rowOf["V2"];
}

TEST(CliProgressTest, ThroughAPipeEachPhaseChangeIsOnePlainLine) {
    SimulatedCameras sim(Description({Upgrading("L1")}));
    const testbed::ProcessResult run = RunCli("upgrade L1");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // No cursor movements, no redrawn lines: a log a person or a script can read.
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
    std::vector<std::string> expected = {"Upgrading 1 camera...",
                                         "L1: writing",
                                         "L1: written: Success",
                                         "L1: restarting",
                                         "Waiting for 1 camera to restart...",
                                         "L1: back",
                                         "L1: restoring user parameters",
                                         "L1: done: Success"};
    std::vector<std::string> lines;
    std::istringstream err(run.err);
    std::string line;
    while (std::getline(err, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), expected.size() + 1) << run.err;
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
    EXPECT_TRUE(lines.back().rfind("Finished in ", 0) == 0 &&
                lines.back().substr(lines.back().find(": ")) == ": 1 of 1 camera upgraded, 0 failed")
        << lines.back();
}

}  // namespace
