// flashwright-cli keeps the cameras' user parameters safe across whole runs,
// checked with real processes: a camera without a backup is not flashed, a
// failed restore is reported and recorded, a second process is refused, a
// broken pipe or SIGQUIT does not end a run, and a killed run is recovered.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Process.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::SimulatedCameras;
namespace fs = std::filesystem;

using testbed::ChildProcess;
using testbed::ProcessResult;
using testbed::ReadText;
using testbed::RunCli;
using testbed::WithFaults;

// flashwright-cli started in the background, as a person starts a run.
ChildProcess BackgroundCli(const std::vector<std::string>& arguments) {
    return ChildProcess(testbed::BuiltProgram("flashwright-cli"), arguments);
}

json ResultOf(const json& results, const std::string& serial) {
    for (const json& result : results)
        if (result["serial"] == serial) return result;
    return json();
}

TEST(ParameterSafetyCliTest, CameraWithoutABackupIsNotFlashedUnlessTheUserAllowsIt) {
    SimulatedCameras sim(Description({Camera("A1"), WithFaults(Camera("B2"), {{"sdk_export_fails", 700}}),
                                      WithFaults(Camera("C3"), {{"sdk_open", true}}),
                                      WithFaults(Camera("D4"), {{"sdk_class_code", 5}})}));
    const ProcessResult result = RunCli("upgrade --all --json");
    ASSERT_EQ(result.exitCode, 1) << result.err;
    const json results = json::parse(result.out);
    ASSERT_EQ(results.size(), 4u) << result.out;
    const struct {
        const char* serial;
        const char* status;
        json saved;
        json restored;
    } expected[] = {
        {"A1", "Success", true, true},
        {"B2", "User parameters not saved", false, nullptr},
        {"C3", "User parameters not saved", false, nullptr},
        {"D4", "Success", nullptr, nullptr},  // not listed by the SDK: upgraded, no backup
    };
    for (const auto& row : expected) {
        const json camera = ResultOf(results, row.serial);
        EXPECT_EQ(camera["status"], row.status) << row.serial;
        EXPECT_EQ(camera["parameters_saved"], row.saved) << row.serial;
        EXPECT_EQ(camera["parameters_restored"], row.restored) << row.serial;
        const bool held = std::string(row.status) == "User parameters not saved";
        EXPECT_EQ(sim.Events({.deviceId = "SIM-" + std::string(row.serial), .call = "DPEnterUpgradeMode"}).size(),
                  held ? 0u : 1u)
            << row.serial;
    }
    EXPECT_NE(result.err.find("B2: the user parameters could not be saved (ordinal 700 failed"), std::string::npos)
        << result.err;
    // The history keeps the held-back camera with the run, under the same names as the JSON above.
    const json history = json::parse(RunCli("history --json B2").out);
    ASSERT_EQ(history.size(), 1u);
    ASSERT_EQ(history[0]["cameras"].size(), 1u);
    EXPECT_EQ(history[0]["cameras"][0], ResultOf(results, "B2"));
    EXPECT_EQ(json::parse(RunCli("history --json").out)[0]["summary"]["held_back"], 2);

    // With consent the camera is upgraded; its row says the parameters were not saved.
    const ProcessResult allowed = RunCli("upgrade B2 --allow-parameter-loss");
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    EXPECT_NE(allowed.out.find("B2  Success"), std::string::npos) << allowed.out;
    EXPECT_NE(allowed.out.find("not saved: reset to factory values"), std::string::npos) << allowed.out;
    EXPECT_EQ(sim.Events({.deviceId = "SIM-B2", .call = "DPEnterUpgradeMode"}).size(), 1u);
}

TEST(ParameterSafetyCliTest, FailedRestoreIsReportedRecordedAndRecoverable) {
    SimulatedCameras sim(Description({Camera("A1"), WithFaults(Camera("B2"), {{"sdk_import_fails", 701}})}));
    const ProcessResult result = RunCli("upgrade --all --json");
    ASSERT_EQ(result.exitCode, 1) << result.err;
    const json results = json::parse(result.out);
    EXPECT_EQ(ResultOf(results, "A1")["parameters_restored"], true);
    EXPECT_EQ(ResultOf(results, "B2")["parameters_restored"], false);
    EXPECT_NE(result.err.find("the user parameters of B2 were saved but not restored (ordinal 701 failed"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("flashwright-cli params restore B2 --from "), std::string::npos) << result.err;

    // The record names B2 only, with its copy; every camera command mentions it.
    const json record = json::parse(ReadText(sim.UnfinishedRunRecord()));
    ASSERT_EQ(record["cameras"].size(), 1u) << record.dump();
    EXPECT_EQ(record["cameras"][0]["serial"], "B2");
    const std::string copy = record["cameras"][0]["copy"];
    EXPECT_TRUE(fs::is_regular_file(copy)) << copy;
    const ProcessResult listed = RunCli("list");
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.err.find("params restore --unfinished"), std::string::npos) << listed.err;

    // Still failing: the record stays. Once the camera takes its file, the record goes.
    EXPECT_EQ(RunCli("params restore --unfinished").exitCode, 1);
    EXPECT_TRUE(fs::exists(sim.UnfinishedRunRecord()));
    sim.WriteDescription(Description({Camera("A1"), Camera("B2")}));
    const ProcessResult restored = RunCli("params restore --unfinished");
    EXPECT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_EQ(restored.out, "B2: restored from " + copy + "\n");
    EXPECT_FALSE(fs::exists(sim.UnfinishedRunRecord()));
    const std::vector<json> loads = sim.Events({.deviceId = "SIM-B2", .call = "ZvIAPI_701"});
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads.back()["path"], copy);
    EXPECT_EQ(loads.back()["result"], 0);
}

TEST(ParameterSafetyCliTest, SecondProcessIsRefusedAndTouchesNothingOfTheRunningOne) {
    // A reboot long enough for the refused commands below to run while the
    // watcher waits, also where each of them takes a second to start (Wine).
    json camera = Camera("A1");
    camera["reboot_seconds"] = 10;
    SimulatedCameras sim(Description({camera}));
    ChildProcess run = BackgroundCli({"upgrade", "--all"});
    // The workers are done and the watcher waits: Config.ini and A1.ini are in use.
    ASSERT_TRUE(testbed::WaitUntil([&] {
        return !sim.Events({.deviceId = "SIM-A1", .call = "DPLeaveUpgradeMode"}).empty();
    })) << run.ErrorSoFar();
    const fs::path parameters = sim.ProgramTempFolder() / "A1.ini";
    ASSERT_TRUE(fs::exists(sim.ProgramTempFolder() / "Config.ini"));
    const std::string savedParameters = ReadText(parameters);
    ASSERT_FALSE(savedParameters.empty());
    // The running run's watcher keeps polling the bus; a process of its own
    // would open a producer (TLOpen) or call the SDK.
    const auto ownStarts = [&] {
        std::size_t count = 0;
        for (const json& event : sim.Events())
            if (event["call"] == "TLOpen" || event["source"] != "producer") ++count;
        return count;
    };
    const std::size_t startsBefore = ownStarts();

    for (const char* command :
         {"list", "params export", "package plan ORV-2C", "package models", "upgrade --all", "params restore A1"}) {
        const ProcessResult refused = RunCli(command);
        EXPECT_EQ(refused.exitCode, 1) << command;
        EXPECT_NE(refused.err.find("another Flashwright process is running: process " + std::to_string(run.Id()) +
                                   " (flashwright-cli upgrade)"),
                  std::string::npos)
            << command << ": " << refused.err;
    }
    EXPECT_EQ(ownStarts(), startsBefore) << "a refused process made no camera call";
    EXPECT_EQ(ReadText(parameters), savedParameters);
    EXPECT_TRUE(fs::exists(sim.ProgramTempFolder() / "Config.ini"));

    const ProcessResult& ended = run.Wait();
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_FALSE(fs::exists(sim.ProgramTempFolder())) << "the tool removes its temporary folder when it ends";
}

TEST(ParameterSafetyCliTest, BrokenPipeAndQuitRequestDoNotEndARun) {
    SimulatedCameras sim(Description({Camera("A1")}));
    ChildProcess run = BackgroundCli({"upgrade", "--all"});
    run.CloseOutput();  // as `| head -1` does once it has its line
    ASSERT_TRUE(testbed::WaitUntil([&] {
        return !sim.Events({.deviceId = "SIM-A1", .call = "DPEnterUpgradeMode"}).empty();
    })) << run.ErrorSoFar();
    // Where no quit request can be sent (Windows), the broken pipe alone is tried.
    if (ChildProcess::CanRequestQuit()) {
        ASSERT_TRUE(run.RequestQuit());
    }
    const ProcessResult& ended = run.Wait();
    ASSERT_TRUE(ended.Exited()) << "ended by signal " << ended.signal;
    if (ChildProcess::CanRequestQuit()) {
        EXPECT_NE(ended.err.find("Upgrading is proceeding, please close later!"), std::string::npos) << ended.err;
    }
    EXPECT_EQ(sim.Events({.deviceId = "SIM-A1", .call = "DPLeaveUpgradeMode"}).size(), 1u);
    const std::vector<json> loads = sim.Events({.deviceId = "SIM-A1", .call = "ZvIAPI_701"});
    ASSERT_EQ(loads.size(), 1u) << "the parameters went back";
    EXPECT_EQ(loads[0]["result"], 0);
    EXPECT_FALSE(fs::exists(sim.ProgramTempFolder()));
    EXPECT_FALSE(fs::exists(sim.UnfinishedRunRecord()));
}

TEST(ParameterSafetyCliTest, RunKilledDuringTheRebootWaitIsRecoveredFromTheRecord) {
    json slow = Camera("A1");
    slow["reboot_seconds"] = 3;
    SimulatedCameras sim(Description({slow}));
    {
        ChildProcess run = BackgroundCli({"upgrade", "--all"});
        // The workers have ended and the run has said so in the history: it waits for the camera.
        const fs::path history = sim.ProgramStateFolder() / "history.jsonl";
        ASSERT_TRUE(testbed::WaitUntil([&] {
            return !sim.Events({.deviceId = "SIM-A1", .call = "DPLeaveUpgradeMode"}).empty() &&
                   fs::exists(history) && ReadText(history).find("\"wrote_flash\":true") != std::string::npos;
        })) << run.ErrorSoFar();
        ASSERT_TRUE(run.Kill());  // as a power loss would
        run.Wait();
    }
    const json record = json::parse(ReadText(sim.UnfinishedRunRecord()));
    ASSERT_EQ(record["cameras"].size(), 1u);
    const std::string copy = record["cameras"][0]["copy"];

    // The history keeps the killed run, as interrupted, with what it knew: A1 wrote its flash.
    const ProcessResult history = RunCli("history --json A1");
    ASSERT_EQ(history.exitCode, 0) << history.err;
    const json runs = json::parse(history.out);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["state"], "interrupted");
    EXPECT_EQ(runs[0]["cameras"][0]["wrote_flash"], true);
    EXPECT_EQ(runs[0]["cameras"][0]["outcome"], "pending");
    EXPECT_EQ(runs[0]["cameras"][0]["result"], "Interrupted");
    EXPECT_NE(RunCli("history").out.find("cli   interrupted  A1"), std::string::npos) << RunCli("history").out;

    // The next start says so; an export pass does not make it forget the record.
    ProcessResult exported;
    ASSERT_TRUE(testbed::WaitUntil([&] {
        exported = RunCli("params export");
        return exported.exitCode != 2;  // until the camera is back from its reboot
    }));
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_NE(exported.err.find("an earlier upgrade run did not restore the user parameters of 1 camera(s) (A1)"),
              std::string::npos)
        << exported.err;
    const ProcessResult restored = RunCli("params restore --unfinished");
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(restored.out, "A1: restored from " + copy + "\n");
    EXPECT_FALSE(fs::exists(sim.UnfinishedRunRecord()));
    EXPECT_EQ(RunCli("list").err, "");
}

TEST(ParameterSafetyCliTest, RefusedTemporaryFolderStopsBeforeAnyCameraCall) {
    SimulatedCameras sim(Description({Camera("A1")}));
    fs::create_directories(sim.StateFolder() / "elsewhere");
    if (!testbed::MakeDirectoryLink(sim.StateFolder() / "elsewhere", sim.ProgramTempFolder()))
        GTEST_SKIP() << "this system cannot make folder links";
    for (const char* command : {"upgrade --all", "list", "package plan ORV-2C"}) {
        const ProcessResult refused = RunCli(command);
        EXPECT_EQ(refused.exitCode, 1) << command;
        EXPECT_NE(refused.err.find(sim.ProgramTempFolder().string() + " cannot be used: it is a symbolic link"),
                  std::string::npos)
            << command << ": " << refused.err;
    }
    EXPECT_TRUE(sim.Events().empty());
    EXPECT_TRUE(fs::is_empty(sim.StateFolder() / "elsewhere"));
}

TEST(ParameterSafetyCliTest, CameraTextInTablesHasItsControlCharactersEscaped) {
    json camera = Camera("A1");
    camera["serial"] = "A1\x1b[2J";
    SimulatedCameras sim(Description({camera}));
    const ProcessResult listed = RunCli("list");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out.find('\x1b'), std::string::npos);
    EXPECT_NE(listed.out.find("A1\\x1b[2J"), std::string::npos) << listed.out;
}

}  // namespace
